#include "platform/text/DataLink.h"

#include "platform/text/Errors.h"
#include "platform/text/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace rpt {

namespace {

// A data-link file is three short lines; a megabyte is already absurd.
constexpr qint64 MaxUdlBytes = 1024 * 1024;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

QString trimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b).toString();
}

[[noreturn]] void syntaxError(const QString &why)
{
    throw EDataLinkError(why);
}

QString shownPath(const QString &fileName)
{
    return QFileInfo(fileName).absoluteFilePath();
}

// Error text with its source: the .udl file, or the connection string itself.
[[noreturn]] void fail(const QString &sourceName, const QString &why)
{
    if (sourceName.isEmpty())
        throw EDataLinkError(QStringLiteral("Connection string: %1").arg(why));
    throw EDataLinkError(QStringLiteral("Data link file \"%1\": %2").arg(shownPath(sourceName), why));
}

} // namespace

// ---- properties ------------------------------------------------------------------

qsizetype ConnectionProperties::indexOf(const QString &key) const
{
    const QString k = trimBlanks(key);
    for (qsizetype i = 0; i < m_items.size(); ++i)
        if (m_items[i].first.compare(k, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString ConnectionProperties::value(const QString &key, const QString &defaultValue) const
{
    const qsizetype i = indexOf(key);
    return i < 0 ? defaultValue : m_items[i].second;
}

QString ConnectionProperties::firstValue(std::initializer_list<const char *> keys) const
{
    for (const char *k : keys) {
        const qsizetype i = indexOf(QString::fromLatin1(k));
        if (i >= 0)
            return m_items[i].second;
    }
    return QString();
}

void ConnectionProperties::set(const QString &key, const QString &value)
{
    const qsizetype i = indexOf(key);
    if (i >= 0)
        m_items[i].second = value;
    else
        m_items.append({trimBlanks(key), value});
}

void ConnectionProperties::remove(const QString &key)
{
    const qsizetype i = indexOf(key);
    if (i >= 0)
        m_items.removeAt(i);
}

QStringList ConnectionProperties::keys() const
{
    QStringList out;
    for (const auto &kv : m_items)
        out.append(kv.first);
    return out;
}

QString ConnectionProperties::toString() const
{
    QStringList parts;
    for (const auto &kv : m_items) {
        QString k = kv.first;
        k.replace(u'=', QStringLiteral("=="));
        parts.append(k + u'=' + quoteConnectionValue(kv.second));
    }
    return parts.join(u';');
}

QString quoteConnectionValue(const QString &value)
{
    const bool needs = value.contains(u';') || (!value.isEmpty() && (isBlank(value.front()) || isBlank(value.back())))
                       || value.startsWith(u'\'') || value.startsWith(u'"');
    if (!needs)
        return value;
    if (value.contains(u'"') && !value.contains(u'\''))
        return u'\'' + value + u'\'';
    QString v = value;
    v.replace(u'"', QStringLiteral("\"\""));
    return u'"' + v + u'"';
}

ConnectionProperties parseConnectionString(const QString &text)
{
    ConnectionProperties props;
    const qsizetype n = text.size();
    qsizetype pos = 0;
    while (pos < n) {
        while (pos < n && isBlank(text[pos]))
            ++pos;
        if (pos >= n)
            break;
        if (text[pos] == u';') {
            ++pos;
            continue;
        }
        // Key, up to the first '=' that is not doubled.
        QString key;
        bool sawEquals = false;
        while (pos < n) {
            const QChar c = text[pos];
            if (c == u'=') {
                if (pos + 1 < n && text[pos + 1] == u'=') {
                    key += u'=';
                    pos += 2;
                    continue;
                }
                sawEquals = true;
                ++pos;
                break;
            }
            if (c == u';')
                break;
            key += c;
            ++pos;
        }
        key = trimBlanks(key);
        if (!sawEquals)
            syntaxError(QStringLiteral("\"%1\" has no '=' and no value.").arg(key));
        if (key.isEmpty())
            syntaxError(QStringLiteral("a value is given without a key name."));

        while (pos < n && isBlank(text[pos]))
            ++pos;
        QString value;
        if (pos < n && (text[pos] == u'\'' || text[pos] == u'"')) {
            const QChar quote = text[pos++];
            bool closed = false;
            while (pos < n) {
                if (text[pos] == quote) {
                    if (pos + 1 < n && text[pos + 1] == quote) {
                        value += quote;
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    closed = true;
                    break;
                }
                value += text[pos++];
            }
            if (!closed)
                syntaxError(QStringLiteral("the value of \"%1\" has no closing %2 quote.").arg(key, quote));
            while (pos < n && isBlank(text[pos]))
                ++pos;
            if (pos < n && text[pos] != u';')
                syntaxError(QStringLiteral("unexpected text after the quoted value of \"%1\".").arg(key));
        } else {
            const qsizetype start = pos;
            while (pos < n && text[pos] != u';')
                ++pos;
            value = trimBlanks(QStringView(text).mid(start, pos - start));
        }
        if (pos < n && text[pos] == u';')
            ++pos;

        // The provider is fixed by its first mention; everything else by its last.
        if (key.compare(u"Provider", Qt::CaseInsensitive) == 0 && props.contains(key))
            continue;
        props.set(key, value);
    }
    return props;
}

// ---- .udl files --------------------------------------------------------------------

QString readDataLinkInitString(const QString &fileName)
{
    const QString shown = shownPath(fileName);
    if (!QFileInfo::exists(fileName))
        throw EFOpenError(QStringLiteral("Cannot open data link file \"%1\". The file does not exist.").arg(shown));
    const QByteArray bytes = readFileBytes(fileName, MaxUdlBytes);
    TextEncoding enc = detectTextEncoding(bytes);
    // UTF-16 without its mark: ANSI and UTF-8 text never hold NUL bytes.
    if (enc == TextEncoding::Ansi && bytes.size() >= 2 && bytes.size() % 2 == 0) {
        if (bytes[0] != 0 && bytes[1] == 0)
            enc = TextEncoding::Utf16LE;
        else if (bytes[0] == 0 && bytes[1] != 0)
            enc = TextEncoding::Utf16BE;
    }
    const QByteArray bom = byteOrderMark(enc);
    const QString text = decodeText(QByteArrayView(bytes).sliced(bytes.startsWith(bom) ? bom.size() : 0), enc);

    bool inOledb = false;
    for (const QString &rawLine : text.split(u'\n')) {
        const QString line = trimBlanks(rawLine);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        const bool header = line.startsWith(u'[') && line.endsWith(u']');
        if (!inOledb) {
            if (header && trimBlanks(QStringView(line).mid(1, line.size() - 2)).compare(u"oledb", Qt::CaseInsensitive) == 0) {
                inOledb = true;
                continue;
            }
            throw EDataLinkError(
                QStringLiteral("\"%1\" is not a data link file: it does not start with an [oledb] section.").arg(shown));
        }
        if (header)
            break;
        return line;
    }
    if (!inOledb)
        throw EDataLinkError(
            QStringLiteral("\"%1\" is not a data link file: it does not start with an [oledb] section.").arg(shown));
    throw EDataLinkError(QStringLiteral("Data link file \"%1\" holds no connection string after [oledb].").arg(shown));
}

ConnectionProperties readDataLinkFile(const QString &fileName)
{
    const QString init = readDataLinkInitString(fileName);
    try {
        return parseConnectionString(init);
    } catch (const EDataLinkError &e) {
        fail(fileName, e.message());
    }
}

// ---- mapping to a connection -------------------------------------------------------

namespace {

// "MSDASQL.1" -> "MSDASQL", "Microsoft.Jet.OLEDB.4.0" -> "Microsoft.Jet.OLEDB".
QString providerBase(const QString &provider)
{
    static const QRegularExpression version(QStringLiteral("(\\.\\d+)+$"));
    QString p = trimBlanks(provider);
    p.remove(version);
    return p;
}

bool windowsAbsolute(const QString &path)
{
    if (path.startsWith(u'\\'))
        return true;
    return path.size() >= 3 && path[0].isLetter() && path[0].unicode() < 0x80 && path[1] == u':'
           && (path[2] == u'\\' || path[2] == u'/');
}

// Paths written on Windows keep their meaning: an absolute Windows path is left alone
// (it can only be meant for a Windows-side server), a relative one is taken from the
// .udl folder with its backslashes read as separators.
QString resolvePath(const QString &path, const QString &baseDir)
{
    if (windowsAbsolute(path))
        return path;
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    QString rel = path;
    rel.replace(u'\\', u'/');
    return QDir::cleanPath(QDir(baseDir).absoluteFilePath(rel));
}

int parsePort(const QString &text, const QString &sourceName)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535 || !text.front().isDigit())
        fail(sourceName, QStringLiteral("the port \"%1\" is not a number from 1 to 65535.").arg(text));
    return port;
}

// "host", "host:5432", "[::1]:5432", bare IPv6 "::1".
void splitHostPort(const QString &spec, QString &host, int &port, const QString &sourceName)
{
    host = spec;
    if (spec.startsWith(u'[')) {
        const qsizetype close = spec.indexOf(u']');
        if (close < 0)
            fail(sourceName, QStringLiteral("the host \"%1\" has no closing ']'.").arg(spec));
        host = spec.mid(1, close - 1);
        const QString rest = spec.mid(close + 1);
        if (rest.startsWith(u':'))
            port = parsePort(rest.mid(1), sourceName);
        else if (!rest.isEmpty())
            fail(sourceName, QStringLiteral("unexpected text after the host \"%1\".").arg(spec));
        return;
    }
    if (spec.count(u':') == 1) {
        const qsizetype colon = spec.indexOf(u':');
        host = spec.left(colon);
        port = parsePort(spec.mid(colon + 1), sourceName);
    }
}

QString odbcQuote(const QString &v)
{
    if (v.contains(u';') || v.contains(u'{') || v.contains(u'}') || v != trimBlanks(v)) {
        QString q = v;
        q.replace(u'}', QStringLiteral("}}"));
        return u'{' + q + u'}';
    }
    return v;
}

bool odbcNamesSource(const QString &odbc)
{
    static const QRegularExpression key(QStringLiteral("(^|;)\\s*(DSN|DRIVER|FILEDSN)\\s*="),
                                        QRegularExpression::CaseInsensitiveOption);
    return key.match(odbc).hasMatch();
}

void describeSqlite(ConnectionDescription &d, const QString &baseDir, const QString &sourceName)
{
    const QString ds = trimBlanks(d.properties.value(QStringLiteral("Data Source")));
    if (ds.isEmpty())
        fail(sourceName, QStringLiteral("Data Source (the SQLite database file) is missing."));
    if (ds == u":memory:") {
        d.database = ds;
        return;
    }
    d.database = resolvePath(ds, baseDir);
    // Opening a missing file would quietly create an empty database and the catalogue
    // would look empty instead of reporting the wrong path.
    const QFileInfo fi(d.database);
    if (!fi.exists())
        fail(sourceName, QStringLiteral("the SQLite database file \"%1\" does not exist.").arg(d.database));
    if (!fi.isFile())
        fail(sourceName, QStringLiteral("the SQLite database \"%1\" is not a file.").arg(d.database));
}

void describeOdbc(ConnectionDescription &d, const QString &sourceName)
{
    const QString ext = trimBlanks(d.properties.value(QStringLiteral("Extended Properties")));
    const QString ds = trimBlanks(d.properties.value(QStringLiteral("Data Source")));
    if (!ext.isEmpty()) {
        d.database = ext;
        if (!ds.isEmpty() && !odbcNamesSource(ext))
            d.database = QStringLiteral("DSN=") + odbcQuote(ds) + u';' + ext;
    } else if (!ds.isEmpty()) {
        d.database = QStringLiteral("DSN=") + odbcQuote(ds);
    } else {
        fail(sourceName, QStringLiteral("no ODBC data source: give Data Source (a DSN name) or Extended "
                                        "Properties (an ODBC connection string)."));
    }
    d.options.clear();
}

void describePostgres(ConnectionDescription &d, const QString &sourceName)
{
    const QString ds = trimBlanks(d.properties.firstValue({"Data Source", "Server", "Host"}));
    splitHostPort(ds, d.host, d.port, sourceName);
    const QString port = trimBlanks(d.properties.value(QStringLiteral("Port")));
    if (!port.isEmpty())
        d.port = parsePort(port, sourceName);
    d.database = trimBlanks(d.properties.firstValue({"Initial Catalog", "Location", "Database"}));
    if (d.database.isEmpty())
        fail(sourceName, QStringLiteral("no database name: give Initial Catalog or Location."));
}

// Firebird names a database "path", "alias", "host:path" or "host/port:path"; the
// SIBProvider style puts "host:" in Location and the path in Data Source.
void describeFirebird(ConnectionDescription &d, const QString &baseDir, const QString &sourceName)
{
    const QString loc = trimBlanks(d.properties.value(QStringLiteral("Location")));
    QString ds = trimBlanks(d.properties.value(QStringLiteral("Data Source")));
    if (ds.isEmpty() && loc.isEmpty())
        ds = trimBlanks(d.properties.value(QStringLiteral("Initial Catalog")));
    QString spec;
    QString host;
    if (!loc.isEmpty() && loc.endsWith(u':'))
        spec = loc + ds;
    else if (ds.isEmpty())
        spec = loc;
    else if (!loc.isEmpty())
        host = loc, spec = ds;
    else
        spec = ds;
    if (spec.isEmpty())
        fail(sourceName, QStringLiteral("Data Source (the Firebird database) is missing."));

    QString path = spec;
    if (host.isEmpty() && !windowsAbsolute(spec)) {
        const qsizetype colon = spec.indexOf(u':');
        if (colon == 0)
            fail(sourceName, QStringLiteral("the database \"%1\" has an empty host name.").arg(spec));
        if (colon > 0) {
            host = spec.left(colon);
            path = spec.mid(colon + 1);
        }
    }
    if (!host.isEmpty()) {
        const qsizetype slash = host.indexOf(u'/');
        if (slash >= 0) {
            d.port = parsePort(host.mid(slash + 1), sourceName);
            host.truncate(slash);
        }
        if (path.isEmpty())
            fail(sourceName, QStringLiteral("the database on host \"%1\" has no path or alias.").arg(host));
        d.host = host;
        d.database = path; // a path on the server, as the server sees it
        return;
    }
    // A name without a folder or an extension is an alias the server resolves.
    const bool looksLikePath = path.contains(u'/') || path.contains(u'\\') || path.contains(u'.');
    d.database = looksLikePath ? resolvePath(path, baseDir) : path;
}

} // namespace

QString qtDriverName(ConnectionKind kind)
{
    switch (kind) {
    case ConnectionKind::Sqlite:
        return QStringLiteral("QSQLITE");
    case ConnectionKind::Odbc:
        return QStringLiteral("QODBC");
    case ConnectionKind::Postgres:
        return QStringLiteral("QPSQL");
    case ConnectionKind::Firebird:
        break;
    }
    return QString();
}

ConnectionDescription describeConnection(const ConnectionProperties &props, const QString &baseDir,
                                         const QString &sourceName)
{
    ConnectionDescription d;
    d.properties = props;
    d.dataLinkFile = sourceName;
    d.provider = trimBlanks(props.value(QStringLiteral("Provider")));
    const QString provider = d.provider.isEmpty() ? QStringLiteral("MSDASQL") : d.provider;
    const QString base = providerBase(provider);
    auto is = [&](const char *name) { return base.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; };
    auto startsWith = [&](const char *name) { return base.startsWith(QLatin1String(name), Qt::CaseInsensitive); };

    d.user = props.firstValue({"User ID", "UID", "User Name", "User"});
    d.password = props.firstValue({"Password", "PWD"});
    d.options = props.value(QStringLiteral("Extended Properties"));

    if (startsWith("SQLite")) {
        d.kind = ConnectionKind::Sqlite;
        describeSqlite(d, baseDir, sourceName);
    } else if (is("MSDASQL")) {
        d.kind = ConnectionKind::Odbc;
        describeOdbc(d, sourceName);
    } else if (is("PGNP") || startsWith("PostgreSQL") || startsWith("PGOLEDB")) {
        d.kind = ConnectionKind::Postgres;
        describePostgres(d, sourceName);
    } else if (base.contains(QLatin1String("IBProvider"), Qt::CaseInsensitive) || startsWith("Firebird")
               || startsWith("InterBase")) {
        d.kind = ConnectionKind::Firebird;
        describeFirebird(d, baseDir, sourceName);
    } else {
        fail(sourceName, QStringLiteral("provider '%1' is not supported. Supported providers: SQLite, MSDASQL "
                                        "(ODBC), PostgreSQL (PGNP), Firebird/InterBase (LCPI.IBProvider, "
                                        "SIBProvider).")
                             .arg(provider));
    }
    return d;
}

ConnectionDescription describeDataLinkFile(const QString &fileName)
{
    const ConnectionProperties props = readDataLinkFile(fileName);
    return describeConnection(props, QFileInfo(fileName).absolutePath(), fileName);
}

ConnectionDescription describeAdoConnectionString(const QString &connectionString)
{
    ConnectionProperties props;
    try {
        props = parseConnectionString(connectionString);
    } catch (const EDataLinkError &e) {
        fail(QString(), e.message());
    }
    if (!props.contains(QStringLiteral("File Name")))
        return describeConnection(props, QDir::currentPath(), QString());

    if (props.contains(QStringLiteral("Provider")))
        fail(QString(), QStringLiteral("Provider cannot be combined with File Name; the data link file names the provider."));
    const QString file = trimBlanks(props.value(QStringLiteral("File Name")));
    if (file.isEmpty())
        fail(QString(), QStringLiteral("File Name is empty."));
    const QString path = QFileInfo(file).absoluteFilePath();
    ConnectionProperties merged = readDataLinkFile(path);
    for (const auto &kv : props.items())
        if (kv.first.compare(u"File Name", Qt::CaseInsensitive) != 0)
            merged.set(kv.first, kv.second);
    return describeConnection(merged, QFileInfo(path).absolutePath(), path);
}

void writeDataLinkFile(const QString &fileName, const QString &initString)
{
    const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") +
                         initString + QStringLiteral("\r\n");
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    writeFileAtomically(fileName, bytes);
}

QString adoFileNameConnectionString(const QString &udlPath)
{
    return QStringLiteral("FILE NAME=") + quoteConnectionValue(udlPath);
}

} // namespace rpt
