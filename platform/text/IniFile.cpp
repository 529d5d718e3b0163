#include "platform/text/IniFile.h"

#include "platform/text/Errors.h"
#include "platform/text/TextFile.h"

#include <QFileInfo>

#include <climits>

namespace rpt {

namespace {

// Settings files are a few kilobytes; anything far bigger is not one.
constexpr qint64 MaxIniBytes = 64 * 1024 * 1024;

bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\r' || u == '\v' || u == '\f';
}

QString trimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b).toString();
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString unquote(const QString &v)
{
    if (v.size() >= 2 && (v.front() == u'\'' || v.front() == u'"') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

struct Line {
    enum Kind { Blank, Comment, Section, Key };
    QByteArray raw;  // as in the file, terminator included
    QString text;    // decoded, without terminator
    QString eol;     // "\r\n", "\n" or "" (last line without one)
    Kind kind = Blank;
    QString name;    // section or key name, trimmed
    QString value;   // key value, trimmed, quotes kept
    bool hasValue = false; // a key line without '=' names a key that has no value
};

void classify(Line &l)
{
    const QString t = trimBlanks(l.text);
    l.name.clear();
    l.value.clear();
    l.hasValue = false;
    if (t.isEmpty()) {
        l.kind = Line::Blank;
    } else if (t.front() == u';') {
        l.kind = Line::Comment;
    } else if (t.front() == u'[' && t.indexOf(u']') > 0) {
        l.kind = Line::Section;
        l.name = trimBlanks(QStringView(t).mid(1, t.indexOf(u']') - 1));
    } else {
        l.kind = Line::Key;
        const qsizetype eq = t.indexOf(u'=');
        if (eq < 0) {
            l.name = t;
        } else {
            l.name = trimBlanks(QStringView(t).left(eq));
            l.value = trimBlanks(QStringView(t).mid(eq + 1));
            l.hasValue = true;
        }
    }
}

struct Range {
    qsizetype header; // index of the "[name]" line
    qsizetype end;    // one past the section's last line
};

class Document {
public:
    explicit Document(const QString &fileName) : m_fileName(fileName)
    {
        bool exists = false;
        const QByteArray bytes = readFileBytes(fileName, MaxIniBytes, &exists);
        m_encoding = detectTextEncoding(bytes);
        m_bom = byteOrderMark(m_encoding);
        split(QByteArrayView(bytes).sliced(m_bom.size()));
        m_newEol = QStringLiteral("\r\n");
        for (const Line &l : m_lines)
            if (!l.eol.isEmpty()) {
                m_newEol = l.eol;
                break;
            }
    }

    const QList<Line> &lines() const { return m_lines; }

    QList<Range> sections(const QString &name) const
    {
        QList<Range> out;
        const QString wanted = trimBlanks(name);
        for (qsizetype i = 0; i < m_lines.size(); ++i) {
            if (m_lines[i].kind != Line::Section || !sameName(m_lines[i].name, wanted))
                continue;
            qsizetype e = i + 1;
            while (e < m_lines.size() && m_lines[e].kind != Line::Section)
                ++e;
            out.append({i, e});
        }
        return out;
    }

    // Index of the first line of the key inside the first section of that name, or -1.
    qsizetype findKey(const QString &section, const QString &key) const
    {
        const QList<Range> rs = sections(section);
        if (rs.isEmpty())
            return -1;
        const QString wanted = trimBlanks(key);
        for (qsizetype i = rs.front().header + 1; i < rs.front().end; ++i)
            if (m_lines[i].kind == Line::Key && !m_lines[i].name.isEmpty()
                && sameName(m_lines[i].name, wanted))
                return i;
        return -1;
    }

    void setKey(const QString &section, const QString &key, const QString &value)
    {
        ensureEncodable(section + key + value);
        const QString sec = trimBlanks(section);
        const QString k = trimBlanks(key);
        const qsizetype at = findKey(sec, k);
        if (at >= 0) {
            Line &l = m_lines[at];
            setText(l, l.name + u'=' + value, l.eol);
            return;
        }
        const QList<Range> rs = sections(sec);
        if (!rs.isEmpty()) {
            qsizetype after = rs.front().header;
            for (qsizetype i = rs.front().header + 1; i < rs.front().end; ++i)
                if (m_lines[i].kind == Line::Key)
                    after = i;
            terminate(after);
            m_lines.insert(after + 1, makeLine(k + u'=' + value));
            return;
        }
        if (!m_lines.isEmpty())
            terminate(m_lines.size() - 1);
        m_lines.append(makeLine(u'[' + sec + u']'));
        m_lines.append(makeLine(k + u'=' + value));
    }

    bool removeLines(const QList<qsizetype> &sortedIndexes)
    {
        for (qsizetype i = sortedIndexes.size() - 1; i >= 0; --i)
            m_lines.removeAt(sortedIndexes[i]);
        return !sortedIndexes.isEmpty();
    }

    void save() const
    {
        QByteArray out = m_bom;
        for (const Line &l : m_lines)
            out += l.raw;
        writeFileAtomically(m_fileName, out);
    }

private:
    void split(QByteArrayView body)
    {
        const int unit = codeUnitSize(m_encoding);
        const QByteArray lf = encodeText(u"\n", m_encoding);
        const QByteArray cr = encodeText(u"\r", m_encoding);
        qsizetype start = 0;
        while (start < body.size()) {
            qsizetype pos = start;
            qsizetype nl = -1;
            while (pos + unit <= body.size()) {
                if (body.sliced(pos, unit) == lf) {
                    nl = pos;
                    break;
                }
                pos += unit;
            }
            Line l;
            qsizetype textEnd;
            qsizetype next;
            if (nl < 0) {
                textEnd = body.size();
                next = body.size();
            } else {
                next = nl + unit;
                textEnd = nl;
                if (nl - unit >= start && body.sliced(nl - unit, unit) == cr) {
                    textEnd = nl - unit;
                    l.eol = QStringLiteral("\r\n");
                } else {
                    l.eol = QStringLiteral("\n");
                }
            }
            l.raw = body.sliced(start, next - start).toByteArray();
            l.text = decodeText(body.sliced(start, textEnd - start), m_encoding);
            classify(l);
            m_lines.append(l);
            start = next;
        }
    }

    Line makeLine(const QString &text)
    {
        Line l;
        setText(l, text, m_newEol);
        return l;
    }

    void setText(Line &l, const QString &text, const QString &eol)
    {
        l.text = text;
        l.eol = eol;
        l.raw = encodeText(text, m_encoding) + encodeText(eol, m_encoding);
        classify(l);
    }

    // The last line of a file may lack a terminator; something is about to follow it.
    void terminate(qsizetype index)
    {
        Line &l = m_lines[index];
        if (l.eol.isEmpty()) {
            l.eol = m_newEol;
            l.raw += encodeText(m_newEol, m_encoding);
        }
    }

    // Code page 950 cannot hold every character; rather than writing '?' in place of
    // one, an ANSI file becomes UTF-8 with a mark, which every reader here recognises.
    void ensureEncodable(const QString &text)
    {
        if (m_encoding != TextEncoding::Ansi || isAnsiRepresentable(text))
            return;
        m_encoding = TextEncoding::Utf8Bom;
        m_bom = byteOrderMark(m_encoding);
        for (Line &l : m_lines)
            l.raw = encodeText(l.text, m_encoding) + encodeText(l.eol, m_encoding);
    }

    QString m_fileName;
    TextEncoding m_encoding = TextEncoding::Ansi;
    QByteArray m_bom;
    QList<Line> m_lines;
    QString m_newEol;
};

[[noreturn]] void refuse(const QString &fileName, const QString &why)
{
    throw EIniFileException(QStringLiteral("Unable to write to %1: %2")
                                .arg(QFileInfo(fileName).absoluteFilePath(), why));
}

bool hasLineBreakOrNul(const QString &s)
{
    for (QChar c : s)
        if (c == u'\r' || c == u'\n' || c == QChar(0))
            return true;
    return false;
}

void checkSection(const QString &fileName, const QString &section)
{
    const QString s = trimBlanks(section);
    if (s.isEmpty())
        refuse(fileName, QStringLiteral("the section name is empty."));
    if (hasLineBreakOrNul(s) || s.contains(u']'))
        refuse(fileName, QStringLiteral("the section name \"%1\" contains a line break, NUL or ']'.").arg(s));
}

void checkKey(const QString &fileName, const QString &key)
{
    const QString k = trimBlanks(key);
    if (k.isEmpty())
        refuse(fileName, QStringLiteral("the key name is empty."));
    if (hasLineBreakOrNul(k) || k.contains(u'='))
        refuse(fileName, QStringLiteral("the key name \"%1\" contains a line break, NUL or '='.").arg(k));
    // Such a line would read back as a comment or a section header.
    if (k.front() == u';' || k.front() == u'[')
        refuse(fileName, QStringLiteral("the key name \"%1\" starts with '%2'.").arg(k, k.front()));
}

} // namespace

TIniFile::TIniFile(const QString &fileName) : m_fileName(fileName) {}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Document doc(m_fileName);
    const qsizetype at = doc.findKey(section, key);
    if (at < 0 || !doc.lines()[at].hasValue)
        return defaultValue;
    return unquote(doc.lines()[at].value);
}

int TIniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const
{
    QString s = ReadString(section, key, QString());
    int base = 10;
    bool negative = false;
    if (s.startsWith(u'-') || s.startsWith(u'+')) {
        negative = s.front() == u'-';
        s.remove(0, 1);
    }
    if (s.size() > 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X')) {
        base = 16;
        s.remove(0, 2);
    } else if (s.size() > 1 && s[0] == u'$') {
        base = 16;
        s.remove(0, 1);
    }
    if (s.isEmpty() || s.front() == u'+' || s.front() == u'-')
        return defaultValue;
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok, base);
    if (!ok)
        return defaultValue;
    const qlonglong r = negative ? -v : v;
    // Hexadecimal spells the full 32 bits, so $FFFFFFFF is -1 as the platform reads it.
    if (base == 16 && !negative && r > 0x7FFFFFFFLL && r <= 0xFFFFFFFFLL)
        return int(quint32(r));
    if (r < INT_MIN || r > INT_MAX)
        return defaultValue;
    return int(r);
}

QStringList TIniFile::ReadSections() const
{
    const Document doc(m_fileName);
    QStringList out;
    for (const Line &l : doc.lines())
        if (l.kind == Line::Section && !l.name.isEmpty() && !out.contains(l.name, Qt::CaseInsensitive))
            out.append(l.name);
    return out;
}

QList<std::pair<QString, QString>> TIniFile::ReadSectionPairs(const QString &section) const
{
    const Document doc(m_fileName);
    QList<std::pair<QString, QString>> out;
    const QList<Range> rs = doc.sections(section);
    if (rs.isEmpty())
        return out;
    QStringList seen;
    for (qsizetype i = rs.front().header + 1; i < rs.front().end; ++i) {
        const Line &l = doc.lines()[i];
        if (l.kind != Line::Key || l.name.isEmpty() || seen.contains(l.name, Qt::CaseInsensitive))
            continue;
        seen.append(l.name);
        out.append({l.name, unquote(l.value)});
    }
    return out;
}

QStringList TIniFile::ReadSection(const QString &section) const
{
    QStringList out;
    for (const auto &kv : ReadSectionPairs(section))
        out.append(kv.first);
    return out;
}

QStringList TIniFile::ReadSectionValues(const QString &section) const
{
    QStringList out;
    for (const auto &kv : ReadSectionPairs(section))
        out.append(kv.first + u'=' + kv.second);
    return out;
}

bool TIniFile::SectionExists(const QString &section) const
{
    return !Document(m_fileName).sections(section).isEmpty();
}

bool TIniFile::ValueExists(const QString &section, const QString &key) const
{
    return Document(m_fileName).findKey(section, key) >= 0;
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    checkSection(m_fileName, section);
    checkKey(m_fileName, key);
    if (hasLineBreakOrNul(value))
        refuse(m_fileName, QStringLiteral("the value of \"%1\" contains a line break or NUL.").arg(trimBlanks(key)));
    Document doc(m_fileName);
    doc.setKey(section, key, value);
    doc.save();
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::EraseSection(const QString &section)
{
    Document doc(m_fileName);
    QList<qsizetype> drop;
    for (const Range &r : doc.sections(section))
        for (qsizetype i = r.header; i < r.end; ++i)
            drop.append(i);
    if (doc.removeLines(drop))
        doc.save();
}

void TIniFile::DeleteKey(const QString &section, const QString &key)
{
    Document doc(m_fileName);
    const QString wanted = trimBlanks(key);
    QList<qsizetype> drop;
    for (const Range &r : doc.sections(section))
        for (qsizetype i = r.header + 1; i < r.end; ++i)
            if (doc.lines()[i].kind == Line::Key && !doc.lines()[i].name.isEmpty()
                && sameName(doc.lines()[i].name, wanted))
                drop.append(i);
    if (doc.removeLines(drop))
        doc.save();
}

} // namespace rpt
