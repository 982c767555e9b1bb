#pragma once

namespace Display {

// Makes Qt's GUI application start on a machine without any display, where its
// default platform plugin would abort the process: when no display and no
// platform plugin is named, it names the offscreen plugin in the environment and
// returns true. The caller drops that setting again once the application object
// exists, so that the programs it starts see the environment it was given.
bool chooseOffscreenPlatformIfNoDisplay();

}  // namespace Display
