#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <optional>

// Pure decisions of the fetch, kept apart so each can be checked on its own.
namespace PlanRules {

// A token read from Claude Code's document is sent in a header only when it is not empty,
// at most 16 KiB, and holds only the characters of an OAuth bearer token
// (A-Z a-z 0-9 - . _ ~ + /, then any number of '='). A CR or LF could otherwise start a header.
bool isValidToken(const QString &token);

// How long a 429 holds: Retry-After in seconds or as an HTTP date; missing, 0, past or
// unreadable gives 60 s, and never more than 15 min.
std::chrono::seconds retryAfter(const QByteArray &header, const QDateTime &now);

// The endpoint to use: `standard`, or the override text when it is an http(s) URL on the
// loopback host (127.0.0.1, ::1, localhost), so an override can never send the token away.
// A refused override leaves `complaint` holding one line for stderr.
QUrl endpoint(const QUrl &standard, const QString &overrideText, QString *complaint);

// The macOS keychain item names to try, in order. With CLAUDE_CONFIG_DIR set, Claude Code names
// its item "Claude Code-credentials-" + the first 8 hex digits of SHA-256 of the directory path
// (NFC); that name is tried first, then the plain one.
QStringList keychainServiceNames(const QString &configDirVariable);

} // namespace PlanRules
