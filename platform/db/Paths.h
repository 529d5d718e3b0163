#pragma once

#include <QString>

namespace rpt {

// The folder of the running executable, with a trailing separator. Every file the
// program addresses by name (Rpt.udl, Bramwix.dat, the hand-off files, the modules)
// is in it, wherever the program was started from.
QString executableDir();
// Tests run many programs' worth of files from one build folder: they give each case
// a folder of its own. Empty restores the real one.
void setExecutableDirOverride(const QString &dir);

} // namespace rpt
