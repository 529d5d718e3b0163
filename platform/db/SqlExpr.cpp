#include "platform/db/SqlExpr.h"

#include "platform/db/FbRowBuilder.h"
#include "platform/text/SqlParams.h"
#include "platform/db/SqlSession.h"
#include "platform/firebird/FbConnection.h"
#include "platform/text/DbxConnections.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>

namespace rpt {

namespace {

QList<std::pair<QString, QString>> splitLines(const QStringList &lines)
{
    QList<std::pair<QString, QString>> out;
    for (const QString &l : lines) {
        const qsizetype eq = l.indexOf(u'=');
        if (eq < 0)
            out.append({l.trimmed(), QString()});
        else
            out.append({l.left(eq).trimmed(), l.mid(eq + 1)});
    }
    return out;
}

} // namespace

struct TSQLConnection::Backend {
    std::unique_ptr<fb::Connection> fb;
    std::unique_ptr<ISqlSession> qt;
};

TSQLConnection::TSQLConnection(QObject *owner, const QString &name) : TComponent(owner, name) {}

TSQLConnection::~TSQLConnection()
{
    Close();
}

QString TSQLConnection::ParamValue(const QString &key) const
{
    for (const auto &[k, v] : splitLines(m_params))
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            return v;
    return QString();
}

bool TSQLConnection::Connected() const
{
    return m_backend != nullptr;
}

void TSQLConnection::Open()
{
    if (m_backend)
        return;
    if (m_loadParamsOnConnect) {
        const QStringList dirs = m_searchDirs.isEmpty() ? defaultDbxSearchDirs(executableDir()) : m_searchDirs;
        const DbxConnection def = loadDbxConnection(m_connectionName, dirs);
        m_params = def.lines();
        const QString driver = def.value(QStringLiteral("DriverName"));
        if (!driver.isEmpty())
            m_driverName = driver;
    }
    auto backend = std::make_unique<Backend>();
    const QString driver = m_driverName.trimmed();
    if (driver.compare(u"Interbase", Qt::CaseInsensitive) == 0 || driver.compare(u"Firebird", Qt::CaseInsensitive) == 0) {
        QList<QPair<QString, QString>> p;
        for (const auto &kv : splitLines(m_params))
            p.append({kv.first, kv.second});
        try {
            const fb::ConnectParams cp = fb::ConnectParams::fromDbxParams(p);
            backend->fb = std::make_unique<fb::Connection>();
            backend->fb->open(cp);
        } catch (const fb::FbError &e) {
            throw EDatabaseError(e.message());
        }
    } else if (driver.compare(u"Sqlite", Qt::CaseInsensitive) == 0) {
        const QString file = ParamValue(QStringLiteral("Database"));
        if (!QFileInfo(file).isFile())
            throw EDatabaseError(QStringLiteral("Unable to open database \"%1\": no such file").arg(file));
        static int serial = 0;
        backend->qt = makeQtSqlSession(QStringLiteral("QSQLITE"),
                                       QStringLiteral("rpt-dbx-%1-%2").arg(Name()).arg(++serial),
                                       [&](QSqlDatabase &db) { db.setDatabaseName(file); });
    } else if (driver.isEmpty()) {
        DatabaseError(QStringLiteral("Missing DriverName property"), Name());
    } else {
        DatabaseError(QStringLiteral("Unknown driver: %1").arg(driver), Name());
    }
    m_backend = std::move(backend);
}

void TSQLConnection::Close()
{
    m_backend.reset();
}

void TSQLConnection::FetchAll(const QString &sql, const QList<QVariant> &params, FetchResult &result)
{
    Open();
    if (m_backend->qt) {
        m_backend->qt->query(sql, params, result.defs, result.rows);
        return;
    }
    result.arena = std::make_shared<RowArena>();
    FbRowBuilder sink(result.defs, result.rows, result.arena.get());
    try {
        m_backend->fb->execute(sql, params, &sink);
    } catch (const fb::FbError &e) {
        throw EDatabaseError(e.message());
    }
}

// =======================================================================================

TSQLDataSet::TSQLDataSet(QObject *owner, const QString &name) : TDataSet(owner, name), m_params(this) {}

void TSQLDataSet::SetCommandText(const QString &sql)
{
    if (Active())
        Close();
    m_commandText = sql;
    m_params.ParseSQL(sql);
}

void TSQLDataSet::FetchAll(const QString &commandText, TParams &params, FetchResult &result)
{
    if (!m_connection)
        Error(QStringLiteral("Missing SQLConnection property"));
    if (commandText.trimmed().isEmpty())
        Error(QStringLiteral("No SQL statement available"));
    const ParsedSql cmd = ParseSQL(commandText);
    m_connection->FetchAll(cmd.sql, params.valuesInOrder(cmd.names), result);
}

void TSQLDataSet::InternalOpen()
{
    FetchResult r;
    FetchAll(m_commandText, m_params, r);
    FieldDefsRef() = r.defs;
    SetRows(std::move(r.rows), std::move(r.arena));
}

} // namespace rpt
