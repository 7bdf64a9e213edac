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

std::optional<QByteArray> withRenewedTokens(const QByteArray &document, const QString &accessToken,
                                            const QString &refreshToken, double expiresAt)
{
    std::optional<QJsonObject> top = topLevel(document);
    if (!top)
        return std::nullopt;
    const QJsonValue value = top->value(tokenSetKey);
    if (!value.isObject())
        return std::nullopt;
    QJsonObject tokens = value.toObject();
    tokens.insert(QStringLiteral("accessToken"), accessToken);
    tokens.insert(QStringLiteral("refreshToken"), refreshToken);
    tokens.insert(QStringLiteral("expiresAt"), expiresAt);
    top->insert(tokenSetKey, tokens);
    return QJsonDocument(*top).toJson(QJsonDocument::Compact);
}

} // namespace CredentialDocument
