// Arbitrary bytes for the report, timestamp and token document parsers: none may crash, and
// percentages stay within 0..100.
#include "credentialdocument.h"
#include "planusage.h"
#include "planusagefetcher.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const PlanUsage usage = PlanUsageFetcher::parse(bytes).value_or(PlanUsage{});
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1765000000000, Qt::UTC);
    for (const std::optional<qint64> percent : {usage.fiveHourPercent(), usage.weeklyPercent()})
        if (percent && (*percent < 0 || *percent > 100))
            std::abort();
    (void)usage.resetTimerString(false, now);
    (void)usage.resetTimerString(true, now);

    if (const std::optional<QDateTime> instant = PlanUsageFetcher::parseDate(QString::fromUtf8(bytes));
        instant && !instant->isValid())
        std::abort();

    (void)CredentialDocument::tokenSet(bytes);
    return 0;
}
