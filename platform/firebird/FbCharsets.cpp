#include "platform/firebird/FbCharsets.h"

#include "platform/text/CodePage.h"

#include <QStringDecoder>

#include <iconv.h>

#include <cerrno>

namespace rpt::fb {

namespace {

// Ids and widths as the engine's RDB$CHARACTER_SETS lists them.
const CharsetInfo kCharsets[] = {
    {0, "NONE", 1, TextKind::Ansi, nullptr},
    {1, "OCTETS", 1, TextKind::Octets, nullptr},
    {2, "ASCII", 1, TextKind::Ansi, nullptr},
    {3, "UNICODE_FSS", 3, TextKind::Utf8, nullptr},
    {4, "UTF8", 4, TextKind::Utf8, nullptr},
    {5, "SJIS_0208", 2, TextKind::Other, "SHIFT_JIS"},
    {6, "EUCJ_0208", 2, TextKind::Other, "EUC-JP"},
    {9, "DOS737", 1, TextKind::Other, "CP737"},
    {10, "DOS437", 1, TextKind::Other, "CP437"},
    {11, "DOS850", 1, TextKind::Other, "CP850"},
    {12, "DOS865", 1, TextKind::Other, "CP865"},
    {13, "DOS860", 1, TextKind::Other, "CP860"},
    {14, "DOS863", 1, TextKind::Other, "CP863"},
    {15, "DOS775", 1, TextKind::Other, "CP775"},
    {16, "DOS858", 1, TextKind::Other, "CP858"},
    {17, "DOS862", 1, TextKind::Other, "CP862"},
    {18, "DOS864", 1, TextKind::Other, "CP864"},
    {19, "NEXT", 1, TextKind::Other, "NEXTSTEP"},
    {21, "ISO8859_1", 1, TextKind::Other, "ISO-8859-1"},
    {22, "ISO8859_2", 1, TextKind::Other, "ISO-8859-2"},
    {23, "ISO8859_3", 1, TextKind::Other, "ISO-8859-3"},
    {34, "ISO8859_4", 1, TextKind::Other, "ISO-8859-4"},
    {35, "ISO8859_5", 1, TextKind::Other, "ISO-8859-5"},
    {36, "ISO8859_6", 1, TextKind::Other, "ISO-8859-6"},
    {37, "ISO8859_7", 1, TextKind::Other, "ISO-8859-7"},
    {38, "ISO8859_8", 1, TextKind::Other, "ISO-8859-8"},
    {39, "ISO8859_9", 1, TextKind::Other, "ISO-8859-9"},
    {40, "ISO8859_13", 1, TextKind::Other, "ISO-8859-13"},
    {44, "KSC_5601", 2, TextKind::Other, "CP949"},
    {45, "DOS852", 1, TextKind::Other, "CP852"},
    {46, "DOS857", 1, TextKind::Other, "CP857"},
    {47, "DOS861", 1, TextKind::Other, "CP861"},
    {48, "DOS866", 1, TextKind::Other, "CP866"},
    {49, "DOS869", 1, TextKind::Other, "CP869"},
    {50, "CYRL", 1, TextKind::Other, "CP1251"},
    {51, "WIN1250", 1, TextKind::Other, "CP1250"},
    {52, "WIN1251", 1, TextKind::Other, "CP1251"},
    {53, "WIN1252", 1, TextKind::Other, "CP1252"},
    {54, "WIN1253", 1, TextKind::Other, "CP1253"},
    {55, "WIN1254", 1, TextKind::Other, "CP1254"},
    {56, "BIG_5", 2, TextKind::Ansi, nullptr},
    {57, "GB_2312", 2, TextKind::Other, "GB2312"},
    {58, "WIN1255", 1, TextKind::Other, "CP1255"},
    {59, "WIN1256", 1, TextKind::Other, "CP1256"},
    {60, "WIN1257", 1, TextKind::Other, "CP1257"},
    {63, "KOI8R", 1, TextKind::Other, "KOI8-R"},
    {64, "KOI8U", 1, TextKind::Other, "KOI8-U"},
    {65, "WIN1258", 1, TextKind::Other, "CP1258"},
    {66, "TIS620", 1, TextKind::Other, "TIS-620"},
    {67, "GBK", 2, TextKind::Other, "GBK"},
    {68, "CP943C", 2, TextKind::Other, "CP932"},
    {69, "GB18030", 4, TextKind::Other, "GB18030"},
};

// Alternative spellings the engine also accepts for the sets we care most about.
struct Alias {
    const char *alias;
    int id;
};
const Alias kAliases[] = {
    {"BIG5", 56}, {"UTF-8", 4}, {"UTF_8", 4}, {"SQL_TEXT", 3}, {"UTF_FSS", 3},
    {"BINARY", 1}, {"USASCII", 2}, {"ASCII7", 2}, {"WIN_1252", 53},
    {"LATIN1", 21}, {"ISO88591", 21}, {"KOI8-R", 63}, {"KOI8-U", 64},
};

} // namespace

CharsetInfo charsetById(int id)
{
    for (const CharsetInfo &cs : kCharsets)
        if (cs.id == id)
            return cs;
    return CharsetInfo{id, "?", 1, TextKind::Other, nullptr};
}

bool charsetByName(QStringView name, CharsetInfo *out)
{
    const QString n = name.trimmed().toString().toUpper();
    if (n.isEmpty()) {
        *out = kCharsets[0];
        return true;
    }
    for (const CharsetInfo &cs : kCharsets)
        if (n == QLatin1String(cs.name)) {
            *out = cs;
            return true;
        }
    for (const Alias &a : kAliases)
        if (n == QLatin1String(a.alias)) {
            *out = charsetById(a.id);
            return true;
        }
    return false;
}

struct TextCodec::Iconv {
    iconv_t toUtf16 = iconv_t(-1);
    iconv_t fromUtf16 = iconv_t(-1);
    ~Iconv()
    {
        if (toUtf16 != iconv_t(-1))
            iconv_close(toUtf16);
        if (fromUtf16 != iconv_t(-1))
            iconv_close(fromUtf16);
    }
};

TextCodec::TextCodec(const CharsetInfo &cs) : m_cs(cs)
{
    if (cs.kind == TextKind::Other && cs.iconvName) {
        m_iconv = std::make_unique<Iconv>();
        m_iconv->toUtf16 = iconv_open("UTF-16LE", cs.iconvName);
        m_iconv->fromUtf16 = iconv_open(cs.iconvName, "UTF-16LE");
    }
}

TextCodec::~TextCodec() = default;

QByteArray TextCodec::encode(QStringView text)
{
    switch (m_cs.kind) {
    case TextKind::Ansi:
        return cp950::fromUnicode(text);
    case TextKind::Utf8:
        return text.toUtf8();
    case TextKind::Octets:
        // Binary columns take the text's bytes as the program shows them (ANSI).
        return cp950::fromUnicode(text);
    case TextKind::Other:
        break;
    }
    if (!m_iconv || m_iconv->fromUtf16 == iconv_t(-1))
        return text.toLatin1();
    QByteArray out(text.size() * 4 + 8, Qt::Uninitialized);
    const char *in = reinterpret_cast<const char *>(text.utf16());
    size_t inLeft = size_t(text.size()) * 2;
    char *dst = out.data();
    size_t outLeft = size_t(out.size());
    iconv(m_iconv->fromUtf16, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        if (iconv(m_iconv->fromUtf16, const_cast<char **>(&in), &inLeft, &dst, &outLeft) != size_t(-1))
            break;
        if ((errno != EILSEQ && errno != EINVAL) || outLeft < 1)
            break;
        // A character the set lacks becomes '?', like the ANSI conversion does.
        in += 2;
        inLeft -= 2;
        *dst++ = '?';
        --outLeft;
    }
    out.resize(dst - out.data());
    return out;
}

QString TextCodec::decode(const char *data, qsizetype len)
{
    switch (m_cs.kind) {
    case TextKind::Ansi:
    case TextKind::Octets:
        return cp950::toUnicode(data, len);
    case TextKind::Utf8:
        return QString::fromUtf8(data, len);
    case TextKind::Other:
        break;
    }
    if (!m_iconv || m_iconv->toUtf16 == iconv_t(-1))
        return QString::fromLatin1(data, len);
    QString out(len + 1, Qt::Uninitialized);
    char *in = const_cast<char *>(data);
    size_t inLeft = size_t(len);
    char *dst = reinterpret_cast<char *>(out.data());
    size_t outLeft = size_t(out.size()) * 2;
    iconv(m_iconv->toUtf16, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        if (iconv(m_iconv->toUtf16, &in, &inLeft, &dst, &outLeft) != size_t(-1))
            break;
        if ((errno != EILSEQ && errno != EINVAL) || outLeft < 2)
            break;
        // Bytes the set does not define: one replacement character each.
        ++in;
        --inLeft;
        *reinterpret_cast<char16_t *>(dst) = u'\uFFFD';
        dst += 2;
        outLeft -= 2;
    }
    out.resize((dst - reinterpret_cast<char *>(out.data())) / 2);
    return out;
}

QString decodeUnknown(const char *data, qsizetype len)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(QByteArrayView(data, len));
    if (!utf8.hasError())
        return s;
    return cp950::toUnicode(data, len);
}

} // namespace rpt::fb
