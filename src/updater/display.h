#pragma once

namespace Display {

// Makes Qt's GUI application start wherever the updater runs, also where no
// display can be reached (none at all, or a DISPLAY whose server is gone), in
// which case the default or the named platform plugin would abort the process.
// It names the plugin given in QT_QPA_PLATFORM, or else the usual one, with the
// offscreen plugin as fallback, and returns true when it changed the variable.
// The caller puts the variable back as it was once the application object
// exists, so that the programs it starts see the environment it was given.
bool addOffscreenFallback();

}  // namespace Display
