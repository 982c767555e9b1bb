#pragma once

namespace Display {

// Makes Qt's GUI application start wherever the updater runs, also where no
// display can be reached (none at all, or a DISPLAY whose server is gone), in
// which case the default or the named platform plugin would abort the process.
// It names the plugin given in QT_QPA_PLATFORM, or else the usual one, with the
// offscreen plugin as fallback, and returns true when it changed the variable.
bool addOffscreenFallback();

// Puts QT_QPA_PLATFORM back as it was before addOffscreenFallback (set, empty
// or unset); called once the application object exists, so that the programs
// the updater starts see the environment it was given.
void dropOffscreenFallback();

}  // namespace Display
