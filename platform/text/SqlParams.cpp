#include "platform/text/SqlParams.h"

namespace rpt {

namespace {

// Length in UTF-16 units of the name character at i, or 0 when there is none.
qsizetype nameCharAt(const QString &s, qsizetype i)
{
    if (i >= s.size())
        return 0;
    const QChar c = s[i];
    if (c == u'_' || c == u'$')
        return 1;
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
        return QChar::isLetterOrNumber(QChar::surrogateToUcs4(c, s[i + 1])) ? 2 : 0;
    return c.isLetterOrNumber() ? 1 : 0;
}

// Copies s[i] up to and including the closing character; returns the index after it
// (the end of the text when it is never closed).
qsizetype copyUntil(const QString &s, qsizetype i, QStringView close, QString &out)
{
    const qsizetype end = s.indexOf(close, i);
    const qsizetype stop = end < 0 ? s.size() : end + close.size();
    out += QStringView(s).mid(i, stop - i);
    return stop;
}

} // namespace

ParsedSql ParseSQL(const QString &sql)
{
    ParsedSql r;
    r.sql.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"' || c == u'`') {
            // A doubled quote inside is just the literal ending and starting again.
            r.sql += c;
            i = copyUntil(sql, i + 1, QStringView(&c, 1), r.sql);
        } else if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            const qsizetype nl = sql.indexOf(u'\n', i);
            const qsizetype stop = nl < 0 ? n : nl;
            r.sql += QStringView(sql).mid(i, stop - i);
            i = stop;
        } else if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            r.sql += QStringLiteral("/*");
            i = copyUntil(sql, i + 2, u"*/", r.sql);
        } else if (c == u':') {
            if (i + 1 < n && sql[i + 1] == u':') {
                r.sql += u':';
                i += 2;
            } else if (i + 1 < n && sql[i + 1] == u'"') {
                const qsizetype close = sql.indexOf(u'"', i + 2);
                if (close > i + 2) {
                    r.names.append(sql.mid(i + 2, close - i - 2));
                    r.sql += u'?';
                    i = close + 1;
                } else {
                    r.sql += u':'; // :"" or an unclosed quote: not a marker
                    ++i;
                }
            } else if (nameCharAt(sql, i + 1) > 0) {
                qsizetype j = i + 1;
                while (qsizetype w = nameCharAt(sql, j))
                    j += w;
                r.names.append(sql.mid(i + 1, j - i - 1));
                r.sql += u'?';
                i = j;
            } else {
                r.sql += u':';
                ++i;
            }
        } else {
            r.sql += c;
            ++i;
        }
    }
    return r;
}

QStringList UniqueParamNames(const QStringList &names)
{
    QStringList out;
    for (const QString &n : names)
        if (!out.contains(n, Qt::CaseInsensitive))
            out.append(n);
    return out;
}

} // namespace rpt
