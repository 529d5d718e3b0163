#include "platform/text/CodePage.h"

#include <QtTest>

using namespace rpt;

class TestCodePage950 : public QObject {
    Q_OBJECT

private slots:
    // Broken bytes become U+FFFD, and only they: the characters around them survive.
    void toUnicodeInvalid_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("valid pair") << QByteArray("\xB3\xF8=") << u"報="_qs;
        QTest::newRow("lead byte before '='") << QByteArray("k\xA4=v") << QString(u"k\uFFFD=v"_qs);
        QTest::newRow("lead byte before a line end") << QByteArray("a\xA4\r\nb") << QString(u"a\uFFFD\r\nb"_qs);
        QTest::newRow("lead byte before a quote") << QByteArray("\xA4\"x\"") << QString(u"\uFFFD\"x\""_qs);
        QTest::newRow("lead byte at the end") << QByteArray("ab\xA4") << QString(u"ab\uFFFD"_qs);
        QTest::newRow("0xFF alone") << QByteArray("\xFF" "a") << QString(u"\uFFFDa"_qs);
    }

    void toUnicodeInvalid()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(cp950::toUnicode(bytes), expected);
    }

    void truncate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fits") << u"報表"_qs << 4 << u"報表"_qs;
        QTest::newRow("never half a character") << u"報表"_qs << 3 << u"報"_qs;
        QTest::newRow("mixed") << u"a報b"_qs << 2 << "a";
        QTest::newRow("negative") << "abc" << -1 << "";
    }

    void truncate()
    {
        QFETCH(QString, text);
        QFETCH(int, maxBytes);
        QFETCH(QString, expected);
        QCOMPARE(cp950::truncate(text, maxBytes), expected);
    }
};

QTEST_GUILESS_MAIN(TestCodePage950)
#include "tst_codepage950.moc"
