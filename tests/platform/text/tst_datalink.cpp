#include "platform/text/CodePage.h"
#include "platform/text/DataLink.h"
#include "platform/text/Errors.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

using namespace rpt;

namespace {

// "key|value;key|value" so a table row shows order, spelling and values at once.
QString flatten(const ConnectionProperties &p)
{
    QStringList parts;
    for (const auto &kv : p.items())
        parts.append(kv.first + u'|' + kv.second);
    return parts.join(u';');
}

QByteArray utf16le(const QString &s, bool bom = true)
{
    QStringEncoder enc(QStringConverter::Utf16LE);
    return (bom ? QByteArray("\xFF\xFE", 2) : QByteArray()) + QByteArray(enc(s));
}

QByteArray utf8(const QString &s)
{
    return s.toUtf8();
}

const QString WindowsHead = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n");

} // namespace

class TestDataLink : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString p = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write fixture %s", qPrintable(p));
        return p;
    }

    template <typename F>
    QString errorOf(F &&f)
    {
        try {
            f();
        } catch (const Exception &e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Provider=SQLite;Data Source=c.db" << "Provider|SQLite;Data Source|c.db";
        QTest::newRow("blanks around keys and values") << "  Provider = SQLite ;  User ID =  sa  "
                                                       << "Provider|SQLite;User ID|sa";
        QTest::newRow("double-quoted with ';'") << "Password=\"a;b\";X=1" << "Password|a;b;X|1";
        QTest::newRow("doubled quotes") << "Password=\"a\"\"b\"" << "Password|a\"b";
        QTest::newRow("single quotes hold '\"'") << "Password='say \"hi\"'" << "Password|say \"hi\"";
        QTest::newRow("quoted blanks kept") << "Password=' x '" << "Password| x ";
        QTest::newRow("empty quoted value") << "Extended Properties=\"\"" << "Extended Properties|";
        QTest::newRow("'==' in a key") << "a==b=c" << "a=b|c";
        QTest::newRow("'=' in an unquoted value") << "Extended Properties=DSN=x" << "Extended Properties|DSN=x";
        QTest::newRow("repeated key: last wins, first place") << "User ID=a;x=1;USER ID=b" << "User ID|b;x|1";
        QTest::newRow("Provider: first wins") << "Provider=SQLite;provider=MSDASQL" << "Provider|SQLite";
        QTest::newRow("empty pairs and trailing ';'") << ";;a=1;;b=2;" << "a|1;b|2";
        QTest::newRow("empty value") << "Password=;User ID=x" << "Password|;User ID|x";
        QTest::newRow("Big5 text") << u"Password=報表;Data Source=許功蓋.db"_qs << u"Password|報表;Data Source|許功蓋.db"_qs;
        QTest::newRow("empty string") << "" << "";
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const ConnectionProperties p = parseConnectionString(text);
        QCOMPARE(flatten(p), expected);
        // Writing it back gives a string that parses to the same properties.
        QCOMPARE(flatten(parseConnectionString(p.toString())), expected);
    }

    void parseErrors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unterminated quote") << "Provider=SQLite;Password=\"abc;x=1" << "closing";
        QTest::newRow("missing '='") << "Provider=SQLite;Data Source" << "Data Source";
        QTest::newRow("text after a quoted value") << "Password=\"a\"b" << "after the quoted value";
        QTest::newRow("value without a key") << "=x" << "without a key";
    }

    void parseErrors()
    {
        QFETCH(QString, text);
        QFETCH(QString, mentions);
        QString msg;
        try {
            parseConnectionString(text);
        } catch (const EDataLinkError &e) {
            msg = e.message();
        }
        QVERIFY2(msg.contains(mentions), qPrintable(msg));
    }

    void readUdl_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString init = u"Provider=SQLite;Password=\"報;表\";Data Source=cat.db"_qs;
        QTest::newRow("as Windows writes it (UTF-16LE, mark, CRLF)") << utf16le(WindowsHead + init + "\r\n") << init;
        QTest::newRow("UTF-16LE without a final line end") << utf16le(WindowsHead + init) << init;
        QTest::newRow("UTF-16LE without mark") << utf16le(WindowsHead + init + "\r\n", false) << init;
        QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF") + utf8(WindowsHead + init) << init;
        QTest::newRow("UTF-8, LF, blank lines, extra comments")
            << utf8("\n\n[oledb]\n; comment\n\n;another\n" + init + "\n\n") << init;
        QTest::newRow("code page 950") << cp950::fromUnicode(WindowsHead + init + "\r\n") << init;
        QTest::newRow("section name ignores case") << utf8("[OLEDB]\r\n" + init) << init;
    }

    void readUdl()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString file = writeFile("Rpt.udl", bytes);
        QCOMPARE(readDataLinkInitString(file), expected);
        QCOMPARE(readDataLinkFile(file).value("password"), u"報;表"_qs);
    }

    void udlErrors_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // "<none>" = no file
        QTest::addColumn<QString>("mentions");
        QTest::newRow("missing file") << QByteArray("<none>") << "does not exist";
        QTest::newRow("empty file") << QByteArray() << "not a data link file";
        QTest::newRow("settings file, no [oledb]") << QByteArray("[rpttemp]\r\npath=x\r\n") << "not a data link file";
        QTest::newRow("binary junk") << QByteArray("\x00\x01\x02\xFF\xFE\x00", 6) << "not a data link file";
        QTest::newRow("no connection string") << utf16le(WindowsHead) << "no connection string";
        QTest::newRow("another section instead") << utf8("[oledb]\r\n[x]\r\nProvider=SQLite\r\n") << "no connection string";
        QTest::newRow("unterminated quote") << utf16le(WindowsHead + "Provider=SQLite;Password='abc") << "closing";
        QTest::newRow("missing '='") << utf16le(WindowsHead + "Provider=SQLite;Data Source") << "no '='";
        QTest::newRow("unsupported provider")
            << utf16le(WindowsHead + "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Tormel\\rpt.mdb")
            << "provider 'Microsoft.Jet.OLEDB.4.0' is not supported";
    }

    void udlErrors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, mentions);
        const QString file = bytes == "<none>" ? m_dir.filePath("none.udl") : writeFile("bad.udl", bytes);
        const QString msg = errorOf([&] { describeDataLinkFile(file); });
        QVERIFY2(msg.contains(mentions), qPrintable(msg));
        QVERIFY2(msg.contains(file), qPrintable(msg)); // the user learns which file
    }

    void describe_data()
    {
        QTest::addColumn<QString>("init");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("database"); // "@/" = the .udl folder
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        const int sqlite = int(ConnectionKind::Sqlite), odbc = int(ConnectionKind::Odbc),
                  pg = int(ConnectionKind::Postgres), fb = int(ConnectionKind::Firebird);

        QTest::newRow("SQLite, relative file") << "Provider=SQLite;Data Source=cat.db" << sqlite << "@/cat.db" << "" << 0 << ""
                                               << "";
        QTest::newRow("SQLite3, Windows-style relative path") << "Provider=SQLite3;Data Source=sub\\cat.db" << sqlite
                                                              << "@/sub/cat.db" << "" << 0 << "" << "";
        QTest::newRow("SQLiteOLEDB.1, absolute path") << "Provider=sqliteoledb.1;Data Source=@/cat.db" << sqlite
                                                      << "@/cat.db" << "" << 0 << "" << "";
        QTest::newRow("MSDASQL.1 with a DSN") << "Provider=MSDASQL.1;Persist Security Info=False;User ID=rpt;Data Source=RptDsn"
                                              << odbc << "DSN=RptDsn" << "" << 0 << "rpt" << "";
        QTest::newRow("MSDASQL with Extended Properties")
            << "Provider=MSDASQL;Extended Properties=\"DRIVER={SQLite3};Database=/srv/cat.db\"" << odbc
            << "DRIVER={SQLite3};Database=/srv/cat.db" << "" << 0 << "" << "";
        QTest::newRow("MSDASQL, DSN and extra ODBC keys") << "Provider=MSDASQL;Data Source=My Dsn;Extended Properties=\"TIMEOUT=5\""
                                                          << odbc << "DSN=My Dsn;TIMEOUT=5" << "" << 0 << "" << "";
        QTest::newRow("no provider means MSDASQL") << "Data Source=RptDsn;Password=p" << odbc << "DSN=RptDsn" << "" << 0
                                                   << "" << "p";
        QTest::newRow("PGNP.1, host:port") << "Provider=PGNP.1;Data Source=db.example:5433;Initial Catalog=rpt;User ID=u;Password=\"p;w\""
                                           << pg << "rpt" << "db.example" << 5433 << "u" << "p;w";
        QTest::newRow("PostgreSQL OLE DB Provider, Location, IPv6")
            << "Provider=PostgreSQL OLE DB Provider;Data Source=[::1]:5432;location=rpt" << pg << "rpt" << "::1" << 5432
            << "" << "";
        QTest::newRow("PostgreSQL, Port key, no host") << "Provider=PostgreSQL.1;Location=rpt;Port=6000" << pg << "rpt" << ""
                                                       << 6000 << "" << "";
        QTest::newRow("LCPI.IBProvider, host:Windows path")
            << "Provider=LCPI.IBProvider.1;Data Source=srv:C:\\Tormel\\Data\\posdata.gdb;User ID=sysdba;Password=pw" << fb
            << "C:\\Tormel\\Data\\posdata.gdb" << "srv" << 0 << "sysdba" << "pw";
        QTest::newRow("LCPI.IBProvider, drive letter is not a host")
            << "Provider=LCPI.IBProvider;Data Source=C:\\Tormel\\Data\\posdata.gdb" << fb << "C:\\Tormel\\Data\\posdata.gdb"
            << "" << 0 << "" << "";
        QTest::newRow("SIBProvider, location=host/port:") << "Provider=SIBPROvider.2;location=srv/3051:;data source=/data/pos.fdb"
                                                          << fb << "/data/pos.fdb" << "srv" << 3051 << "" << "";
        QTest::newRow("Firebird, local relative file") << "Provider=Firebird;Data Source=data/pos.fdb" << fb
                                                       << "@/data/pos.fdb" << "" << 0 << "" << "";
        QTest::newRow("InterBase, alias") << "Provider=Interbase;Data Source=employee" << fb << "employee" << "" << 0 << ""
                                          << "";
    }

    void describe()
    {
        QFETCH(QString, init);
        QFETCH(int, kind);
        QFETCH(QString, database);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, user);
        QFETCH(QString, password);
        writeFile("cat.db", "");
        writeFile("sub/cat.db", "");
        const QString dir = m_dir.path();
        init.replace("@/", dir + '/');
        const QString file = writeFile("Rpt.udl", utf16le(WindowsHead + init + "\r\n"));
        const ConnectionDescription d = describeDataLinkFile(file);
        QCOMPARE(int(d.kind), kind);
        QCOMPARE(d.database, QString(database).replace("@/", dir + '/'));
        QCOMPARE(d.host, host);
        QCOMPARE(d.port, port);
        QCOMPARE(d.user, user);
        QCOMPARE(d.password, password);
        QCOMPARE(d.dataLinkFile, file);
    }

    void describeErrors_data()
    {
        QTest::addColumn<QString>("init");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("Jet") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=rpt.mdb"
                             << "provider 'Microsoft.Jet.OLEDB.4.0' is not supported";
        QTest::newRow("SQL Server") << "Provider=SQLOLEDB.1;Data Source=srv" << "provider 'SQLOLEDB.1' is not supported";
        QTest::newRow("SQLite without Data Source") << "Provider=SQLite" << "Data Source";
        QTest::newRow("SQLite file missing") << "Provider=SQLite;Data Source=missing.db" << "missing.db\" does not exist";
        QTest::newRow("SQLite Windows path") << "Provider=SQLite;Data Source=C:\\Tormel\\rpt.db" << "does not exist";
        QTest::newRow("ODBC without source") << "Provider=MSDASQL;User ID=x" << "no ODBC data source";
        QTest::newRow("PostgreSQL bad port") << "Provider=PGNP;Data Source=h:54x;Initial Catalog=d" << "54x";
        QTest::newRow("PostgreSQL port out of range") << "Provider=PGNP;Data Source=h:70000;Initial Catalog=d" << "70000";
        QTest::newRow("PostgreSQL without database") << "Provider=PGNP;Data Source=h" << "no database name";
        QTest::newRow("Firebird host without path") << "Provider=LCPI.IBProvider;Data Source=srv:" << "no path";
        QTest::newRow("Firebird without database") << "Provider=LCPI.IBProvider;User ID=x" << "Data Source";
    }

    void describeErrors()
    {
        QFETCH(QString, init);
        QFETCH(QString, mentions);
        const QString file = writeFile("Rpt.udl", utf16le(WindowsHead + init + "\r\n"));
        const QString msg = errorOf([&] { describeDataLinkFile(file); });
        QVERIFY2(msg.contains(mentions), qPrintable(msg));
        QVERIFY2(msg.contains(file), qPrintable(msg));
        // Checking a SQLite path must never create the database as a side effect.
        QVERIFY(!QFile::exists(m_dir.filePath("missing.db")));
    }

    void adoConnectionString()
    {
        // A folder name with ';' and a leading blank: the built string must quote it.
        writeFile(" odd;dir/cat.db", "");
        const QString udl = writeFile(" odd;dir/Rpt.udl", utf16le(WindowsHead + "Provider=SQLite;Data Source=cat.db;Password=a\r\n"));
        const ConnectionDescription d = describeAdoConnectionString(adoFileNameConnectionString(udl));
        QCOMPARE(d.kind, ConnectionKind::Sqlite);
        QCOMPARE(d.database, m_dir.filePath(" odd;dir/cat.db"));
        QCOMPARE(d.dataLinkFile, udl);

        // Keys given with File Name override the file's.
        const QString withPassword = "file name=" + quoteConnectionValue(udl) + ";Password=b";
        QCOMPARE(describeAdoConnectionString(withPassword).password, QStringLiteral("b"));

        QVERIFY(errorOf([&] { describeAdoConnectionString("Provider=SQLite;File Name=" + quoteConnectionValue(udl)); })
                    .contains("cannot be combined"));
        const QString missing = errorOf([&] { describeAdoConnectionString("FILE NAME=" + m_dir.filePath("nope.udl")); });
        QVERIFY2(missing.contains(m_dir.filePath("nope.udl")), qPrintable(missing));
    }
};

QTEST_GUILESS_MAIN(TestDataLink)
#include "tst_datalink.moc"
