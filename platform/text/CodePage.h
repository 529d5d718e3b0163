#pragma once
// The program's ANSI code page: 950 (Traditional Chinese, Big5 with Microsoft's
// extensions). ANSI field sizes count bytes of this encoding, so a double-byte
// character takes two bytes of a field's width.

#include <QByteArray>
#include <QString>

namespace rpt::cp950 {

// Unicode -> code page 950 bytes. Characters that the code page lacks become '?'.
QByteArray fromUnicode(QStringView text);
// Code page 950 bytes -> Unicode. Invalid sequences become U+FFFD; never fails.
QString toUnicode(const char *data, qsizetype len);
inline QString toUnicode(const QByteArray &bytes) { return toUnicode(bytes.constData(), bytes.size()); }

// True when b starts a double-byte character (0x81..0xFE).
inline bool isLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
// True when b can be the second byte of a double-byte character (0x40..0x7E, 0xA1..0xFE).
inline bool isTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE); }

// Bytes that text takes in code page 950.
qsizetype byteLength(QStringView text);
// Longest prefix of the bytes that fits maxBytes without splitting a double-byte character.
QByteArray truncateBytes(const QByteArray &bytes, qsizetype maxBytes);
// Longest prefix of text whose code page 950 form fits maxBytes.
QString truncate(QStringView text, qsizetype maxBytes);

// ANSI upper-casing as the platform does it: ASCII letters only change, and the second
// byte of a double-byte character is never touched (so byte lengths stay equal).
QByteArray ansiUpperCase(const QByteArray &bytes);

} // namespace rpt::cp950
