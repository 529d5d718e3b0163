#pragma once
// OLE DB connection strings and data-link (.udl) files, and what they describe.
//
// Connection-string syntax: "key=value" pairs separated by ';'. Keys match ignoring
// case; blanks around keys and unquoted values are dropped; a value may be quoted with
// ' or " (the same quote inside is doubled, ';' inside is kept); "==" in a key is a
// literal '='. A repeated key: the last value wins, except Provider, where the first
// wins. Empty pairs (";;") are skipped.
//
// A .udl file is "[oledb]", comment lines starting with ';', then one line holding the
// connection string. Windows writes it as UTF-16LE with a byte-order mark; UTF-8 (with
// or without a mark) and code page 950 are read as well (encoding rule in TextFile.h),
// with CRLF or LF line ends and blank lines anywhere.
//
// This code only reads and checks; the connection itself is opened elsewhere from the
// ConnectionDescription. Every failure is an EDataLinkError (EFOpenError for a file that
// cannot be read) whose message names the file and what is wrong with it.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace rpt {

// Keys in first-seen order, with their spelling as first seen; lookups ignore case.
class ConnectionProperties {
public:
    bool contains(const QString &key) const { return indexOf(key) >= 0; }
    QString value(const QString &key, const QString &defaultValue = QString()) const;
    // Value of the first of the keys that is present (aliases such as "User ID" / "UID").
    QString firstValue(std::initializer_list<const char *> keys) const;
    // Replaces the value of an existing key (keeping its place), or appends.
    void set(const QString &key, const QString &value);
    void remove(const QString &key);
    QStringList keys() const;
    qsizetype size() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    const QList<std::pair<QString, QString>> &items() const { return m_items; }
    // Back to a connection string that parses to the same properties.
    QString toString() const;

private:
    qsizetype indexOf(const QString &key) const;
    QList<std::pair<QString, QString>> m_items;
};

// Parses an OLE DB connection string. Throws EDataLinkError on an unterminated quote,
// text after a closing quote, a pair without '=', or an empty key. Nothing is added:
// a missing Provider is left missing (describeConnection takes it as MSDASQL, as
// OLE DB does).
ConnectionProperties parseConnectionString(const QString &text);

// Quotes a value when the syntax needs it (';', surrounding blanks, a leading quote).
QString quoteConnectionValue(const QString &value);

// The connection-string line of a .udl file.
QString readDataLinkInitString(const QString &fileName);
// Writes a .udl file as Windows does: UTF-16LE with a byte-order mark, the "[oledb]"
// line, the comment line and the connection string, CRLF line ends. Replaces the file
// atomically; EFCreateError on failure.
void writeDataLinkFile(const QString &fileName, const QString &initString);
// readDataLinkInitString + parseConnectionString, errors naming the file.
ConnectionProperties readDataLinkFile(const QString &fileName);

enum class ConnectionKind { Sqlite, Odbc, Postgres, Firebird };

struct ConnectionDescription {
    ConnectionKind kind = ConnectionKind::Sqlite;
    // Sqlite: absolute path of the database file (or ":memory:").
    // Odbc: the ODBC connection string to hand to the driver ("DSN=name" or the
    //       string from Extended Properties, with DSN= added when Data Source names it).
    // Postgres: database name.
    // Firebird: database path or alias on the server (a local file path is absolute).
    QString database;
    QString host;     // Postgres / Firebird; empty = local
    int port = 0;     // 0 = the driver's default
    QString user;
    QString password;
    QString options;  // Extended Properties as written (not for Odbc, where it is in database)
    QString provider; // as written in the file
    QString dataLinkFile; // the .udl the description came from, empty when none
    ConnectionProperties properties; // everything that was given
};

// Which Qt SQL driver serves the kind ("QSQLITE", "QODBC", "QPSQL"); Firebird has no
// Qt driver here and gives an empty string.
QString qtDriverName(ConnectionKind kind);

// Maps provider and properties to a description. Relative file paths are taken from
// baseDir (the .udl file's folder). sourceName (usually the .udl path) is named in
// error messages. Accepted providers (the version suffix such as ".1" is ignored, names
// compare ignoring case):
//   SQLite      any name starting with "SQLite" (SQLite, SQLite3, SQLiteOLEDB, ...)
//   ODBC        MSDASQL
//   PostgreSQL  PGNP, names starting with "PostgreSQL" or "PGOLEDB"
//   Firebird    names containing "IBProvider" (LCPI.IBProvider, SIBProvider) or
//               starting with "Firebird" or "InterBase"
// Anything else: "provider '<name>' is not supported".
ConnectionDescription describeConnection(const ConnectionProperties &props, const QString &baseDir,
                                         const QString &sourceName);

// Reads and maps a .udl file.
ConnectionDescription describeDataLinkFile(const QString &fileName);

// An ADO connection string. With "File Name=<path>" the provider and properties come
// from that .udl file (other keys given with it override the file's, e.g. a password);
// combining it with Provider= is an error. Without File Name it is an OLE DB connection
// string of its own and relative paths are taken from the working folder.
ConnectionDescription describeAdoConnectionString(const QString &connectionString);

// "FILE NAME=<path>", quoted when the path needs it.
QString adoFileNameConnectionString(const QString &udlPath);

} // namespace rpt
