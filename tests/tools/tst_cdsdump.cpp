// cdsdump, run as a program: output formats, value texts, and failures.

#include "platform/cds/CdsFile.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace rpt;
using namespace rpt::cds;

namespace {

const QString kData = QStringLiteral(RPT_TEST_DATA "/cds/");

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run cdsdump(const QStringList &args)
{
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/cdsdump"), args);
    Run r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) {
        r.err = "cdsdump did not run or crashed: " + p.errorString().toUtf8();
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QVariant dec(const char *text) { return QVariant::fromValue(*Decimal::fromString(QString::fromLatin1(text))); }

} // namespace

class TstCdsDump : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/cdsdump")),
                 "cdsdump is not built next to the test");
    }

    void sampleFiles_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("out");
        const QByteArray csv = "ID,NAME\r\n1,Ann\r\n2,\r\n";
        const QByteArray json = "{\"ID\":1,\"NAME\":\"Ann\"}\n{\"ID\":2,\"NAME\":null}\n";
        const QByteArray schema = "ID\tftInteger\t0\nNAME\tftString\t10\n";
        for (const char *f : {"tiny.cds", "tiny.xml"}) {
            const QString path = kData + QLatin1String(f);
            QTest::addRow("%s csv", f) << QStringList{path} << csv;
            QTest::addRow("%s json", f) << QStringList{"--json", path} << json;
            QTest::addRow("%s schema", f) << QStringList{"--schema", path} << schema;
        }
        QTest::newRow("change log") << QStringList{kData + "changelog.cds"}
                                    << QByteArray("ID,NAME,AMOUNT\r\n1,Annie,10\r\n2,Bob,20\r\n");
        QTest::newRow("decimals schema") << QStringList{"--schema", kData + "bcd.cds"}
                                         << QByteArray("AMT\tftBCD\t2\tprecision 10\n");
    }
    void sampleFiles()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, out);
        const Run r = cdsdump(args);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, out);
    }

    void valueTexts_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::newRow("binary") << false;
        QTest::newRow("xml") << true;
    }
    void valueTexts()
    {
        QFETCH(bool, xml);
        CdsTable t;
        t.fieldDefs.Add(QStringLiteral("I"), ftLargeint);
        t.fieldDefs.Add(QStringLiteral("N"), ftBCD, 2);
        t.fieldDefs[1].Precision = 12;
        t.fieldDefs.Add(QStringLiteral("F"), ftFloat);
        t.fieldDefs.Add(QStringLiteral("D"), ftDate);
        t.fieldDefs.Add(QStringLiteral("T"), ftTime);
        t.fieldDefs.Add(QStringLiteral("TS"), ftDateTime);
        t.fieldDefs.Add(QStringLiteral("B"), ftBoolean);
        t.fieldDefs.Add(QStringLiteral("BL"), ftBlob);
        t.fieldDefs.Add(QStringLiteral("名稱, \"說明\""), ftString, 30);
        t.rows.push_back({qlonglong(-9007199254740993LL), dec("-1234567890.05"), 0.1, QDate(1899, 12, 30),
                          QTime(23, 59, 59, 999), QDateTime(QDate(1, 1, 1), QTime(10, 0), Qt::UTC), true,
                          QByteArray("\x00\xff\x10", 3), QStringLiteral("中文, \"引號\"\r\n次行")});
        t.rows.push_back({qlonglong(0), dec("0.00"), 1e20, QDate(9999, 12, 31), QTime(10, 0),
                          QDateTime(QDate(2024, 2, 29), QTime(1, 2, 3, 40), Qt::UTC), false, QByteArray(),
                          QStringLiteral("")});
        t.rows.push_back({QVariant(), QVariant(), std::numeric_limits<double>::infinity(), QVariant(), QVariant(),
                          QVariant(), QVariant(), QVariant(), QVariant()});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("values.cds"));
        writeFile(path, t, xml ? Format::Xml : Format::Binary);

        Run r = cdsdump({path});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromUtf8(r.out),
                 QStringLiteral("I,N,F,D,T,TS,B,BL,\"名稱, \"\"說明\"\"\"\r\n"
                                "-9007199254740993,-1234567890.05,0.1,1899-12-30,23:59:59.999,0001-01-01T10:00:00,true,00ff10,"
                                "\"中文, \"\"引號\"\"\r\n次行\"\r\n"
                                "0,0.00,1e+20,9999-12-31,10:00:00,2024-02-29T01:02:03.040,false,\"\",\"\"\r\n"
                                ",,Infinity,,,,,,\r\n"));
        r = cdsdump({QStringLiteral("--json"), path});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QString::fromUtf8(r.out),
                 QStringLiteral(
                     "{\"I\":-9007199254740993,\"N\":-1234567890.05,\"F\":0.1,\"D\":\"1899-12-30\",\"T\":\"23:59:59.999\","
                     "\"TS\":\"0001-01-01T10:00:00\",\"B\":true,\"BL\":\"00ff10\",\"名稱, \\\"說明\\\"\":\"中文, \\\"引號\\\"\\r\\n次行\"}\n"
                     "{\"I\":0,\"N\":0.00,\"F\":1e+20,\"D\":\"9999-12-31\",\"T\":\"10:00:00\",\"TS\":\"2024-02-29T01:02:03.040\","
                     "\"B\":false,\"BL\":\"\",\"名稱, \\\"說明\\\"\":\"\"}\n"
                     "{\"I\":null,\"N\":null,\"F\":\"Infinity\",\"D\":null,\"T\":null,\"TS\":null,\"B\":null,\"BL\":null,"
                     "\"名稱, \\\"說明\\\"\":null}\n"));
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << QStringList{"/nonexistent/x.cds"} << 1
                                      << "Cannot open file \"/nonexistent/x.cds\". No such file or directory";
        QTest::newRow("not a dataset") << QStringList{kData + "make_fixtures.py"} << 1
                                       << "make_fixtures.py is not a valid client dataset file: ";
        QTest::newRow("no file") << QStringList{} << 2 << "usage: cdsdump";
        QTest::newRow("unknown option") << QStringList{"--csv", kData + "tiny.cds"} << 2 << "unexpected argument \"--csv\"";
        QTest::newRow("two files") << QStringList{kData + "tiny.cds", kData + "tiny.xml"} << 2 << "unexpected argument";
    }
    void failures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run r = cdsdump(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
        QCOMPARE(r.out, QByteArray());
    }

    void truncatedFileFails()
    {
        // Rows print as they are read, so the rows before the cut may already be out;
        // the exit status and the message tell that the table is not whole.
        QFile in(kData + QStringLiteral("tiny.cds"));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QTemporaryDir dir;
        QFile out(dir.filePath(QStringLiteral("cut.cds")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(in.readAll().chopped(1));
        out.close();
        const Run r = cdsdump({out.fileName()});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("cut.cds is not a valid client dataset file: the data ends inside a record"), r.err);
    }
};

QTEST_GUILESS_MAIN(TstCdsDump)
#include "tst_cdsdump.moc"
