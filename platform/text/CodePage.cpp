#include "platform/text/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace rpt::cp950 {

namespace {

// iconv descriptors are not thread-safe; conversions are rare and short, so one lock
// around a pair of lazily opened descriptors is enough.
struct Converters {
    std::mutex lock;
    iconv_t toCp = iconv_t(-1);
    iconv_t fromCp = iconv_t(-1);
    Converters()
    {
        toCp = iconv_open("CP950", "UTF-16LE");
        fromCp = iconv_open("UTF-16LE", "CP950");
    }
};

Converters &conv()
{
    static Converters c;
    return c;
}

} // namespace

QByteArray fromUnicode(QStringView text)
{
    QByteArray out;
    if (text.isEmpty())
        return out;
    // Pure ASCII is the common case (numbers, codes, paths): skip iconv.
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        out.resize(text.size());
        for (qsizetype i = 0; i < text.size(); ++i)
            out[i] = char(text[i].unicode());
        return out;
    }
    Converters &c = conv();
    std::lock_guard g(c.lock);
    if (c.toCp == iconv_t(-1))
        return text.toLatin1();
    out.resize(text.size() * 2 + 8);
    const char *in = reinterpret_cast<const char *>(text.utf16());
    size_t inLeft = size_t(text.size()) * 2;
    char *dst = out.data();
    size_t outLeft = size_t(out.size());
    iconv(c.toCp, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        size_t r = iconv(c.toCp, const_cast<char **>(&in), &inLeft, &dst, &outLeft);
        if (r != size_t(-1))
            break;
        if (errno == EILSEQ || errno == EINVAL) {
            // Unmappable character (or a lone surrogate): one '?' for the code point.
            char16_t u = char16_t(uchar(in[0]) | (uchar(in[1]) << 8));
            size_t skip = (u >= 0xD800 && u <= 0xDBFF && inLeft >= 4) ? 4 : 2;
            in += skip;
            inLeft -= skip;
            if (outLeft < 1)
                break;
            *dst++ = '?';
            --outLeft;
        } else {
            break; // E2BIG cannot happen with 2 bytes out per UTF-16 unit
        }
    }
    out.resize(dst - out.data());
    return out;
}

QString toUnicode(const char *data, qsizetype len)
{
    if (len <= 0)
        return QString();
    bool ascii = true;
    for (qsizetype i = 0; i < len; ++i)
        if (uchar(data[i]) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return QString::fromLatin1(data, len);
    Converters &c = conv();
    std::lock_guard g(c.lock);
    QString out;
    if (c.fromCp == iconv_t(-1)) {
        // No converter installed: keep ASCII, mark the rest, but never return nothing.
        out.reserve(len);
        for (qsizetype i = 0; i < len; ++i)
            out.append(uchar(data[i]) < 0x80 ? QChar(uchar(data[i])) : QChar(QChar::ReplacementCharacter));
        return out;
    }
    out.resize(len + 1);
    char *dst = reinterpret_cast<char *>(out.data());
    size_t outLeft = size_t(out.size()) * 2;
    const char *in = data;
    size_t inLeft = size_t(len);
    iconv(c.fromCp, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        size_t r = iconv(c.fromCp, const_cast<char **>(&in), &inLeft, &dst, &outLeft);
        if (r != size_t(-1))
            break;
        if ((errno == EILSEQ || errno == EINVAL) && outLeft >= 2) {
            // Skip a whole bad pair when it looks like one, else one byte. A lead byte
            // followed by a byte that cannot be a trail byte (a line break, '=', a
            // quote) is a stray byte on its own: swallowing the next one with it would
            // eat a character of the surrounding text.
            size_t skip = (isLeadByte(uchar(*in)) && inLeft >= 2 && isTrailByte(uchar(in[1]))) ? 2 : 1;
            in += skip;
            inLeft -= skip;
            dst[0] = char(0xFD);
            dst[1] = char(0xFF);
            dst += 2;
            outLeft -= 2;
        } else {
            break;
        }
    }
    out.resize((dst - reinterpret_cast<char *>(out.data())) / 2);
    return out;
}

qsizetype byteLength(QStringView text)
{
    return fromUnicode(text).size();
}

QByteArray truncateBytes(const QByteArray &bytes, qsizetype maxBytes)
{
    if (maxBytes < 0)
        maxBytes = 0;
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype i = 0;
    while (i < maxBytes) {
        const qsizetype w = isLeadByte(uchar(bytes[i])) && i + 1 < bytes.size() ? 2 : 1;
        if (i + w > maxBytes)
            break;
        i += w;
    }
    return bytes.left(i);
}

QString truncate(QStringView text, qsizetype maxBytes)
{
    const QByteArray b = fromUnicode(text);
    if (b.size() <= maxBytes)
        return text.toString();
    return toUnicode(truncateBytes(b, maxBytes));
}

QByteArray ansiUpperCase(const QByteArray &bytes)
{
    QByteArray out = bytes;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const uchar b = uchar(out[i]);
        if (isLeadByte(b) && i + 1 < out.size()) {
            ++i; // trail byte stays as it is
            continue;
        }
        if (b >= 'a' && b <= 'z')
            out[i] = char(b - 32);
    }
    return out;
}

} // namespace rpt::cp950
