#pragma once
// Low-level access to Firebird/InterBase databases on the engine's own client library.
//
// Text is never forced through Unicode on the way in or out: with a connection
// character set of NONE or BIG_5 the bytes of CHAR/VARCHAR/text blobs already are code
// page 950 and are handed to the caller untouched, and NUMERIC/DECIMAL values arrive as
// exact scaled integers. A database path without a host opens through the embedded
// engine, so a local file needs no server.

#include "platform/db/Decimal.h"
#include "platform/db/FieldType.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QTime>
#include <QVariant>

#include <memory>
#include <stdexcept>

namespace rpt::fb {

struct ConnectParams {
    // Local file path -> embedded engine; "host:/path", "host/port:/path" -> server.
    QString database;
    QString user;
    QString password;
    QString role;
    QString charset;      // connection character set; "" means NONE
    int dialect = 3;
    bool waitOnLocks = true;
    enum class Isolation { ReadCommitted, RepeatableRead, DirtyRead };
    Isolation isolation = Isolation::ReadCommitted;
    bool trimChar = false; // trim trailing blanks of CHAR values

    // From a connection definition's key/value lines ("Database", "User_Name",
    // "Password", "RoleName", "ServerCharSet", "SQLDialect", "WaitOnLocks",
    // "Interbase TransIsolation", "Trim Char"); keys match ignoring case, values are
    // trimmed, unknown keys are ignored. Throws FbError for a dialect that is not a number.
    static ConnectParams fromDbxParams(const QList<QPair<QString, QString>> &params);
};

class FbError : public std::runtime_error {
public:
    explicit FbError(const QString &message, int sqlCode = 0, long gdsCode = 0);
    // The server's own text (one line per status entry, joined by newlines), or ours
    // for failures found before the server is asked.
    QString message() const { return m_message; }
    int sqlCode() const { return m_sqlCode; }   // 0 when not from the server
    long gdsCode() const { return m_gdsCode; }  // first isc_* error code, 0 when none

private:
    QString m_message;
    int m_sqlCode;
    long m_gdsCode;
};

struct Column {
    QString name;        // the column's alias, as a result shows it
    TFieldType type = ftUnknown;
    int size = 0;        // bytes (ANSI text), characters (wide text), places (ftFMTBcd)
    int precision = 0;   // total digits (ftFMTBcd)
    int scale = 0;       // places after the point (ftFMTBcd), 0 otherwise
    bool nullable = true;
};

// Receives fetched rows straight into the caller's storage. Column numbers count from 0.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void setColumns(const QList<Column> &columns) = 0;
    virtual void beginRow() = 0;
    virtual void setNull(int col) = 0;
    virtual void setInt(int col, qint64 v) = 0;                 // SMALLINT, INTEGER, BIGINT
    virtual void setDouble(int col, double v) = 0;              // FLOAT, DOUBLE PRECISION
    virtual void setDecimal(int col, const Decimal &v) = 0;     // NUMERIC, DECIMAL
    virtual void setBool(int col, bool v) = 0;
    virtual void setDate(int col, const QDate &v) = 0;
    virtual void setTime(int col, const QTime &v) = 0;          // to the millisecond
    virtual void setDateTime(int col, const QDateTime &v) = 0;  // Qt::UTC, zone-less wall clock
    virtual void setText(int col, const QString &v) = 0;        // ftWideString, ftWideMemo
    // ftString, ftFixedChar, ftMemo: code page 950 bytes exactly as stored. The pointer
    // is valid only during the call.
    virtual void setAnsi(int col, const char *cp950, qsizetype len) = 0;
    // ftBlob, ftBytes, ftVarBytes: the whole value. Valid only during the call.
    virtual void setBlob(int col, const char *data, qsizetype len) = 0;
    virtual void endRow() = 0;
};

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Throws FbError with the server's text (unreachable database, bad password...).
    // Opening an open connection closes it first.
    void open(const ConnectParams &params);
    void close();
    bool isOpen() const;
    const ConnectParams &params() const;

    // Runs one statement. Without an open transaction (beginTransaction) it runs in a
    // transaction of its own (isolation and lock wait from the connection parameters),
    // committed at the end and rolled back on any error. Inside an open transaction it
    // runs in that one and commits nothing; a failing statement leaves no trace of its
    // own but keeps the transaction open, for the caller to commit or roll back. `sql`
    // takes '?' placeholders bound in order: QString as text in the connection's
    // character set, other kinds by FieldType.h's conventions, an invalid QVariant as
    // NULL; the engine converts to the column's type. Rows of a SELECT (or the output
    // of EXECUTE PROCEDURE) go to `sink`, which may be null. Returns the rows affected
    // by INSERT/UPDATE/DELETE, -1 for other statements.
    qint64 execute(const QString &sql, const QList<QVariant> &params = {}, RowSink *sink = nullptr);
    // Result columns of a statement, without running it.
    QList<Column> describe(const QString &sql);
    // Number of '?' parameters the statement takes.
    int parameterCount(const QString &sql);

    // One transaction spanning several statements (isolation and lock wait from the
    // connection parameters). Only one is open at a time: beginning a second one is an
    // error. A commit that fails leaves the transaction open for a rollback. Rollback
    // without an open transaction does nothing; a rollback the server refuses still
    // ends the transaction on this side, and then reports the error. Closing the
    // connection rolls an open transaction back.
    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;

    // CREATE DATABASE at params.database with DEFAULT CHARACTER SET params.charset
    // (empty -> NONE) and SQL dialect params.dialect. Refuses to replace a file.
    static void createDatabase(const ConnectParams &params, int pageSize = 8192);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace rpt::fb
