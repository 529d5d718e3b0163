#include "platform/db/SqlExpr.h"

#include "platform/text/SqlParams.h"
#include "platform/db/SqlSession.h"
#include "platform/firebird/FbConnection.h"
#include "platform/text/DbxConnections.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>

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

namespace {

// Fetched rows go straight from the client library's buffers into compact records.
class BuilderSink : public fb::RowSink {
public:
    explicit BuilderSink(FetchResult &r) : m_defs(r.defs), m_rows(r.rows), m_arena(*r.arena) {}

    void setColumns(const QList<fb::Column> &columns) override
    {
        m_defs.clear();
        QSet<QString> seen;
        for (const fb::Column &c : columns) {
            // Two result columns with one name get a numbered second name, as the
            // platform does, so FieldByName stays unambiguous.
            QString name = c.name;
            for (int n = 1; seen.contains(name.toUpper()); ++n)
                name = c.name + u'_' + QString::number(n);
            seen.insert(name.toUpper());
            TFieldDef d(name, c.type, c.size);
            d.Precision = c.precision;
            m_defs.append(d);
        }
        m_layout.build(m_defs);
        m_builder = std::make_unique<RecordBuilder>(m_layout);
    }
    void beginRow() override { m_builder->begin(); }
    void setNull(int col) override { m_builder->setNull(col); }
    void setInt(int col, qint64 v) override { m_builder->setInt(col, v); }
    void setDouble(int col, double v) override { m_builder->setDouble(col, v); }
    void setDecimal(int col, const Decimal &v) override { m_builder->setDecimal(col, v); }
    void setBool(int col, bool v) override { m_builder->setBool(col, v); }
    void setDate(int col, const QDate &v) override { m_builder->setDate(col, v); }
    void setTime(int col, const QTime &v) override { m_builder->setTime(col, v); }
    void setDateTime(int col, const QDateTime &v) override { m_builder->setDateTime(col, v); }
    void setText(int col, const QString &v) override { m_builder->setText(col, v); }
    void setAnsi(int col, const char *p, qsizetype n) override { m_builder->setBytes(col, p, n); }
    void setBlob(int col, const char *p, qsizetype n) override { m_builder->setBytes(col, p, n); }
    void endRow() override { m_rows.push_back(m_builder->finishInto(m_arena)); }

private:
    TFieldDefs &m_defs;
    std::vector<QByteArray> &m_rows;
    RowArena &m_arena;
    RecordLayout m_layout;
    std::unique_ptr<RecordBuilder> m_builder;
};

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
    BuilderSink sink(result);
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
