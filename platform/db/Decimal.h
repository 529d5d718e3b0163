#pragma once
// Exact decimal number: an integer mantissa and a count of decimal places.
// NUMERIC/DECIMAL values travel from the database to the result dataset and into
// client-dataset files as this type, never through binary floating point.

#include <QMetaType>
#include <QString>
#include <optional>

namespace rpt {

class Decimal {
public:
    using Int = __int128;
    static constexpr int MaxScale = 38;
    static constexpr int MaxDigits = 38;

    constexpr Decimal() = default;
    constexpr Decimal(Int unscaled, int scale) : m_value(unscaled), m_scale(scale) {}
    static Decimal fromInt64(qint64 v) { return Decimal(v, 0); }

    // Parses "-123.4500", "+7", ".5", "12." ; nullopt on anything else or on overflow.
    static std::optional<Decimal> fromString(QStringView text);

    Int unscaled() const { return m_value; }
    int scale() const { return m_scale; }
    bool isNegative() const { return m_value < 0; }
    bool isZero() const { return m_value == 0; }

    // Plain decimal text with exactly scale() places: "-12.50", "0.05", "7".
    QString toString() const;
    double toDouble() const;
    // Truncates toward zero; nullopt when it does not fit.
    std::optional<qint64> toInt64() const;

    // Same value with another scale; nullopt if digits would be lost or it overflows.
    std::optional<Decimal> rescaled(int newScale) const;
    // Number of significant digits of the mantissa (0 has 1 digit).
    int digits() const;

    // Numeric comparison across scales.
    friend bool operator==(const Decimal &a, const Decimal &b) { return compare(a, b) == 0; }
    friend bool operator<(const Decimal &a, const Decimal &b) { return compare(a, b) < 0; }
    static int compare(const Decimal &a, const Decimal &b);

private:
    Int m_value = 0;
    int m_scale = 0;
};

} // namespace rpt

Q_DECLARE_METATYPE(rpt::Decimal)
