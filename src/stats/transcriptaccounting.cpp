#include "transcriptaccounting.h"

#include "fileaccess.h"
#include "jsondocument.h"

#include <cstring>
#include <limits>
#include <string_view>

static_assert(UsageDeduplicator::padding >= jsondocument::padding);

namespace {

// Lines longer than this are skipped unread: a real transcript line is at most a few megabytes,
// and holding a longer one would let a single line take the reader's memory.
constexpr size_t maxLineBytes = size_t(64) << 20;
constexpr size_t chunkBytes = size_t(1) << 20;

bool contains(const char *data, size_t size, std::string_view needle)
{
    return ::memmem(data, size, needle.data(), needle.size()) != nullptr;
}

// A line can only carry a "usage" key if its bytes hold the key literally or a \u escape of one
// of its letters (u, s, a, g, e are \u0075, \u0073, \u0061, \u0067, \u0065). Most bytes of a
// transcript are tool results without either, and skipping them unparsed changes no figure.
bool mayHoldUsageKey(const char *line, size_t size)
{
    return contains(line, size, "\"usage\"") || contains(line, size, "\\u006")
        || contains(line, size, "\\u007");
}

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
    const QString name = model.toLower();
    for (const char *family : {"opus", "sonnet", "haiku"}) {
        if (name.contains(QLatin1StringView(family)))
            return 200000;
    }
    return 200000;
}

struct UsageDeduplicator::Parser
{
    simdjson::dom::parser json{maxLineBytes};
    std::string scratch;
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
    if (const auto model = jsondocument::member(message, "model"); model && !model->get_string().get(text))
        entry.model = QString::fromUtf8(text.data(), qsizetype(text.size()));

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
    const simdjson::padded_string padded(data.data(), size_t(data.size()));
    UsageDeduplicator deduplicator;
    const char *begin = padded.data();
    const char *end = begin + padded.size();
    while (begin < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        if (!lineEnd)
            lineEnd = end;
        deduplicator.addPaddedLine(begin, size_t(lineEnd - begin));
        begin = lineEnd + 1;
    }
    return QList<UsageEntry>(deduplicator.entries().begin(), deduplicator.entries().end());
}

std::optional<std::vector<UsageEntry>> deduplicateFile(const QString &path, qint64 *bytesRead)
{
    RegularFile file(path);
    if (!file.isOpen())
        return std::nullopt;

    UsageDeduplicator deduplicator;
    size_t capacity = chunkBytes;
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(capacity + UsageDeduplicator::padding);
    size_t pending = 0;        // bytes of an unfinished line at the start of the buffer
    bool skippingLine = false; // inside a line longer than maxLineBytes
    for (;;) {
        if (pending == capacity) {
            if (capacity < maxLineBytes) {
                capacity = std::min(capacity * 2, maxLineBytes);
                auto larger = std::make_unique<char[]>(capacity + UsageDeduplicator::padding);
                std::memcpy(larger.get(), buffer.get(), pending);
                buffer = std::move(larger);
            } else {
                skippingLine = true;
                pending = 0;
            }
        }
        const qint64 count = file.read(buffer.get() + pending, qint64(capacity - pending));
        if (count < 0)
            return std::nullopt;
        if (bytesRead)
            *bytesRead += count;
        if (count == 0)
            break;

        const char *data = buffer.get();
        const char *end = data + pending + size_t(count);
        const char *begin = data;
        const char *scan = data + pending; // the pending bytes hold no line feed
        while (const char *lineEnd = static_cast<const char *>(std::memchr(scan, '\n', size_t(end - scan)))) {
            if (skippingLine)
                skippingLine = false;
            else
                deduplicator.addPaddedLine(begin, size_t(lineEnd - begin));
            begin = scan = lineEnd + 1;
        }
        if (skippingLine) {
            pending = 0;
        } else {
            pending = size_t(end - begin);
            std::memmove(buffer.get(), begin, pending);
        }
    }
    // A last line without a line feed still counts if it parses (it does not when truncated).
    if (!skippingLine)
        deduplicator.addPaddedLine(buffer.get(), pending);
    return deduplicator.takeEntries();
}
