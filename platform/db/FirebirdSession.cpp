#include "platform/db/DbErrors.h"
#include "platform/db/FbRowBuilder.h"
#include "platform/db/SqlSession.h"
#include "platform/firebird/FbConnection.h"
#include "platform/text/DataLink.h"

#include <QRegularExpression>
#include <QSet>

namespace rpt {

namespace {

// Words Firebird reserves: a column with such a name can only be reached quoted.
bool isReservedWord(const QString &upper)
{
    static const QSet<QString> words = [] {
        QSet<QString> s;
        const char *list[] = {
            "ADD", "ADMIN", "ALL", "ALTER", "AND", "ANY", "AS", "AT", "AVG", "BEGIN", "BETWEEN", "BIGINT",
            "BIT_LENGTH", "BLOB", "BOOLEAN", "BOTH", "BY", "CASE", "CAST", "CHAR", "CHAR_LENGTH", "CHARACTER",
            "CHARACTER_LENGTH", "CHECK", "CLOSE", "COLLATE", "COLUMN", "COMMIT", "CONNECT", "CONSTRAINT",
            "CORR", "COUNT", "COVAR_POP", "COVAR_SAMP", "CREATE", "CROSS", "CURRENT", "CURRENT_CONNECTION",
            "CURRENT_DATE", "CURRENT_ROLE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_TRANSACTION",
            "CURRENT_USER", "CURSOR", "DATE", "DAY", "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELETE",
            "DELETING", "DETERMINISTIC", "DISCONNECT", "DISTINCT", "DOUBLE", "DROP", "ELSE", "END", "ESCAPE",
            "EXECUTE", "EXISTS", "EXTERNAL", "EXTRACT", "FALSE", "FETCH", "FILTER", "FLOAT", "FOR", "FOREIGN",
            "FROM", "FULL", "FUNCTION", "GDSCODE", "GLOBAL", "GRANT", "GROUP", "HAVING", "HOUR", "IN",
            "INDEX", "INNER", "INSENSITIVE", "INSERT", "INSERTING", "INT", "INTEGER", "INTO", "IS", "JOIN",
            "LEADING", "LEFT", "LIKE", "LONG", "LOWER", "MAX", "MAXIMUM_SEGMENT", "MERGE", "MIN", "MINUTE",
            "MONTH", "NATIONAL", "NATURAL", "NCHAR", "NO", "NOT", "NULL", "NUMERIC", "OCTET_LENGTH", "OF",
            "OFFSET", "ON", "ONLY", "OPEN", "OR", "ORDER", "OUTER", "OVER", "PARAMETER", "PLAN", "POSITION",
            "POST_EVENT", "PRECISION", "PRIMARY", "PROCEDURE", "REAL", "RECORD_VERSION", "RECREATE",
            "RECURSIVE", "REFERENCES", "REGR_AVGX", "REGR_AVGY", "REGR_COUNT", "REGR_INTERCEPT", "REGR_R2",
            "REGR_SLOPE", "REGR_SXX", "REGR_SXY", "REGR_SYY", "RELEASE", "RETURN", "RETURNING_VALUES",
            "RETURNS", "REVOKE", "RIGHT", "ROLLBACK", "ROW", "ROW_COUNT", "ROWS", "SAVEPOINT", "SCROLL",
            "SECOND", "SELECT", "SENSITIVE", "SET", "SIMILAR", "SMALLINT", "SOME", "SQLCODE", "SQLSTATE",
            "START", "STDDEV_POP", "STDDEV_SAMP", "SUM", "TABLE", "THEN", "TIME", "TIMESTAMP", "TO",
            "TRAILING", "TRIGGER", "TRIM", "TRUE", "UNION", "UNIQUE", "UNKNOWN", "UPDATE", "UPDATING",
            "UPPER", "USER", "USING", "VALUE", "VALUES", "VAR_POP", "VAR_SAMP", "VARCHAR", "VARIABLE",
            "VARYING", "VIEW", "WHEN", "WHERE", "WHILE", "WITH", "YEAR",
        };
        for (const char *w : list)
            s.insert(QString::fromLatin1(w));
        return s;
    }();
    return words.contains(upper);
}

// The name the client library takes: a local path opens through the embedded engine,
// a server is "host:path" or "host/port:path" (an IPv6 address in brackets).
QString databaseName(const ConnectionDescription &d)
{
    if (d.host.isEmpty())
        return d.database;
    QString host = d.host;
    if (host.contains(u':') && !host.startsWith(u'['))
        host = u'[' + host + u']';
    if (d.port > 0)
        host += u'/' + QString::number(d.port);
    return host + u':' + d.database;
}

class FirebirdSession : public ISqlSession {
public:
    explicit FirebirdSession(const fb::ConnectParams &params)
    {
        try {
            m_conn.open(params);
        } catch (const fb::FbError &e) {
            throw EDatabaseError(e.message());
        }
    }

    void query(const QString &sql, const QList<QVariant> &params, TFieldDefs &defs,
               std::vector<QByteArray> &rows) override
    {
        // A statement without a result leaves no stale columns behind.
        defs.clear();
        FbRowBuilder sink(defs, rows);
        try {
            m_conn.execute(sql, params, &sink);
        } catch (const fb::FbError &e) {
            throw EDatabaseError(e.message());
        }
        // The server reports names exactly as stored; one with small letters was
        // created quoted and is only reached quoted.
        for (const TFieldDef &d : defs)
            if (d.Name != d.Name.toUpper())
                m_caseSensitive.insert(d.Name);
    }

    qint64 exec(const QString &sql, const QList<QVariant> &params) override
    {
        try {
            return m_conn.execute(sql, params);
        } catch (const fb::FbError &e) {
            throw EDatabaseError(e.message());
        }
    }

    void beginTransaction() override
    {
        try {
            m_conn.beginTransaction();
        } catch (const fb::FbError &e) {
            throw EDatabaseError(e.message());
        }
    }

    void commit() override
    {
        try {
            m_conn.commit();
        } catch (const fb::FbError &e) {
            throw EDatabaseError(e.message());
        }
    }

    void rollback() override
    {
        // Called while another error is on its way: that error is the one to report,
        // and the transaction is over on this side either way.
        try {
            m_conn.rollback();
        } catch (const fb::FbError &) {
        }
    }

    QString quoteIdentifier(const QString &name) const override
    {
        // Unquoted names are upper-cased by the server, so RPT_MASTER and rpt_id reach
        // the catalogue's columns bare; anything else keeps its exact spelling quoted.
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z][A-Za-z0-9_$]*$"));
        if (plain.match(name).hasMatch() && !isReservedWord(name.toUpper()) && !m_caseSensitive.contains(name))
            return name;
        QString quoted = name;
        quoted.replace(u'"', QStringLiteral("\"\""));
        return u'"' + quoted + u'"';
    }

    QString describe() const override { return QStringLiteral("Firebird ") + m_conn.params().database; }

private:
    fb::Connection m_conn;
    QSet<QString> m_caseSensitive; // result column names that hold small letters
};

} // namespace

std::unique_ptr<ISqlSession> makeFirebirdSession(const ConnectionDescription &d)
{
    fb::ConnectParams p;
    p.database = databaseName(d);
    p.user = d.user;
    p.password = d.password;
    // The catalogue's text fields are wide strings: without a character set named in
    // the data link, text travels as UTF-8 so every character survives.
    const QString charset = d.properties.firstValue({"Character Set", "ctype", "charset", "lc_ctype"}).trimmed();
    p.charset = charset.isEmpty() ? QStringLiteral("UTF8") : charset;
    return std::make_unique<FirebirdSession>(p);
}

} // namespace rpt
