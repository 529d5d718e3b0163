#include "platform/text/AnsiString.h"

#include <QtTest>

using namespace rpt;

class TestAnsiStringReplace : public QObject {
    Q_OBJECT

private slots:
    void replace_data()
    {
        QTest::addColumn<QString>("s");
        QTest::addColumn<QString>("oldPattern");
        QTest::addColumn<QString>("newPattern");
        QTest::addColumn<bool>("all");
        QTest::addColumn<bool>("ignoreCase");
        QTest::addColumn<QString>("expected");

        QTest::newRow("case ignored, replacement as typed") << "C:\\OLD\\a.rtm" << "c:\\old" << "D:\\New" << true << true
                                                            << "D:\\New\\a.rtm";
        QTest::newRow("replacement not searched again") << "C:\\rpt\\rpt.rtm" << "rpt" << "rpt2" << true << true
                                                        << "C:\\rpt2\\rpt2.rtm";
        QTest::newRow("no overlap") << "aaaa" << "aa" << "b" << true << false << "bb";
        QTest::newRow("no overlap, odd") << "aaa" << "aa" << "b" << true << false << "ba";
        QTest::newRow("first only") << "a.a.a" << "a" << "x" << false << false << "x.a.a";
        QTest::newRow("case kept without ignoreCase") << "C:\\Rpt" << "rpt" << "x" << true << false << "C:\\Rpt";
        QTest::newRow("empty pattern") << "C:\\rpt" << "" << "x" << true << true << "C:\\rpt";
        QTest::newRow("removal") << "C:\\tmp\\tmp\\a" << "tmp\\" << "" << true << true << "C:\\a";
        QTest::newRow("whole text") << "abc" << "ABC" << "" << true << true << "";
        // 許 B3 5C, 功 A5 5C, 蓋 BB 5C: the second byte is '\'.
        QTest::newRow("'\\' inside 許功蓋 untouched") << u"C:\\許功蓋\\a.rtm"_qs << "\\" << "/" << true << true
                                                       << u"C:/許功蓋/a.rtm"_qs;
        // 小 = A4 70: the second byte is 'p'.
        QTest::newRow("trail byte 'p' not matched") << u"小p"_qs << "p" << "q" << true << false << u"小q"_qs;
        QTest::newRow("trail byte 'p' not matched, ignoring case") << u"小p"_qs << "P" << "q" << true << true << u"小q"_qs;
        // 乙 = A4 41: "AB" appears in the bytes A4 41 42 starting on the trail byte.
        QTest::newRow("no match starting on a trail byte") << u"乙B"_qs << "AB" << "x" << true << true << u"乙B"_qs;
        QTest::newRow("Big5 pattern") << u"D:\\報表\\報表.rtm"_qs << u"報表"_qs << "Reports" << true << true
                                      << "D:\\Reports\\Reports.rtm";
        QTest::newRow("Big5 replacement") << "D:\\rpt\\a.rtm" << "RPT" << u"報表"_qs << true << true << u"D:\\報表\\a.rtm"_qs;
        // 报 is not in code page 950; it must neither turn into '?' nor match one.
        QTest::newRow("character outside code page 950 kept") << u"C:\\报表\\a.rtm"_qs << "a" << "b" << true << true
                                                              << u"C:\\报表\\b.rtm"_qs;
        QTest::newRow("outside character does not match '?'") << u"报?"_qs << "?" << "!" << true << true << u"报!"_qs;
        QTest::newRow("outside character matches itself") << u"报表报"_qs << u"报"_qs << "x" << true << true << u"x表x"_qs;
    }

    void replace()
    {
        QFETCH(QString, s);
        QFETCH(QString, oldPattern);
        QFETCH(QString, newPattern);
        QFETCH(bool, all);
        QFETCH(bool, ignoreCase);
        QFETCH(QString, expected);
        QCOMPARE(AnsiStringReplace(s, oldPattern, newPattern, all, ignoreCase), expected);
    }
};

QTEST_GUILESS_MAIN(TestAnsiStringReplace)
#include "tst_ansistringreplace.moc"
