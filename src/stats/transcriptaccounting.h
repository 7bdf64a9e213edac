#pragma once

// Token accounting of one transcript file: lines are read as whole JSON documents, entries
// with the same message id are merged, and sums saturate instead of overflowing.

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// One de-duplicated model call.
struct UsageEntry
{
    qint64 input = 0;
    qint64 output = 0;
    qint64 cacheCreate = 0;
    qint64 cacheRead = 0;
    QString model;

    // input + output + cache creation + cache read, saturated at the 64-bit limits.
    qint64 total() const;
    // True when the call carried context: any of input, cache read, cache creation above 0.
    bool bearsContext() const { return input > 0 || cacheRead > 0 || cacheCreate > 0; }

    friend bool operator==(const UsageEntry &, const UsageEntry &) = default;
};

// a + b, held at the 64-bit limits instead of overflowing.
qint64 saturatingAdd(qint64 a, qint64 b);

// Context window in tokens of a model name; every family known so far has 200000.
qint64 contextWindowForModel(const QString &model);

// Collects usage entries line by line. Each message id keeps the position of its first line and
// the values of its last; a line without a string id never merges with another.
class UsageDeduplicator
{
public:
    // Bytes that must stay readable past the end of a line given to addPaddedLine().
    static constexpr size_t padding = 128;

    UsageDeduplicator();
    ~UsageDeduplicator();
    UsageDeduplicator(const UsageDeduplicator &) = delete;
    UsageDeduplicator &operator=(const UsageDeduplicator &) = delete;

    // One line without its line feed; [line + size, line + size + padding) must be readable.
    void addPaddedLine(const char *line, size_t size);

    const std::vector<UsageEntry> &entries() const { return m_entries; }
    std::vector<UsageEntry> takeEntries() { return std::move(m_entries); }

private:
    struct Parser;
    std::unique_ptr<Parser> m_parser;
    std::vector<UsageEntry> m_entries;
    std::unordered_map<std::string, size_t> m_positions;
};

// The de-duplicated entries of a whole transcript held in memory.
QList<UsageEntry> deduplicate(QByteArrayView data);

// The de-duplicated entries of a transcript file, streamed in chunks so that memory stays
// bounded by the longest line rather than the file; absent when the file is not a regular file
// or cannot be read. Adds the bytes read to *bytesRead when given.
std::optional<std::vector<UsageEntry>> deduplicateFile(const QString &path,
                                                       qint64 *bytesRead = nullptr);
