#pragma once
// Field kinds and field definitions shared by every dataset and file format.
//
// Values travel as QVariant:
//   NULL                          -> invalid QVariant
//   ftString, ftFixedChar, ftMemo -> QString (stored as code page 950 bytes; size counts bytes)
//   ftWideString, ftWideMemo      -> QString (size counts UTF-16 characters)
//   ftSmallint, ftInteger, ftWord,
//   ftAutoInc                     -> int
//   ftLargeint                    -> qlonglong
//   ftBoolean                     -> bool
//   ftFloat, ftCurrency           -> double
//   ftBCD, ftFMTBcd               -> rpt::Decimal (exact)
//   ftDate                        -> QDate
//   ftTime                        -> QTime
//   ftDateTime, ftTimeStamp       -> QDateTime in Qt::UTC, used as a zone-less wall-clock value
//                                    (so no local-time gap can make a stored value invalid)
//   ftBlob, ftBytes, ftVarBytes   -> QByteArray

#include "platform/db/Decimal.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace rpt {

enum TFieldType {
    ftUnknown,
    ftString,
    ftFixedChar,
    ftWideString,
    ftMemo,
    ftWideMemo,
    ftSmallint,
    ftInteger,
    ftWord,
    ftAutoInc,
    ftLargeint,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftFMTBcd,
    ftDate,
    ftTime,
    ftDateTime,
    ftTimeStamp,
    ftBlob,
    ftBytes,
    ftVarBytes,
};

const char *fieldTypeName(TFieldType t);   // "ftString", ...
bool isStringType(TFieldType t);          // ftString, ftFixedChar, ftWideString
bool isAnsiType(TFieldType t);            // ftString, ftFixedChar, ftMemo
bool isMemoType(TFieldType t);            // ftMemo, ftWideMemo
bool isBlobType(TFieldType t);            // memos and ftBlob
bool isIntegerType(TFieldType t);
bool isDecimalType(TFieldType t);         // ftBCD, ftFMTBcd

struct TFieldDef {
    QString Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;        // bytes (ANSI), characters (wide), scale (BCD), 0 otherwise
    int Precision = 0;   // total digits for BCD
    bool Required = false;
    bool ReadOnly = false;

    TFieldDef() = default;
    TFieldDef(QString name, TFieldType type, int size = 0, bool required = false)
        : Name(std::move(name)), DataType(type), Size(size), Required(required) {}
};

class TFieldDefs : public QList<TFieldDef> {
public:
    void Add(const QString &name, TFieldType type, int size = 0, bool required = false)
    {
        append(TFieldDef(name, type, size, required));
    }
    int IndexOf(const QString &name) const; // case-insensitive, -1 when absent
    void Clear() { clear(); }
    int Count() const { return int(size()); }
};

// Converts a value into the representation listed above for the given type.
// Strings are parsed (numbers, dates "yyyy-MM-dd", "yyyy/MM/dd"...). Returns an invalid
// QVariant for NULL input; sets ok=false when the text cannot be read as that type.
QVariant coerceValue(const QVariant &v, TFieldType type, bool *ok = nullptr);

// Text of a value as a field shows it (AsString): numbers in plain form, dates
// "yyyy/MM/dd", times "HH:mm:ss", timestamps "yyyy/MM/dd HH:mm:ss", booleans "True"/"False".
QString valueToText(const QVariant &v, TFieldType type);

} // namespace rpt
