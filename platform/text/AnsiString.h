#pragma once
// String replacement over ANSI (code page 950) text, as the run-time library does it
// with "replace all" and "ignore case":
//   - with ignoreCase, letters compare after ANSI upper-casing, which maps only a-z and
//     never touches the second byte of a double-byte character;
//   - a match only starts on a character boundary, never on the second byte of a
//     double-byte character (so "\" does not match inside 許 = B3 5C);
//   - left to right, matches never overlap, the replacement is never searched again;
//   - without replaceAll only the first match is replaced;
//   - an empty pattern matches nothing.
// The replacement goes in exactly as given. Characters that code page 950 cannot hold
// are kept as they are (the platform would have turned them into '?'); such a
// character only ever matches itself.

#include <QString>

namespace rpt {

QString AnsiStringReplace(const QString &s, const QString &oldPattern, const QString &newPattern,
                          bool replaceAll, bool ignoreCase);

} // namespace rpt
