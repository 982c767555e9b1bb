// Qt is linked statically on Windows: a program with a GUI application object
// links the Windows platform plugin and imports it here.
#include <QtPlugin>

Q_IMPORT_PLUGIN(QWindowsIntegrationPlugin)
