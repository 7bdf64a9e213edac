#pragma once

// Token accounting of transcript files: lines are read as whole JSON documents, entries with the
// same message id are merged, sums saturate instead of overflowing, and a file that grows is read
// on from where the last cycle stopped.

#include "fileaccess.h"
#include "linefilter.h"
#include "sessionstats.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class ChunkBuffers;

// One de-duplicated model call.
struct UsageEntry
{
    qint64 input = 0;
    qint64 output = 0;
    qint64 cacheCreate = 0;
    qint64 cacheRead = 0;
    QString model;
    bool sidechain = false; // written by a subagent inside the main transcript ("isSidechain")

    // input + output + cache creation + cache read, saturated at the 64-bit limits.
    qint64 total() const;
    // True when the call carried context: any of input, cache read, cache creation above 0.
    bool bearsContext() const { return input > 0 || cacheRead > 0 || cacheCreate > 0; }
    // input + cache read + cache creation, saturated.
    qint64 context() const { return saturatingAdd(saturatingAdd(input, cacheRead), cacheCreate); }

    friend bool operator==(const UsageEntry &, const UsageEntry &) = default;
};

// Context window in tokens: 1,000,000 when the model name holds "[1m]" (any case) or when the
// context plus output has outgrown 200,000; otherwise the model family's window.
qint64 contextWindow(const QString &model, qint64 contextAndOutput);

// A line's usage, with a 96-bit digest of its message id when it has a string one.
struct UsageLine
{
    UsageEntry entry;
    bool hasId = false;
    quint64 idDigest = 0;
    quint32 idCheck = 0;
};

// Parses transcript lines. One serves every file of a cycle, so no file pays for its setup.
class TranscriptLineParser
{
public:
    // Bytes that must stay readable past the end of a line handed to the parser.
    static constexpr size_t padding = 128;

    explicit TranscriptLineParser(LineFilter filter = fastestLineFilter());
    ~TranscriptLineParser();
    Q_DISABLE_COPY_MOVE(TranscriptLineParser)

    // The usage of one line without its line feed; absent when the line holds no
    // "message"."usage" object. [line + size, line + size + padding) must be readable.
    std::optional<UsageLine> usage(const char *line, size_t size);
    // The line's top-level string "sessionId", when it is a JSON object holding one.
    std::optional<QString> sessionId(const char *line, size_t size);
    // The line's top-level "timestamp" (ISO 8601), when it is a JSON object holding a valid one.
    std::optional<QDateTime> timestamp(const char *line, size_t size);

private:
    std::optional<QString> topLevelString(const char *line, size_t size, std::string_view key);

    struct State;
    std::unique_ptr<State> m_state;
};

// The de-duplicated entries of one file: each message id keeps the position of its first line
// and the values of its last; a line without a string id never merges with another. Ids are kept
// as 96-bit digests and models once per name, so an entry takes about 53 bytes (48 and its share
// of the deque's blocks) and its index 5 to 11.
class UsageLedger
{
public:
    void add(const UsageLine &line);
    // Takes back the last add(): used for a last line that has no line feed yet.
    void undoLastAdd();
    void clear();

    qsizetype size() const { return qsizetype(m_entries.size()); }
    UsageEntry entry(qsizetype position) const;
    QList<UsageEntry> entries() const;
    // Sum of every entry's total, saturated.
    qint64 totalTokens() const;
    // The last entry in list order that bears context and is not a sidechain's; its model is
    // the last non-empty one of such entries, which decides the context window.
    std::optional<UsageEntry> lastMainContext() const;

private:
    struct Stored
    {
        qint64 input, output, cacheCreate, cacheRead;
        quint64 idDigest;
        quint32 idCheck;
        quint32 modelAndFlags; // model index in the low 30 bits, then "has id", then sidechain
    };
    static_assert(sizeof(Stored) == 48);
    static constexpr quint32 hasIdFlag = 1u << 30;
    static constexpr quint32 sidechainFlag = 1u << 31;
    static constexpr qsizetype searchedModels = 8; // more models than this are found through m_modelIndex

    quint32 internModel(const QString &model);
    QString modelName(quint32 modelAndFlags) const;
    size_t findSlot(quint64 digest, quint32 check) const;
    void growIndex();

    std::deque<Stored> m_entries;
    std::vector<quint32> m_index; // open addressing: entry position + 1, 0 for an empty slot
    qsizetype m_indexed = 0;
    QList<QString> m_models; // index 0 is the empty name, index i the name at i - 1
    QHash<QString, quint32> m_modelIndex; // empty while there are few models
    struct Undo
    {
        enum { none, appended, replaced } kind = none;
        qsizetype position = 0;
        size_t slot = 0;
        Stored previous{};
    } m_undo;
};

// What one cycle shares among the files it reads: the parser, the read buffers, the stop flag
// and the count of bytes read.
class TranscriptReadContext
{
public:
    explicit TranscriptReadContext(const std::atomic<bool> *stop = nullptr,
                                   LineFilter filter = fastestLineFilter());
    ~TranscriptReadContext();
    Q_DISABLE_COPY_MOVE(TranscriptReadContext)

    bool stopRequested() const { return m_stop && m_stop->load(std::memory_order_relaxed); }
    // A context for a helper thread of the same cycle: the same stop flag, line filter and clock,
    // its own parser, buffers and count.
    std::unique_ptr<TranscriptReadContext> sibling() const;
    TranscriptLineParser &parser() { return m_parser; }
    const ChunkBuffers &buffers();
    qint64 bytesRead = 0;
    // A monotonic time in milliseconds, for the periodic full re-read of kept transcripts;
    // absent for reads that keep nothing.
    std::optional<qint64> clockMs;

private:
    const std::atomic<bool> *m_stop;
    LineFilter m_filter;
    TranscriptLineParser m_parser;
    std::unique_ptr<ChunkBuffers> m_buffers;
};

// What has been read of one transcript file, so that the next read parses only the bytes
// appended since. A last line without its line feed counts if it parses but is read again
// next time; a file that shrank, was replaced or changed before the offset is read whole again.
// Changes before the offset are told by the last bytes before it and digests of the first 4 KiB
// and of the 4 KiB before it; a rewrite that keeps all of them is caught by reading the file
// whole again once it was last read whole 10 minutes ago (by the context's clock).
class TranscriptProgress
{
public:
    enum class Result { read, unreadable, stopped };

    // Brings the ledger up to date with the file, reading it no further than the size it had
    // when opened. After `unreadable` the ledger is empty; after `stopped` it is incomplete
    // and the next update reads the file whole.
    // With a path, a file whose status (size, time, inode) is as at the last complete read is
    // not even opened.
    Result update(const QString &path, TranscriptReadContext &context);
    // The same for the file `name` (no "/") in `folder`: thousands of files of one folder are
    // reached without walking its path each time. `listedRegular` as for RegularFile.
    Result update(const Directory &folder, const QString &name, TranscriptReadContext &context,
                  bool listedRegular = false);
    Result update(RegularFile &file, TranscriptReadContext &context);

    const UsageLedger &ledger() const { return m_ledger; }
    qint64 device() const { return m_device; }
    qint64 inode() const { return m_inode; }

private:
    struct Samples
    {
        size_t head = 0; // digest of the first min(4 KiB, offset) bytes
        size_t tail = 0; // digest of the min(4 KiB, offset) bytes before the offset
        friend bool operator==(const Samples &, const Samples &) = default;
    };

    void reset();
    // update() of `name` in `folder`, or of the path `name` without one.
    Result updateAt(const Directory *folder, const QString &name, TranscriptReadContext &context,
                    bool listedRegular = false);
    bool unchangedBeforeOffset(RegularFile &file, TranscriptReadContext &context) const;
    // `justRead` holds the file's bytes from m_offset on, as far as they are still in memory.
    std::optional<Samples> samples(RegularFile &file, qint64 offset, TranscriptReadContext &context,
                                   QByteArrayView justRead) const;
    bool fullReadDue(const TranscriptReadContext &context) const;

    qint64 m_device = -1;
    qint64 m_inode = -1;
    qint64 m_offset = 0;  // bytes taken into the ledger, up to and including a line feed
    QByteArray m_guard;   // the last bytes before m_offset, compared to tell the file unchanged
    std::optional<Samples> m_samples; // taken at m_offset
    std::optional<qint64> m_fullReadAtMs; // the context's clock when the file was last read from 0
    bool m_tentative = false; // the ledger's last add() is a line still without its line feed
    UsageLedger m_ledger;
    std::optional<FileStatus> m_status; // the file as it was at the last complete read
};

// The de-duplicated entries of a whole transcript held in memory.
QList<UsageEntry> deduplicate(QByteArrayView data, LineFilter filter = fastestLineFilter());

// One main-conversation call's context, at the time its transcript line carries.
struct ContextPoint
{
    QDateTime at; // UTC
    qint64 tokens = 0;
    QString model;

    friend bool operator==(const ContextPoint &, const ContextPoint &) = default;
};

// The context of each main-conversation call of a whole transcript held in memory, in file
// order: lines that bear context, are not a subagent's and carry a timestamp.
QList<ContextPoint> contextTimeline(QByteArrayView data, LineFilter filter = fastestLineFilter());
// The same for a transcript file; empty when it cannot be read.
QList<ContextPoint> transcriptContextTimeline(const QString &path);

// The string "sessionId" of the first line of a file that has one; absent when none does or the
// file cannot be read.
std::optional<QString> firstSessionId(const QString &path, TranscriptReadContext &context);
