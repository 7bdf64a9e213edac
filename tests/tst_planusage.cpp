#include "planusage.h"
#include "planusagefetcher.h"

#include <QtTest>

#include <limits>

using OptionalMs = std::optional<qint64>;
Q_DECLARE_METATYPE(OptionalMs)
Q_DECLARE_METATYPE(PlanUsage)

namespace {

QDateTime utc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

OptionalMs msOf(const std::optional<QDateTime> &time)
{
    return time ? OptionalMs(time->toMSecsSinceEpoch()) : std::nullopt;
}

// 2025-06-01T14:00:00Z
constexpr qint64 june1 = 1748786400000;

} // namespace

class TestPlanUsage : public QObject
{
    Q_OBJECT

private slots:
    void percent_data()
    {
        QTest::addColumn<double>("utilization");
        QTest::addColumn<qint64>("percent");
        QTest::addRow("half rounds up") << 42.5 << qint64(42 + 1);
        QTest::addRow("just below half") << 42.49 << qint64(42);
        QTest::addRow("rounds up to the cap") << 99.6 << qint64(100);
        QTest::addRow("above the cap") << 130.0 << qint64(100);
        QTest::addRow("small negative rounds to zero") << -0.4 << qint64(0);
        QTest::addRow("negative kept") << -3.0 << qint64(-3);
        QTest::addRow("negative half away from zero") << -2.5 << qint64(-3);
        QTest::addRow("huge") << 1e300 << qint64(100);
        QTest::addRow("infinite") << std::numeric_limits<double>::infinity() << qint64(100);
        QTest::addRow("huge negative saturates") << -1e300 << std::numeric_limits<qint64>::min();
        QTest::addRow("just inside the 64-bit range") << -9.2e18 << qint64(-9200000000000000000);
        QTest::addRow("not a number") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
    }
    void percent()
    {
        QFETCH(double, utilization);
        QFETCH(qint64, percent);
        PlanUsage usage;
        usage.sessionUtilization = utilization;
        usage.weeklyUtilization = utilization;
        QCOMPARE(usage.sessionPercent(), percent);
        QCOMPARE(usage.weeklyPercent(), percent);
    }

    void resetTimerString_data()
    {
        QTest::addColumn<std::optional<qint64>>("sessionAhead"); // ms from now, absent for none
        QTest::addColumn<std::optional<qint64>>("weeklyAhead");
        QTest::addColumn<bool>("weekly");
        QTest::addColumn<QString>("text");
        const qint64 s = 1000;
        QTest::addRow("days hours minutes, seconds dropped")
            << std::optional<qint64>((86400 + 2 * 3600 + 3 * 60 + 59) * s) << std::optional<qint64>() << false
            << "01 02 03";
        QTest::addRow("under a minute") << std::optional<qint64>(59 * s) << std::optional<qint64>() << false
                                        << "00 00 00";
        QTest::addRow("sub-second before a minute") << std::optional<qint64>(60 * s - 1) << std::optional<qint64>()
                                                    << false << "00 00 00";
        QTest::addRow("in the past") << std::optional<qint64>(-3600 * s) << std::optional<qint64>() << false
                                     << "00 00 00";
        QTest::addRow("days capped at 99, hours and minutes kept")
            << std::optional<qint64>() << std::optional<qint64>((150 * 86400 + 5 * 3600 + 30 * 60 + 20) * s) << true
            << "99 05 30";
        QTest::addRow("session asked, only weekly known")
            << std::optional<qint64>() << std::optional<qint64>(7200 * s) << false << "00 00 00";
        QTest::addRow("weekly picks the weekly window")
            << std::optional<qint64>(60 * s) << std::optional<qint64>((3 * 86400 + 3600) * s) << true << "03 01 00";
    }
    void resetTimerString()
    {
        QFETCH(std::optional<qint64>, sessionAhead);
        QFETCH(std::optional<qint64>, weeklyAhead);
        QFETCH(bool, weekly);
        QFETCH(QString, text);
        const QDateTime now = utc(june1);
        PlanUsage usage;
        if (sessionAhead)
            usage.sessionResetsAt = now.addMSecs(*sessionAhead);
        if (weeklyAhead)
            usage.weeklyResetsAt = now.addMSecs(*weeklyAhead);
        QCOMPARE(usage.resetTimerString(weekly, now), text);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<PlanUsage>("usage");
        const PlanUsage empty;
        QTest::addRow("empty body") << QByteArray() << empty;
        QTest::addRow("array") << QByteArray("[1,2]") << empty;
        QTest::addRow("null") << QByteArray("null") << empty;
        QTest::addRow("not JSON") << QByteArray("<html>") << empty;
        QTest::addRow("not UTF-8") << QByteArray("{\"five_hour\":{\"utilization\":1,\"x\":\"\xff\xfe\"}}") << empty;
        QTest::addRow("deep nesting") << QByteArray(100000, '[') << empty;
        QTest::addRow("both windows")
            << QByteArray(R"({"five_hour":{"utilization":12.5,"resets_at":"2025-06-01T14:00:00Z"},)"
                          R"("seven_day":{"utilization":80,"resets_at":"2025-06-01T14:00:00.250+00:00"},"other":1})")
            << PlanUsage{12.5, utc(june1), 80, utc(june1 + 250)};
        QTest::addRow("integer utilisation, no reset")
            << QByteArray(R"({"five_hour":{"utilization":12}})") << PlanUsage{12, {}, 0, {}};
        QTest::addRow("session window not an object, weekly still read")
            << QByteArray(R"({"five_hour":"busy","seven_day":{"utilization":3}})") << PlanUsage{0, {}, 3, {}};
        QTest::addRow("utilisation not a number, reset not a string")
            << QByteArray(R"({"five_hour":{"utilization":"12","resets_at":1748786400},"seven_day":{"utilization":null,"resets_at":"tomorrow"}})")
            << PlanUsage{0, {}, 0, {}};
        QTest::addRow("huge utilisation")
            << QByteArray(R"({"seven_day":{"utilization":1e300}})") << PlanUsage{0, {}, 1e300, {}};
    }
    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(PlanUsage, usage);
        const PlanUsage parsed = PlanUsageFetcher::parse(body);
        QCOMPARE(parsed.sessionUtilization, usage.sessionUtilization);
        QCOMPARE(parsed.weeklyUtilization, usage.weeklyUtilization);
        QCOMPARE(msOf(parsed.sessionResetsAt), msOf(usage.sessionResetsAt));
        QCOMPARE(msOf(parsed.weeklyResetsAt), msOf(usage.weeklyResetsAt));
    }

    void parseDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalMs>("ms");
        const OptionalMs none;
        // Internet date-time with a fraction of any length.
        QTest::addRow("fraction, Z") << "2025-06-01T14:00:00.123Z" << OptionalMs(june1 + 123);
        QTest::addRow("one fraction digit") << "2025-06-01T14:00:00.5Z" << OptionalMs(june1 + 500);
        QTest::addRow("nine fraction digits, truncated to ms") << "2025-06-01T14:00:00.123456789Z" << OptionalMs(june1 + 123);
        QTest::addRow("fraction, +hh:mm") << "2025-06-01T16:00:00.000+02:00" << OptionalMs(june1);
        QTest::addRow("fraction, -hh:mm") << "2025-06-01T09:30:00.000-04:30" << OptionalMs(june1);
        // Without a fraction.
        QTest::addRow("no fraction, Z") << "2025-06-01T14:00:00Z" << OptionalMs(june1);
        QTest::addRow("no fraction, +hh:mm") << "2025-06-01T15:00:00+01:00" << OptionalMs(june1);
        // Pattern forms: six fraction digits or none, zone also without a colon.
        QTest::addRow("six digits, +hhmm") << "2025-06-01T16:00:00.654321+0200" << OptionalMs(june1 + 654);
        QTest::addRow("six digits, -hhmm") << "2025-06-01T13:00:00.000000-0100" << OptionalMs(june1);
        QTest::addRow("no fraction, +hhmm") << "2025-06-01T14:00:00+0000" << OptionalMs(june1);
        QTest::addRow("leap day") << "2024-02-29T00:00:00Z" << OptionalMs(1709164800000);
        // Near misses.
        QTest::addRow("three digits with +hhmm") << "2025-06-01T14:00:00.123+0200" << none;
        QTest::addRow("no zone") << "2025-06-01T14:00:00" << none;
        QTest::addRow("empty fraction") << "2025-06-01T14:00:00.Z" << none;
        QTest::addRow("space for T") << "2025-06-01 14:00:00Z" << none;
        QTest::addRow("lower-case z") << "2025-06-01T14:00:00z" << none;
        QTest::addRow("short zone") << "2025-06-01T14:00:00+02" << none;
        QTest::addRow("trailing text") << "2025-06-01T14:00:00Zx" << none;
        QTest::addRow("leading space") << " 2025-06-01T14:00:00Z" << none;
        QTest::addRow("date only") << "2025-06-01" << none;
        QTest::addRow("month 13") << "2025-13-01T14:00:00Z" << none;
        QTest::addRow("31 April") << "2025-04-31T14:00:00Z" << none;
        QTest::addRow("29 February, common year") << "2025-02-29T14:00:00Z" << none;
        QTest::addRow("hour 24") << "2025-06-01T24:00:00Z" << none;
        QTest::addRow("minute 60") << "2025-06-01T14:60:00Z" << none;
        QTest::addRow("second 60") << "2025-06-01T14:00:60Z" << none;
        QTest::addRow("offset minute 60") << "2025-06-01T14:00:00+01:60" << none;
        QTest::addRow("non-ASCII digits") << QString::fromUtf8("２０２５-06-01T14:00:00Z") << none;
        QTest::addRow("word") << "tomorrow" << none;
        QTest::addRow("empty") << "" << none;
    }
    void parseDate()
    {
        QFETCH(QString, text);
        QFETCH(OptionalMs, ms);
        QCOMPARE(msOf(PlanUsageFetcher::parseDate(text)), ms);
    }

    void parseDateOfNothing() { QVERIFY(!PlanUsageFetcher::parseDate(std::nullopt)); }
};

QTEST_GUILESS_MAIN(TestPlanUsage)
#include "tst_planusage.moc"
