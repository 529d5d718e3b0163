#pragma once
// Firebird character sets as this layer sees them: which ones travel as raw code page
// 950 bytes, which as UTF-8, and which need a conversion of their own.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <memory>

namespace rpt::fb {

enum class TextKind {
    Ansi,    // NONE, ASCII, BIG_5: the bytes already are code page 950
    Utf8,    // UTF8, UNICODE_FSS
    Octets,  // binary: never text
    Other,   // any other character set, converted through iconv
};

struct CharsetInfo {
    int id = 0;
    const char *name = "NONE";     // Firebird's name
    int bytesPerChar = 1;
    TextKind kind = TextKind::Ansi;
    const char *iconvName = nullptr; // for TextKind::Other
};

// Well-known ids are fixed by the engine; unknown ids come back as a one-byte
// "Other" set without an iconv name (decoded as Latin-1).
CharsetInfo charsetById(int id);
// Case-insensitive; "" means NONE. Returns false when the name is unknown here.
bool charsetByName(QStringView name, CharsetInfo *out);

// Converts text to and from one character set. Conversions through iconv keep one
// descriptor per direction, so a codec is meant to live for one statement or connection.
class TextCodec {
public:
    explicit TextCodec(const CharsetInfo &cs);
    ~TextCodec();
    TextCodec(const TextCodec &) = delete;
    TextCodec &operator=(const TextCodec &) = delete;

    const CharsetInfo &charset() const { return m_cs; }
    QByteArray encode(QStringView text);
    QString decode(const char *data, qsizetype len);

private:
    struct Iconv;
    CharsetInfo m_cs;
    std::unique_ptr<Iconv> m_iconv;
};

// Text of a server message or identifier whose encoding is not stated: UTF-8 when
// the bytes are valid UTF-8, code page 950 otherwise.
QString decodeUnknown(const char *data, qsizetype len);

} // namespace rpt::fb
