#include "displaytext.h"

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

constexpr qsizetype maxCharacters = 64;
// No name worth showing needs more; a 1 MiB model name is not scanned to its end.
constexpr qsizetype maxScanned = 4096;

bool isUnwanted(char32_t code)
{
    switch (code) {
    case 0x061C: // arabic letter mark
    case 0x200E: // left-to-right mark
    case 0x200F: // right-to-left mark
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        break;
    }
    if (code >= 0x202A && code <= 0x202E) // embeddings and overrides
        return true;
    if (code >= 0x2066 && code <= 0x2069) // isolates
        return true;
    return QChar::category(code) == QChar::Other_Control;
}

// The characters of one grapheme cluster that may be shown.
QString shownPart(QStringView cluster)
{
    QString kept;
    for (const char32_t code : cluster.toUcs4())
        if (!isUnwanted(code))
            kept += QString::fromUcs4(&code, 1);
    return kept;
}

} // namespace

QString sanitizedDisplayText(const QString &text)
{
    const QString scanned = text.left(maxScanned);
    QStringList clusters;
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, scanned);
    for (qsizetype start = 0; start < scanned.size() && clusters.size() <= maxCharacters;) {
        qsizetype end = boundaries.toNextBoundary();
        if (end <= start)
            end = scanned.size();
        const QString cluster = shownPart(QStringView(scanned).sliced(start, end - start));
        if (!cluster.isEmpty())
            clusters << cluster;
        start = end;
    }
    // More than fits, or more than was scanned: the last place shows that something was cut.
    if (clusters.size() > maxCharacters || text.size() > maxScanned) {
        clusters.resize(std::min(clusters.size(), maxCharacters - 1));
        clusters << QStringLiteral("\u2026");
    }
    return clusters.join(QString());
}

QString durationText(qint64 seconds)
{
    const qint64 minutes = seconds / 60;
    if (minutes < 1)
        return QStringLiteral("less than a minute");
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    if (minutes < 24 * 60)
        return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 d %2 h").arg(minutes / (24 * 60)).arg(minutes % (24 * 60) / 60);
}

QString clockText(const QDateTime &when, const QDateTime &now)
{
    const QDateTime local = when.toLocalTime();
    if (now.isValid() && local.date() != now.toLocalTime().date())
        return local.toString(QStringLiteral("d MMM HH:mm"));
    return local.toString(QStringLiteral("HH:mm"));
}
