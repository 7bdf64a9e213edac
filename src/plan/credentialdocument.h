#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// Claude Code's token document: a JSON object whose "claudeAiOauth" member holds the token set.
namespace CredentialDocument {

// The "claudeAiOauth" object, or absent when the bytes are not a JSON object holding one.
std::optional<QJsonObject> tokenSet(const QByteArray &document);

} // namespace CredentialDocument
