#pragma once
// Reading and writing small text files whose encoding we do not choose: settings files
// and data-link files written by Windows tools, or edited on Linux in UTF-8 editors.
//
// Encoding rule (detectTextEncoding):
//   1. A byte-order mark decides: FF FE = UTF-16LE, FE FF = UTF-16BE, EF BB BF = UTF-8.
//   2. Without one, bytes that are valid UTF-8 and contain at least one non-ASCII byte
//      are UTF-8. Big5 text is almost never valid UTF-8: most Big5 lead bytes (0xA4..0xBF)
//      are UTF-8 continuation bytes, so a single common Chinese character settles it.
//   3. Everything else (plain ASCII included) is ANSI, code page 950.
// A file keeps the encoding it was found in when it is rewritten.

#include <QByteArray>
#include <QString>

namespace rpt {

enum class TextEncoding {
    Ansi,     // code page 950, no mark
    Utf8,     // UTF-8 without a mark
    Utf8Bom,  // UTF-8 with EF BB BF
    Utf16LE,  // with FF FE
    Utf16BE,  // with FE FF
};

TextEncoding detectTextEncoding(QByteArrayView bytes);
QByteArray byteOrderMark(TextEncoding enc);
// Bytes one code unit takes (2 for UTF-16, else 1): line breaks are searched per unit.
int codeUnitSize(TextEncoding enc);
bool isValidUtf8(QByteArrayView bytes);
// True when text survives a round trip through code page 950 unchanged.
bool isAnsiRepresentable(QStringView text);

// Text without any byte-order mark (neither expected on input nor produced on output).
QString decodeText(QByteArrayView bytes, TextEncoding enc);
QByteArray encodeText(QStringView text, TextEncoding enc);

// Whole file. A missing file gives an empty array and *exists = false when exists is
// given; without it a missing file is an error like any other. Throws EFOpenError
// naming the file and the reason (unreadable, a directory, larger than maxBytes).
QByteArray readFileBytes(const QString &fileName, qint64 maxBytes, bool *exists = nullptr);

// Writes into a temporary file in the same folder, syncs it and renames it over
// fileName, so a crash, a full disk or a size limit never leaves a half-written file
// behind. The old file's permissions are kept; a symbolic link is followed. Throws
// EFCreateError naming the file and the reason; the old file is then untouched and
// the temporary file removed.
void writeFileAtomically(const QString &fileName, const QByteArray &data);

} // namespace rpt
