#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// Claude Code's token document: a JSON object whose "claudeAiOauth" member holds the token set.
namespace CredentialDocument {

// The "claudeAiOauth" object, or absent when the bytes are not a JSON object holding one.
std::optional<QJsonObject> tokenSet(const QByteArray &document);

// The document with "accessToken", "refreshToken" and "expiresAt" of its token set replaced
// (added when missing); every other member at both levels keeps its value. Absent when the
// document has no token set, since the program never creates one. "expiresAt" is written
// from the double as it is, not rounded to whole milliseconds.
std::optional<QByteArray> withRenewedTokens(const QByteArray &document, const QString &accessToken,
                                            const QString &refreshToken, double expiresAt);

} // namespace CredentialDocument
