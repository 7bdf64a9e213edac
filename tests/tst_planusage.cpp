#include "planusage.h"
#include "planusagefetcher.h"

#include <QtTest>

#include <limits>

using OptionalMs = std::optional<qint64>;
Q_DECLARE_METATYPE(PlanUsage)

namespace {

QDateTime utc(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC); }
OptionalMs msOf(const std::optional<QDateTime> &time)
{
    return time ? OptionalMs(time->toMSecsSinceEpoch()) : std::nullopt;
}
constexpr qint64 june1 = 1748786400000; // 2025-06-01T14:00:00Z
constexpr qint64 second = 1000;

} // namespace

class TestPlanUsage : public QObject
{
    Q_OBJECT

private slots:
    void percent_data()
    {
        QTest::addColumn<double>("utilization");
        QTest::addColumn<qint64>("percent");
        QTest::addRow("half away from zero") << 42.5 << qint64(43);
        QTest::addRow("just below half") << 42.49 << qint64(42);
        QTest::addRow("rounds up to the cap") << 99.6 << qint64(100);
        QTest::addRow("above the cap") << 130.0 << qint64(100);
        QTest::addRow("small negative") << -0.4 << qint64(0);
        QTest::addRow("negative half away from zero") << -2.5 << qint64(-3);
        QTest::addRow("huge") << 1e300 << qint64(100);
        QTest::addRow("huge negative saturates") << -1e300 << std::numeric_limits<qint64>::min();
        QTest::addRow("not a number") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
    }
    void percent()
    {
        QFETCH(double, utilization);
        QFETCH(qint64, percent);
        const PlanUsage usage{utilization, {}, utilization, {}};
        QCOMPARE(usage.fiveHourPercent(), std::optional<qint64>(percent));
        QCOMPARE(usage.weeklyPercent(), std::optional<qint64>(percent));
    }

    void resetTimerString_data()
    {
        QTest::addColumn<OptionalMs>("sessionAhead"); // from now
        QTest::addColumn<OptionalMs>("weeklyAhead");
        QTest::addColumn<bool>("weekly");
        QTest::addColumn<QString>("text");
        const OptionalMs none;
        QTest::addRow("seconds dropped") << OptionalMs((86400 + 2 * 3600 + 3 * 60 + 59) * second) << none << false
                                         << "01 02 03";
        QTest::addRow("under a minute") << OptionalMs(60 * second - 1) << none << false << "00 00 00";
        QTest::addRow("in the past") << OptionalMs(-3600 * second) << none << false << "00 00 00";
        QTest::addRow("days capped, the rest kept")
            << none << OptionalMs((150 * 86400 + 5 * 3600 + 30 * 60 + 20) * second) << true << "99 05 30";
        QTest::addRow("session asked, only weekly known") << none << OptionalMs(7200 * second) << false << "00 00 00";
        QTest::addRow("weekly window chosen") << OptionalMs(60 * second) << OptionalMs(90000 * second) << true
                                              << "01 01 00";
    }
    void resetTimerString()
    {
        QFETCH(OptionalMs, sessionAhead);
        QFETCH(OptionalMs, weeklyAhead);
        QFETCH(bool, weekly);
        QFETCH(QString, text);
        PlanUsage usage;
        if (sessionAhead)
            usage.fiveHourResetsAt = utc(june1 + *sessionAhead);
        if (weeklyAhead)
            usage.weeklyResetsAt = utc(june1 + *weeklyAhead);
        QCOMPARE(usage.resetTimerString(weekly, utc(june1)), text);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<PlanUsage>("usage");
        QTest::addRow("empty body") << QByteArray() << PlanUsage{};
        QTest::addRow("array") << QByteArray("[1,2]") << PlanUsage{};
        QTest::addRow("null") << QByteArray("null") << PlanUsage{};
        QTest::addRow("not UTF-8") << QByteArray("{\"five_hour\":{\"utilization\":1,\"x\":\"\xff\"}}") << PlanUsage{};
        QTest::addRow("deep nesting") << QByteArray(100000, '[') << PlanUsage{};
        QTest::addRow("both windows")
            << QByteArray(R"({"five_hour":{"utilization":12.5,"resets_at":"2025-06-01T14:00:00Z"},)"
                          R"("seven_day":{"utilization":80,"resets_at":"2025-06-01T14:00:00.250+00:00"},"x":1})")
            << PlanUsage{12.5, utc(june1), 80, utc(june1 + 250)};
        QTest::addRow("session window a string, weekly still read")
            << QByteArray(R"({"five_hour":"busy","seven_day":{"utilization":3}})") << PlanUsage{0, {}, 3, {}};
        QTest::addRow("mistyped members")
            << QByteArray(R"({"five_hour":{"utilization":"12","resets_at":1748786400},)"
                          R"("seven_day":{"utilization":null,"resets_at":"tomorrow"}})")
            << PlanUsage{};
    }
    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(PlanUsage, usage);
        const PlanUsage parsed = PlanUsageFetcher::parse(body);
        QCOMPARE(parsed.fiveHourUtilization, usage.fiveHourUtilization);
        QCOMPARE(parsed.weeklyUtilization, usage.weeklyUtilization);
        QCOMPARE(msOf(parsed.fiveHourResetsAt), msOf(usage.fiveHourResetsAt));
        QCOMPARE(msOf(parsed.weeklyResetsAt), msOf(usage.weeklyResetsAt));
    }

    void parseDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalMs>("ms");
        const OptionalMs none;
        QTest::addRow("fraction, Z") << "2025-06-01T14:00:00.123Z" << OptionalMs(june1 + 123);
        QTest::addRow("one fraction digit") << "2025-06-01T14:00:00.5Z" << OptionalMs(june1 + 500);
        QTest::addRow("nine digits, truncated") << "2025-06-01T14:00:00.123456789Z" << OptionalMs(june1 + 123);
        QTest::addRow("fraction, -hh:mm") << "2025-06-01T09:30:00.000-04:30" << OptionalMs(june1);
        QTest::addRow("no fraction, Z") << "2025-06-01T14:00:00Z" << OptionalMs(june1);
        QTest::addRow("no fraction, +hh:mm") << "2025-06-01T15:00:00+01:00" << OptionalMs(june1);
        QTest::addRow("six digits, +hhmm") << "2025-06-01T16:00:00.654321+0200" << OptionalMs(june1 + 654);
        QTest::addRow("no fraction, -hhmm") << "2025-06-01T13:00:00-0100" << OptionalMs(june1);
        QTest::addRow("leap day") << "2024-02-29T00:00:00Z" << OptionalMs(1709164800000);
        QTest::addRow("three digits with +hhmm") << "2025-06-01T14:00:00.123+0200" << none;
        QTest::addRow("no zone") << "2025-06-01T14:00:00" << none;
        QTest::addRow("empty fraction") << "2025-06-01T14:00:00.Z" << none;
        QTest::addRow("space for T") << "2025-06-01 14:00:00Z" << none;
        QTest::addRow("trailing text") << "2025-06-01T14:00:00Zx" << none;
        QTest::addRow("month 13") << "2025-13-01T14:00:00Z" << none;
        QTest::addRow("31 April") << "2025-04-31T14:00:00Z" << none;
        QTest::addRow("29 February, common year") << "2025-02-29T14:00:00Z" << none;
        QTest::addRow("hour 24") << "2025-06-01T24:00:00Z" << none;
        QTest::addRow("minute 60") << "2025-06-01T14:60:00Z" << none;
        QTest::addRow("offset minute 60") << "2025-06-01T14:00:00+01:60" << none;
        QTest::addRow("non-ASCII digits") << QString::fromUtf8("２０２５-06-01T14:00:00Z") << none;
        QTest::addRow("word") << "tomorrow" << none;
    }
    void parseDate()
    {
        QFETCH(QString, text);
        QFETCH(OptionalMs, ms);
        QCOMPARE(msOf(PlanUsageFetcher::parseDate(text)), ms);
        QVERIFY(!PlanUsageFetcher::parseDate(std::nullopt));
    }
};

QTEST_GUILESS_MAIN(TestPlanUsage)
#include "tst_planusage.moc"
