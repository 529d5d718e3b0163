// Firebird access layer against real embedded databases made by the tests.

#include "support/FbTestDb.h"

#include "platform/firebird/FbConnection.h"
#include "platform/text/CodePage.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace rpt;
using namespace rpt::fb;
using rpt::test::createFbTestDb;

namespace {

// What a row sink was handed for one cell: the setter that was called and the value.
struct Cell {
    enum How { Null, Int, Double, Dec, Bool, Date, Time, DateTime, Text, Ansi, Blob } how = Null;
    QVariant v;
    // The value as the program would show it; ANSI bytes decoded from code page 950.
    QString text() const
    {
        switch (how) {
        case Null: return QStringLiteral("<null>");
        case Ansi: return cp950::toUnicode(v.toByteArray());
        case Blob: return QString::fromLatin1(v.toByteArray().toHex());
        case Dec: return v.value<Decimal>().toString();
        case Date: return v.toDate().toString(u"yyyy-MM-dd");
        case Time: return v.toTime().toString(u"HH:mm:ss.zzz");
        case DateTime: return v.toDateTime().toString(u"yyyy-MM-dd HH:mm:ss.zzz");
        case Bool: return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        case Double: return QString::number(v.toDouble(), 'g', 15);
        default: return v.toString();
        }
    }
};
using Row = QList<Cell>;

class RecordingSink : public RowSink {
public:
    QList<Column> columns;
    QList<Row> rows;
    int setColumnsCalls = 0;
    int throwAtRow = -1;

    void setColumns(const QList<Column> &c) override
    {
        columns = c;
        ++setColumnsCalls;
    }
    void beginRow() override
    {
        if (rows.size() == throwAtRow)
            throw std::runtime_error("sink gave up");
        rows.append(Row(columns.size()));
    }
    void put(int col, Cell::How how, const QVariant &v)
    {
        QVERIFY(col >= 0 && col < columns.size());
        QCOMPARE(rows.last()[col].how, Cell::Null); // each cell set once
        rows.last()[col] = Cell{how, v};
    }
    void setNull(int col) override { put(col, Cell::Null, {}); }
    void setInt(int col, qint64 v) override { put(col, Cell::Int, v); }
    void setDouble(int col, double v) override { put(col, Cell::Double, v); }
    void setDecimal(int col, const Decimal &v) override { put(col, Cell::Dec, QVariant::fromValue(v)); }
    void setBool(int col, bool v) override { put(col, Cell::Bool, v); }
    void setDate(int col, const QDate &v) override { put(col, Cell::Date, v); }
    void setTime(int col, const QTime &v) override { put(col, Cell::Time, v); }
    void setDateTime(int col, const QDateTime &v) override
    {
        QCOMPARE(v.timeSpec(), Qt::UTC);
        put(col, Cell::DateTime, v);
    }
    void setText(int col, const QString &v) override { put(col, Cell::Text, v); }
    void setAnsi(int col, const char *p, qsizetype len) override { put(col, Cell::Ansi, QByteArray(p, len)); }
    void setBlob(int col, const char *p, qsizetype len) override { put(col, Cell::Blob, QByteArray(p, len)); }
    void endRow() override {}
};

RecordingSink query(Connection &c, const QString &sql, const QList<QVariant> &params = {})
{
    RecordingSink s;
    c.execute(sql, params, &s);
    return s;
}

QString big5Text() { return QStringLiteral("中文報表"); }

} // namespace

class TestFirebird : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ConnectParams m_none; // charset NONE database shared by the type tests
    int m_tableNo = 0;

private slots:
    void initTestCase();

    void dbxParams_data();
    void dbxParams();
    void dbxParamsBadDialect();
    void opensWithStoredDefinition();

    void typedColumns_data();
    void typedColumns();
    void exactDecimals();
    void nulls();
    void trimChar();

    void wholeBlobsAndMemos();
    void big5InNoneDatabase();
    void big5AndUtf8Databases_data();
    void big5AndUtf8Databases();
    void utf8FixedChar();

    void refusedStatements_data();
    void refusedStatements();
    void failedStatementIsRolledBack();
    void sinkFailureRollsBack();
    void explicitTransaction_data();
    void explicitTransaction();
    void transactionMisuse();
    void unreachableDatabase_data();
    void unreachableDatabase();
    void createRefusesExistingFile();

    void describeAndAffectedRows();
    void isqlReadsOurDatabase();
};

void TestFirebird::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_none = createFbTestDb(m_dir.path(), QString(), {}, QStringLiteral("none.fdb"));
}

// ---------------------------------------------------------------------------------------

void TestFirebird::dbxParams_data()
{
    using Iso = ConnectParams::Isolation;
    using KV = QList<QPair<QString, QString>>;
    QTest::addColumn<KV>("params");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<int>("dialect");
    QTest::addColumn<bool>("wait");
    QTest::addColumn<int>("isolation");
    QTest::addColumn<bool>("trim");

    const KV stored = {{"DriverName", "Interbase"},  {"Database", "c:\\Tormel\\Data\\posdata.gdb"},
                       {"RoleName", "RoleName"},     {"User_Name", "sysdba"},
                       {"Password", "plumbgate"},    {"ServerCharSet", ""},
                       {"SQLDialect", "3"},          {"BlobSize", "-1"},
                       {"CommitRetain", "False"},    {"WaitOnLocks", "True"},
                       {"ErrorResourceFile", ""},    {"LocaleCode", "0000"},
                       {"Interbase TransIsolation", "ReadCommited"}, {"Trim Char", "False"}};
    QTest::newRow("stored definition") << stored << "c:\\Tormel\\Data\\posdata.gdb" << "" << 3 << true
                                       << int(Iso::ReadCommitted) << false;
    QTest::newRow("keys in other case, padded values")
        << KV{{"DATABASE", " srv/3050:/data/pos.fdb "}, {"servercharset", "BIG_5"}, {"sqldialect", " 1 "},
              {"waitonlocks", "false"}, {"INTERBASE TRANSISOLATION", "RepeatableRead"}, {"trim char", "TRUE"}}
        << "srv/3050:/data/pos.fdb" << "BIG_5" << 1 << false << int(Iso::RepeatableRead) << true;
    QTest::newRow("dirty read") << KV{{"Interbase TransIsolation", "DirtyRead"}} << "" << "" << 3 << true
                                << int(Iso::DirtyRead) << false;
    // Only the driver's own (misspelt) constants are known; the right spelling is "anything else".
    QTest::newRow("unknown isolation") << KV{{"Interbase TransIsolation", "Serializable"}} << "" << "" << 3
                                       << true << int(Iso::ReadCommitted) << false;
    QTest::newRow("empty dialect keeps default") << KV{{"SQLDialect", ""}} << "" << "" << 3 << true
                                                 << int(Iso::ReadCommitted) << false;
}

void TestFirebird::dbxParams()
{
    using KV = QList<QPair<QString, QString>>;
    QFETCH(KV, params);
    const ConnectParams p = ConnectParams::fromDbxParams(params);
    QTEST(p.database, "database");
    QTEST(p.charset, "charset");
    QTEST(p.dialect, "dialect");
    QTEST(p.waitOnLocks, "wait");
    QTEST(int(p.isolation), "isolation");
    QTEST(p.trimChar, "trim");
    if (QByteArray(QTest::currentDataTag()) == "stored definition") {
        QCOMPARE(p.user, QStringLiteral("sysdba"));
        QCOMPARE(p.password, QStringLiteral("plumbgate"));
        QCOMPARE(p.role, QStringLiteral("RoleName"));
    }
}

void TestFirebird::dbxParamsBadDialect()
{
    try {
        ConnectParams::fromDbxParams({{"SQLDialect", "three"}});
        QFAIL("no error");
    } catch (const FbError &e) {
        QVERIFY2(e.message().contains(u"three"), qPrintable(e.message()));
    }
    ConnectParams p = m_none;
    p.dialect = 7;
    Connection c;
    QVERIFY_THROWS_EXCEPTION(FbError, c.open(p));
    QVERIFY(!c.isOpen());
}

// The definition as shipped (a role nobody created, a password the embedded engine does
// not check) opens a local database.
void TestFirebird::opensWithStoredDefinition()
{
    const ConnectParams p = ConnectParams::fromDbxParams(
        {{"Database", m_none.database}, {"RoleName", "RoleName"}, {"User_Name", "sysdba"},
         {"Password", "plumbgate"}, {"ServerCharSet", ""}, {"SQLDialect", "3"},
         {"WaitOnLocks", "True"}, {"Interbase TransIsolation", "ReadCommited"}});
    Connection c;
    c.open(p);
    RecordingSink s = query(c, "select current_user from rdb$database");
    QCOMPARE(s.rows.size(), 1);
    QCOMPARE(s.rows[0][0].text().trimmed(), QStringLiteral("SYSDBA"));
}

// ---------------------------------------------------------------------------------------

void TestFirebird::typedColumns_data()
{
    QTest::addColumn<QString>("decl");
    QTest::addColumn<QVariant>("param");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("precision");
    QTest::addColumn<int>("how");
    QTest::addColumn<QString>("shown");

    // Values bound as strings, as the report scripts bind every parameter.
    QTest::newRow("smallint") << "smallint" << QVariant("-32768") << int(ftSmallint) << 0 << 0 << int(Cell::Int)
                              << "-32768";
    QTest::newRow("integer") << "integer" << QVariant(" 2147483647") << int(ftInteger) << 0 << 0
                             << int(Cell::Int) << "2147483647";
    QTest::newRow("bigint") << "bigint" << QVariant("-9223372036854775808") << int(ftLargeint) << 0 << 0
                            << int(Cell::Int) << "-9223372036854775808";
    QTest::newRow("numeric(9,2)") << "numeric(9,2)" << QVariant("-1234567.89") << int(ftFMTBcd) << 2 << 9
                                  << int(Cell::Dec) << "-1234567.89";
    QTest::newRow("decimal(4,1)") << "decimal(4,1)" << QVariant("12.3") << int(ftFMTBcd) << 1 << 4
                                  << int(Cell::Dec) << "12.3";
    QTest::newRow("numeric(10,0)") << "numeric(10,0)" << QVariant("42") << int(ftFMTBcd) << 0 << 10
                                   << int(Cell::Dec) << "42";
    QTest::newRow("double") << "double precision" << QVariant("0.1") << int(ftFloat) << 0 << 0
                            << int(Cell::Double) << "0.1";
    QTest::newRow("float") << "float" << QVariant("2.5") << int(ftFloat) << 0 << 0 << int(Cell::Double) << "2.5";
    QTest::newRow("date") << "date" << QVariant("2024-02-29") << int(ftDate) << 0 << 0 << int(Cell::Date)
                          << "2024-02-29";
    QTest::newRow("date before 1858") << "date" << QVariant("1800-01-02") << int(ftDate) << 0 << 0
                                      << int(Cell::Date) << "1800-01-02";
    QTest::newRow("time keeps ms") << "time" << QVariant("23:59:58.123") << int(ftTime) << 0 << 0
                                   << int(Cell::Time) << "23:59:58.123";
    QTest::newRow("timestamp") << "timestamp" << QVariant("2023-12-31 08:09:10.5") << int(ftDateTime) << 0 << 0
                               << int(Cell::DateTime) << "2023-12-31 08:09:10.500";
    QTest::newRow("boolean") << "boolean" << QVariant("true") << int(ftBoolean) << 0 << 0 << int(Cell::Bool)
                             << "true";
    QTest::newRow("varchar") << "varchar(20)" << QVariant("abc") << int(ftString) << 20 << 0 << int(Cell::Ansi)
                             << "abc";
    QTest::newRow("char pads") << "char(5)" << QVariant("ab") << int(ftFixedChar) << 5 << 0 << int(Cell::Ansi)
                               << "ab   ";

    // Values of their own kinds.
    QTest::newRow("int to numeric") << "numeric(18,4)" << QVariant(7) << int(ftFMTBcd) << 4 << 18
                                    << int(Cell::Dec) << "7.0000";
    QTest::newRow("decimal value") << "numeric(18,4)"
                                   << QVariant::fromValue(Decimal(Decimal::Int(-123456789012345678), 4))
                                   << int(ftFMTBcd) << 4 << 18 << int(Cell::Dec) << "-12345678901234.5678";
    QTest::newRow("double value") << "double precision" << QVariant(-1.25) << int(ftFloat) << 0 << 0
                                  << int(Cell::Double) << "-1.25";
    QTest::newRow("bool value") << "boolean" << QVariant(false) << int(ftBoolean) << 0 << 0 << int(Cell::Bool)
                                << "false";
    QTest::newRow("date value") << "date" << QVariant(QDate(1999, 12, 31)) << int(ftDate) << 0 << 0
                                << int(Cell::Date) << "1999-12-31";
    QTest::newRow("time value") << "time" << QVariant(QTime(1, 2, 3, 4)) << int(ftTime) << 0 << 0
                                << int(Cell::Time) << "01:02:03.004";
    QTest::newRow("timestamp value") << "timestamp"
                                     << QVariant(QDateTime(QDate(2000, 1, 1), QTime(0, 0, 1, 999), Qt::UTC))
                                     << int(ftDateTime) << 0 << 0 << int(Cell::DateTime)
                                     << "2000-01-01 00:00:01.999";
    QTest::newRow("int to varchar") << "varchar(5)" << QVariant(12345) << int(ftString) << 5 << 0
                                    << int(Cell::Ansi) << "12345";
}

void TestFirebird::typedColumns()
{
    QFETCH(QString, decl);
    QFETCH(QVariant, param);
    QFETCH(int, how);
    QFETCH(QString, shown);

    Connection c;
    c.open(m_none);
    const QString table = QStringLiteral("T%1").arg(++m_tableNo);
    c.execute(QStringLiteral("create table %1 (v %2)").arg(table, decl));
    QCOMPARE(c.execute(QStringLiteral("insert into %1 values (?)").arg(table), {param}), 1);

    RecordingSink s = query(c, QStringLiteral("select v from %1").arg(table));
    QCOMPARE(s.columns.size(), 1);
    QCOMPARE(s.columns[0].name, QStringLiteral("V"));
    QTEST(int(s.columns[0].type), "type");
    QTEST(s.columns[0].size, "size");
    QTEST(s.columns[0].precision, "precision");
    QCOMPARE(s.rows.size(), 1);
    QCOMPARE(int(s.rows[0][0].how), how);
    QCOMPARE(s.rows[0][0].text(), shown);

    // The stored value is found again by the same string: the parameter really was
    // converted to the column's type, not compared as text.
    RecordingSink found = query(c, QStringLiteral("select count(*) from %1 where v = ?").arg(table), {param});
    QCOMPARE(found.rows[0][0].v.toLongLong(), 1);
}

void TestFirebird::exactDecimals()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table money (id integer, amount numeric(18,4), small numeric(4,2))"));
    const QStringList values = {"-99999999999999.9999", "99999999999999.9999", "-0.0001", "0.0001",
                                "123456789012345.6789", "0", "-1.5"};
    for (int i = 0; i < values.size(); ++i)
        c.execute(QStringLiteral("insert into money values (?, ?, ?)"), {i, values[i], "-0.05"});

    RecordingSink s = query(c, QStringLiteral("select amount, small, amount * 2 as dbl, sum(amount) over () as total "
                                              "from money order by id"));
    QCOMPARE(s.columns[0].type, ftFMTBcd);
    QCOMPARE(s.columns[0].precision, 18);
    QCOMPARE(s.columns[0].scale, 4);
    QCOMPARE(s.columns[1].precision, 4);
    QCOMPARE(s.columns[1].size, 2);
    QCOMPARE(s.columns[2].type, ftFMTBcd); // computed: precision from the storage width
    QCOMPARE(s.rows.size(), values.size());
    Decimal total;
    for (int i = 0; i < values.size(); ++i) {
        const Decimal d = s.rows[i][0].v.value<Decimal>();
        QCOMPARE(d.scale(), 4);
        QCOMPARE(d, *Decimal::fromString(values[i]));
        QCOMPARE(s.rows[i][1].v.value<Decimal>().unscaled(), Decimal::Int(-5));
        total = Decimal(total.unscaled() + d.unscaled(), 4);
    }
    QCOMPARE(s.rows[0][3].v.value<Decimal>(), total);
    QCOMPARE(s.rows[4][2].text(), QStringLiteral("246913578024691.3578"));

    // Values that do not fit are refused by the server, not silently rounded.
    QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("insert into money values (99, 0, ?)"), {"1000"}));
}

void TestFirebird::nulls()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table nulls (a integer, b numeric(9,2), c varchar(5), d date, e timestamp, "
                             "f blob sub_type text, g blob, h boolean, i double precision)"));
    QList<QVariant> params(9); // every one an invalid QVariant
    c.execute(QStringLiteral("insert into nulls values (?,?,?,?,?,?,?,?,?)"), params);
    c.execute(QStringLiteral("insert into nulls (a, c) values (?, ?)"), {QVariant(QMetaType(QMetaType::Int)), ""});

    RecordingSink s = query(c, QStringLiteral("select n.*, null as nothing from nulls n order by c nulls first"));
    QCOMPARE(s.rows.size(), 2);
    QCOMPARE(s.columns.size(), 10);
    for (const Cell &cell : s.rows[0])
        QCOMPARE(cell.how, Cell::Null);
    // A null QVariant of a known type is still NULL; an empty string is not.
    QCOMPARE(s.rows[1][0].how, Cell::Null);
    QCOMPARE(s.rows[1][2].how, Cell::Ansi);
    QCOMPARE(s.rows[1][2].v.toByteArray(), QByteArray());
    QVERIFY(s.columns[0].nullable);
}

void TestFirebird::trimChar()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table codes (code char(6))"));
    c.execute(QStringLiteral("insert into codes values (?)"), {big5Text().left(2)});
    QCOMPARE(query(c, "select code from codes").rows[0][0].v.toByteArray(), cp950::fromUnicode(u"中文  "));
    c.close();

    ConnectParams p = m_none;
    p.trimChar = true;
    c.open(p);
    QCOMPARE(query(c, "select code from codes").rows[0][0].v.toByteArray(), cp950::fromUnicode(u"中文"));
}

// ---------------------------------------------------------------------------------------

void TestFirebird::wholeBlobsAndMemos()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table docs (id integer, body blob sub_type text, image blob, short_note blob sub_type text)"));

    QByteArray image(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + i / 251) & 0xFF);
    QString body;
    for (int i = 0; body.size() < (1 << 19) + 3; ++i)
        body += big5Text() + QString::number(i) + u'\n'; // over 1 MB in code page 950
    c.execute(QStringLiteral("insert into docs values (1, ?, ?, ?)"), {body, image, "short"});
    c.execute(QStringLiteral("insert into docs values (2, ?, ?, ?)"), {"", QByteArray(), QVariant()});

    RecordingSink s = query(c, QStringLiteral("select body, image, short_note from docs order by id"));
    QCOMPARE(s.columns[0].type, ftMemo);
    QCOMPARE(s.columns[1].type, ftBlob);
    QCOMPARE(s.rows.size(), 2);
    QCOMPARE(s.rows[0][0].how, Cell::Ansi);
    QCOMPARE(s.rows[0][0].v.toByteArray(), cp950::fromUnicode(body));
    QCOMPARE(s.rows[0][1].how, Cell::Blob);
    QCOMPARE(s.rows[0][1].v.toByteArray().size(), image.size());
    QVERIFY(s.rows[0][1].v.toByteArray() == image);
    QCOMPARE(s.rows[0][2].text(), QStringLiteral("short"));
    // A later, shorter blob is not polluted by the buffer of the earlier, longer one.
    QCOMPARE(s.rows[1][0].v.toByteArray(), QByteArray());
    QCOMPARE(s.rows[1][1].v.toByteArray(), QByteArray());
    QCOMPARE(s.rows[1][2].how, Cell::Null);

    // Text too long for a non-blob parameter gets a clear error, not a truncation.
    try {
        c.execute(QStringLiteral("select count(*) from docs where cast(body as varchar(100)) = ?"),
                  {QString(40000, u'x')});
        QFAIL("no error");
    } catch (const FbError &e) {
        QVERIFY2(e.message().contains(u"too long"), qPrintable(e.message()));
    }
}

void TestFirebird::big5InNoneDatabase()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table stores (id integer, name varchar(20), note varchar(20))"));
    // One value as a parameter, one as a literal in the SQL text itself.
    c.execute(QStringLiteral("insert into stores values (1, ?, '總店')"), {big5Text()});

    RecordingSink s = query(c, QStringLiteral("select name, note, name || '門市' as \"名稱\" from stores where name = ?"),
                            {big5Text()});
    QCOMPARE(s.rows.size(), 1);
    QCOMPARE(s.columns[0].type, ftString);
    QCOMPARE(s.columns[0].size, 20);
    QCOMPARE(s.columns[2].name, QStringLiteral("名稱"));
    QCOMPARE(s.rows[0][0].how, Cell::Ansi);
    QCOMPARE(s.rows[0][0].v.toByteArray(), cp950::fromUnicode(big5Text()));
    QCOMPARE(s.rows[0][0].text(), big5Text());
    QCOMPARE(s.rows[0][1].text(), QStringLiteral("總店"));
    QCOMPARE(s.rows[0][2].text(), big5Text() + QStringLiteral("門市"));
    // The database holds the Big5 bytes themselves: 4 characters, 8 bytes.
    QCOMPARE(query(c, "select octet_length(name) from stores").rows[0][0].v.toLongLong(), 8);
}

void TestFirebird::big5AndUtf8Databases_data()
{
    QTest::addColumn<QString>("dbCharset");
    QTest::addColumn<QString>("connCharset");
    QTest::addColumn<int>("stringType");
    QTest::addColumn<int>("stringSize");
    QTest::addColumn<int>("memoType");
    QTest::addColumn<int>("how");

    QTest::newRow("BIG_5 db, BIG_5 connection") << "BIG_5" << "BIG_5" << int(ftString) << 20 << int(ftMemo)
                                                << int(Cell::Ansi);
    QTest::newRow("BIG_5 db, NONE connection") << "BIG_5" << "" << int(ftString) << 20 << int(ftMemo)
                                               << int(Cell::Ansi);
    QTest::newRow("UTF8 db, UTF8 connection") << "UTF8" << "UTF8" << int(ftWideString) << 10 << int(ftWideMemo)
                                              << int(Cell::Text);
    QTest::newRow("UTF8 db, BIG_5 connection") << "UTF8" << "BIG_5" << int(ftString) << 20 << int(ftMemo)
                                               << int(Cell::Ansi);
    QTest::newRow("BIG_5 db, UTF8 connection") << "BIG_5" << "UTF8" << int(ftWideString) << 10 << int(ftWideMemo)
                                               << int(Cell::Text);
    QTest::newRow("WIN1252 connection") << "UTF8" << "WIN1252" << int(ftWideString) << 10 << int(ftWideMemo)
                                        << int(Cell::Text);
}

void TestFirebird::big5AndUtf8Databases()
{
    QFETCH(QString, dbCharset);
    QFETCH(QString, connCharset);
    QFETCH(int, how);
    const bool latin = connCharset == u"WIN1252";
    const QString text = latin ? QStringLiteral("Café ÿ") : big5Text();

    QTemporaryDir dir;
    ConnectParams p = createFbTestDb(dir.path(), dbCharset,
                                     {"create table t (s varchar(10), m blob sub_type text)"});
    p.charset = connCharset;
    Connection c;
    c.open(p);
    c.execute(QStringLiteral("insert into t values (?, ?)"), {text, text + text});
    c.execute(latin ? QStringLiteral("insert into t values ('ÿ', null)") : QStringLiteral("insert into t values ('表', null)"));

    RecordingSink s = query(c, QStringLiteral("select s, m from t order by m nulls last"));
    QTEST(int(s.columns[0].type), "stringType");
    QTEST(s.columns[0].size, "stringSize");
    QTEST(int(s.columns[1].type), "memoType");
    QCOMPARE(s.rows.size(), 2);
    QCOMPARE(int(s.rows[0][0].how), how);
    QCOMPARE(s.rows[0][0].text(), text);
    QCOMPARE(s.rows[0][1].text(), text + text);
    QCOMPARE(s.rows[1][0].text(), latin ? QStringLiteral("ÿ") : QStringLiteral("表"));
    // The characters are stored as such, whatever the connection spoke.
    QCOMPARE(query(c, "select char_length(s) from t where m is not null").rows[0][0].v.toLongLong(),
             text.size());
}

void TestFirebird::utf8FixedChar()
{
    QTemporaryDir dir;
    ConnectParams p = createFbTestDb(dir.path(), "UTF8", {"create table t (c char(3))", "insert into t values ('中a')"});
    p.charset = QStringLiteral("UTF8");
    Connection c;
    c.open(p);
    RecordingSink s = query(c, "select c from t");
    QCOMPARE(s.columns[0].type, ftWideString);
    QCOMPARE(s.columns[0].size, 3);
    QCOMPARE(s.rows[0][0].v.toString(), QStringLiteral("中a ")); // three characters, not 12 bytes
}

// ---------------------------------------------------------------------------------------

void TestFirebird::refusedStatements_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<QVariant>>("params");
    QTest::addColumn<QString>("expected");

    QTest::newRow("syntax error") << "selec * from rdb$database" << QList<QVariant>() << "Token unknown";
    QTest::newRow("unknown table") << "select * from no_such_table" << QList<QVariant>() << "NO_SUCH_TABLE";
    QTest::newRow("unknown column") << "select nope from rdb$database" << QList<QVariant>() << "NOPE";
    QTest::newRow("bad number text") << "select 1 from rdb$database where 1 = ?" << QList<QVariant>{"x1"}
                                     << "conversion error";
    QTest::newRow("too few parameters") << "select 1 from rdb$database where 1 = ?" << QList<QVariant>()
                                        << "1 parameter(s) but 0 value(s)";
    QTest::newRow("transaction statement") << "commit" << QList<QVariant>() << "Transaction statements";
    QTest::newRow("empty") << "" << QList<QVariant>() << "Unexpected end of command";
}

void TestFirebird::refusedStatements()
{
    QFETCH(QString, sql);
    QFETCH(QList<QVariant>, params);
    QFETCH(QString, expected);
    Connection c;
    c.open(m_none);
    RecordingSink s;
    try {
        c.execute(sql, params, &s);
        QFAIL("no error");
    } catch (const FbError &e) {
        QVERIFY2(e.message().contains(expected, Qt::CaseInsensitive), qPrintable(e.message()));
        QCOMPARE(QString::fromStdString(e.what()), e.message());
    }
    QVERIFY(s.rows.isEmpty());
    // The connection stays usable.
    QCOMPARE(query(c, "select 1 from rdb$database").rows.size(), 1);
}

void TestFirebird::failedStatementIsRolledBack()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table uniq (id integer not null primary key, name varchar(3))"));
    c.execute(QStringLiteral("insert into uniq values (1, 'a')"));
    // A statement that fails half way leaves nothing behind.
    QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("insert into uniq select 2, 'b' from rdb$database "
                                                               "union all select 1, 'c' from rdb$database")));
    QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("update uniq set name = ?"), {"too long"}));
    RecordingSink s = query(c, "select id, name from uniq");
    QCOMPARE(s.rows.size(), 1);
    QCOMPARE(s.rows[0][1].text(), QStringLiteral("a"));
}

void TestFirebird::sinkFailureRollsBack()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table seq (n integer)"));
    c.execute(QStringLiteral("insert into seq select 1 from rdb$database union all select 2 from rdb$database"));
    RecordingSink s;
    s.throwAtRow = 1;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, c.execute(QStringLiteral("select n from seq"), {}, &s));
    QCOMPARE(s.rows.size(), 1);
    // Nothing leaked: the connection still runs statements and can close cleanly.
    QCOMPARE(c.execute(QStringLiteral("delete from seq")), 2);
    c.close();
    QVERIFY(!c.isOpen());
    QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("select 1 from rdb$database")));
}

void TestFirebird::explicitTransaction_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("failInside");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("rollback") << "rollback" << false << QStringList();
    QTest::newRow("commit") << "commit" << false << QStringList{"1", "2"};
    QTest::newRow("rollback after a failed statement") << "rollback" << true << QStringList();
    // The failed statement is undone on its own; the rest of the transaction stands.
    QTest::newRow("commit after a failed statement") << "commit" << true << QStringList{"1", "2"};
    QTest::newRow("close") << "close" << false << QStringList();
    QTest::newRow("open again") << "open" << false << QStringList();
}

void TestFirebird::explicitTransaction()
{
    QFETCH(QString, ending);
    QFETCH(bool, failInside);
    QFETCH(QStringList, stored);
    const QString table = QStringLiteral("TX%1").arg(++m_tableNo);
    const QString select = QStringLiteral("select id from %1 order by id").arg(table);
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table %1 (id integer not null primary key)").arg(table));
    Connection other;
    other.open(m_none);

    c.beginTransaction();
    QVERIFY(c.inTransaction());
    QCOMPARE(c.execute(QStringLiteral("insert into %1 values (?)").arg(table), {1}), 1);
    if (failInside) {
        // Fails on its second row, after the first (3) went in.
        QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("insert into %1 select 3 from rdb$database "
                                                                   "union all select 1 from rdb$database")
                                                        .arg(table)));
        QVERIFY(c.inTransaction());
    }
    QCOMPARE(c.execute(QStringLiteral("insert into %1 values (?)").arg(table), {2}), 1);
    // The transaction sees its own rows; nobody else does before the commit.
    QCOMPARE(query(c, select).rows.size(), 2);
    QVERIFY(query(other, select).rows.isEmpty());

    if (ending == u"rollback")
        c.rollback();
    else if (ending == u"commit")
        c.commit();
    else if (ending == u"close")
        c.close();
    else
        c.open(m_none);
    QVERIFY(!c.inTransaction());

    QStringList ids;
    for (const Row &r : query(other, select).rows)
        ids << r[0].text();
    QCOMPARE(ids, stored);
    // Without a transaction of the caller's, statements commit on their own again.
    if (c.isOpen()) {
        c.execute(QStringLiteral("insert into %1 values (9)").arg(table));
        QCOMPARE(query(other, select).rows.size(), stored.size() + 1);
    }
}

void TestFirebird::transactionMisuse()
{
    Connection c;
    QVERIFY_THROWS_EXCEPTION(FbError, c.beginTransaction()); // not open
    c.open(m_none);
    QVERIFY_THROWS_EXCEPTION(FbError, c.commit());
    c.rollback(); // nothing to roll back is not an error
    c.beginTransaction();
    try {
        c.beginTransaction();
        QFAIL("a second transaction was begun");
    } catch (const FbError &e) {
        QVERIFY2(e.message().contains("already open"), qPrintable(e.message()));
    }
    // SQL cannot end the transaction behind the connection's back.
    QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("commit")));
    QVERIFY(c.inTransaction());
    QCOMPARE(query(c, "select 1 from rdb$database").rows.size(), 1);
    QCOMPARE(c.describe(QStringLiteral("select 1 as one from rdb$database")).size(), 1);
    QCOMPARE(c.parameterCount(QStringLiteral("select 1 from rdb$database where 1 = ?")), 1);
    c.commit();
    QVERIFY(!c.inTransaction());
}

void TestFirebird::unreachableDatabase_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing file") << QDir(m_dir.path()).filePath("missing.fdb") << "missing.fdb";
    QTest::newRow("missing folder") << "/nonexistent-folder/x.fdb" << "/nonexistent-folder/x.fdb";
    QTest::newRow("no server") << "127.0.0.1/1:/x.fdb" << "127.0.0.1";
    QTest::newRow("not a database") << QString(RPT_TEST_DATA) << "";
    QTest::newRow("empty name") << "" << "No database";
    QTest::newRow("Windows drive path") << "c:\\Tormel\\Data\\posdata.gdb" << "Windows drive path";
}

void TestFirebird::unreachableDatabase()
{
    QFETCH(QString, database);
    QFETCH(QString, expected);
    ConnectParams p = m_none;
    p.database = database;
    Connection c;
    try {
        c.open(p);
        QFAIL("no error");
    } catch (const FbError &e) {
        QVERIFY2(!e.message().isEmpty() && e.message().contains(expected), qPrintable(e.message()));
    }
    QVERIFY(!c.isOpen());
    QVERIFY_THROWS_EXCEPTION(FbError, c.execute(QStringLiteral("select 1 from rdb$database")));
}

void TestFirebird::createRefusesExistingFile()
{
    QTemporaryDir dir;
    ConnectParams p = createFbTestDb(dir.path(), "", {"create table keep (x integer)", "insert into keep values (5)"});
    QVERIFY_THROWS_EXCEPTION(FbError, Connection::createDatabase(p));
    Connection c;
    c.open(p);
    QCOMPARE(query(c, "select x from keep").rows[0][0].v.toLongLong(), 5);
}

// ---------------------------------------------------------------------------------------

void TestFirebird::describeAndAffectedRows()
{
    Connection c;
    c.open(m_none);
    c.execute(QStringLiteral("create table items (id integer not null, price numeric(12,3), name varchar(8))"));
    QCOMPARE(c.execute(QStringLiteral("insert into items values (?, ?, ?)"), {"1", "1.5", "a"}), 1);
    QCOMPARE(c.execute(QStringLiteral("insert into items values (?, ?, ?)"), {"2", "2.5", "b"}), 1);
    QCOMPARE(c.execute(QStringLiteral("update items set price = price * 2")), 2);
    QCOMPARE(c.execute(QStringLiteral("delete from items where id = ?"), {"99"}), 0);
    QCOMPARE(c.execute(QStringLiteral("create index items_name on items (name)")), -1);

    const QList<Column> cols = c.describe(QStringLiteral("select id, price as cost, name from items where id > ?"));
    QCOMPARE(cols.size(), 3);
    QCOMPARE(cols[0].type, ftInteger);
    QVERIFY(!cols[0].nullable);
    QCOMPARE(cols[1].name, QStringLiteral("COST"));
    QCOMPARE(cols[1].precision, 12);
    QCOMPARE(cols[1].scale, 3);
    QCOMPARE(cols[2].size, 8);
    QCOMPARE(c.parameterCount(QStringLiteral("select id from items where id > ? and name = ?")), 2);

    // Singleton output (RETURNING, EXECUTE PROCEDURE) arrives as one row.
    RecordingSink s = query(c, QStringLiteral("insert into items values (?, 0, 'c') returning id * 10, name"), {"4"});
    QCOMPARE(s.rows.size(), 1);
    QCOMPARE(s.rows[0][0].v.toLongLong(), 40);
    QCOMPARE(s.rows[0][1].text(), QStringLiteral("c"));
    c.execute(QStringLiteral("create procedure twice (x integer) returns (y integer) as begin y = x * 2; end"));
    s = query(c, QStringLiteral("execute procedure twice ?"), {21});
    QCOMPARE(s.rows.size(), 1);
    QCOMPARE(s.rows[0][0].v.toLongLong(), 42);
}

void TestFirebird::isqlReadsOurDatabase()
{
    const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
    if (isql.isEmpty())
        QSKIP("isql-fb not installed");
    QTemporaryDir dir;
    ConnectParams p = createFbTestDb(dir.path(), "", {"create table t (name varchar(10))"});
    {
        Connection c;
        c.open(p);
        c.execute(QStringLiteral("insert into t values (?)"), {big5Text()});
    } // the embedded engine holds the file while it is open
    QProcess proc;
    proc.start(isql, {"-q", "-ch", "NONE", "-user", "SYSDBA", p.database});
    QVERIFY(proc.waitForStarted());
    proc.write("set heading off; select name from t;\n");
    proc.closeWriteChannel();
    QVERIFY(proc.waitForFinished(30000));
    const QByteArray out = proc.readAllStandardOutput();
    QVERIFY2(out.contains(cp950::fromUnicode(big5Text())), out + proc.readAllStandardError());
}

QTEST_GUILESS_MAIN(TestFirebird)
#include "tst_firebird.moc"
