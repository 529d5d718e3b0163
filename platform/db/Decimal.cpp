#include "platform/db/Decimal.h"

#include <cmath>

namespace rpt {

namespace {
constexpr Decimal::Int kMax = (~static_cast<unsigned __int128>(0)) >> 1;

bool mulAdd(Decimal::Int &v, int mul, int add)
{
    if (v > (kMax - add) / mul)
        return false;
    v = v * mul + add;
    return true;
}

Decimal::Int pow10(int n)
{
    Decimal::Int p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}
} // namespace

std::optional<Decimal> Decimal::fromString(QStringView text)
{
    QStringView t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    bool neg = false;
    qsizetype i = 0;
    if (t[0] == u'-' || t[0] == u'+') {
        neg = t[0] == u'-';
        ++i;
    }
    Int v = 0;
    int scale = 0;
    bool dot = false, any = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c == u'.' && !dot) {
            dot = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            return std::nullopt;
        any = true;
        if (!mulAdd(v, 10, c.unicode() - u'0'))
            return std::nullopt;
        if (dot && ++scale > MaxScale)
            return std::nullopt;
    }
    if (!any)
        return std::nullopt;
    return Decimal(neg ? -v : v, scale);
}

QString Decimal::toString() const
{
    unsigned __int128 mag = m_value < 0 ? static_cast<unsigned __int128>(-(m_value + 1)) + 1
                                        : static_cast<unsigned __int128>(m_value);
    char buf[64];
    int n = 0;
    do {
        buf[n++] = char('0' + int(mag % 10));
        mag /= 10;
    } while (mag);
    while (n <= m_scale)
        buf[n++] = '0';
    QString out;
    out.reserve(n + 2);
    if (m_value < 0)
        out += u'-';
    for (int i = n - 1; i >= 0; --i) {
        out += QLatin1Char(buf[i]);
        if (i == m_scale && m_scale > 0)
            out += u'.';
    }
    return out;
}

double Decimal::toDouble() const
{
    // Through text so that the result is the correctly rounded double of the value.
    return toString().toDouble();
}

std::optional<qint64> Decimal::toInt64() const
{
    Int v = m_value / pow10(m_scale);
    if (v > std::numeric_limits<qint64>::max() || v < std::numeric_limits<qint64>::min())
        return std::nullopt;
    return static_cast<qint64>(v);
}

std::optional<Decimal> Decimal::rescaled(int newScale) const
{
    if (newScale < 0 || newScale > MaxScale)
        return std::nullopt;
    if (newScale == m_scale)
        return *this;
    if (newScale > m_scale) {
        Int v = m_value < 0 ? -m_value : m_value;
        for (int i = m_scale; i < newScale; ++i)
            if (!mulAdd(v, 10, 0))
                return std::nullopt;
        return Decimal(m_value < 0 ? -v : v, newScale);
    }
    const Int p = pow10(m_scale - newScale);
    if (m_value % p != 0)
        return std::nullopt;
    return Decimal(m_value / p, newScale);
}

int Decimal::digits() const
{
    unsigned __int128 mag = m_value < 0 ? static_cast<unsigned __int128>(-(m_value + 1)) + 1
                                        : static_cast<unsigned __int128>(m_value);
    int n = 1;
    while (mag >= 10) {
        mag /= 10;
        ++n;
    }
    return n;
}

int Decimal::compare(const Decimal &a, const Decimal &b)
{
    if (a.m_scale == b.m_scale)
        return a.m_value < b.m_value ? -1 : (a.m_value > b.m_value ? 1 : 0);
    const int s = std::max(a.m_scale, b.m_scale);
    auto ra = a.rescaled(s), rb = b.rescaled(s);
    if (ra && rb)
        return compare(*ra, *rb);
    // One side overflowed when widened: its magnitude decides.
    const double da = a.toDouble(), db = b.toDouble();
    return da < db ? -1 : (da > db ? 1 : 0);
}

} // namespace rpt
