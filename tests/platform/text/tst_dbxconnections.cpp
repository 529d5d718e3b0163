#include "platform/text/DbxConnections.h"
#include "platform/text/Errors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace rpt;

namespace {

const QByteArray Tormel = "[Tormel]\r\n"
                          "DriverName=Interbase\r\n"
                          "Database=c:\\Tormel\\Data\\posdata.gdb\r\n"
                          "RoleName=RoleName\r\n"
                          "User_Name=sysdba\r\n"
                          "Password=plumbgate\r\n"
                          "ServerCharSet=\r\n"
                          "SQLDialect=3\r\n"
                          "Interbase TransIsolation=ReadCommited\r\n"
                          "Trim Char=False\r\n";

} // namespace

class TestDbxConnections : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QStringList m_dirs; // exe, config, etc

    void put(int dirIndex, const QByteArray &content, const QString &name = QStringLiteral("dbxconnections.ini"))
    {
        QFile f(QDir(m_dirs[dirIndex]).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

    QString errorOf(const QString &connection)
    {
        try {
            loadDbxConnection(connection, m_dirs);
        } catch (const EDatabaseError &e) {
            return e.message();
        }
        return QStringLiteral("<no error>");
    }

private slots:
    void init()
    {
        QVERIFY(m_root.isValid());
        m_dirs.clear();
        for (const char *d : {"exe", "config/rptdlg", "etc/rptdlg"}) {
            QDir(m_root.path()).mkpath(d);
            m_dirs.append(m_root.filePath(d));
        }
    }
    void cleanup()
    {
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
    }

    void searchOrder_data()
    {
        QTest::addColumn<QByteArray>("exe");    // "" = no file there
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("etc");
        QTest::addColumn<int>("used");          // index of the folder whose file is used
        const QByteArray other = "[Other]\r\nDriverName=Interbase\r\n";
        QTest::newRow("executable folder first") << Tormel << Tormel << Tormel << 0;
        QTest::newRow("then the user's config") << QByteArray() << Tormel << Tormel << 1;
        QTest::newRow("then /etc") << QByteArray() << QByteArray() << Tormel << 2;
        QTest::newRow("a file without the connection is passed over") << other << QByteArray() << Tormel << 2;
    }

    void searchOrder()
    {
        QFETCH(QByteArray, exe);
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, etc);
        QFETCH(int, used);
        const QByteArray files[] = {exe, config, etc};
        for (int i = 0; i < 3; ++i)
            if (!files[i].isEmpty())
                put(i, files[i]);
        const DbxConnection c = loadDbxConnection("tormel", m_dirs);
        QCOMPARE(c.fileName, QDir(m_dirs[used]).filePath("dbxconnections.ini"));
    }

    void params()
    {
        // Copied from Windows with its capitals; the section name matches ignoring case.
        put(1, "[Other]\r\nx=1\r\n" + Tormel, "DBXConnections.ini");
        const DbxConnection c = loadDbxConnection("TORMEL", m_dirs);
        QCOMPARE(c.fileName, QDir(m_dirs[1]).filePath("DBXConnections.ini"));
        QCOMPARE(c.lines(), QStringList({"DriverName=Interbase", "Database=c:\\Tormel\\Data\\posdata.gdb", "RoleName=RoleName",
                                         "User_Name=sysdba", "Password=plumbgate", "ServerCharSet=", "SQLDialect=3",
                                         "Interbase TransIsolation=ReadCommited", "Trim Char=False"}));
        QCOMPARE(c.value("user_name"), QStringLiteral("sysdba"));
    }

    void errors()
    {
        QCOMPARE(errorOf(""), QStringLiteral("Connection name missing"));
        QCOMPARE(errorOf("   "), QStringLiteral("Connection name missing"));

        const QString none = errorOf("Tormel");
        QVERIFY2(none.contains("\"Tormel\"") && none.contains("dbxconnections.ini"), qPrintable(none));
        for (const QString &d : m_dirs)
            QVERIFY2(none.contains(d), qPrintable(none));

        put(0, "[Other]\r\nDriverName=Interbase\r\n");
        const QString undefined = errorOf("Tormel");
        QVERIFY2(undefined.contains("\"Tormel\" is not defined"), qPrintable(undefined));
        QVERIFY2(undefined.contains(QDir(m_dirs[0]).filePath("dbxconnections.ini")), qPrintable(undefined));
        for (const QString &d : m_dirs)
            QVERIFY2(undefined.contains(d), qPrintable(undefined));
    }

    void defaultDirs()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", "/cfg");
        QCOMPARE(defaultDbxSearchDirs("/opt/rpt/"), QStringList({"/opt/rpt/", "/cfg/rptdlg", "/etc/rptdlg"}));
        qputenv("XDG_CONFIG_HOME", "relative/cfg"); // not absolute: ignored
        QCOMPARE(defaultDbxSearchDirs("/opt/rpt/").at(1), QDir::homePath() + "/.config/rptdlg");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(defaultDbxSearchDirs("/opt/rpt/").at(1), QDir::homePath() + "/.config/rptdlg");
        if (!saved.isNull())
            qputenv("XDG_CONFIG_HOME", saved);
    }
};

QTEST_GUILESS_MAIN(TestDbxConnections)
#include "tst_dbxconnections.moc"
