#include "platform/text/SqlParams.h"

#include <QtTest>

using namespace rpt;

class TestSqlParams : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("two markers") << "select * from t where a = :a and b = :B"
                                     << "select * from t where a = ? and b = ?" << QStringList{"a", "B"};
        QTest::newRow("repeated name, one '?' each") << ":d1 between :d1 and :d2" << "? between ? and ?"
                                                     << QStringList{"d1", "d1", "d2"};
        QTest::newRow("name ends at an operator") << "x=:a+1 or y=:b||'z' or :c=1" << "x=?+1 or y=?||'z' or ?=1"
                                                  << QStringList{"a", "b", "c"};
        QTest::newRow("name ends at brackets and commas") << "f(:a,:b),(:c)" << "f(?,?),(?)" << QStringList{"a", "b", "c"};
        QTest::newRow("identifier characters") << "where x = :Store_No$2;" << "where x = ?;" << QStringList{"Store_No$2"};
        QTest::newRow("string literal") << "where s = 'it''s :not' and t = :yes" << "where s = 'it''s :not' and t = ?"
                                        << QStringList{"yes"};
        QTest::newRow("quoted identifier") << "select \"a:b\", `c:d` from t where x = :p"
                                           << "select \"a:b\", `c:d` from t where x = ?" << QStringList{"p"};
        QTest::newRow("line comment") << "select 1 -- don't :skip\nfrom t where x = :p"
                                      << "select 1 -- don't :skip\nfrom t where x = ?" << QStringList{"p"};
        QTest::newRow("block comment") << "select /* :skip 'x */ :p" << "select /* :skip 'x */ ?" << QStringList{"p"};
        QTest::newRow("unclosed comment runs to the end") << "select :p /* :q" << "select ? /* :q" << QStringList{"p"};
        QTest::newRow("unclosed literal runs to the end") << "select :p, ':q" << "select ?, ':q" << QStringList{"p"};
        QTest::newRow("'::' is one literal colon") << "select x::int, '::' from t" << "select x:int, '::' from t"
                                                   << QStringList{};
        QTest::newRow("quoted name") << "where a = :\"my name\" and b = :\"報表\"" << "where a = ? and b = ?"
                                     << QStringList{"my name", u"報表"_qs};
        QTest::newRow("empty quoted name is no marker") << "x = :\"\"" << "x = :\"\"" << QStringList{};
        QTest::newRow("colon without a name") << "a : b :=c :" << "a : b :=c :" << QStringList{};
        QTest::newRow("Big5 in literals and names") << u"where 名稱 = '報表:許功蓋' and 日期 = :日期"_qs
                                                    << u"where 名稱 = '報表:許功蓋' and 日期 = ?"_qs << QStringList{u"日期"_qs};
        QTest::newRow("no markers") << "select 1 from rdb$database" << "select 1 from rdb$database" << QStringList{};
    }

    void parse()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QFETCH(QStringList, names);
        const ParsedSql p = ParseSQL(sql);
        QCOMPARE(p.sql, expected);
        QCOMPARE(p.names, names);
    }

    void uniqueNames()
    {
        QCOMPARE(UniqueParamNames({"d1", "D1", "d2", "d1", u"日期"_qs, u"日期"_qs}), QStringList({"d1", "d2", u"日期"_qs}));
        QCOMPARE(UniqueParamNames({}), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSqlParams)
#include "tst_sqlparams.moc"
