// The XML datapacket: <DATAPACKET><METADATA><FIELDS>...</FIELDS><PARAMS/></METADATA>
// <ROWDATA><ROW .../>...</ROWDATA></DATAPACKET>, one ROW attribute per non-NULL value.

#include "platform/cds/CdsFormat.h"

#include "platform/text/CodePage.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>

namespace rpt::cds::detail {

namespace {

// ================================================================ text forms of values

QString dateText(const QDate &d)
{
    return QString::asprintf("%04d%02d%02d", d.year(), d.month(), d.day());
}

QString timeText(const QTime &t)
{
    return QString::asprintf("%02d:%02d:%02d%03d", t.hour(), t.minute(), t.second(), t.msec());
}

QString doubleText(double d)
{
    if (std::isnan(d))
        return QStringLiteral("NAN");
    if (std::isinf(d))
        return d < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (d == 0)
        return std::signbit(d) ? QStringLiteral("-0") : QStringLiteral("0");
    // Plain notation with the fewest digits that read back as the same double.
    return QString::number(d, 'f', QLocale::FloatingPointShortest);
}

bool parseDate(QStringView s, QDate *out)
{
    if (s.size() != 8)
        return false;
    bool a, b, c;
    const int y = s.mid(0, 4).toInt(&a), m = s.mid(4, 2).toInt(&b), d = s.mid(6, 2).toInt(&c);
    if (!a || !b || !c || y < 1)
        return false;
    *out = QDate(y, m, d);
    return out->isValid();
}

// "HH:MM:SSmmm"; also "HH:MM:SS" and "HH:MM:SS.mmm".
bool parseTime(QStringView s, QTime *out)
{
    if (s.size() < 8 || s[2] != u':' || s[5] != u':')
        return false;
    bool a, b, c, e = true;
    const int h = s.mid(0, 2).toInt(&a), m = s.mid(3, 2).toInt(&b), sec = s.mid(6, 2).toInt(&c);
    int ms = 0;
    QStringView rest = s.mid(8);
    if (rest.startsWith(u'.'))
        rest = rest.mid(1);
    if (!rest.isEmpty()) {
        if (rest.size() != 3)
            return false;
        ms = rest.toInt(&e);
    }
    if (!a || !b || !c || !e || h > 23 || m > 59 || sec > 59 || ms < 0)
        return false;
    *out = QTime(h, m, sec, ms);
    return out->isValid();
}

bool parseDateTime(QStringView s, QDateTime *out)
{
    QDate d;
    QTime t(0, 0);
    if (s.size() == 8) {
        if (!parseDate(s, &d))
            return false;
    } else if (s.size() < 9 || s[8] != u'T' || !parseDate(s.left(8), &d) || !parseTime(s.mid(9), &t)) {
        return false;
    }
    *out = QDateTime(d, t, Qt::UTC);
    return true;
}

// ================================================================ writing

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
           || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Escapes for an attribute value. Line breaks and tabs become character references,
// because a parser turns literal ones inside attributes into spaces. Returns false
// when the text holds a character that no XML document can carry.
bool escapeInto(QString &out, QStringView text, char32_t *badChar = nullptr)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        switch (ch.unicode()) {
        case u'&': out += QLatin1String("&amp;"); continue;
        case u'<': out += QLatin1String("&lt;"); continue;
        case u'>': out += QLatin1String("&gt;"); continue;
        case u'"': out += QLatin1String("&quot;"); continue;
        case u'\'': out += QLatin1String("&apos;"); continue;
        case u'\r': out += QLatin1String("&#013;"); continue;
        case u'\n': out += QLatin1String("&#010;"); continue;
        case u'\t': out += QLatin1String("&#009;"); continue;
        default: break;
        }
        char32_t cp = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(ch, text[i + 1]);
            out += ch;
            out += text[++i];
            continue;
        }
        if (ch.isSurrogate() || !isXmlChar(cp)) {
            if (badChar)
                *badChar = cp;
            return false;
        }
        out += ch;
    }
    return true;
}

QString escapedName(const QString &name)
{
    QString out;
    char32_t bad = 0;
    if (!escapeInto(out, name, &bad))
        throw CdsError(QStringLiteral("Cannot write field \"%1\": the character U+%2 of its name cannot be "
                                      "stored in an XML file")
                           .arg(name)
                           .arg(uint(bad), 4, 16, QLatin1Char('0')));
    return out;
}

bool isNameChar(QChar c)
{
    if (c.unicode() < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
               || c == u'_' || c == u'.' || c == u'-';
    return !c.isSurrogate() && c.isLetterOrNumber();
}

// Attribute names of the ROW elements: the field name with every character that
// cannot stand in an XML name replaced by '_', made unique.
QStringList attributeNames(const std::vector<FieldPlan> &plans)
{
    QStringList names;
    QSet<QString> used{QStringLiteral("RowState")};
    for (const FieldPlan &p : plans) {
        QString n = p.def.Name;
        for (QChar &c : n)
            if (!isNameChar(c))
                c = u'_';
        if (n.isEmpty() || !(n[0] == u'_' || n[0].isLetter()))
            n.prepend(u'_');
        if (n.startsWith(QLatin1String("xml"), Qt::CaseInsensitive))
            n.prepend(u'_');
        QString unique = n;
        for (int k = 1; used.contains(unique); ++k)
            unique = n + u'_' + QString::number(k);
        used.insert(unique);
        names.append(unique);
    }
    return names;
}

void appendUtf8(QByteArray &out, const QString &s) { out.append(s.toUtf8()); }

} // namespace

void writeXml(const RecordSource &source, const WriteOptions &options, QByteArray &out,
              const ChunkFlush &flush)
{
    const std::vector<FieldPlan> plans = planFields(source.fields());
    const qsizetype rows = source.rowCount();
    const QStringList attrs = attributeNames(plans);

    QString head = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\">"
        "<METADATA><FIELDS>");
    for (size_t i = 0; i < plans.size(); ++i) {
        const FieldPlan &p = plans[i];
        head += QLatin1String("<FIELD");
        if (attrs[int(i)] != p.def.Name)
            head += QLatin1String(" fieldname=\"") + escapedName(p.def.Name) + u'"';
        head += QLatin1String(" attrname=\"") + attrs[int(i)] + u'"';
        head += QLatin1String(" fieldtype=\"") + QLatin1String(p.xmlType) + u'"';
        if (p.attrs & attrReadOnly)
            head += QLatin1String(" readonly=\"true\"");
        if (p.attrs & attrRequired)
            head += QLatin1String(" required=\"true\"");
        // Without a SUBTYPE, bin.hex stands for var-bytes; "Bytes" marks fixed bytes.
        QByteArray subtype = p.subtype;
        if (p.kind == Kind::VarBytes)
            subtype.clear();
        else if (p.kind == Kind::FixedBytes)
            subtype = "Bytes";
        if (!subtype.isEmpty())
            head += QLatin1String(" SUBTYPE=\"") + QLatin1String(subtype) + u'"';
        const int width = p.kind == Kind::FixedBytes ? p.limit : p.width;
        if (width >= 0)
            head += QLatin1String(" WIDTH=\"") + QString::number(width) + u'"';
        if (p.decimals >= 0)
            head += QLatin1String(" DECIMALS=\"") + QString::number(p.decimals) + u'"';
        head += QLatin1String("/>");
    }
    head += QStringLiteral("</FIELDS><PARAMS LCID=\"%1\"/></METADATA><ROWDATA>").arg(options.lcid);
    appendUtf8(out, head);

    const int fieldCount = int(plans.size());
    QString row;
    for (qsizetype r = 0; r < rows; ++r) {
        row.clear();
        row += QLatin1String("<ROW");
        for (int i = 0; i < fieldCount; ++i) {
            const FieldPlan &p = plans[size_t(i)];
            const QVariant v = normalise(p, source.value(r, i), r);
            if (!v.isValid())
                continue; // NULL: no attribute
            row += u' ';
            row += attrs[i];
            row += QLatin1String("=\"");
            QString text;
            bool isText = false;
            switch (p.kind) {
            case Kind::Int: text = QString::number(v.toLongLong()); break;
            case Kind::Bool: text = v.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); break;
            case Kind::Float: text = doubleText(v.toDouble()); break;
            case Kind::Bcd: text = v.value<Decimal>().toString(); break;
            case Kind::Date: text = dateText(v.toDate()); break;
            case Kind::Time: text = timeText(v.toTime()); break;
            case Kind::DateTime:
            case Kind::SqlTimeStamp: {
                const QDateTime dt = v.toDateTime();
                text = dateText(dt.date());
                if (dt.time() != QTime(0, 0))
                    text += u'T' + timeText(dt.time());
                break;
            }
            case Kind::Ansi:
            case Kind::AnsiMemo:
                text = cp950::toUnicode(v.toByteArray());
                isText = true;
                break;
            case Kind::Wide:
            case Kind::WideMemo:
                text = v.toString();
                isText = true;
                break;
            case Kind::Blob:
            case Kind::VarBytes:
            case Kind::FixedBytes: text = QString::fromLatin1(v.toByteArray().toBase64()); break;
            }
            if (isText) {
                char32_t bad = 0;
                if (!escapeInto(row, text, &bad))
                    throw CdsError(QStringLiteral("Cannot write field \"%1\" of row %2: the character "
                                                  "U+%3 cannot be stored in an XML file")
                                       .arg(p.def.Name)
                                       .arg(r + 1)
                                       .arg(uint(bad), 4, 16, QLatin1Char('0')));
            } else {
                row += text;
            }
            row += u'"';
        }
        row += QLatin1String("/>");
        appendUtf8(out, row);
        if (flush && out.size() >= (1 << 20))
            flush(out);
    }
    out.append("</ROWDATA></DATAPACKET>");
    if (flush)
        flush(out);
}

// ================================================================ reading

namespace {

bool isCp950Name(const QString &enc)
{
    static const QStringList names{QStringLiteral("big5"),        QStringLiteral("cp950"),
                                   QStringLiteral("windows-950"), QStringLiteral("x-windows-950"),
                                   QStringLiteral("ms950"),       QStringLiteral("x-big5")};
    return names.contains(enc.toLower());
}

// Gives the parser UTF-8. A datapacket without an encoding in its declaration is in
// the writer's ANSI code page, which for this program is 950.
QByteArray toParserInput(const QByteArray &data, const QString &file)
{
    if (data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return data;
    bool ascii = true;
    for (char ch : data)
        if (uchar(ch) >= 0x80) {
            ascii = false;
            break;
        }
    qsizetype bodyStart = 0;
    QString encoding;
    if (data.startsWith("<?xml")) {
        const qsizetype end = data.indexOf("?>");
        if (end < 0)
            invalid(file, QStringLiteral("the XML declaration is not closed"));
        const QString decl = QString::fromLatin1(data.left(end));
        static const QRegularExpression re(QStringLiteral("encoding\\s*=\\s*[\"']([^\"']*)[\"']"));
        const QRegularExpressionMatch m = re.match(decl);
        if (m.hasMatch())
            encoding = m.captured(1);
        bodyStart = end + 2;
    }
    if (!encoding.isEmpty() && !isCp950Name(encoding))
        return data; // UTF-8 or another encoding the parser knows itself
    if (ascii)
        return encoding.isEmpty() ? data : "<?xml version=\"1.0\"?>" + data.mid(bodyStart);
    const QByteArray body = cp950::toUnicode(data.constData() + bodyStart, data.size() - bodyStart).toUtf8();
    return bodyStart ? "<?xml version=\"1.0\"?>" + body : body;
}

struct XmlField {
    TFieldDef def;
    Kind kind = Kind::Int;
    QString attrName;
};

class XmlReader {
public:
    XmlReader(const QByteArray &input, RecordSink &sink, const QString &file)
        : m_xml(input), m_sink(sink), m_file(file)
    {
    }

    void run();

private:
    [[noreturn]] void fail(const QString &reason) { invalid(m_file, reason); }
    void checkXml()
    {
        if (m_xml.hasError())
            fail(QStringLiteral("XML error at line %1, column %2: %3")
                     .arg(m_xml.lineNumber())
                     .arg(m_xml.columnNumber())
                     .arg(m_xml.errorString()));
    }
    bool nextChild()
    {
        const bool more = m_xml.readNextStartElement();
        checkXml();
        return more;
    }
    void skip()
    {
        m_xml.skipCurrentElement();
        checkXml();
    }
    void readMetadata();
    void readField();
    void readParams();
    void readRows();
    QVariant parseValue(const XmlField &f, QStringView text, qsizetype row);

    QXmlStreamReader m_xml;
    RecordSink &m_sink;
    QString m_file;
    std::vector<XmlField> m_fields;
    QHash<QString, int> m_byAttr;
    std::vector<quint32> m_changeLog;
    bool m_hasChangeLog = false;
};

void XmlReader::run()
{
    // The prolog: a DTD could declare entities, and this format never needs one.
    while (!m_xml.atEnd()) {
        m_xml.readNext();
        checkXml();
        if (m_xml.isDTD())
            fail(QStringLiteral("the document has a DTD, which a datapacket never has"));
        if (m_xml.isStartElement())
            break;
    }
    if (!m_xml.isStartElement())
        fail(QStringLiteral("the document has no root element"));
    if (m_xml.name() != QLatin1String("DATAPACKET"))
        fail(QStringLiteral("the root element is <%1>, not <DATAPACKET>").arg(m_xml.name()));

    bool haveMeta = false, haveRows = false;
    while (nextChild()) {
        if (m_xml.name() == QLatin1String("METADATA")) {
            if (haveMeta)
                fail(QStringLiteral("the packet has two METADATA elements"));
            readMetadata();
            haveMeta = true;
        } else if (m_xml.name() == QLatin1String("ROWDATA")) {
            if (!haveMeta)
                fail(QStringLiteral("ROWDATA comes before METADATA"));
            if (haveRows)
                fail(QStringLiteral("the packet has two ROWDATA elements"));
            haveRows = true;
            readRows();
        } else {
            skip();
        }
    }
    while (!m_xml.atEnd()) {
        m_xml.readNext();
        checkXml();
    }
    if (!haveMeta)
        fail(QStringLiteral("the packet has no METADATA"));
}

void XmlReader::readMetadata()
{
    bool haveFields = false;
    while (nextChild()) {
        if (m_xml.name() == QLatin1String("FIELDS")) {
            if (haveFields)
                fail(QStringLiteral("the packet has two FIELDS elements"));
            haveFields = true;
            while (nextChild()) {
                if (m_xml.name() == QLatin1String("FIELD"))
                    readField();
                else
                    skip();
            }
        } else if (m_xml.name() == QLatin1String("PARAMS")) {
            readParams();
        } else {
            skip();
        }
    }
    if (!haveFields)
        fail(QStringLiteral("the METADATA has no FIELDS"));
    if (m_fields.size() > 0xFFFF)
        fail(QStringLiteral("the packet has %1 fields, more than 65535").arg(m_fields.size()));
    TFieldDefs defs;
    for (const XmlField &f : m_fields)
        defs.append(f.def);
    m_sink.setFields(defs);
}

void XmlReader::readField()
{
    const QXmlStreamAttributes a = m_xml.attributes();
    XmlField f;
    f.attrName = a.value(QLatin1String("attrname")).toString();
    const QString type = a.value(QLatin1String("fieldtype")).toString();
    const QString subtype = a.value(QLatin1String("SUBTYPE")).toString();
    const int index = int(m_fields.size()) + 1;
    if (f.attrName.isEmpty())
        fail(QStringLiteral("field %1 has no attrname").arg(index));
    if (m_byAttr.contains(f.attrName) || f.attrName == QLatin1String("RowState"))
        fail(QStringLiteral("the attribute name \"%1\" is used by two fields").arg(f.attrName));
    f.def.Name = a.hasAttribute(QLatin1String("fieldname")) ? a.value(QLatin1String("fieldname")).toString()
                                                            : f.attrName;
    auto number = [&](const char *name, int fallback) {
        const QStringView v = a.value(QLatin1String(name));
        if (v.isEmpty())
            return fallback;
        bool ok = false;
        const int n = v.toInt(&ok);
        if (!ok || n < 0)
            fail(QStringLiteral("field \"%1\" has %2=\"%3\"").arg(f.def.Name, QLatin1String(name), v));
        return n;
    };
    auto flag = [&](const char *name) { return a.value(QLatin1String(name)) == QLatin1String("true"); };
    f.def.Required = flag("required");
    f.def.ReadOnly = flag("readonly");
    const int width = number("WIDTH", -1);

    static const QHash<QString, TFieldType> simple{
        {QStringLiteral("i1"), ftSmallint},       {QStringLiteral("i2"), ftSmallint},
        {QStringLiteral("i4"), ftInteger},        {QStringLiteral("i8"), ftLargeint},
        {QStringLiteral("ui1"), ftWord},          {QStringLiteral("ui2"), ftWord},
        {QStringLiteral("ui4"), ftLargeint},      {QStringLiteral("ui8"), ftLargeint},
        {QStringLiteral("boolean"), ftBoolean},   {QStringLiteral("r8"), ftFloat},
        {QStringLiteral("r4"), ftFloat},          {QStringLiteral("r10"), ftFloat},
        {QStringLiteral("date"), ftDate},         {QStringLiteral("time"), ftTime},
        {QStringLiteral("dateTime"), ftDateTime}, {QStringLiteral("SQLdateTime"), ftTimeStamp},
    };
    if (auto it = simple.constFind(type); it != simple.constEnd()) {
        f.def.DataType = *it;
        if (f.def.DataType == ftInteger && subtype == QLatin1String("Autoinc"))
            f.def.DataType = ftAutoInc;
        if (f.def.DataType == ftFloat && type == QLatin1String("r8") && subtype == QLatin1String("Money"))
            f.def.DataType = ftCurrency;
    } else if (type == QLatin1String("string")) {
        f.def.DataType = subtype == QLatin1String("FixedChar") ? ftFixedChar : ftString;
        f.def.Size = width > 0 ? width : 255;
    } else if (type == QLatin1String("string.uni")) {
        f.def.DataType = ftWideString;
        f.def.Size = width > 0 ? width : 127;
    } else if (type == QLatin1String("fixed") || type == QLatin1String("fixedFMT")) {
        f.def.DataType = type == QLatin1String("fixed") ? ftBCD : ftFMTBcd;
        f.def.Precision = width > 0 ? std::min(width, 64) : 32;
        f.def.Size = std::min({number("DECIMALS", 0), 63, f.def.Precision});
    } else if (type == QLatin1String("bin.hex")) {
        if (subtype == QLatin1String("Text") || subtype == QLatin1String("HMemo"))
            f.def.DataType = ftMemo;
        else if (subtype == QLatin1String("WideText"))
            f.def.DataType = ftWideMemo;
        else if (subtype == QLatin1String("Bytes") && width > 0)
            f.def.DataType = ftBytes;
        else if (subtype.isEmpty() && width > 0)
            f.def.DataType = ftVarBytes;
        else
            f.def.DataType = ftBlob;
        f.def.Size = width > 0 ? width : 0;
    } else if (type == QLatin1String("nested")) {
        fail(QStringLiteral("field \"%1\" is a nested table, which is not supported").arg(f.def.Name));
    } else {
        fail(QStringLiteral("field \"%1\" has the unknown fieldtype \"%2\"").arg(f.def.Name, type));
    }
    f.kind = kindOf(f.def.DataType);
    // A FIELD with child elements describes a nested or composite column.
    if (nextChild())
        fail(QStringLiteral("field \"%1\" has child elements (a nested table), which is not supported")
                 .arg(f.def.Name));
    m_byAttr.insert(f.attrName, int(m_fields.size()));
    m_fields.push_back(std::move(f));
}

void XmlReader::readParams()
{
    const QXmlStreamAttributes a = m_xml.attributes();
    if (a.hasAttribute(QLatin1String("CHANGE_LOG"))) {
        const QStringView text = a.value(QLatin1String("CHANGE_LOG"));
        for (QStringView part : text.split(u' ', Qt::SkipEmptyParts)) {
            bool ok = false;
            const qulonglong n = part.trimmed().toULongLong(&ok);
            if (!ok || n > 0xFFFFFFFFull)
                fail(QStringLiteral("the change log holds \"%1\", not a record number").arg(part));
            m_changeLog.push_back(quint32(n));
        }
        m_hasChangeLog = true;
    }
    skip();
}

QVariant XmlReader::parseValue(const XmlField &f, QStringView text, qsizetype row)
{
    auto bad = [&]() -> QVariant {
        fail(QStringLiteral("row %1 holds \"%2\" in field \"%3\", which is not a valid %4 value")
                 .arg(row)
                 .arg(text.left(80))
                 .arg(f.def.Name)
                 .arg(QLatin1String(fieldTypeName(f.def.DataType))));
    };
    switch (f.kind) {
    case Kind::Int: {
        bool ok = false;
        const qlonglong n = text.trimmed().toLongLong(&ok);
        qlonglong lo = std::numeric_limits<qint32>::min(), hi = std::numeric_limits<qint32>::max();
        if (f.def.DataType == ftSmallint)
            lo = -32768, hi = 32767;
        else if (f.def.DataType == ftWord)
            lo = 0, hi = 65535;
        else if (f.def.DataType == ftLargeint)
            lo = std::numeric_limits<qint64>::min(), hi = std::numeric_limits<qint64>::max();
        if (!ok || n < lo || n > hi)
            return bad();
        return f.def.DataType == ftLargeint ? QVariant(n) : QVariant(int(n));
    }
    case Kind::Bool:
        if (text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
            return QVariant(true);
        if (text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
            return QVariant(false);
        return bad();
    case Kind::Float: {
        bool ok = false;
        const double d = text.trimmed().toDouble(&ok);
        if (!ok)
            return bad();
        return QVariant(d);
    }
    case Kind::Bcd: {
        auto d = Decimal::fromString(text);
        if (!d)
            return bad();
        if (auto r = d->rescaled(f.def.Size))
            d = r;
        return QVariant::fromValue(*d);
    }
    case Kind::Date: {
        QDate d;
        if (!parseDate(text, &d))
            return bad();
        return QVariant(d);
    }
    case Kind::Time: {
        QTime t;
        if (!parseTime(text, &t))
            return bad();
        return QVariant(t);
    }
    case Kind::DateTime:
    case Kind::SqlTimeStamp: {
        QDateTime dt;
        if (!parseDateTime(text, &dt))
            return bad();
        return QVariant(dt);
    }
    case Kind::Ansi:
    case Kind::AnsiMemo:
    case Kind::Wide:
    case Kind::WideMemo: {
        QString s = text.toString();
        if (s.isNull())
            s = QLatin1String("");
        return QVariant(s);
    }
    case Kind::Blob:
    case Kind::VarBytes:
    case Kind::FixedBytes: {
        QByteArray b64 = text.toLatin1();
        b64.replace(' ', "").replace('\n', "").replace('\r', "").replace('\t', "");
        auto r = QByteArray::fromBase64Encoding(b64, QByteArray::AbortOnBase64DecodingErrors);
        if (!r)
            return bad();
        return QVariant(*r);
    }
    }
    return QVariant();
}

void XmlReader::readRows()
{
    RowResolver resolver(m_sink, int(m_fields.size()), m_file);
    if (m_hasChangeLog)
        resolver.setChangeLog(m_changeLog, -1);
    const int fieldCount = int(m_fields.size());
    std::vector<bool> present(static_cast<size_t>(fieldCount));
    std::vector<bool> unchanged(static_cast<size_t>(fieldCount));
    qsizetype row = 0;
    while (nextChild()) {
        if (m_xml.name() != QLatin1String("ROW")) {
            skip();
            continue;
        }
        ++row;
        QVector<QVariant> values(fieldCount);
        std::fill(present.begin(), present.end(), false);
        quint8 status = 0;
        for (const QXmlStreamAttribute &attr : m_xml.attributes()) {
            const QStringView name = attr.name();
            if (name == QLatin1String("RowState")) {
                bool ok = false;
                const uint s = attr.value().toUInt(&ok);
                if (!ok || s > 255)
                    fail(QStringLiteral("row %1 has RowState=\"%2\"").arg(row).arg(attr.value()));
                status = quint8(s);
                continue;
            }
            const auto it = m_byAttr.constFind(name.toString());
            if (it == m_byAttr.constEnd())
                fail(QStringLiteral("row %1 has the attribute \"%2\", which names no field").arg(row).arg(name));
            values[*it] = parseValue(m_fields[size_t(*it)], attr.value(), row);
            present[size_t(*it)] = true;
        }
        // In a version that replaces an earlier one, an absent field keeps the
        // earlier value; anywhere else it is NULL.
        const bool linked = resolver.earlierOfNext() != 0;
        for (int i = 0; i < fieldCount; ++i)
            unchanged[size_t(i)] = linked && !present[size_t(i)];
        resolver.add(status, std::move(values), linked ? &unchanged : nullptr);
        skip();
    }
    resolver.finish();
}

} // namespace

void readXml(const QByteArray &data, RecordSink &sink, const QString &file)
{
    XmlReader reader(toParserInput(data, file), sink, file);
    reader.run();
}

} // namespace rpt::cds::detail
