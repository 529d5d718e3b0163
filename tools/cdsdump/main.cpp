// cdsdump [--json|--schema] FILE
// Prints a client-dataset file (binary or XML): CSV by default, one JSON object per
// row with --json, or the field list with --schema. Rows are printed as they are
// read, so a large file never sits in memory as a table.

#include "platform/cds/CdsFile.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>
#include <cstdio>
#include <string>

using namespace rpt;

namespace {

enum class Mode { Csv, Json, Schema };

const char kUsage[] = "usage: cdsdump [--json|--schema] FILE\n";

QString timeText(const QTime &t)
{
    QString s = QString::asprintf("%02d:%02d:%02d", t.hour(), t.minute(), t.second());
    if (t.msec())
        s += QString::asprintf(".%03d", t.msec());
    return s;
}

QString dateText(const QDate &d) { return QString::asprintf("%04d-%02d-%02d", d.year(), d.month(), d.day()); }

QString doubleText(double d)
{
    if (std::isnan(d))
        return QStringLiteral("NaN");
    if (std::isinf(d))
        return d < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

// The text of a value; `number` tells whether JSON may print it bare.
QString valueText(const QVariant &v, bool *number)
{
    *number = false;
    const int tid = v.userType();
    if (tid == qMetaTypeId<Decimal>()) {
        *number = true;
        return v.value<Decimal>().toString();
    }
    switch (tid) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        *number = true;
        return QString::number(v.toLongLong());
    case QMetaType::Double: {
        const double d = v.toDouble();
        *number = std::isfinite(d);
        return doubleText(d);
    }
    case QMetaType::Bool:
        *number = true; // a JSON literal
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::QDate:
        return dateText(v.toDate());
    case QMetaType::QTime:
        return timeText(v.toTime());
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dateText(dt.date()) + u'T' + timeText(dt.time());
    }
    case QMetaType::QByteArray:
        return QString::fromLatin1(v.toByteArray().toHex());
    default:
        return v.toString();
    }
}

QString csvField(const QString &s)
{
    // An empty text is quoted so that it stays apart from NULL, which prints nothing.
    if (s.isEmpty() || s.contains(u',') || s.contains(u'"') || s.contains(u'\r') || s.contains(u'\n')) {
        QString q = s;
        q.replace(u'"', QLatin1String("\"\""));
        return u'"' + q + u'"';
    }
    return s;
}

QString jsonString(const QString &s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += u'"';
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        case u'\b': out += QLatin1String("\\b"); break;
        case u'\f': out += QLatin1String("\\f"); break;
        default:
            if (c.unicode() < 0x20)
                out += QString::asprintf("\\u%04x", c.unicode());
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

class Printer : public cds::RecordSink {
public:
    explicit Printer(Mode mode) : m_mode(mode) {}

    void setFields(const TFieldDefs &fields) override
    {
        m_fields = fields;
        if (m_mode == Mode::Schema) {
            for (const TFieldDef &f : fields) {
                QString line = f.Name + u'\t' + QLatin1String(fieldTypeName(f.DataType)) + u'\t'
                               + QString::number(f.Size);
                if (isDecimalType(f.DataType))
                    line += QStringLiteral("\tprecision %1").arg(f.Precision);
                if (f.Required)
                    line += QLatin1String("\trequired");
                if (f.ReadOnly)
                    line += QLatin1String("\treadonly");
                put(line + u'\n');
            }
        } else if (m_mode == Mode::Csv) {
            QString line;
            for (int i = 0; i < fields.size(); ++i) {
                if (i)
                    line += u',';
                line += csvField(fields[i].Name);
            }
            put(line + QLatin1String("\r\n"));
        }
    }

    void addRow(const QVector<QVariant> &values) override
    {
        if (m_mode == Mode::Schema)
            return;
        QString line;
        bool number = false;
        if (m_mode == Mode::Csv) {
            for (int i = 0; i < values.size(); ++i) {
                if (i)
                    line += u',';
                if (values[i].isValid())
                    line += csvField(valueText(values[i], &number));
            }
            line += QLatin1String("\r\n");
        } else {
            line += u'{';
            for (int i = 0; i < values.size(); ++i) {
                if (i)
                    line += u',';
                line += jsonString(i < m_fields.size() ? m_fields[i].Name : QString::number(i));
                line += u':';
                if (!values[i].isValid()) {
                    line += QLatin1String("null");
                    continue;
                }
                const QString t = valueText(values[i], &number);
                line += number ? t : jsonString(t);
            }
            line += QLatin1String("}\n");
        }
        put(line);
    }

private:
    void put(const QString &s)
    {
        const QByteArray b = s.toUtf8();
        std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    }

    Mode m_mode;
    TFieldDefs m_fields;
};

} // namespace

int main(int argc, char **argv)
{
    Mode mode = Mode::Csv;
    QString file;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--json")
            mode = Mode::Json;
        else if (a == "--schema")
            mode = Mode::Schema;
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.startsWith("--") || !file.isEmpty()) {
            std::fprintf(stderr, "cdsdump: unexpected argument \"%s\"\n%s", argv[i], kUsage);
            return 2;
        } else
            file = QString::fromLocal8Bit(a);
    }
    if (file.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    try {
        Printer printer(mode);
        cds::readFile(file, printer);
    } catch (const cds::CdsError &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "cdsdump: %s\n", e.what());
        return 1;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "cdsdump: %s: %s\n", qPrintable(file), e.what());
        return 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("cdsdump: cannot write the output\n", stderr);
        return 1;
    }
    return 0;
}
