#include "transcriptaccounting.h"

#include "chunkreader.h"
#include "fileaccess.h"
#include "jsondocument.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <limits>
#include <string_view>

static_assert(UsageDeduplicator::padding >= jsondocument::padding);
static_assert(UsageDeduplicator::padding >= 68, "the line filter reads 68 bytes past a line");

namespace {

// Lines longer than this are skipped unread: a real transcript line is at most a few megabytes,
// and holding a longer one would let a single line take the reader's memory.
constexpr size_t maxLineBytes = size_t(64) << 20;

// A line can only carry a "usage" key if its bytes hold the key literally or a \u escape of one
// of its letters (u, s, a, g, e are \u0075, \u0073, \u0061, \u0067, \u0065). Most bytes of a
// transcript are tool results without either, and skipping them unparsed changes no figure.
// The vector scans look for 'u' with 'g' three bytes on, and for '\\' with '6' or '7' four bytes
// on, then confirm each hit; they read up to 68 bytes past the end of the line (padding). They
// run from the end of the line backwards: "usage" closes an assistant message, so it is met early.

// Confirms a hit at `at`: "usage" in quotes, or the escape \u006x / \u007x.
bool confirmHit(const char *line, size_t size, size_t at)
{
    if (line[at] == 'u')
        return at >= 1 && at + 6 <= size && line[at - 1] == '"' && std::memcmp(line + at, "usage\"", 6) == 0;
    return at + 5 <= size && line[at] == '\\' && line[at + 1] == 'u' && line[at + 2] == '0'
        && line[at + 3] == '0' && (line[at + 4] | 1) == '7';
}

// Confirms the candidates of one block: bit k of `mask` marks a candidate at offset + k.
bool confirmHits(const char *line, size_t size, size_t offset, std::uint64_t mask)
{
    while (mask) {
        if (confirmHit(line, size, offset + size_t(__builtin_ctzll(mask))))
            return true;
        mask &= mask - 1;
    }
    return false;
}

#if defined(__x86_64__)
__attribute__((target("avx512bw"))) bool mayHoldUsageKeyAvx512(const char *line, size_t size)
{
    const __m512i u = _mm512_set1_epi8('u');
    const __m512i g = _mm512_set1_epi8('g');
    const __m512i backslash = _mm512_set1_epi8('\\');
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i seven = _mm512_set1_epi8('7');
    for (size_t block = (size + 63) / 64; block-- > 0;) {
        const size_t i = block * 64;
        const __m512i at0 = _mm512_loadu_si512(line + i);
        const __m512i at3 = _mm512_loadu_si512(line + i + 3);
        const __m512i at4 = _mm512_loadu_si512(line + i + 4);
        const __mmask64 word = _mm512_cmpeq_epi8_mask(at0, u) & _mm512_cmpeq_epi8_mask(at3, g);
        const __mmask64 escape = _mm512_cmpeq_epi8_mask(at0, backslash)
            & _mm512_cmpeq_epi8_mask(_mm512_or_si512(at4, one), seven);
        std::uint64_t mask = word | escape;
        if (size - i < 64)
            mask &= (std::uint64_t(1) << (size - i)) - 1;
        if (mask && confirmHits(line, size, i, mask))
            return true;
    }
    return false;
}

__attribute__((target("avx2"))) bool mayHoldUsageKeyAvx2(const char *line, size_t size)
{
    const __m256i u = _mm256_set1_epi8('u');
    const __m256i g = _mm256_set1_epi8('g');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i seven = _mm256_set1_epi8('7');
    for (size_t block = (size + 31) / 32; block-- > 0;) {
        const size_t i = block * 32;
        const __m256i at0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line + i));
        const __m256i at3 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line + i + 3));
        const __m256i at4 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(line + i + 4));
        const __m256i word = _mm256_and_si256(_mm256_cmpeq_epi8(at0, u), _mm256_cmpeq_epi8(at3, g));
        const __m256i escape = _mm256_and_si256(_mm256_cmpeq_epi8(at0, backslash),
                                                _mm256_cmpeq_epi8(_mm256_or_si256(at4, one), seven));
        unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_or_si256(word, escape)));
        if (size - i < 32)
            mask &= (1u << (size - i)) - 1;
        if (mask && confirmHits(line, size, i, mask))
            return true;
    }
    return false;
}

bool mayHoldUsageKeySse2(const char *line, size_t size)
{
    const __m128i u = _mm_set1_epi8('u');
    const __m128i g = _mm_set1_epi8('g');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i one = _mm_set1_epi8(1);
    const __m128i seven = _mm_set1_epi8('7');
    for (size_t block = (size + 15) / 16; block-- > 0;) {
        const size_t i = block * 16;
        const __m128i at0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i));
        const __m128i at3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i + 3));
        const __m128i at4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + i + 4));
        const __m128i word = _mm_and_si128(_mm_cmpeq_epi8(at0, u), _mm_cmpeq_epi8(at3, g));
        const __m128i escape = _mm_and_si128(_mm_cmpeq_epi8(at0, backslash),
                                             _mm_cmpeq_epi8(_mm_or_si128(at4, one), seven));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_or_si128(word, escape)));
        if (size - i < 16)
            mask &= (1u << (size - i)) - 1;
        if (mask && confirmHits(line, size, i, mask))
            return true;
    }
    return false;
}

using LineFilter = bool (*)(const char *, size_t);

bool mayHoldUsageKey(const char *line, size_t size)
{
    static const LineFilter filter = __builtin_cpu_supports("avx512bw") ? mayHoldUsageKeyAvx512
        : __builtin_cpu_supports("avx2")                               ? mayHoldUsageKeyAvx2
                                                                       : mayHoldUsageKeySse2;
    return filter(line, size);
}
#else
bool mayHoldUsageKey(const char *line, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const bool hit = (line[i] == 'u' && i + 3 < size && line[i + 3] == 'g')
            || (line[i] == '\\' && i + 4 < size && (line[i + 4] | 1) == '7');
        if (hit && confirmHit(line, size, i))
            return true;
    }
    return false;
}
#endif

qint64 usageValue(simdjson::dom::object usage, std::string_view key)
{
    const auto value = jsondocument::member(usage, key);
    return value ? jsondocument::integralValue(*value).value_or(0) : 0;
}

} // namespace

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

qint64 UsageEntry::total() const
{
    return saturatingAdd(saturatingAdd(saturatingAdd(input, output), cacheCreate), cacheRead);
}

qint64 contextWindowForModel(const QString &model)
{
    // The first family contained in the lower-cased name decides; every family has the same
    // window today, but each keeps its own row so that a new size changes one number.
    struct FamilyWindow
    {
        const char *family;
        qint64 window;
    };
    static constexpr FamilyWindow windows[] = {{"opus", 200000}, {"sonnet", 200000}, {"haiku", 200000}};
    constexpr qint64 defaultWindow = 200000;
    const QString name = model.toLower();
    for (const FamilyWindow &row : windows) {
        if (name.contains(QLatin1StringView(row.family)))
            return row.window;
    }
    return defaultWindow;
}

struct UsageDeduplicator::Parser
{
    simdjson::dom::parser json{maxLineBytes};
    std::string scratch;
    std::string lastModelUtf8;
    QString lastModel;
};

UsageDeduplicator::UsageDeduplicator()
    : m_parser(std::make_unique<Parser>())
{
}

UsageDeduplicator::~UsageDeduplicator() = default;

void UsageDeduplicator::addPaddedLine(const char *line, size_t size)
{
    if (size == 0 || !mayHoldUsageKey(line, size))
        return;
    simdjson::dom::element document;
    if (jsondocument::parse(m_parser->json, line, size, m_parser->scratch).get(document))
        return;
    simdjson::dom::object top;
    simdjson::dom::object message;
    simdjson::dom::object usage;
    if (document.get_object().get(top))
        return;
    const auto messageValue = jsondocument::member(top, "message");
    if (!messageValue || messageValue->get_object().get(message))
        return;
    const auto usageValue_ = jsondocument::member(message, "usage");
    if (!usageValue_ || usageValue_->get_object().get(usage))
        return;

    UsageEntry entry;
    entry.input = usageValue(usage, "input_tokens");
    entry.output = usageValue(usage, "output_tokens");
    entry.cacheCreate = usageValue(usage, "cache_creation_input_tokens");
    entry.cacheRead = usageValue(usage, "cache_read_input_tokens");
    std::string_view text;
    if (const auto model = jsondocument::member(message, "model"); model && !model->get_string().get(text)) {
        // Consecutive entries nearly always name the same model: share one string between them.
        if (text != m_parser->lastModelUtf8) {
            m_parser->lastModelUtf8.assign(text);
            m_parser->lastModel = QString::fromUtf8(text.data(), qsizetype(text.size()));
        }
        entry.model = m_parser->lastModel;
    }

    const auto id = jsondocument::member(message, "id");
    if (!id || id->get_string().get(text)) {
        // No usable id: the entry stands alone and can never be merged.
        m_entries.push_back(std::move(entry));
        return;
    }
    const auto [position, inserted] = m_positions.try_emplace(std::string(text), m_entries.size());
    if (inserted)
        m_entries.push_back(std::move(entry));
    else
        m_entries[position->second] = std::move(entry);
}

QList<UsageEntry> deduplicate(QByteArrayView data)
{
    const size_t size = size_t(data.size());
    const auto padded = std::make_unique<char[]>(size + UsageDeduplicator::padding);
    if (size)
        std::memcpy(padded.get(), data.data(), size);
    UsageDeduplicator deduplicator;
    const char *begin = padded.get();
    const char *end = begin + size;
    while (begin < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        if (!lineEnd)
            lineEnd = end;
        deduplicator.addPaddedLine(begin, size_t(lineEnd - begin));
        begin = lineEnd + 1;
    }
    return QList<UsageEntry>(deduplicator.entries().begin(), deduplicator.entries().end());
}

namespace {

// The bytes of a line that spans chunks, kept with readable padding behind them.
class LineBuffer
{
public:
    const char *data() const { return m_data.get(); }
    size_t size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    void clear() { m_size = 0; }

    void append(const char *bytes, size_t count)
    {
        if (m_size + count > m_capacity) {
            m_capacity = std::max(m_size + count, m_capacity * 2);
            auto larger = std::make_unique<char[]>(m_capacity + UsageDeduplicator::padding);
            if (m_size)
                std::memcpy(larger.get(), m_data.get(), m_size);
            m_data = std::move(larger);
        }
        if (count)
            std::memcpy(m_data.get() + m_size, bytes, count);
        m_size += count;
    }

private:
    std::unique_ptr<char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

} // namespace

std::optional<std::vector<UsageEntry>> deduplicateFile(const QString &path, qint64 *bytesRead)
{
    RegularFile file(path);
    if (!file.isOpen())
        return std::nullopt;

    UsageDeduplicator deduplicator;
    LineBuffer partial;        // the unfinished line at the end of the chunks so far
    bool skippingLine = false; // inside a line longer than maxLineBytes
    const auto keepPartial = [&](const char *bytes, size_t count) {
        if (skippingLine)
            return;
        if (partial.size() + count > maxLineBytes) {
            skippingLine = true;
            partial.clear();
        } else {
            partial.append(bytes, count);
        }
    };

    ChunkReader reader(file, UsageDeduplicator::padding);
    for (;;) {
        const ChunkReader::Chunk chunk = reader.next();
        if (chunk.size < 0)
            return std::nullopt;
        if (chunk.size == 0)
            break;
        if (bytesRead)
            *bytesRead += chunk.size;
        const char *begin = chunk.data;
        const char *end = chunk.data + chunk.size;
        const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        if (lineEnd && (skippingLine || !partial.isEmpty())) {
            keepPartial(begin, size_t(lineEnd - begin));
            if (!skippingLine)
                deduplicator.addPaddedLine(partial.data(), partial.size());
            partial.clear();
            skippingLine = false;
            begin = lineEnd + 1;
            lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        }
        // Lines inside the chunk are parsed in place: the chunk buffer has padding behind it.
        while (lineEnd) {
            deduplicator.addPaddedLine(begin, size_t(lineEnd - begin));
            begin = lineEnd + 1;
            lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        }
        keepPartial(begin, size_t(end - begin));
        reader.release();
    }
    // A last line without a line feed still counts if it parses (it does not when truncated).
    if (!skippingLine)
        deduplicator.addPaddedLine(partial.data(), partial.size());
    return deduplicator.takeEntries();
}
