#pragma once
// Named parameter markers in report scripts.
//
// A marker is ':' followed by a name, anywhere outside
//   - string literals '...' (with '' inside),
//   - quoted identifiers "..." and `...`,
//   - comments: "--" to the end of the line, "/* ... */".
// Each marker becomes '?' and its name is listed, once per occurrence, in order.
//
// Names: letters (any script, so Chinese names work), digits, '_' and '$'. The name
// ends at the first other character, so ":a=1", ":a+1", ":a)" and ":a||'x'" all give
// the name "a". (The platform's own parser only stopped at blanks, ',', ';', ')' and
// line ends, and took ":a=1" as a parameter named "a=1".)
// A quoted name, :"my name", may hold any characters but '"'; the quotes are dropped.
//
// "::" stands for one literal ':' and is written out as ':'. A PostgreSQL cast is
// therefore written "x::::int" (or better CAST(x AS int)); "x::int" reaches the
// server as "x:int". A ':' followed by anything that cannot start a name (a blank, '=',
// the end of the text, an empty :"") is kept as it is.

#include <QString>
#include <QStringList>

namespace rpt {

struct ParsedSql {
    QString sql;       // markers replaced by '?', "::" by ':'
    QStringList names; // one per marker, in order, as written
};

ParsedSql ParseSQL(const QString &sql);

// First occurrence of each name, comparing names ignoring case.
QStringList UniqueParamNames(const QStringList &names);

} // namespace rpt
