#include "credentialdocument.h"

#include <QJsonDocument>

namespace CredentialDocument {

namespace {

std::optional<QJsonObject> topLevel(const QByteArray &document)
{
    const QJsonDocument parsed = QJsonDocument::fromJson(document);
    if (!parsed.isObject())
        return std::nullopt;
    return parsed.object();
}

const QString tokenSetKey = QStringLiteral("claudeAiOauth");

} // namespace

std::optional<QJsonObject> tokenSet(const QByteArray &document)
{
    const std::optional<QJsonObject> top = topLevel(document);
    if (!top)
        return std::nullopt;
    const QJsonValue value = top->value(tokenSetKey);
    if (!value.isObject())
        return std::nullopt;
    return value.toObject();
}

} // namespace CredentialDocument
