#pragma once
// Named connection definitions: dbxconnections.ini, one section per connection name,
// each line "Key=Value" (DriverName, Database, User_Name, Password, SQLDialect, ...).
//
// The file is looked for, in this order, in
//   1. the executable's folder,
//   2. $XDG_CONFIG_HOME/rptdlg/ ($HOME/.config/rptdlg/ when the variable is unset),
//   3. /etc/rptdlg/,
// and the first file that defines the connection is used, so a per-machine definition
// in /etc is not hidden by an unrelated file shipped beside the program. In each folder
// the exact name wins; otherwise a name differing only in case (DBXConnections.ini,
// as copied from Windows) is accepted.
//
// Unlike the platform, which loads an empty parameter list for an unknown connection
// and fails later with an unrelated message, a missing definition is reported here,
// naming the connection, the files read and every folder searched.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace rpt {

struct DbxConnection {
    QString name;      // the connection name as asked for
    QString fileName;  // the file the definition came from
    QList<std::pair<QString, QString>> params; // keys as written, in file order
    QString value(const QString &key, const QString &defaultValue = QString()) const;
    // "Key=Value" lines, as the connection's parameter list holds them.
    QStringList lines() const;
};

// The three folders above, for the executable folder exeDir.
QStringList defaultDbxSearchDirs(const QString &exeDir);

// "dbxconnections.ini" in dir, or a case variant of it; empty when there is none.
QString findDbxConnectionsFile(const QString &dir);

// Throws EDatabaseError: "Connection name missing" for an empty name; when no file
// exists in any folder; when no file defines the connection. A file that exists but
// cannot be read is an EFOpenError, not skipped.
DbxConnection loadDbxConnection(const QString &connectionName, const QStringList &searchDirs);

} // namespace rpt
