#include "sessionstats.h"

#include <algorithm>
#include <limits>

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!qAddOverflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

namespace {

// An unsigned 128-bit value in two 64-bit words: wide enough for (context + output) * 100.
struct Wide
{
    quint64 high = 0;
    quint64 low = 0;
};

Wide add(Wide a, quint64 b)
{
    const quint64 low = a.low + b;
    return {a.high + (low < b ? 1 : 0), low};
}

Wide multiply(quint64 a, quint64 b)
{
    const quint64 aLow = a & 0xffffffffu, aHigh = a >> 32, bLow = b & 0xffffffffu, bHigh = b >> 32;
    const quint64 lowLow = aLow * bLow, lowHigh = aLow * bHigh, highLow = aHigh * bLow;
    const quint64 middle = (lowLow >> 32) + (lowHigh & 0xffffffffu) + (highLow & 0xffffffffu);
    return {aHigh * bHigh + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32),
            (middle << 32) | (lowLow & 0xffffffffu)};
}

// Truncating division by a divisor below 2^63, one bit at a time.
Wide divide(Wide n, quint64 divisor)
{
    Wide quotient;
    quint64 remainder = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const quint64 word = bit >= 64 ? n.high : n.low;
        remainder = (remainder << 1) | ((word >> (bit % 64)) & 1);
        if (remainder >= divisor) {
            remainder -= divisor;
            (bit >= 64 ? quotient.high : quotient.low) |= quint64(1) << (bit % 64);
        }
    }
    return quotient;
}

quint64 magnitude(qint64 value)
{
    return value < 0 ? quint64(-(value + 1)) + 1 : quint64(value);
}

} // namespace

qint64 SessionStats::contextAndOutput() const
{
    return saturatingAdd(lastContextTokens, lastOutputTokens);
}

qint64 SessionStats::contextPercent() const
{
    if (contextWindowSize <= 0)
        return 0;
    // |context + output| can reach 2^64 and its hundredfold 2^71, so the quotient is taken in
    // two words; the result is exact whatever the counts hold.
    qint64 sum = 0;
    const bool overflow = qAddOverflow(lastContextTokens, lastOutputTokens, &sum);
    // On overflow both parts share the sign, and their magnitudes add up to at most 2^64.
    const bool negative = overflow ? lastContextTokens < 0 : sum < 0;
    const Wide size = overflow ? add({0, magnitude(lastContextTokens)}, magnitude(lastOutputTokens))
                               : Wide{0, magnitude(sum)};
    Wide hundredfold = multiply(size.low, 100);
    hundredfold.high += size.high * 100;
    const Wide quotient = divide(hundredfold, quint64(contextWindowSize));
    if (!negative)
        return quotient.high == 0 && quotient.low < 100 ? qint64(quotient.low) : 100;
    constexpr quint64 lowest = quint64(1) << 63;
    if (quotient.high != 0 || quotient.low >= lowest)
        return std::numeric_limits<qint64>::min();
    return -qint64(quotient.low);
}

QString projectName(const QString &cwd)
{
    QString path = cwd;
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return slash >= 0 && path.size() > 1 ? path.mid(slash + 1) : path;
}
