#include "platform/text/DbxConnections.h"

#include "platform/text/Errors.h"
#include "platform/text/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace rpt {

namespace {

const QString IniName = QStringLiteral("dbxconnections.ini");

QString listDirs(const QStringList &dirs)
{
    QStringList shown;
    for (const QString &d : dirs)
        if (!d.isEmpty())
            shown.append(QDir::cleanPath(QFileInfo(d).absoluteFilePath()));
    return shown.join(QStringLiteral(", "));
}

} // namespace

QString DbxConnection::value(const QString &key, const QString &defaultValue) const
{
    for (const auto &kv : params)
        if (kv.first.compare(key, Qt::CaseInsensitive) == 0)
            return kv.second;
    return defaultValue;
}

QStringList DbxConnection::lines() const
{
    QStringList out;
    for (const auto &kv : params)
        out.append(kv.first + u'=' + kv.second);
    return out;
}

QStringList defaultDbxSearchDirs(const QString &exeDir)
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative value.
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return {exeDir, config + QStringLiteral("/rptdlg"), QStringLiteral("/etc/rptdlg")};
}

QString findDbxConnectionsFile(const QString &dir)
{
    if (dir.isEmpty())
        return QString();
    const QDir d(dir);
    const QFileInfo exact(d.filePath(IniName));
    if (exact.isFile())
        return exact.filePath();
    const QStringList found = d.entryList({IniName}, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : found)
        if (name.compare(IniName, Qt::CaseInsensitive) == 0)
            return d.filePath(name);
    return QString();
}

DbxConnection loadDbxConnection(const QString &connectionName, const QStringList &searchDirs)
{
    const QString name = connectionName.trimmed();
    if (name.isEmpty())
        throw EDatabaseError(QString::fromLatin1(msg::ConnectionNameMissing));

    QStringList filesRead;
    for (const QString &dir : searchDirs) {
        const QString file = findDbxConnectionsFile(dir);
        if (file.isEmpty())
            continue;
        filesRead.append(QFileInfo(file).absoluteFilePath());
        const TIniFile ini(file);
        if (!ini.SectionExists(name))
            continue;
        DbxConnection c;
        c.name = name;
        c.fileName = QFileInfo(file).absoluteFilePath();
        c.params = ini.ReadSectionPairs(name);
        return c;
    }
    if (filesRead.isEmpty())
        throw EDatabaseError(QStringLiteral("Connection \"%1\": no %2 was found. Searched: %3.")
                                 .arg(name, IniName, listDirs(searchDirs)));
    throw EDatabaseError(QStringLiteral("Connection \"%1\" is not defined in %2. Searched: %3.")
                             .arg(name, filesRead.join(QStringLiteral(", ")), listDirs(searchDirs)));
}

} // namespace rpt
