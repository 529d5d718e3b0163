#include "platform/db/Paths.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace rpt {

namespace {
QString &exeDirOverride()
{
    static QString dir;
    return dir;
}
} // namespace

void setExecutableDirOverride(const QString &dir)
{
    exeDirOverride() = dir.isEmpty() || dir.endsWith(u'/') ? dir : dir + u'/';
}

QString executableDir()
{
    if (!exeDirOverride().isEmpty())
        return exeDirOverride();
    QString dir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    dir = dir.isEmpty() ? QCoreApplication::applicationDirPath() : QFileInfo(dir).absolutePath();
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

} // namespace rpt
