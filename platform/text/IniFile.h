#pragma once
// Settings file with the Windows profile-file rules, so files written by the suite's
// Windows tools and by this program read the same way on both sides.
//
// Reading
//   - Section and key names match ignoring case and surrounding blanks; the first
//     matching section and, in it, the first matching key count.
//   - A value is the text after the first '=', with surrounding blanks removed; a value
//     enclosed in a pair of equal quotes (' or ") is returned without them.
//   - Lines starting with ';' are comments. Lines before the first section belong to
//     no section.
//   - A missing file reads as an empty one. An existing file that cannot be read is an
//     error (EFOpenError), never silently "empty".
//
// Writing (every call rewrites the file at once)
//   - Changing an existing key rewrites only that line, as name=value with the key's
//     spelling from the file; every other byte of the file stays as it was.
//   - A new key goes right after the last key line of its section (after the header
//     when the section has no keys); a new section goes at the end of the file as
//     "[Name]" and "key=value" lines, with no blank line before it.
//   - New lines end like the file's first line (CRLF in a new file or a one-line file).
//   - Values are written verbatim: leading/trailing blanks and surrounding quotes do not
//     survive a round trip, as on Windows.
//   - The file keeps its encoding (see TextFile.h). A new file is written in code page
//     950. When a value cannot be written in code page 950 (a character outside Big5),
//     an ANSI file is converted to UTF-8 with a byte-order mark instead of losing the
//     character; this program and the preview modules read both.
//   - The file is replaced atomically (TextFile.h); on failure EFCreateError names the
//     file and the old content stays.
//   - Names and values that would break the line structure (line breaks, NUL, '=' in a
//     key, ']' in a section name, empty names) are refused with EIniFileException
//     rather than written as something else.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace rpt {

class TIniFile {
public:
    explicit TIniFile(const QString &fileName);

    QString FileName() const { return m_fileName; }

    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Decimal, or hexadecimal as 0x1F / $1F; anything else (or out of int range) gives defaultValue.
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;
    // Section names in file order, each once.
    QStringList ReadSections() const;
    // Key names of the section in file order, each once.
    QStringList ReadSection(const QString &section) const;
    // "key=value" for each key of ReadSection, with values as ReadString returns them.
    QStringList ReadSectionValues(const QString &section) const;
    // The same as (key, value) pairs, keys spelled as in the file.
    QList<std::pair<QString, QString>> ReadSectionPairs(const QString &section) const;
    // True when the section header is present, even when the section has no keys.
    bool SectionExists(const QString &section) const;
    bool ValueExists(const QString &section, const QString &key) const;

    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int value);
    // Removes every section of that name with all its lines (keys, comments, blanks).
    void EraseSection(const QString &section);
    // Removes every line of that key in sections of that name.
    void DeleteKey(const QString &section, const QString &key);
    // Writes are immediate, so there is nothing left to flush.
    void UpdateFile() {}

private:
    QString m_fileName;
};

} // namespace rpt
