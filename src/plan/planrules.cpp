#include "planrules.h"

#include <QCryptographicHash>
#include <QLocale>


namespace PlanRules {

namespace {

constexpr qsizetype maxTokenLength = 16 * 1024;
constexpr std::chrono::seconds defaultRetryAfter(60);
constexpr std::chrono::seconds maxRetryAfter(15 * 60);

bool isTokenCharacter(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'
        || c == u'.' || c == u'_' || c == u'~' || c == u'+' || c == u'/';
}

// An HTTP date (IMF-fixdate, the only form servers send today), as UTC. Date and time are read
// apart: read together they would be a local time, which a daylight-saving gap can shift.
std::optional<QDateTime> httpDate(const QByteArray &text)
{
    const QString fixdate = QString::fromLatin1(text.trimmed());
    const QStringList parts = fixdate.split(u' ');
    if (parts.size() != 6 || parts[5] != QLatin1String("GMT"))
        return std::nullopt;
    const QDate date = QLocale::c().toDate(parts.mid(0, 4).join(u' '), QStringLiteral("ddd, dd MMM yyyy"));
    const QTime time = QTime::fromString(parts[4], QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

} // namespace

bool isValidToken(const QString &token)
{
    if (token.isEmpty() || token.size() > maxTokenLength)
        return false;
    qsizetype end = token.size();
    while (end > 0 && token[end - 1] == u'=')
        --end;
    if (end == 0)
        return false;
    for (qsizetype i = 0; i < end; ++i)
        if (!isTokenCharacter(token[i].unicode()))
            return false;
    return true;
}

std::chrono::seconds retryAfter(const QByteArray &header, const QDateTime &now)
{
    qint64 seconds = 0;
    bool isNumber = false;
    const qint64 number = header.trimmed().toLongLong(&isNumber);
    if (isNumber)
        seconds = number;
    else if (const std::optional<QDateTime> date = httpDate(header))
        seconds = now.secsTo(*date);
    if (seconds <= 0)
        return defaultRetryAfter;
    return std::min(std::chrono::seconds(seconds), maxRetryAfter);
}

QUrl endpoint(const QUrl &standard, const QString &overrideText, QString *complaint)
{
    if (overrideText.isEmpty())
        return standard;
    const QUrl url(overrideText, QUrl::StrictMode);
    const QString host = url.host();
    const bool http = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    const bool loopback = host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1")
        || host == QLatin1String("::1");
    if (url.isValid() && http && loopback && url.userInfo().isEmpty())
        return url;
    if (complaint)
        *complaint = QStringLiteral("glimmerox: ignoring %1: only http(s) URLs on 127.0.0.1, ::1 or localhost are used")
                         .arg(overrideText);
    return standard;
}

QStringList keychainServiceNames(const QString &configDirVariable)
{
    const QString plain = QStringLiteral("Claude Code-credentials");
    if (configDirVariable.isEmpty())
        return {plain};
    const QByteArray digest = QCryptographicHash::hash(
        configDirVariable.normalized(QString::NormalizationForm_C).toUtf8(), QCryptographicHash::Sha256);
    return {plain + u'-' + QString::fromLatin1(digest.toHex().left(8)), plain};
}

} // namespace PlanRules
