#include "platform/text/AnsiString.h"

#include "platform/text/CodePage.h"

#include <QList>

namespace rpt {

namespace {

// One character of the text with its code page 950 bytes, as compared.
struct Unit {
    qsizetype pos = 0;  // index in the original string
    qsizetype len = 0;  // UTF-16 units
    QByteArray bytes;   // compared bytes; empty when code page 950 lacks the character
    char32_t codePoint = 0;
};

QList<Unit> units(const QString &s, bool upper)
{
    QList<Unit> out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size();) {
        Unit u;
        u.pos = i;
        const QChar c = s[i];
        if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            u.len = 2;
            u.codePoint = QChar::surrogateToUcs4(c, s[i + 1]);
        } else {
            u.len = 1;
            u.codePoint = c.unicode();
        }
        const QStringView ch = QStringView(s).mid(i, u.len);
        const QByteArray b = cp950::fromUnicode(ch);
        if (u.codePoint < 0x80 || cp950::toUnicode(b) == ch)
            u.bytes = upper ? cp950::ansiUpperCase(b) : b;
        out.append(u);
        i += u.len;
    }
    return out;
}

bool sameUnit(const Unit &a, const Unit &b)
{
    if (a.bytes.isEmpty() || b.bytes.isEmpty())
        return a.bytes.isEmpty() && b.bytes.isEmpty() && a.codePoint == b.codePoint;
    return a.bytes == b.bytes;
}

} // namespace

QString AnsiStringReplace(const QString &s, const QString &oldPattern, const QString &newPattern,
                          bool replaceAll, bool ignoreCase)
{
    if (oldPattern.isEmpty() || s.isEmpty())
        return s;
    // Working per character is the lead-byte-aware search: every comparison starts on
    // a character boundary and compares whole characters' bytes.
    const QList<Unit> text = units(s, ignoreCase);
    const QList<Unit> pat = units(oldPattern, ignoreCase);
    QString out;
    qsizetype copied = 0; // original text up to here is in out
    qsizetype i = 0;
    bool replaced = false;
    while (i + pat.size() <= text.size()) {
        qsizetype k = 0;
        while (k < pat.size() && sameUnit(text[i + k], pat[k]))
            ++k;
        if (k < pat.size()) {
            ++i;
            continue;
        }
        out += QStringView(s).mid(copied, text[i].pos - copied);
        out += newPattern;
        i += pat.size();
        copied = i < text.size() ? text[i].pos : s.size();
        replaced = true;
        if (!replaceAll)
            break;
    }
    if (!replaced)
        return s;
    out += QStringView(s).mid(copied);
    return out;
}

} // namespace rpt
