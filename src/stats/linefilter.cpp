#include "linefilter.h"

#include "portablesimd.h"

#include <bit>
#include <cstdint>
#include <cstring>
#ifdef GLIMMEROX_X86_64
#include <immintrin.h>
#endif

// The scans look for 'u' with 'g' three bytes on, and for '\\' with '6' or '7' four bytes on,
// then confirm each hit. They run from the end of the line backwards: "usage" closes an
// assistant message, so it is met early.

namespace {

// Confirms a hit at `at`: "usage" in quotes, or the escape \u006x / \u007x. Anything else
// (a candidate a scan flagged too eagerly) is no hit.
bool confirmHit(const char *line, std::size_t size, std::size_t at)
{
    if (line[at] == 'u')
        return at >= 1 && at + 6 <= size && line[at - 1] == '"' && std::memcmp(line + at, "usage\"", 6) == 0;
    return at + 5 <= size && line[at] == '\\' && line[at + 1] == 'u' && line[at + 2] == '0'
        && line[at + 3] == '0' && (line[at + 4] | 1) == '7';
}

// Confirms the candidates of one block: bit k of `mask` marks a candidate at offset + k / stride.
template<int stride>
bool confirmHits(const char *line, std::size_t size, std::size_t offset, std::uint64_t mask)
{
    while (mask) {
        if (confirmHit(line, size, offset + std::size_t(std::countr_zero(mask)) / stride))
            return true;
        mask &= mask - 1;
    }
    return false;
}

#ifdef GLIMMEROX_X86_64
GLIMMEROX_TARGET("avx512bw") bool mayHoldUsageKeyAvx512(const char *line, std::size_t size)
{
    const __m512i u = _mm512_set1_epi8('u');
    const __m512i g = _mm512_set1_epi8('g');
    const __m512i backslash = _mm512_set1_epi8('\\');
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i seven = _mm512_set1_epi8('7');
    for (std::size_t block = (size + 63) / 64; block-- > 0;) {
        const std::size_t i = block * 64;
        const __m512i at0 = _mm512_loadu_si512(line + i);
        const __m512i at3 = _mm512_loadu_si512(line + i + 3);
        const __m512i at4 = _mm512_loadu_si512(line + i + 4);
        const __mmask64 word = _mm512_cmpeq_epi8_mask(at0, u) & _mm512_cmpeq_epi8_mask(at3, g);
        const __mmask64 escape = _mm512_cmpeq_epi8_mask(at0, backslash)
            & _mm512_cmpeq_epi8_mask(_mm512_or_si512(at4, one), seven);
        std::uint64_t mask = word | escape;
        if (size - i < 64)
            mask &= (std::uint64_t(1) << (size - i)) - 1;
        if (mask && confirmHits<1>(line, size, i, mask))
            return true;
    }
    return false;
}

GLIMMEROX_TARGET("avx2") bool mayHoldUsageKeyAvx2(const char *line, std::size_t size)
{
    const __m256i u = _mm256_set1_epi8('u');
    const __m256i g = _mm256_set1_epi8('g');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i seven = _mm256_set1_epi8('7');
    for (std::size_t block = (size + 31) / 32; block-- > 0;) {
        const std::size_t i = block * 32;
        const __m256i at0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line + i));
        const __m256i at3 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line + i + 3));
        const __m256i at4 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line + i + 4));
        const __m256i word = _mm256_and_si256(_mm256_cmpeq_epi8(at0, u), _mm256_cmpeq_epi8(at3, g));
        const __m256i escape = _mm256_and_si256(_mm256_cmpeq_epi8(at0, backslash),
                                                _mm256_cmpeq_epi8(_mm256_or_si256(at4, one), seven));
        std::uint64_t mask = unsigned(_mm256_movemask_epi8(_mm256_or_si256(word, escape)));
        if (size - i < 32)
            mask &= (std::uint64_t(1) << (size - i)) - 1;
        if (mask && confirmHits<1>(line, size, i, mask))
            return true;
    }
    return false;
}

bool mayHoldUsageKeySse2(const char *line, std::size_t size)
{
    const __m128i u = _mm_set1_epi8('u');
    const __m128i g = _mm_set1_epi8('g');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i one = _mm_set1_epi8(1);
    const __m128i seven = _mm_set1_epi8('7');
    for (std::size_t block = (size + 15) / 16; block-- > 0;) {
        const std::size_t i = block * 16;
        const __m128i at0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i));
        const __m128i at3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i + 3));
        const __m128i at4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i + 4));
        const __m128i word = _mm_and_si128(_mm_cmpeq_epi8(at0, u), _mm_cmpeq_epi8(at3, g));
        const __m128i escape = _mm_and_si128(_mm_cmpeq_epi8(at0, backslash),
                                             _mm_cmpeq_epi8(_mm_or_si128(at4, one), seven));
        std::uint64_t mask = unsigned(_mm_movemask_epi8(_mm_or_si128(word, escape)));
        if (size - i < 16)
            mask &= (std::uint64_t(1) << (size - i)) - 1;
        if (mask && confirmHits<1>(line, size, i, mask))
            return true;
    }
    return false;
}
#endif

// The portable scan works on 64-bit words, eight bytes at a time (SWAR), which keeps it within
// reach of the vector scans on processors without one of ours (Apple Silicon, others).

constexpr std::uint64_t everyByte(unsigned char byte)
{
    return 0x0101010101010101ULL * byte;
}

// Eight bytes as a little-endian word whatever the processor's byte order.
std::uint64_t loadWord(const char *bytes)
{
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, 8);
    if constexpr (std::endian::native == std::endian::big) {
        word = ((word & 0x00ff00ff00ff00ffULL) << 8) | ((word >> 8) & 0x00ff00ff00ff00ffULL);
        word = ((word & 0x0000ffff0000ffffULL) << 16) | ((word >> 16) & 0x0000ffff0000ffffULL);
        word = std::rotl(word, 32);
    }
    return word;
}

// The top bit of each byte of `word` that is zero, exactly (no borrow runs across bytes).
std::uint64_t zeroBytes(std::uint64_t word)
{
    constexpr std::uint64_t low7 = everyByte(0x7f);
    return ~(((word & low7) + low7) | word | low7);
}

bool mayHoldUsageKeyPortable(const char *line, std::size_t size)
{
    for (std::size_t block = (size + 7) / 8; block-- > 0;) {
        const std::size_t i = block * 8;
        const std::uint64_t at0 = loadWord(line + i);
        // A byte of (a ^ x) | (b ^ y) is zero only where a holds x and b holds y.
        const std::uint64_t word = zeroBytes((at0 ^ everyByte('u')) | (loadWord(line + i + 3) ^ everyByte('g')));
        const std::uint64_t escape = zeroBytes((at0 ^ everyByte('\\'))
                                               | ((loadWord(line + i + 4) | everyByte(1)) ^ everyByte('7')));
        std::uint64_t mask = word | escape;
        if (size - i < 8)
            mask &= (std::uint64_t(1) << (8 * (size - i))) - 1;
        if (mask && confirmHits<8>(line, size, i, mask))
            return true;
    }
    return false;
}

constexpr struct
{
    LineFilter filter;
    const char *name;
} filterNames[] = {{LineFilter::portable, "portable"},
                   {LineFilter::sse2, "sse2"},
                   {LineFilter::avx2, "avx2"},
                   {LineFilter::avx512, "avx512"}};

} // namespace

QList<LineFilter> supportedLineFilters()
{
    QList<LineFilter> filters{LineFilter::portable};
#ifdef GLIMMEROX_X86_64
    filters.append(LineFilter::sse2);
    if (portablesimd::cpuHasAvx2())
        filters.append(LineFilter::avx2);
    if (portablesimd::cpuHasAvx512bw())
        filters.append(LineFilter::avx512);
#endif
    return filters;
}

LineFilter fastestLineFilter()
{
    static const LineFilter fastest = supportedLineFilters().constLast();
    return fastest;
}

const char *lineFilterName(LineFilter filter)
{
    for (const auto &row : filterNames) {
        if (row.filter == filter)
            return row.name;
    }
    return "";
}

std::optional<LineFilter> lineFilterNamed(std::string_view name)
{
    for (const auto &row : filterNames) {
        if (name == row.name)
            return row.filter;
    }
    return std::nullopt;
}

LineFilterFunction lineFilterFunction(LineFilter filter)
{
    switch (filter) {
#ifdef GLIMMEROX_X86_64
    case LineFilter::avx512:
        return mayHoldUsageKeyAvx512;
    case LineFilter::avx2:
        return mayHoldUsageKeyAvx2;
    case LineFilter::sse2:
        return mayHoldUsageKeySse2;
#else
    case LineFilter::avx512:
    case LineFilter::avx2:
    case LineFilter::sse2:
        break;
#endif
    case LineFilter::portable:
        break;
    }
    return mayHoldUsageKeyPortable;
}
