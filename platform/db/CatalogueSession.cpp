#include "platform/db/Ado.h"
#include "platform/text/DataLink.h"

#include <QFileInfo>
#include <QSqlDatabase>

namespace rpt {

std::unique_ptr<ISqlSession> openCatalogueSession(const QString &connectionString, const QString &sessionName)
{
    const ConnectionDescription d = describeAdoConnectionString(connectionString);
    const QString source = d.dataLinkFile.isEmpty() ? QStringLiteral("the connection string") : d.dataLinkFile;
    auto wrap = [&](const std::function<std::unique_ptr<ISqlSession>()> &open) {
        try {
            return open();
        } catch (const EDatabaseError &e) {
            throw EDatabaseError(QStringLiteral("Cannot open the catalogue named by %1: %2").arg(source, e.message()));
        }
    };
    switch (d.kind) {
    case ConnectionKind::Sqlite:
        // The SQLite driver would quietly create an empty database at a wrong path.
        if (d.database != QLatin1String(":memory:") && !QFileInfo(d.database).isFile())
            throw EDatabaseError(QStringLiteral("Cannot open the catalogue named by %1: the database file \"%2\" does not exist")
                                     .arg(source, d.database));
        return wrap([&] {
            return makeQtSqlSession(QStringLiteral("QSQLITE"), sessionName, [&](QSqlDatabase &db) {
                db.setDatabaseName(d.database);
            });
        });
    case ConnectionKind::Odbc:
        return wrap([&] {
            return makeQtSqlSession(QStringLiteral("QODBC"), sessionName, [&](QSqlDatabase &db) {
                db.setDatabaseName(d.database);
                if (!d.user.isEmpty())
                    db.setUserName(d.user);
                if (!d.password.isEmpty())
                    db.setPassword(d.password);
            });
        });
    case ConnectionKind::Postgres:
        return wrap([&] {
            return makeQtSqlSession(QStringLiteral("QPSQL"), sessionName, [&](QSqlDatabase &db) {
                db.setDatabaseName(d.database);
                db.setHostName(d.host);
                if (d.port > 0)
                    db.setPort(d.port);
                db.setUserName(d.user);
                db.setPassword(d.password);
                if (!d.options.isEmpty())
                    db.setConnectOptions(d.options);
            });
        });
    case ConnectionKind::Firebird:
        return wrap([&] { return makeFirebirdSession(d); });
    }
    throw EDatabaseError(QStringLiteral("Cannot open the catalogue named by %1").arg(source));
}

} // namespace rpt
