#pragma once

namespace Display {

// Makes Qt's GUI application start wherever the updater runs, also where no
// display can be reached (none at all, or a DISPLAY whose server is gone), in
// which case the default platform plugin would abort the process. When no
// platform plugin is named, it names the usual one with the offscreen plugin as
// fallback, and returns true. The caller drops that setting again once the
// application object exists, so that the programs it starts see the environment
// it was given.
bool addOffscreenFallback();

}  // namespace Display
