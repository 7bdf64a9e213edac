#include "transcriptaccounting.h"

#include "chunkreader.h"
#include "fileaccess.h"
#include "jsondocument.h"
#include "statslog.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

static_assert(TranscriptLineParser::padding >= jsondocument::padding);
static_assert(TranscriptLineParser::padding >= lineFilterOverread);

namespace {

// Lines longer than this are skipped unread: a real transcript line is at most a few megabytes,
// and holding a longer one would let a single line take the reader's memory.
constexpr size_t maxLineBytes = size_t(64) << 20;

quint64 finalMix(quint64 h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 33);
}

// A 64-bit digest of a message id, in the manner of MurmurHash3; two seeds give 128 bits, of
// which the ledger keeps 96: two different ids of one file share a digest with a chance of about
// 1 in 10^15 even at ten million ids.
quint64 digest(std::string_view text, quint64 seed)
{
    constexpr quint64 c1 = 0x87c37b91114253d5ULL;
    constexpr quint64 c2 = 0x4cf5ad432745937fULL;
    quint64 h = seed ^ (quint64(text.size()) * c1);
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        quint64 k = 0;
        std::memcpy(&k, text.data() + i, 8);
        h ^= std::rotl(k * c1, 31) * c2;
        h = std::rotl(h, 27) * 5 + 0x52dce729;
    }
    quint64 k = 0;
    std::memcpy(&k, text.data() + i, text.size() - i);
    h ^= std::rotl((k ^ (text.size() - i)) * c2, 33) * c1;
    return finalMix(h);
}

// A digest of a rewrite sample (up to 4 KiB) that tells a changed sample from the kept one:
// four independent lanes of one multiply each per word, mixed at the end, so a sample costs a
// fraction of digest()'s one dependent chain. Not meant to resist crafted collisions; nothing
// gains from one.
quint64 sampleDigest(std::string_view bytes)
{
    constexpr quint64 c1 = 0x87c37b91114253d5ULL;
    constexpr quint64 c2 = 0x4cf5ad432745937fULL;
    const auto step = [&bytes](quint64 lane, size_t at) {
        quint64 k = 0;
        std::memcpy(&k, bytes.data() + at, 8);
        return std::rotl((lane ^ k) * c1, 29);
    };
    quint64 a = c1, b = c2, c = ~c1, d = ~c2;
    size_t i = 0;
    for (; i + 32 <= bytes.size(); i += 32) {
        a = step(a, i);
        b = step(b, i + 8);
        c = step(c, i + 16);
        d = step(d, i + 24);
    }
    return finalMix(finalMix(finalMix(finalMix(digest(bytes.substr(i), bytes.size()) ^ a) ^ b) ^ c) ^ d);
}

// Splits the chunks of a file into lines. Lines inside a chunk are handed over in place (the
// chunk buffers carry padding); only a line that spans chunks is copied, and one longer than
// maxLineBytes is skipped without being held.
class LineSplitter
{
public:
    template<typename OnLine>
    void feed(const char *begin, const char *end, OnLine &&onLine)
    {
        const char *const chunkBegin = begin;
        const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        if (lineEnd && (m_skipping || m_size)) {
            keep(begin, size_t(lineEnd - begin));
            if (!m_skipping)
                onLine(m_data.get(), m_size);
            m_size = 0;
            m_skipping = false;
            begin = lineEnd + 1;
            lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        }
        while (lineEnd) {
            onLine(begin, size_t(lineEnd - begin));
            begin = lineEnd + 1;
            lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        }
        const qint64 fedBefore = std::exchange(m_fed, m_fed + (end - chunkBegin));
        if (begin > chunkBegin) {
            m_consumed = fedBefore + (begin - chunkBegin);
            const qsizetype length = std::min<qsizetype>(64, begin - chunkBegin);
            m_lastLineEnd = QByteArray(begin - length, length);
        }
        keep(begin, size_t(end - begin));
    }

    // Bytes up to and including the last line feed fed.
    qint64 consumed() const { return m_consumed; }
    // Up to 64 bytes that end with the last line feed fed, as far as its chunk holds them.
    const QByteArray &lastLineEnd() const { return m_lastLineEnd; }
    // The unfinished last line, unless it is being skipped; padded.
    std::optional<std::pair<const char *, size_t>> partial() const
    {
        if (m_skipping || m_size == 0)
            return std::nullopt;
        return std::pair<const char *, size_t>(m_data.get(), m_size);
    }

private:
    void keep(const char *bytes, size_t count)
    {
        if (m_skipping || count == 0)
            return;
        if (m_size + count > maxLineBytes) {
            m_skipping = true;
            m_size = 0;
            return;
        }
        if (m_size + count > m_capacity) {
            m_capacity = std::min(std::max(m_size + count, m_capacity * 2), maxLineBytes);
            auto larger = std::make_unique_for_overwrite<char[]>(m_capacity + TranscriptLineParser::padding);
            if (m_size)
                std::memcpy(larger.get(), m_data.get(), m_size);
            m_data = std::move(larger);
        }
        std::memcpy(m_data.get() + m_size, bytes, count);
        m_size += count;
    }

    std::unique_ptr<char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
    bool m_skipping = false;
    qint64 m_fed = 0;
    qint64 m_consumed = 0;
    QByteArray m_lastLineEnd;
};

// Feeds the file from its current position, at most `limit` bytes, to the splitter; false when
// reading fails or the cycle is asked to stop. `onlyChunk` is set to the bytes read when they
// came in one chunk (a small file, an append): they stay in the context's buffers until its next read.
template<typename OnLine>
TranscriptProgress::Result readLines(RegularFile &file, qint64 limit, TranscriptReadContext &context,
                                     LineSplitter &splitter, OnLine &&onLine, QByteArrayView &onlyChunk)
{
    ChunkReader reader(file, limit, context.buffers());
    onlyChunk = {};
    for (int chunks = 0;; ++chunks) {
        if (context.stopRequested())
            return TranscriptProgress::Result::stopped;
        const ChunkReader::Chunk chunk = reader.next();
        if (chunk.size < 0)
            return TranscriptProgress::Result::unreadable;
        if (chunk.size == 0)
            return TranscriptProgress::Result::read;
        onlyChunk = chunks == 0 ? QByteArrayView(chunk.data, chunk.size) : QByteArrayView();
        context.bytesRead += chunk.size;
        splitter.feed(chunk.data, chunk.data + chunk.size, onLine);
        reader.release();
    }
}

} // namespace

qint64 UsageEntry::total() const
{
    return saturatingAdd(saturatingAdd(saturatingAdd(input, output), cacheCreate), cacheRead);
}

qint64 contextWindow(const QString &model, qint64 contextAndOutput)
{
    constexpr qint64 standardWindow = 200000;
    constexpr qint64 extendedWindow = 1000000;
    // A 200k model cannot hold more than 200k, so a larger context proves the extended window.
    if (model.contains(QLatin1String("[1m]"), Qt::CaseInsensitive) || contextAndOutput > standardWindow)
        return extendedWindow;
    // Every model family (opus, sonnet, haiku) has the standard window today; a family with
    // another one gets its row here.
    return standardWindow;
}

struct TranscriptLineParser::State
{
    explicit State(LineFilter filter)
        : mayHoldUsageKey(lineFilterFunction(filter))
    {
    }
    const LineFilterFunction mayHoldUsageKey;
    simdjson::dom::parser json{maxLineBytes};
    std::string scratch;
    std::string lastModelUtf8;
    QString lastModel;
};

TranscriptLineParser::TranscriptLineParser(LineFilter filter)
    : m_state(std::make_unique<State>(filter))
{
    Q_ASSERT(supportedLineFilters().contains(filter));
}

TranscriptLineParser::~TranscriptLineParser() = default;

std::optional<UsageLine> TranscriptLineParser::usage(const char *line, size_t size)
{
    // Each object's wanted keys are looked up in one pass over its fields.
    static constexpr std::array<std::string_view, 2> topKeys{"message", "isSidechain"};
    static constexpr std::array<std::string_view, 3> messageKeys{"usage", "model", "id"};
    static constexpr std::array<std::string_view, 4> usageKeys{"input_tokens", "output_tokens",
                                                               "cache_creation_input_tokens", "cache_read_input_tokens"};
    if (size == 0 || !m_state->mayHoldUsageKey(line, size))
        return std::nullopt;
    simdjson::dom::element document;
    simdjson::dom::object top;
    simdjson::dom::object message;
    simdjson::dom::object usage;
    if (jsondocument::parse(m_state->json, line, size, m_state->scratch).get(document)
        || document.get_object().get(top))
        return std::nullopt;
    const auto [messageValue, sidechainValue] = jsondocument::members(top, topKeys);
    if (!messageValue || messageValue->get_object().get(message))
        return std::nullopt;
    const auto [usageValue, modelValue, idValue] = jsondocument::members(message, messageKeys);
    if (!usageValue || usageValue->get_object().get(usage))
        return std::nullopt;

    UsageLine result;
    UsageEntry &entry = result.entry;
    const auto counts = jsondocument::members(usage, usageKeys);
    const auto count = [](const std::optional<simdjson::dom::element> &value) {
        return value ? jsondocument::integralValue(*value).value_or(0) : 0;
    };
    entry.input = count(counts[0]);
    entry.output = count(counts[1]);
    entry.cacheCreate = count(counts[2]);
    entry.cacheRead = count(counts[3]);
    bool sidechain = false;
    if (sidechainValue && !sidechainValue->get_bool().get(sidechain))
        entry.sidechain = sidechain;
    std::string_view text;
    if (modelValue && !modelValue->get_string().get(text)) {
        // Consecutive entries nearly always name the same model: share one string between them.
        if (text != m_state->lastModelUtf8) {
            m_state->lastModelUtf8.assign(text);
            m_state->lastModel = QString::fromUtf8(text.data(), qsizetype(text.size()));
        }
        entry.model = m_state->lastModel;
    }
    if (idValue && !idValue->get_string().get(text)) {
        result.hasId = true;
        result.idDigest = digest(text, 0x9e3779b97f4a7c15ULL);
        result.idCheck = quint32(digest(text, 0x2545f4914f6cdd1dULL));
    }
    return result;
}

std::optional<QString> TranscriptLineParser::sessionId(const char *line, size_t size)
{
    return topLevelString(line, size, "sessionId");
}

std::optional<QDateTime> TranscriptLineParser::timestamp(const char *line, size_t size)
{
    const std::optional<QString> text = topLevelString(line, size, "timestamp");
    if (!text)
        return std::nullopt;
    const QDateTime at = QDateTime::fromString(*text, Qt::ISODateWithMs);
    return at.isValid() ? std::optional(at.toUTC()) : std::nullopt;
}

std::optional<QString> TranscriptLineParser::topLevelString(const char *line, size_t size, std::string_view key)
{
    simdjson::dom::element document;
    simdjson::dom::object top;
    std::string_view text;
    if (size == 0 || jsondocument::parse(m_state->json, line, size, m_state->scratch).get(document)
        || document.get_object().get(top))
        return std::nullopt;
    const auto value = jsondocument::member(top, key);
    if (!value || value->get_string().get(text))
        return std::nullopt;
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

quint32 UsageLedger::internModel(const QString &model)
{
    if (model.isEmpty())
        return 0;
    if (!m_models.isEmpty() && m_models.constLast() == model) // the same model as the entry before
        return quint32(m_models.size());
    // A file names a handful of models: a short list is searched, a long one indexed.
    if (m_modelIndex.isEmpty()) {
        if (const qsizetype at = m_models.indexOf(model); at >= 0)
            return quint32(at + 1);
    } else if (const auto found = m_modelIndex.constFind(model); found != m_modelIndex.constEnd()) {
        return *found;
    }
    // Past 2^30 names (never in a real file) further ones read as empty.
    if (m_models.size() + 1 >= qsizetype(hasIdFlag))
        return 0;
    m_models.append(model);
    const quint32 index = quint32(m_models.size());
    if (!m_modelIndex.isEmpty()) {
        m_modelIndex.insert(model, index);
    } else if (m_models.size() > searchedModels) {
        for (qsizetype i = 0; i < m_models.size(); ++i)
            m_modelIndex.insert(m_models.at(i), quint32(i + 1));
    }
    return index;
}

size_t UsageLedger::findSlot(quint64 digest, quint32 check) const
{
    Q_ASSERT(!m_index.empty());
    const size_t mask = m_index.size() - 1;
    for (size_t slot = size_t(digest) & mask;; slot = (slot + 1) & mask) {
        const quint32 held = m_index[slot];
        if (held == 0)
            return slot;
        const Stored &entry = m_entries[held - 1];
        if (entry.idDigest == digest && entry.idCheck == check)
            return slot;
    }
}

void UsageLedger::growIndex()
{
    std::vector<quint32> old = std::exchange(m_index, std::vector<quint32>(std::max<size_t>(16, m_index.size() * 2)));
    for (const quint32 held : old) {
        if (held != 0) {
            const Stored &entry = m_entries[held - 1];
            m_index[findSlot(entry.idDigest, entry.idCheck)] = held;
        }
    }
}

void UsageLedger::add(const UsageLine &line)
{
    const UsageEntry &e = line.entry;
    Stored stored{e.input, e.output, e.cacheCreate, e.cacheRead, line.idDigest, line.idCheck,
                  internModel(e.model) | (line.hasId ? hasIdFlag : 0) | (e.sidechain ? sidechainFlag : 0)};
    m_undo = {};
    if (line.hasId) {
        // Grown at three quarters full: 4 bytes a slot keep the index at 5 to 11 bytes per id.
        if (size_t(m_indexed + 1) * 4 > m_index.size() * 3)
            growIndex();
        const size_t slot = findSlot(line.idDigest, line.idCheck);
        if (m_index[slot] != 0) {
            const qsizetype position = m_index[slot] - 1;
            m_undo = {Undo::replaced, position, slot, m_entries[size_t(position)]};
            m_entries[size_t(position)] = stored;
            return;
        }
        // Positions are kept in 32 bits: past 4 billion entries (never in a real file) ids stop merging.
        if (m_entries.size() < std::numeric_limits<quint32>::max()) {
            m_index[slot] = quint32(m_entries.size() + 1);
            ++m_indexed;
            m_undo = {Undo::appended, size(), slot, {}};
        }
    } else {
        m_undo = {Undo::appended, size(), std::numeric_limits<size_t>::max(), {}};
    }
    m_entries.push_back(stored);
}

void UsageLedger::undoLastAdd()
{
    switch (m_undo.kind) {
    case Undo::none:
        return;
    case Undo::replaced:
        m_entries[size_t(m_undo.position)] = m_undo.previous;
        break;
    case Undo::appended:
        Q_ASSERT(m_undo.position == size() - 1);
        m_entries.pop_back();
        // The newest key sits at the end of its probe chain: emptying its slot breaks no other.
        if (m_undo.slot != std::numeric_limits<size_t>::max()) {
            m_index[m_undo.slot] = 0;
            --m_indexed;
        }
        break;
    }
    m_undo = {};
}

void UsageLedger::clear()
{
    // A ledger that never held anything stays as it is: a fresh file's first read costs no
    // allocations for a second empty ledger.
    if (m_entries.empty() && m_index.empty() && m_models.isEmpty())
        return;
    *this = UsageLedger();
}

QString UsageLedger::modelName(quint32 modelAndFlags) const
{
    const quint32 index = modelAndFlags & (hasIdFlag - 1);
    return index == 0 ? QString() : m_models[index - 1];
}

UsageEntry UsageLedger::entry(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < size());
    const Stored &s = m_entries[size_t(position)];
    return {s.input, s.output, s.cacheCreate, s.cacheRead, modelName(s.modelAndFlags),
            (s.modelAndFlags & sidechainFlag) != 0};
}

QList<UsageEntry> UsageLedger::entries() const
{
    QList<UsageEntry> list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(entry(i));
    return list;
}

qint64 UsageLedger::totalTokens() const
{
    qint64 total = 0;
    for (const Stored &s : m_entries)
        total = saturatingAdd(total, UsageEntry{s.input, s.output, s.cacheCreate, s.cacheRead, {}, false}.total());
    return total;
}

std::optional<UsageEntry> UsageLedger::lastMainContext() const
{
    std::optional<UsageEntry> last;
    for (qsizetype i = size(); i-- > 0;) {
        const Stored &s = m_entries[size_t(i)];
        if ((s.modelAndFlags & sidechainFlag) || !(s.input > 0 || s.cacheRead > 0 || s.cacheCreate > 0))
            continue;
        if (!last)
            last = entry(i);
        else
            last->model = modelName(s.modelAndFlags);
        if (!last->model.isEmpty())
            break;
    }
    return last;
}

TranscriptReadContext::TranscriptReadContext(const std::atomic<bool> *stop, LineFilter filter)
    : m_stop(stop)
    , m_filter(filter)
    , m_parser(filter)
{
}

std::unique_ptr<TranscriptReadContext> TranscriptReadContext::sibling() const
{
    auto helper = std::make_unique<TranscriptReadContext>(m_stop, m_filter);
    helper->clockMs = clockMs;
    return helper;
}

TranscriptReadContext::~TranscriptReadContext() = default;

const ChunkBuffers &TranscriptReadContext::buffers()
{
    if (!m_buffers)
        m_buffers = std::make_unique<ChunkBuffers>(TranscriptLineParser::padding);
    return *m_buffers;
}

namespace {

constexpr qint64 rewriteSampleBytes = 4096;
constexpr qint64 fullReadPeriodMs = 10 * 60 * 1000;

// A digest of the file's bytes [from, from + length), length at most rewriteSampleBytes, taken
// from `held` (the file's bytes from `heldFrom` on) when it holds them all; absent when they
// cannot all be read.
std::optional<size_t> regionDigest(RegularFile &file, qint64 from, qint64 length, TranscriptReadContext &context,
                                   qint64 heldFrom = 0, QByteArrayView held = {})
{
    if (from >= heldFrom && from + length <= heldFrom + held.size())
        return sampleDigest(std::string_view(held.data() + (from - heldFrom), size_t(length)));
    char buffer[rewriteSampleBytes];
    if (!file.seek(from))
        return std::nullopt;
    qint64 filled = 0;
    while (filled < length) {
        const qint64 count = file.read(buffer + filled, length - filled);
        if (count <= 0)
            break;
        filled += count;
    }
    context.bytesRead += filled;
    if (filled != length)
        return std::nullopt;
    return sampleDigest(std::string_view(buffer, size_t(length)));
}

} // namespace

void TranscriptProgress::reset()
{
    m_offset = 0;
    m_guard.clear();
    m_samples.reset();
    m_tentative = false;
    m_ledger.clear();
}

std::optional<TranscriptProgress::Samples> TranscriptProgress::samples(RegularFile &file, qint64 offset,
                                                                       TranscriptReadContext &context,
                                                                       QByteArrayView justRead) const
{
    // Once the offset is past the first 4 KiB the head sample no longer moves: the kept one stands.
    // `offset` is never below m_offset here.
    const qint64 length = std::min(offset, rewriteSampleBytes);
    const std::optional<size_t> head = m_samples && m_offset >= rewriteSampleBytes
        ? std::optional<size_t>(m_samples->head)
        : regionDigest(file, 0, length, context, m_offset, justRead);
    const std::optional<size_t> tail = offset <= rewriteSampleBytes
        ? head
        : regionDigest(file, offset - length, length, context, m_offset, justRead);
    if (!head || !tail)
        return std::nullopt;
    return Samples{*head, *tail};
}

bool TranscriptProgress::unchangedBeforeOffset(RegularFile &file, TranscriptReadContext &context) const
{
    if (m_offset == 0)
        return true;
    if (!m_guard.isEmpty()) {
        QByteArray bytes(m_guard.size(), Qt::Uninitialized);
        if (!file.seek(m_offset - m_guard.size()) || file.read(bytes.data(), bytes.size()) != bytes.size()
            || bytes != m_guard)
            return false;
    }
    const qint64 length = std::min(m_offset, rewriteSampleBytes);
    const std::optional<size_t> head = regionDigest(file, 0, length, context);
    const std::optional<size_t> tail =
        m_offset <= rewriteSampleBytes ? head : regionDigest(file, m_offset - length, length, context);
    return m_samples && head == m_samples->head && tail == m_samples->tail;
}

bool TranscriptProgress::fullReadDue(const TranscriptReadContext &context) const
{
    return context.clockMs && m_fullReadAtMs && *context.clockMs - *m_fullReadAtMs >= fullReadPeriodMs;
}

TranscriptProgress::Result TranscriptProgress::update(const QString &path, TranscriptReadContext &context)
{
    return updateAt(nullptr, path, context);
}

TranscriptProgress::Result TranscriptProgress::update(const Directory &folder, const QString &name,
                                                      TranscriptReadContext &context, bool listedRegular)
{
    return updateAt(&folder, name, context, listedRegular);
}

TranscriptProgress::Result TranscriptProgress::updateAt(const Directory *folder, const QString &name,
                                                        TranscriptReadContext &context, bool listedRegular)
{
    if (fullReadDue(context)) {
        qCDebug(lcStats) << "reading a kept transcript whole again, as every ten minutes";
        reset();
        m_status.reset();
    }
    if (m_status && !m_tentative) {
        const std::optional<FileStatus> status = folder ? fileStatus(*folder, name) : fileStatus(name);
        if (status && *status == *m_status)
            return Result::read;
    }
    std::optional<RegularFile> opened;
    if (folder)
        opened.emplace(*folder, name, listedRegular);
    else
        opened.emplace(name);
    RegularFile &file = *opened;
    if (!file.isOpen()) {
        reset();
        m_device = m_inode = -1;
        return Result::unreadable;
    }
    const Result result = update(file, context);
    // Bytes appended after the open change the size, so the next stat tells them apart.
    if (result == Result::read)
        m_status = file.status();
    return result;
}

TranscriptProgress::Result TranscriptProgress::update(RegularFile &file, TranscriptReadContext &context)
{
    // An append always grows a file: the same size at another time means it was rewritten.
    const bool rewritten = m_status && file.size() == m_status->size && file.status().modified != m_status->modified;
    m_status.reset();
    const qint64 size = file.size();
    if (rewritten || file.device() != m_device || file.inode() != m_inode || size < m_offset
        || !unchangedBeforeOffset(file, context)) {
        if (m_offset > 0)
            qCDebug(lcStats) << "transcript replaced, shrunk or rewritten; reading it whole again";
        reset();
        m_device = file.device();
        m_inode = file.inode();
    }
    Q_ASSERT(m_offset <= size);
    if (m_tentative) {
        m_ledger.undoLastAdd();
        m_tentative = false;
    }
    if (m_offset == 0)
        m_fullReadAtMs = context.clockMs;
    if (size == m_offset)
        return Result::read;
    if (!file.seek(m_offset)) {
        reset();
        return Result::unreadable;
    }

    LineSplitter splitter;
    QByteArrayView justRead; // the bytes from m_offset on, when one chunk held them
    const Result result = readLines(
        file, size - m_offset, context, splitter,
        [&](const char *line, size_t length) {
            if (const std::optional<UsageLine> usage = context.parser().usage(line, length))
                m_ledger.add(*usage);
        },
        justRead);
    if (result != Result::read) {
        qCDebug(lcStats) << "transcript read" << (result == Result::stopped ? "stopped" : "failed") << "at"
                         << m_offset;
        reset();
        m_device = m_inode = -1;
        return result;
    }
    // The unfinished last line counts now if it parses, and is read again next time.
    if (const auto partial = splitter.partial()) {
        if (const std::optional<UsageLine> usage = context.parser().usage(partial->first, partial->second)) {
            m_ledger.add(*usage);
            m_tentative = true;
        }
    }
    // The bytes just before the offset are kept to notice a file rewritten in place.
    if (splitter.consumed() > 0) {
        m_samples = samples(file, m_offset + splitter.consumed(), context, justRead);
        m_offset += splitter.consumed();
        m_guard = splitter.lastLineEnd();
    }
    return Result::read;
}

namespace {

// Hands each line of a whole transcript held in memory to `onLine`, from a padded copy.
template<typename OnLine>
void forEachLine(QByteArrayView data, OnLine &&onLine)
{
    const size_t size = size_t(data.size());
    const auto padded = std::make_unique_for_overwrite<char[]>(size + TranscriptLineParser::padding);
    if (size)
        std::memcpy(padded.get(), data.data(), size);
    std::memset(padded.get() + size, 0, TranscriptLineParser::padding);
    const char *begin = padded.get();
    const char *end = begin + size;
    while (begin < end) {
        const char *lineEnd = static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
        if (!lineEnd)
            lineEnd = end;
        onLine(begin, size_t(lineEnd - begin));
        begin = lineEnd + 1;
    }
}

} // namespace

QList<UsageEntry> deduplicate(QByteArrayView data, LineFilter filter)
{
    TranscriptLineParser parser(filter);
    UsageLedger ledger;
    forEachLine(data, [&](const char *line, size_t length) {
        if (const std::optional<UsageLine> usage = parser.usage(line, length))
            ledger.add(*usage);
    });
    return ledger.entries();
}

QList<ContextPoint> contextTimeline(QByteArrayView data, LineFilter filter)
{
    TranscriptLineParser parser(filter);
    QList<ContextPoint> points;
    forEachLine(data, [&](const char *line, size_t length) {
        const std::optional<UsageLine> usage = parser.usage(line, length);
        if (!usage || !usage->entry.bearsContext() || usage->entry.sidechain)
            return;
        if (const std::optional<QDateTime> at = parser.timestamp(line, length))
            points.append({*at, usage->entry.context(), usage->entry.model});
    });
    return points;
}

QList<ContextPoint> transcriptContextTimeline(const QString &path)
{
    // A transcript of a long session runs to tens of megabytes; one far beyond is not read.
    constexpr qint64 maxTranscript = qint64(512) << 20;
    const std::optional<QByteArray> bytes = readRegularFile(path, maxTranscript);
    return bytes ? contextTimeline(*bytes) : QList<ContextPoint>();
}

std::optional<QString> firstSessionId(const QString &path, TranscriptReadContext &context)
{
    RegularFile file(path);
    if (!file.isOpen())
        return std::nullopt;
    std::optional<QString> found;
    LineSplitter splitter;
    // Reads chunk by chunk and stops at the first chunk that completes a line naming a session.
    ChunkReader reader(file, file.size(), context.buffers());
    while (!found && !context.stopRequested()) {
        const ChunkReader::Chunk chunk = reader.next();
        if (chunk.size <= 0)
            break;
        context.bytesRead += chunk.size;
        splitter.feed(chunk.data, chunk.data + chunk.size, [&](const char *line, size_t length) {
            if (!found)
                found = context.parser().sessionId(line, length);
        });
        reader.release();
    }
    if (!found && !context.stopRequested()) {
        if (const auto partial = splitter.partial())
            found = context.parser().sessionId(partial->first, partial->second);
    }
    return found;
}
