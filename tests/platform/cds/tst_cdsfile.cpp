// Client-dataset files: byte-exact known encodings, round trips of every field kind
// through both formats, change logs, hostile input and file errors.

#include "platform/cds/CdsFile.h"
#include "platform/text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cfloat>
#include <climits>
#include <cmath>

using namespace rpt;
using namespace rpt::cds;

Q_DECLARE_METATYPE(rpt::cds::Format)
Q_DECLARE_METATYPE(rpt::TFieldType)

namespace {

const QString kData = QStringLiteral(RPT_TEST_DATA "/cds/");

QByteArray fixture(const QString &name)
{
    QFile f(kData + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}

QVariant dec(const char *text) { return QVariant::fromValue(*Decimal::fromString(QString::fromLatin1(text))); }
QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

TFieldDef def(const QString &name, TFieldType t, int size = 0, int precision = 0)
{
    TFieldDef d(name, t, size);
    d.Precision = precision;
    return d;
}

CdsTable table(const QList<TFieldDef> &defs, const std::vector<QVector<QVariant>> &rows)
{
    CdsTable t;
    for (const TFieldDef &d : defs)
        t.fieldDefs.append(d);
    t.rows = rows;
    return t;
}

CdsTable readBack(const QByteArray &bytes)
{
    CdsTable t;
    readBytes(bytes, t, QStringLiteral("test.cds"));
    return t;
}

// Exact comparison: same QVariant type, same value, decimals with the same scale.
void compareTables(const CdsTable &got, const CdsTable &want)
{
    QCOMPARE(got.fieldDefs.size(), want.fieldDefs.size());
    for (int i = 0; i < want.fieldDefs.size(); ++i) {
        const TFieldDef &g = got.fieldDefs[i], &w = want.fieldDefs[i];
        QCOMPARE(g.Name, w.Name);
        QCOMPARE(fieldTypeName(g.DataType), fieldTypeName(w.DataType));
        QCOMPARE(g.Size, w.Size);
        if (isDecimalType(w.DataType))
            QCOMPARE(g.Precision, w.Precision);
        QCOMPARE(g.Required, w.Required);
        QCOMPARE(g.ReadOnly, w.ReadOnly);
    }
    QCOMPARE(got.rows.size(), want.rows.size());
    for (size_t r = 0; r < want.rows.size(); ++r) {
        for (int i = 0; i < want.fieldDefs.size(); ++i) {
            const QVariant &g = got.rows[r][i], &w = want.rows[r][i];
            const QByteArray where = QStringLiteral("row %1 field %2").arg(r).arg(want.fieldDefs[i].Name).toUtf8();
            if (!w.isValid()) {
                QVERIFY2(!g.isValid(), where + " should be NULL, got " + g.toString().toUtf8());
                continue;
            }
            QVERIFY2(g.isValid(), where + " is NULL");
            QVERIFY2(g.userType() == w.userType(),
                     where + ": type " + g.typeName() + " instead of " + w.typeName());
            if (w.userType() == qMetaTypeId<Decimal>())
                QCOMPARE(g.value<Decimal>().toString(), w.value<Decimal>().toString());
            else if (w.userType() == QMetaType::Double && std::isnan(w.toDouble()))
                QVERIFY2(std::isnan(g.toDouble()), where);
            else
                QVERIFY2(g == w, where + ": " + g.toString().toUtf8() + " instead of " + w.toString().toUtf8());
        }
    }
}

// A hand-assembled binary packet, for records and metadata that our writer never produces.
struct Packet {
    QByteArray meta;
    int fields = 0;
    QByteArray props;
    int propCount = 0;
    QByteArray records;
    quint32 recordCount = 0;

    static QByteArray u16(quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; }
    static QByteArray u32(quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; }
    static QByteArray name(const QByteArray &n) { return char(n.size()) + n; }

    Packet &field(const QByteArray &n, quint16 size, quint16 type, const QByteArray &fieldProps = {}, int nprops = 0)
    {
        meta += name(n) + u16(size) + u16(type) + u16(0) + u16(quint16(nprops)) + fieldProps;
        ++fields;
        return *this;
    }
    static QByteArray widthProp(quint16 w) { return name("WIDTH") + u16(2) + u16(2) + u16(w); }
    Packet &changeLog(const std::vector<quint32> &entries)
    {
        props += name("CHANGE_LOG") + u16(4) + u16(0x0082) + u32(quint32(entries.size()));
        for (quint32 e : entries)
            props += u32(e);
        ++propCount;
        return *this;
    }
    Packet &record(const char *hex)
    {
        records += QByteArray::fromHex(hex);
        ++recordCount;
        return *this;
    }
    QByteArray bytes() const
    {
        const QByteArray m = meta + u16(quint16(propCount)) + props;
        return u32(0xBDE01996) + u16(1) + u16(0) + u32(24) + u16(quint16(fields)) + u32(recordCount)
               + u32(3) + u16(quint16(24 + m.size())) + m + records;
    }
};

QByteArray patched(QByteArray b, int offset, const char *hex)
{
    const QByteArray p = QByteArray::fromHex(hex);
    b.replace(offset, p.size(), p);
    return b;
}

// Every field kind, with the edge values of each; row 1 is all NULL.
CdsTable everyKind()
{
    TFieldDef autoInc = def(QStringLiteral("AUTO"), ftAutoInc);
    autoInc.ReadOnly = true; // an auto-increment field always reads back read-only
    TFieldDef required = def(QStringLiteral("I32"), ftInteger);
    required.Required = true;
    QByteArray allBytes(256, 0);
    for (int i = 0; i < 256; ++i)
        allBytes[i] = char(i);
    const QString big5Memo = QStringLiteral("第一行\r\n第二行\n\t結束 &<>\"'");
    return table(
        {def("I16", ftSmallint), required, def("W16", ftWord), autoInc, def("I64", ftLargeint),
         def("B", ftBoolean), def("F", ftFloat), def("CUR", ftCurrency), def("DEC", ftBCD, 4, 18),
         def("FMT", ftFMTBcd, 10, 38), def("D", ftDate), def("T", ftTime), def("DT", ftDateTime),
         def("TS", ftTimeStamp), def("S", ftString, 10), def("FC", ftFixedChar, 6),
         def("WS", ftWideString, 8), def("M", ftMemo), def("WM", ftWideMemo), def("BL", ftBlob),
         def("BY", ftBytes, 4), def("VB", ftVarBytes, 300)},
        {
            {QVariant(-32768), QVariant(INT_MIN), QVariant(0), QVariant(1), QVariant(qlonglong(LLONG_MIN)),
             QVariant(false), QVariant(-1.5e-300), QVariant(-0.01), dec("-12345678901234.5678"),
             dec("-0.0000000001"), QVariant(QDate(1, 1, 1)), QVariant(QTime(0, 0)),
             QVariant(utc(1899, 12, 30)), QVariant(utc(1752, 9, 14, 0, 0, 0, 1)),
             QVariant(QStringLiteral("中文字五個")), QVariant(QStringLiteral("ab")),
             QVariant(QStringLiteral("\U0001D11E中")), QVariant(big5Memo),
             QVariant(QStringLiteral("寬字 memo \U0001F600")), QVariant(allBytes),
             QVariant(QByteArray("\x00\x01\x02\x03", 4)), QVariant(QByteArray(300, 'v'))},
            QVector<QVariant>(22),
            {QVariant(32767), QVariant(INT_MAX), QVariant(65535), QVariant(INT_MAX), QVariant(qlonglong(LLONG_MAX)),
             QVariant(true), QVariant(DBL_MAX), QVariant(1e15), dec("99999999999999.9999"),
             dec("9999999999999999999999999999.9999999999"), QVariant(QDate(9999, 12, 31)),
             QVariant(QTime(23, 59, 59, 999)), QVariant(utc(9999, 12, 31, 23, 59, 59, 999)),
             QVariant(utc(1600, 2, 29, 12, 34, 56, 789)), QVariant(QLatin1String("")),
             QVariant(QLatin1String("")), QVariant(QLatin1String("")), QVariant(QLatin1String("")),
             QVariant(QLatin1String("")), QVariant(QByteArray("")), QVariant(QByteArray("\xff\xff\xff\xff")),
             QVariant(QByteArray(""))},
            {QVariant(7), QVariant(-7), QVariant(7), QVariant(7), QVariant(qlonglong(7)), QVariant(true),
             QVariant(134.85000000000002), QVariant(0.1), dec("0.0000"), dec("7.0000000000"),
             QVariant(QDate(1993, 1, 1)), QVariant(QTime(10, 0)), QVariant(utc(1995, 2, 2, 1, 5, 3)),
             QVariant(utc(2024, 2, 29, 23, 0)), QVariant(QStringLiteral("<&\"'>,;")),
             QVariant(QStringLiteral("x y")), QVariant(QStringLiteral("a\r\nb\tc")),
             QVariant(QStringLiteral("&#013; is text")), QVariant(QStringLiteral("\r\n")),
             QVariant(QByteArray("\r\n")), QVariant(QByteArray("\0\0\0\0", 4)),
             QVariant(QByteArray(254, '\0'))},
            {QVariant(0), QVariant(0), QVariant(0), QVariant(0), QVariant(qlonglong(0)), QVariant(false),
             QVariant(std::numeric_limits<double>::infinity()), QVariant(-2.5), dec("-0.0001"),
             dec("0.0000000000"), QVariant(QDate(1600, 2, 29)), QVariant(QTime(0, 0, 0, 1)),
             QVariant(utc(1, 1, 1, 0, 0, 0, 1)), QVariant(utc(9999, 12, 31, 23, 59, 59, 999)),
             QVariant(QStringLiteral("1234567890")), QVariant(QStringLiteral("六字")),
             QVariant(QStringLiteral("12345678")), QVariant(QString(QChar(0x3000))),
             QVariant(QString(QChar(0xFFFD))), QVariant(QByteArray(1, '\0')),
             QVariant(QByteArray("abcd")), QVariant(QByteArray(1, 'z'))},
        });
}

} // namespace

class TstCdsFile : public QObject {
    Q_OBJECT

private slots:
    // ---- the worked example file and its XML twin
    void workedExample_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("binary") << "tiny.cds";
        QTest::newRow("xml") << "tiny.xml";
    }
    void workedExample()
    {
        QFETCH(QString, file);
        const CdsTable t = readFile(kData + file);
        compareTables(t, table({def("ID", ftInteger), def("NAME", ftString, 10)},
                               {{QVariant(1), QVariant(QStringLiteral("Ann"))}, {QVariant(2), QVariant()}}));
    }

    void writerReproducesWorkedExample()
    {
        const CdsTable t = table({def("ID", ftInteger), def("NAME", ftString, 10)},
                                 {{QVariant(1), QVariant(QStringLiteral("Ann"))}, {QVariant(2), QVariant()}});
        WriteOptions us;
        us.lcid = 1033;
        QCOMPARE(writeBytes(t, Format::Binary, us).toHex(' '), fixture("tiny.cds").toHex(' '));
        // The XML twin, with the encoding named because our XML is UTF-8.
        QByteArray xml = fixture("tiny.xml");
        xml.replace("standalone=", "encoding=\"UTF-8\" standalone=");
        QCOMPARE(writeBytes(t, Format::Xml, us), xml);
        // Without options the packet carries the Traditional Chinese locale.
        QVERIFY(writeBytes(t).contains(QByteArray::fromHex("044C4349440400010004040000")));
    }

    void autoIncDescriptor()
    {
        const QByteArray b = writeBytes(table({def("CustNo", ftAutoInc)}, {}));
        QCOMPARE(b.mid(24, 37).toHex(' '),
                 QByteArray::fromHex("06437573744E6F 0400 0100 0200 0100 0753554254595045 0200 4900 "
                                     "0800 4175746F696E6300")
                     .toHex(' '));
    }

    // ---- single values whose bytes are known
    void knownEncodings_data()
    {
        QTest::addColumn<TFieldType>("type");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("precision");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QVariant>("expected"); // when it differs from the value written
        auto add = [](const char *name, TFieldType t, int size, int prec, const QVariant &v, const char *hex,
                      const QVariant &back = QVariant()) {
            QTest::newRow(name) << t << size << prec << v << QByteArray::fromHex(hex) << back;
        };
        add("date 1993-01-01", ftDate, 0, 0, QDate(1993, 1, 1), "0C1A0B00");
        add("time 10:00", ftTime, 0, 0, QTime(10, 0), "00512502");
        add("timestamp", ftDateTime, 0, 0, utc(1995, 2, 2, 1, 5, 3), "000CDBC6B59DCC42");
        add("timestamp at midnight", ftDateTime, 0, 0, utc(1988, 4, 18), "00004648C184CC42");
        add("float", ftFloat, 0, 0, 2777815.0, "000000806B314541");
        add("boolean true", ftBoolean, 0, 0, true, "0100");
        add("boolean false", ftBoolean, 0, 0, false, "0000");
        add("string", ftString, 24, 0, QStringLiteral("Argentina"), "09417267656E74696E61");
        add("big5 string", ftString, 24, 0, QStringLiteral("中文"), "04A4A4A4E5");
        add("string of width 255", ftString, 255, 0, QStringLiteral("ab"), "02006162");
        add("bcd right-aligned", ftBCD, 2, 10, dec("-123.45"), "0A82000001234500");
        add("bcd positive takes the field scale", ftBCD, 2, 10, dec("5"), "0A02000000050000", dec("5.00"));
        add("bcd odd precision keeps every digit", ftBCD, 0, 5, dec("12345"), "050012345000");
        add("fmtbcd", ftFMTBcd, 1, 3, dec("-0.5"), "03810050");
        add("wide string", ftWideString, 10, 0, QStringLiteral("A中"), "0441002D4E");
        add("memo", ftMemo, 0, 0, QStringLiteral("a\r\n"), "03000000610D0A");
        add("sql timestamp", ftTimeStamp, 0, 0, utc(2001, 2, 3, 4, 5, 6, 7),
            "D107 0200 0300 0400 0500 0600 C0CF6A00");
        add("largeint", ftLargeint, 0, 0, qlonglong(-2), "FEFFFFFFFFFFFFFF");
        add("word", ftWord, 0, 0, 65535, "FFFF");
        add("fixed bytes padded", ftBytes, 3, 0, QByteArray("a"), "610000", QByteArray("a\0\0", 3));
        add("fixed bytes cut", ftBytes, 2, 0, QByteArray("abc"), "6162", QByteArray("ab"));
        add("var bytes", ftVarBytes, 10, 0, QByteArray("ab"), "026162");
    }
    void knownEncodings()
    {
        QFETCH(TFieldType, type);
        QFETCH(int, size);
        QFETCH(int, precision);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, bytes);
        QFETCH(QVariant, expected);
        const CdsTable t = table({def("V", type, size, precision)}, {{value}});
        const QByteArray out = writeBytes(t);
        // The record is the last thing in the file: status 0, bitmap 0, the value.
        QCOMPARE(out.right(bytes.size() + 2).toHex(' '), (QByteArray(2, '\0') + bytes).toHex(' '));
        const CdsTable back = readBack(out);
        QCOMPARE(back.rows.size(), size_t(1));
        const QVariant want = expected.isValid() ? expected : value;
        if (want.userType() == qMetaTypeId<Decimal>())
            QCOMPARE(back.rows[0][0].value<Decimal>().toString(), want.value<Decimal>().toString());
        else
            QCOMPARE(back.rows[0][0], want);
    }

    // ---- every field kind through both formats
    void roundTrip_data()
    {
        QTest::addColumn<Format>("format");
        QTest::newRow("binary") << Format::Binary;
        QTest::newRow("xml") << Format::Xml;
    }
    void roundTrip()
    {
        QFETCH(Format, format);
        const CdsTable t = everyKind();
        compareTables(readBack(writeBytes(t, format)), t);
        if (QTest::currentTestFailed())
            return;
        // Reading gives back a table that writes to the very same bytes.
        QCOMPARE(writeBytes(readBack(writeBytes(t, format)), format), writeBytes(t, format));
    }

    // Fixed files of every kind: reading them must keep giving the same table, and the
    // writer must keep producing them byte for byte.
    void everyKindFixtures_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("file");
        QTest::newRow("binary") << Format::Binary << "allkinds.cds";
        QTest::newRow("xml") << Format::Xml << "allkinds.xml";
    }
    void everyKindFixtures()
    {
        QFETCH(Format, format);
        QFETCH(QString, file);
        if (qEnvironmentVariableIsSet("RPT_WRITE_CDS_FIXTURES"))
            writeFile(kData + file, everyKind(), format);
        compareTables(readFile(kData + file), everyKind());
        QVERIFY(writeBytes(everyKind(), format) == fixture(file));
    }

    void largeValues_data() { roundTrip_data(); }
    void largeValues()
    {
        QFETCH(Format, format);
        QString memo;
        while (memo.size() < 1024 * 1024)
            memo += QStringLiteral("報表第%1行 <&>\r\n").arg(memo.size());
        QByteArray blob(1024 * 1024 + 3, '\0');
        for (int i = 0; i < blob.size(); ++i)
            blob[i] = char(i * 7);
        const CdsTable t = table({def("M", ftMemo), def("B", ftBlob), def("W", ftWideMemo)},
                                 {{memo, blob, memo}, {QVariant(), blob, QVariant()}});
        compareTables(readBack(writeBytes(t, format)), t);
    }

    // ---- ANSI text is cut to the field size in bytes, never inside a character
    void ansiTruncation_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        for (Format f : {Format::Binary, Format::Xml}) {
            const char *fn = f == Format::Binary ? "binary" : "xml";
            QTest::addRow("%s: ascii cut", fn) << f << 3 << "abcdef" << "abc";
            QTest::addRow("%s: big5 at the limit", fn) << f << 6 << "中文字" << "中文字";
            QTest::addRow("%s: big5 cut on a boundary", fn) << f << 5 << "中文字" << "中文";
            QTest::addRow("%s: mixed cut before a lead byte", fn) << f << 2 << "a中b" << "a";
            QTest::addRow("%s: 25 characters fill 50 bytes", fn) << f << 50 << QString(25, QChar(0x5831))
                                                                << QString(25, QChar(0x5831));
            QTest::addRow("%s: 26 characters lose the last", fn) << f << 50 << QString(26, QChar(0x5831))
                                                                << QString(25, QChar(0x5831));
            QTest::addRow("%s: unmappable becomes ?", fn) << f << 10 << QStringLiteral("\U0001F600x") << "?x";
        }
    }
    void ansiTruncation()
    {
        QFETCH(Format, format);
        QFETCH(int, size);
        QFETCH(QString, value);
        QFETCH(QString, stored);
        const CdsTable back = readBack(writeBytes(table({def("S", ftString, size)}, {{value}}), format));
        QCOMPARE(back.rows[0][0].toString(), stored);
    }

    void wideTruncationKeepsSurrogatePairs()
    {
        for (Format f : {Format::Binary, Format::Xml}) {
            const CdsTable back = readBack(
                writeBytes(table({def("W", ftWideString, 3)}, {{QStringLiteral("ab\U0001F600")}, {QStringLiteral("abcd")}}), f));
            QCOMPARE(back.rows[0][0].toString(), QStringLiteral("ab"));
            QCOMPARE(back.rows[1][0].toString(), QStringLiteral("abc"));
        }
        // 200 characters are 400 bytes: more than a 1-byte length prefix can count.
        const QString full(200, QChar(0x4E2D));
        const CdsTable wide = table({def("W", ftWideString, 200)}, {{full}});
        QCOMPARE(readBack(writeBytes(wide)).rows[0][0].toString(), full);
    }

    // ---- the header record handed to the print modules
    void headerRecordShape()
    {
        QTemporaryDir dir;
        TFieldDefs defs;
        for (int i = 0; i < 26; ++i)
            defs.Add(QStringLiteral("Field%1").arg(i), i == 13 ? ftMemo : ftString, i == 13 ? 0 : 50);
        CdsTable header;
        header.fieldDefs = defs;
        QVector<QVariant> row(26);
        row[1] = QStringLiteral("2024/01/01");
        row[11] = QString(26, QChar(0x5E97)); // 52 bytes in a 50-byte field
        row[12] = QStringLiteral("寶明國際股份有限公司");
        row[13] = QStringLiteral("頁尾第一行\r\n頁尾第二行");
        row[25] = QStringLiteral("");
        header.rows.push_back(row);
        const QString path = dir.filePath(QStringLiteral("temp2.cds"));
        writeFile(path, header);
        const CdsTable back = readFile(path);
        QCOMPARE(back.fieldDefs.size(), 26);
        for (int i = 0; i < 26; ++i) {
            QCOMPARE(back.fieldDefs[i].Name, QStringLiteral("Field%1").arg(i));
            QCOMPARE(back.fieldDefs[i].DataType, i == 13 ? ftMemo : ftString);
            QCOMPARE(back.fieldDefs[i].Size, i == 13 ? 0 : 50);
        }
        QCOMPARE(back.rows.size(), size_t(1));
        row[11] = QString(25, QChar(0x5E97));
        for (int i = 0; i < 26; ++i)
            QCOMPARE(back.rows[0][i], row[i]);
        QVERIFY(!back.rows[0][0].isValid());
        QVERIFY(back.rows[0][25].isValid());
    }

    void fieldNamesAndOrder_data() { roundTrip_data(); }
    void fieldNamesAndOrder()
    {
        QFETCH(Format, format);
        const QString longName = QStringLiteral("欄") + QString(300, u'n');
        const CdsTable t = table({def("Species No", ftInteger), def("Length (cm)", ftFloat), def("State/Prov", ftString, 5),
                                  def("金額", ftInteger), def("RowState", ftInteger), def("ID", ftInteger),
                                  def("ID", ftInteger), def("1st", ftInteger), def(longName, ftInteger), def("", ftInteger),
                                  def("１號", ftInteger), def("a\tb", ftInteger)},
                                 {{1, 2.5, "AB", 3, 4, 5, 6, 7, 8, 9, 10, 11}});
        compareTables(readBack(writeBytes(t, format)), t);
    }

    void hugeMetadataGoesWithoutDataOffset()
    {
        TFieldDefs defs;
        QVector<QVariant> row;
        for (int i = 0; i < 400; ++i) {
            defs.Add(QStringLiteral("F%1_").arg(i) + QString(200, u'x'), ftInteger);
            row.append(i);
        }
        CdsTable t;
        t.fieldDefs = defs;
        t.rows.push_back(row);
        const QByteArray b = writeBytes(t);
        QVERIFY(b.size() > 65535);
        QCOMPARE(b.mid(18, 6).toHex(), QByteArray("010000000000"));
        compareTables(readBack(b), t);
    }

    // ---- change logs load as their current rows
    void changeLogFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("binary") << "changelog.cds";
        QTest::newRow("xml") << "changelog.xml";
    }
    void changeLogFiles()
    {
        QFETCH(QString, file);
        TFieldDef id = def("ID", ftAutoInc);
        id.ReadOnly = true;
        compareTables(readFile(kData + file),
                      table({id, def("NAME", ftString, 20), def("AMOUNT", ftInteger)},
                            {{1, QStringLiteral("Annie"), 10}, {2, QStringLiteral("Bob"), 20}}));
    }

    void changeLogNullVersusUnchanged()
    {
        // A modified version: field A "not changed" (2), field B NULL (1).
        Packet linked;
        linked.field("A", 4, 1).field("B", 4, 1).changeLog({1, 0, 4, 2, 1, 8});
        linked.record("05 00 01000000 02000000").record("0C 06");
        compareTables(readBack(linked.bytes()), table({def("A", ftInteger), def("B", ftInteger)}, {{1, QVariant()}}));

        // Without an earlier version "not changed" and "not seen" both read as NULL, and
        // superseded or deleted versions stay hidden.
        Packet loose;
        loose.field("A", 4, 1).field("B", 4, 1);
        loose.record("00 0E").record("01 00 01000000 02000000").record("02 00 01000000 02000000").record("08 00 03000000 04000000");
        compareTables(readBack(loose.bytes()),
                      table({def("A", ftInteger), def("B", ftInteger)}, {{QVariant(), QVariant()}, {3, 4}}));
    }

    // ---- decimals in both encodings the format allows
    void bcdFixture()
    {
        const CdsTable t = readFile(kData + QStringLiteral("bcd.cds"));
        QCOMPARE(t.fieldDefs[0].DataType, ftBCD);
        QCOMPARE(t.fieldDefs[0].Precision, 10);
        QCOMPARE(t.fieldDefs[0].Size, 2);
        QStringList values;
        for (const auto &r : t.rows)
            values << r[0].value<Decimal>().toString();
        QCOMPARE(values, QStringList({"-123.45", "-123.45", "0.00", "99999999.99"}));
    }

    void bcdValuesBeyondTheFieldKeepTheirDigits()
    {
        // More places than the field's scale, or more digits than its precision, are
        // stored exactly while the field's bytes can hold them.
        const CdsTable t = table({def("D", ftBCD, 2, 10)}, {{dec("1.005")}, {dec("123456789.5")}});
        const CdsTable back = readBack(writeBytes(t));
        QCOMPARE(back.rows[0][0].value<Decimal>().toString(), QStringLiteral("1.005"));
        QCOMPARE(back.rows[1][0].value<Decimal>().toString(), QStringLiteral("123456789.50"));
    }

    // ---- the writer refuses what it cannot store, naming field and row
    void writerRejects_data()
    {
        QTest::addColumn<TFieldType>("type");
        QTest::addColumn<int>("size");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("message");
        QTest::newRow("string without size") << ftString << 0 << QVariant("x") << Format::Binary
                                             << "Cannot write field \"V\": a ftString field needs a size from 1 to 65535, not 0";
        QTest::newRow("unknown type") << ftUnknown << 0 << QVariant(1) << Format::Binary
                                      << "Cannot write field \"V\": the field type is unknown";
        QTest::newRow("smallint overflow") << ftSmallint << 0 << QVariant(40000) << Format::Binary
                                           << "Cannot write field \"V\" of row 1: 40000 is out of range for ftSmallint";
        QTest::newRow("word negative") << ftWord << 0 << QVariant(-1) << Format::Xml
                                       << "Cannot write field \"V\" of row 1: -1 is out of range for ftWord";
        QTest::newRow("text in an integer") << ftInteger << 0 << QVariant("abc") << Format::Binary
                                            << "Cannot write field \"V\" of row 1: \"abc\" is not a valid ftInteger value";
        QTest::newRow("decimal too large") << ftBCD << 0 << dec("12345678901234567890") << Format::Binary
                                           << "Cannot write field \"V\" of row 1: 12345678901234567890 does not fit precision 4, scale 0";
        QTest::newRow("date before year 1") << ftDate << 0 << QVariant(QDate(-5, 1, 1)) << Format::Binary
                                            << "Cannot write field \"V\" of row 1: the date -0005-01-01 is outside 0001-01-01 to 9999-12-31";
        QTest::newRow("control character in an xml field name") << ftString << 10 << QVariant("a") << Format::Xml
                                                               << "Cannot write field \"V\x02\": the character U+0002 of its name cannot be stored in an XML file";
        QTest::newRow("control character in xml") << ftString << 10 << QVariant("a\x01") << Format::Xml
                                                  << "Cannot write field \"V\" of row 1: the character U+0001 cannot be stored in an XML file";
    }
    void writerRejects()
    {
        QFETCH(TFieldType, type);
        QFETCH(int, size);
        QFETCH(QVariant, value);
        QFETCH(Format, format);
        QFETCH(QString, message);
        const QString name = QString::fromUtf8(QTest::currentDataTag()).contains(QLatin1String("field name"))
                                 ? QStringLiteral("V\x02")
                                 : QStringLiteral("V");
        const CdsTable t = table({def(name, type, size, type == ftBCD ? 4 : 0)}, {{value}});
        try {
            writeBytes(t, format);
            QFAIL("no error");
        } catch (const CdsError &e) {
            QCOMPARE(e.message(), message);
        }
    }

    void writerCoercesOtherValueTypes()
    {
        const CdsTable t = table({def("I", ftInteger), def("D", ftDate), def("S", ftString, 8), def("N", ftBCD, 2, 6)},
                                 {{QVariant("42"), QVariant("2024-01-02"), QVariant(12.5), QVariant(3)}});
        const CdsTable back = readBack(writeBytes(t));
        QCOMPARE(back.rows[0][0], QVariant(42));
        QCOMPARE(back.rows[0][1], QVariant(QDate(2024, 1, 2)));
        QCOMPARE(back.rows[0][2], QVariant(QStringLiteral("12.5")));
        QCOMPARE(back.rows[0][3].value<Decimal>().toString(), QStringLiteral("3.00"));
    }

    // ---- hostile and broken input
    void corruptInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray tiny = fixture("tiny.cds");
        for (int n = 1; n < tiny.size(); ++n)
            QTest::addRow("binary cut to %d bytes", n) << tiny.left(n);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("neither format") << QByteArray("hello");
        QTest::newRow("bad signature") << patched(tiny, 0, "00");
        QTest::newRow("version 2") << patched(tiny, 4, "0200");
        QTest::newRow("header size past the end") << patched(tiny, 8, "FFFF0000");
        QTest::newRow("header size too small") << patched(tiny, 8, "04000000");
        QTest::newRow("no metadata flag") << patched(tiny, 0x12, "00000000");
        QTest::newRow("one field too many") << patched(tiny, 0x0C, "0300");
        QTest::newRow("65535 fields") << patched(tiny, 0x0C, "FFFF");
        QTest::newRow("one record too many") << patched(tiny, 0x0E, "03000000");
        QTest::newRow("4 billion records") << patched(tiny, 0x0E, "FFFFFFFF");
        QTest::newRow("one record too few") << patched(tiny, 0x0E, "01000000");
        QTest::newRow("wrong data offset") << patched(tiny, 0x16, "4C00");
        QTest::newRow("name length past the end") << patched(tiny, 0x18, "FF");
        QTest::newRow("string length past the end") << patched(tiny, 0x51, "FF");
        QTest::newRow("unknown type word") << patched(tiny, 0x1D, "3F00");
        QTest::newRow("composite type") << patched(tiny, 0x1D, "0101");
        QTest::newRow("integer of 3 bytes") << patched(tiny, 0x1B, "0300");
        QTest::newRow("length prefix of 3 bytes") << patched(tiny, 0x28, "0300");
        QTest::newRow("field property count huge") << patched(tiny, 0x2E, "FFFF");
        QTest::newRow("packet property count huge") << patched(tiny, 0x3C, "FFFF");
        QTest::newRow("property array past the end") << patched(tiny, 0x38, "8200 FFFFFFFF");
        QTest::newRow("trailing byte") << tiny + '\0';

        auto one = [](quint16 size, quint16 type, const char *value) {
            Packet p;
            p.field("V", size, type).record((QByteArray("0000") + value).constData());
            return p.bytes();
        };
        QTest::newRow("day number 0") << one(4, 6, "00000000");
        QTest::newRow("day number after 9999") << one(4, 6, "DCB93700");
        QTest::newRow("time of 24 hours") << one(4, 7, "005C2605");
        QTest::newRow("timestamp NaN") << one(8, 8, "000000000000F87F");
        QTest::newRow("timestamp negative") << one(8, 8, "000000000000F0BF");
        QTest::newRow("bcd digit over 9") << one(8, 5, "02000A0000000000");
        QTest::newRow("bcd more digits than room") << one(8, 5, "0D00000000000000");
        QTest::newRow("bcd 63 places") << one(8, 5, "023F010000000000");
        QTest::newRow("bcd of 1 byte") << one(1, 5, "00");
        QTest::newRow("wide text of odd length") << one(1, 0x4A, "03414243");
        QTest::newRow("sql timestamp month 13") << one(16, 17, "D1070D000100000000000000 00000000");
        QTest::newRow("unsigned too large") << one(8, 2, "FFFFFFFFFFFFFFFF");
        QTest::newRow("memo length past the end") << one(4, 0x4B, "FFFFFF7F41");
        {
            Packet p;
            p.field("A", 4, 1).changeLog({1, 0}).record("0000 01000000");
            QTest::newRow("change log not in triples") << p.bytes();
        }
        {
            Packet p;
            p.field("A", 4, 1).changeLog({1, 2, 8, 2, 0, 4}).record("0000 01000000").record("0000 02000000");
            QTest::newRow("change log points forward") << p.bytes();
        }
        {
            Packet p;
            p.field("A", 4, 1).changeLog({5, 0, 4}).record("0000 01000000");
            QTest::newRow("change log names a missing record") << p.bytes();
        }
        {
            Packet p;
            p.field("A", 4, 1).changeLog({3, 1, 8, 3, 2, 8}).record("0000 01000000").record("0000 02000000").record("0C00");
            QTest::newRow("change log gives two earlier versions") << p.bytes();
        }

        const QByteArray xml = fixture("tiny.xml");
        auto x = [](const char *body) {
            return QByteArray("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\">") + body + "</DATAPACKET>";
        };
        const char *fields = "<METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i2\"/></FIELDS></METADATA>";
        QTest::newRow("xml cut in half") << xml.left(xml.size() / 2);
        QTest::newRow("xml cut before the end tag") << xml.left(xml.size() - 5);
        QTest::newRow("xml unclosed declaration") << QByteArray("<?xml version=\"1.0\"");
        QTest::newRow("xml other root") << QByteArray("<FOO/>");
        QTest::newRow("xml no metadata") << x("");
        QTest::newRow("xml rows before metadata") << x("<ROWDATA/><METADATA><FIELDS/></METADATA>");
        QTest::newRow("xml unknown fieldtype") << x("<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"blob\"/></FIELDS></METADATA>");
        QTest::newRow("xml field without attrname") << x("<METADATA><FIELDS><FIELD fieldtype=\"i4\"/></FIELDS></METADATA>");
        QTest::newRow("xml duplicate attrname") << x("<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"/><FIELD attrname=\"A\" fieldtype=\"i4\"/></FIELDS></METADATA>");
        QTest::newRow("xml nested table") << x("<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"nested\"><FIELDS/></FIELD></FIELDS></METADATA>");
        QTest::newRow("xml child fields") << x("<METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\"><FIELDS/></FIELD></FIELDS></METADATA>");
        QTest::newRow("xml bad integer") << x(QByteArray(fields) + "<ROWDATA><ROW ID=\"x\"/></ROWDATA>");
        QTest::newRow("xml integer out of range") << x(QByteArray(fields) + "<ROWDATA><ROW ID=\"40000\"/></ROWDATA>");
        QTest::newRow("xml unknown attribute") << x(QByteArray(fields) + "<ROWDATA><ROW ID=\"1\" X=\"2\"/></ROWDATA>");
        QTest::newRow("xml bad date") << x("<METADATA><FIELDS><FIELD attrname=\"D\" fieldtype=\"date\"/></FIELDS></METADATA><ROWDATA><ROW D=\"19941340\"/></ROWDATA>");
        QTest::newRow("xml bad base64") << x("<METADATA><FIELDS><FIELD attrname=\"B\" fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"/></FIELDS></METADATA><ROWDATA><ROW B=\"**\"/></ROWDATA>");
        QTest::newRow("xml bad RowState") << x(QByteArray(fields) + "<ROWDATA><ROW RowState=\"300\"/></ROWDATA>");
        QTest::newRow("xml change log points forward") << x("<METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i2\"/></FIELDS><PARAMS CHANGE_LOG=\"1 2 8\"/></METADATA><ROWDATA><ROW ID=\"1\"/><ROW ID=\"2\"/></ROWDATA>");
        QTest::newRow("xml change log names a missing row") << x("<METADATA><FIELDS><FIELD attrname=\"ID\" fieldtype=\"i2\"/></FIELDS><PARAMS CHANGE_LOG=\"9 0 4\"/></METADATA><ROWDATA><ROW ID=\"1\"/></ROWDATA>");
        QTest::newRow("xml DTD with entities")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE DATAPACKET [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]>"
                          "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"10\"/></FIELDS></METADATA>"
                          "<ROWDATA><ROW S=\"&b;\"/></ROWDATA></DATAPACKET>");
        QTest::newRow("xml text after the root") << xml + "<more/>";
    }
    void corruptInput()
    {
        QFETCH(QByteArray, bytes);
        CdsTable t;
        try {
            readBytes(bytes, t, QStringLiteral("corrupt.cds"));
            QFAIL("accepted");
        } catch (const CdsError &e) {
            QVERIFY2(e.message().startsWith(QLatin1String("corrupt.cds is not a valid client dataset file: ")),
                     qPrintable(e.message()));
            QVERIFY2(e.message().size() > 50, qPrintable(e.message()));
        }
    }

    // Inputs that once broke the reader (found by fuzzing) read cleanly or fail cleanly.
    void crashRegressions()
    {
        const QDir dir(kData + QStringLiteral("crashes"));
        for (const QString &name : dir.entryList(QDir::Files)) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            CdsTable t;
            try {
                readBytes(f.readAll(), t, name);
            } catch (const CdsError &e) {
                QVERIFY2(e.message().startsWith(name + QLatin1String(" is not a valid client dataset file: ")),
                         qPrintable(e.message()));
            }
        }
    }

    // ---- XML text encodings
    void xmlEncodings()
    {
        const QByteArray body = "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"20\"/>"
                                "</FIELDS></METADATA><ROWDATA><ROW S=\"";
        const QByteArray end = "\"/></ROWDATA></DATAPACKET>";
        const QString text = QStringLiteral("中文 &<>");
        const QByteArray big5 = cp950::fromUnicode(QStringLiteral("中文 ")) + "&amp;&lt;&gt;";
        const QByteArray utf8 = QStringLiteral("中文 ").toUtf8() + "&amp;&lt;&gt;";
        // No encoding named: the ANSI code page.
        QCOMPARE(readBack("<?xml version=\"1.0\" standalone=\"yes\"?>  " + body + big5 + end).rows[0][0].toString(), text);
        QCOMPARE(readBack(body + big5 + end).rows[0][0].toString(), text);
        QCOMPARE(readBack("<?xml version=\"1.0\" encoding=\"big5\"?>" + body + big5 + end).rows[0][0].toString(), text);
        QCOMPARE(readBack("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body + utf8 + end).rows[0][0].toString(), text);
        QCOMPARE(readBack("\xEF\xBB\xBF<?xml version=\"1.0\"?>" + body + utf8 + end).rows[0][0].toString(), text);
    }

    // ---- files
    void missingFile()
    {
        const QString path = QStringLiteral("/nonexistent-dir/Bramwix.dat");
        try {
            readFile(path);
            QFAIL("no error");
        } catch (const CdsError &e) {
            QCOMPARE(e.message(), QStringLiteral("Cannot open file \"/nonexistent-dir/Bramwix.dat\". No such file or directory"));
        }
        QTemporaryDir dir;
        try {
            readFile(dir.path());
            QFAIL("no error");
        } catch (const CdsError &e) {
            QCOMPARE(e.message(), QStringLiteral("Cannot open file \"%1\". Is a directory").arg(dir.path()));
        }
    }

    void writeFailures()
    {
        const CdsTable good = table({def("S", ftString, 5)}, {{QStringLiteral("old")}});
        try {
            writeFile(QStringLiteral("/nonexistent-dir/temp.cds"), good);
            QFAIL("no error");
        } catch (const CdsError &e) {
            QCOMPARE(e.message(), QStringLiteral("Cannot create file \"/nonexistent-dir/temp.cds\". No such file or directory"));
        }
        QTemporaryDir dir;
        try {
            writeFile(dir.path(), good);
            QFAIL("no error");
        } catch (const CdsError &e) {
            QCOMPARE(e.message(), QStringLiteral("Cannot create file \"%1\". Is a directory").arg(dir.path()));
        }
        // A value that cannot be written leaves the earlier file whole and no debris.
        const QString path = dir.filePath(QStringLiteral("temp.cds"));
        writeFile(path, good);
        const CdsTable bad = table({def("I", ftSmallint)}, {{1}, {99999}});
        QVERIFY_THROWS_EXCEPTION(CdsError, writeFile(path, bad));
        compareTables(readFile(path), good);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("temp.cds")});
    }

    void streamedFileMatchesBytes_data() { roundTrip_data(); }
    void streamedFileMatchesBytes()
    {
        QFETCH(Format, format);
        // Enough rows that the file goes out in several chunks.
        CdsTable t;
        t.fieldDefs.Add(QStringLiteral("N"), ftInteger);
        t.fieldDefs.Add(QStringLiteral("S"), ftString, 40);
        for (int i = 0; i < 60000; ++i)
            t.rows.push_back({i, QStringLiteral("第%1列 row").arg(i)});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.cds"));
        writeFile(path, t, format);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll() == writeBytes(t, format));
        const CdsTable back = readFile(path);
        QCOMPARE(back.rows.size(), t.rows.size());
        QCOMPARE(back.rows.back()[1], t.rows.back()[1]);
    }
};

QTEST_GUILESS_MAIN(TstCdsFile)
#include "tst_cdsfile.moc"
