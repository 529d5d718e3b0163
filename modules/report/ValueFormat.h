#pragma once
// Turning result values into the text a printed report shows, and adding them up.
//
// Numbers use "." for decimals and "," between thousands, as shop staff read them.
// Exact decimals are rounded on their digits (half away from zero), never through a
// double, so a printed 0.15 with one decimal is 0.2 and not 0.1.

#include "platform/db/Decimal.h"
#include "platform/db/FieldType.h"

#include <QString>
#include <QVariant>

namespace rpt::report {

struct CellFormat {
    // -1: as many decimals as the value carries (an exact decimal's scale, the shortest
    // text of a double, 2 for money).
    int decimals = -1;
    bool thousands = false;
    // Qt date/time pattern for dates, times and timestamps; empty = the type's default.
    QString dateFormat;
};

// The format a column gets when the template says nothing about it.
CellFormat defaultFormat(TFieldType type);
bool isNumericType(TFieldType type);

// "1234567.891" with 2 decimals and thousands -> "1,234,567.89".
QString formatDecimal(const Decimal &value, int decimals, bool thousands);
QString formatInteger(qint64 value, bool thousands);
QString formatDouble(double value, int decimals, bool thousands);

// Text of one cell. NULL gives an empty text; line breaks become blanks so a cell
// stays on its row.
QString formatValue(const QVariant &value, TFieldType type, const CellFormat &format);

// Running total of one column. Exact decimals and integers are added exactly; doubles
// are added apart and only mixed in at the end if a column really holds both.
class ColumnSum {
public:
    void add(const QVariant &value);
    qint64 count() const { return m_count; }   // values that were not NULL
    bool overflowed() const { return m_overflow; }
    bool hasDouble() const { return m_hasDouble; }
    bool hasValue() const { return m_count > 0; }
    // The exact part (decimals and integers) of the total.
    Decimal exact() const { return Decimal(m_value, m_scale); }
    // The total formatted like the column's cells; "" when nothing was added and no
    // text can be trusted ("溢位" when the exact total does not fit 38 digits).
    QString text(TFieldType type, const CellFormat &format) const;

private:
    void addExact(Decimal::Int unscaled, int scale);

    Decimal::Int m_value = 0;
    int m_scale = 0;
    double m_double = 0;
    double m_compensation = 0;
    qint64 m_count = 0;
    bool m_hasDouble = false;
    bool m_overflow = false;
};

} // namespace rpt::report
