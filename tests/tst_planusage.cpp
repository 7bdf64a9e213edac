#include "planrules.h"
#include "planschedule.h"
#include "planusage.h"
#include "planusagefetcher.h"

#include <QtTest>

#include <ctime>
#include <limits>

using namespace Qt::StringLiterals;
using OptionalMs = std::optional<qint64>;
using OptionalUsage = std::optional<PlanUsage>;

namespace {

QDateTime utc(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC); }
OptionalMs msOf(const std::optional<QDateTime> &time)
{
    return time ? OptionalMs(time->toMSecsSinceEpoch()) : std::nullopt;
}
constexpr qint64 june1 = 1748786400000; // 2025-06-01T14:00:00Z
constexpr qint64 second = 1000;
const QDateTime t0 = utc(june1);
// A report holding only a weekly figure.
OptionalUsage weekly(double utilization, std::optional<QDateTime> resetsAt = {}, std::optional<QString> scope = {})
{
    return PlanUsage{{}, {}, utilization, resetsAt, scope, {}, {}};
}

} // namespace

class TestPlanUsage : public QObject
{
    Q_OBJECT

private slots:
    // Local time far from UTC, with a daylight-saving gap, whatever zone the suite runs in.
    void initTestCase()
    {
        qputenv("TZ", "Pacific/Chatham");
        ::tzset();
    }

    void percent_data()
    {
        QTest::addColumn<double>("utilization");
        QTest::addColumn<qint64>("percent");
        QTest::addRow("half away from zero") << 42.5 << qint64(43);
        QTest::addRow("rounds up to the cap") << 99.6 << qint64(100);
        QTest::addRow("above the cap") << 130.0 << qint64(100);
        QTest::addRow("negative is held to 0, never shown as its size") << -999.0 << qint64(0);
        QTest::addRow("huge") << 1e300 << qint64(100);
        QTest::addRow("not a number") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
    }
    void percent()
    {
        QFETCH(double, utilization);
        QFETCH(qint64, percent);
        const PlanUsage usage{utilization, {}, utilization, {}, {}, {}, {}};
        QCOMPARE(usage.fiveHourPercent(), std::optional<qint64>(percent));
        QCOMPARE(usage.weeklyPercent(), std::optional<qint64>(percent));
        QCOMPARE(PlanUsage{}.weeklyPercent(), std::nullopt); // an absent window shows dashes, not 0 %
    }

    void resetTimerString_data()
    {
        QTest::addColumn<OptionalMs>("sessionAhead"); // from now
        QTest::addColumn<OptionalMs>("weeklyAhead");
        QTest::addColumn<bool>("weekly");
        QTest::addColumn<QString>("text");
        const OptionalMs none;
        QTest::addRow("seconds dropped") << OptionalMs((86400 + 2 * 3600 + 3 * 60 + 59) * second) << none << false
                                         << u"01 02 03"_s;
        QTest::addRow("in the past") << OptionalMs(-3600 * second) << none << false << u"00 00 00"_s;
        QTest::addRow("days capped, the rest kept")
            << none << OptionalMs((150 * 86400 + 5 * 3600 + 30 * 60 + 20) * second) << true << u"99 05 30"_s;
        QTest::addRow("weekly window chosen") << OptionalMs(60 * second) << OptionalMs(90000 * second) << true
                                              << u"01 01 00"_s;
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
        QCOMPARE(usage.resetTimerString(weekly, t0), text);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<OptionalUsage>("usage");
        const OptionalUsage none;
        QTest::addRow("empty body") << QByteArray() << none;
        QTest::addRow("array") << QByteArray("[1,2]") << none;
        QTest::addRow("an object without windows: a plan without these limits")
            << QByteArray(R"({"five_hour":null,"seven_day":null,"limits":[]})") << OptionalUsage(PlanUsage{});
        QTest::addRow("both windows")
            << QByteArray(R"({"five_hour":{"utilization":12.5,"resets_at":"2025-06-01T14:00:00Z"},)"
                          R"("seven_day":{"utilization":80,"resets_at":"2025-06-01T14:00:00.250+00:00"},"x":1})")
            << OptionalUsage(PlanUsage{12.5, t0, 80, utc(june1 + 250), {}, {}, {}});
        QTest::addRow("null window is absent, never 0 per cent")
            << QByteArray(R"({"five_hour":null,"seven_day":{"utilization":3},"seven_day_opus":null})")
            << weekly(3);
        QTest::addRow("mistyped members are absent")
            << QByteArray(R"({"five_hour":{"utilization":"12","resets_at":1748786400},)"
                          R"("seven_day":{"utilization":null,"resets_at":"tomorrow"}})")
            << OptionalUsage(PlanUsage{});
        const QByteArray sevenDay = R"({"seven_day":{"utilization":40,"resets_at":"2025-06-01T14:00:00Z"},"limits":[)";
        QTest::addRow("a scoped weekly limit that binds wins, with its reset and scope")
            << sevenDay + R"({"kind":"weekly_scoped","percent":88,"is_active":true,"resets_at":"2025-06-02T14:00:00Z",)"
                          R"("scope":{"model":{"display_name":"Opus"}}},{"kind":"weekly_all","percent":60}]})"
            << weekly(88, utc(june1 + 86400 * second), u"Opus"_s);
        QTest::addRow("the highest entry wins; lower ones and unknown kinds are ignored")
            << sevenDay + R"({"kind":"weekly_all","percent":55},{"kind":"weekly_scoped","percent":20,)"
                          R"("scope":{"model":{"display_name":"Opus"}}},{"kind":"daily","percent":99},"x",)"
                          R"({"kind":"weekly_scoped","percent":"90"}]})"
            << weekly(55);
        QTest::addRow("no entry above the 7-day figure")
            << sevenDay + R"({"kind":"weekly_scoped","percent":40,"scope":{"model":{"display_name":"Opus"}}}]})"
            << weekly(40, t0);
        QTest::addRow("migrated account: null flat windows, figures only in limits")
            << QByteArray(R"({"five_hour":null,"limits":[{"kind":"session","percent":23.5,"resets_at":"2025-06-01T14:00:00Z"},)"
                          R"({"kind":"weekly_all","percent":41,"resets_at":"2025-06-02T14:00:00Z"}]})")
            << OptionalUsage(PlanUsage{23.5, t0, 41, utc(june1 + 86400 * second), {}, {}, {}});
        QTest::addRow("the higher of a flat window and its session entry")
            << QByteArray(R"({"five_hour":{"utilization":30,"resets_at":"2025-06-01T14:00:00Z"},)"
                          R"("limits":[{"kind":"session","percent":12,"resets_at":"2025-06-02T14:00:00Z"}]})")
            << OptionalUsage(PlanUsage{30, t0, {}, {}, {}, {}, {}});
    }
    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(OptionalUsage, usage);
        OptionalUsage parsed = PlanUsageFetcher::parse(body);
        if (parsed)
            parsed->windows.clear(); // listed by windows() below
        QCOMPARE(parsed, usage);
    }

    // Every window of a report, binding one marked, in panel order: "key percent reset-day binding".
    void windows_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<QString>("weekly"); // the flat weekly figure and scope
        const QByteArray scoped = R"({"five_hour":null,"seven_day":null,"limits":[)"
                                  R"({"kind":"weekly_scoped","percent":82,"resets_at":"2025-06-03T14:00:00Z",)"
                                  R"("scope":{"model":{"display_name":"Opus"}}},)"
                                  R"({"kind":"weekly_scoped","percent":30,"scope":{"model":{"display_name":"Sonnet"}}},)"
                                  R"({"kind":"weekly_all","percent":64,"resets_at":"2025-06-04T14:00:00Z"},)"
                                  R"({"kind":"session","percent":12.4}],)";
        QTest::addRow("two scoped windows and credits, null flat windows")
            << scoped + R"("extra_usage":{"is_enabled":true,"monthly_limit":5000,"used_credits":1250,"utilization":null}})"
            << QStringList{u"five_hour 12"_s, u"seven_day 64 4"_s, u"seven_day:Opus 82 3 binding"_s,
                           u"seven_day:Sonnet 30"_s, u"credits 25"_s}
            << u"82 Opus"_s;
        QTest::addRow("the active window binds below a higher one, credits off")
            << QByteArray(R"({"seven_day":{"utilization":90,"resets_at":"2025-06-04T14:00:00Z"},"limits":[)"
                          R"({"kind":"weekly_scoped","percent":50,"is_active":true,"scope":{"model":{"display_name":"Opus"}}}],)"
                          R"("extra_usage":{"is_enabled":false,"utilization":10}})")
            << QStringList{u"seven_day 90 4"_s, u"seven_day:Opus 50 binding"_s} << u"50 Opus"_s;
        QTest::addRow("credits past their limit, nothing else")
            << QByteArray(R"({"extra_usage":{"is_enabled":true,"utilization":1234.5}})") << QStringList{u"credits 999"_s}
            << u"-"_s;
    }
    void windows()
    {
        QFETCH(QByteArray, body);
        const PlanUsage usage = PlanUsageFetcher::parse(body).value();
        QStringList listed;
        for (const PlanWindow &w : usage.windows)
            listed << QStringList{w.key(), QString::number(w.percent()),
                                  w.resetsAt ? QString::number(w.resetsAt->date().day()) : QString(),
                                  w.binding ? u"binding"_s : QString()}
                          .filter(QRegularExpression(u"."_s))
                          .join(u' ');
        QTEST(listed, "windows");
        QTEST(usage.weeklyUtilization ? QString::number(*usage.weeklyUtilization) + u' ' + usage.weeklyScope.value_or(QString())
                                      : u"-"_s,
              "weekly");
        QVERIFY(usage.hasWindows());
    }

    void parseDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<OptionalMs>("ms");
        const OptionalMs none;
        QTest::addRow("fraction, Z") << u"2025-06-01T14:00:00.123Z"_s << OptionalMs(june1 + 123);
        QTest::addRow("nine digits, truncated") << u"2025-06-01T14:00:00.123456789Z"_s << OptionalMs(june1 + 123);
        QTest::addRow("fraction, -hh:mm") << u"2025-06-01T09:30:00.000-04:30"_s << OptionalMs(june1);
        QTest::addRow("no fraction, +hh:mm") << u"2025-06-01T15:00:00+01:00"_s << OptionalMs(june1);
        QTest::addRow("six digits, +hhmm") << u"2025-06-01T16:00:00.654321+0200"_s << OptionalMs(june1 + 654);
        QTest::addRow("three digits with +hhmm") << u"2025-06-01T14:00:00.123+0200"_s << none;
        QTest::addRow("seven digits with +hhmm") << u"2025-06-01T14:00:00.1234567+0200"_s << none;
        QTest::addRow("offset hour 24") << u"2025-06-01T14:00:00+24:00"_s << none;
        QTest::addRow("empty fraction") << u"2025-06-01T14:00:00.Z"_s << none;
        QTest::addRow("trailing text") << u"2025-06-01T14:00:00Zx"_s << none;
        QTest::addRow("29 February, common year") << u"2025-02-29T14:00:00Z"_s << none;
        QTest::addRow("offset minute 60") << u"2025-06-01T14:00:00+01:60"_s << none;
        QTest::addRow("non-ASCII digits") << u"２０２５-06-01T14:00:00Z"_s << none;
    }
    void parseDate()
    {
        QFETCH(QString, text);
        QFETCH(OptionalMs, ms);
        QCOMPARE(msOf(PlanUsageFetcher::parseDate(text)), ms);
        QVERIFY(!PlanUsageFetcher::parseDate(std::nullopt));
    }

    void tokenCharacters()
    {
        QVERIFY(PlanRules::isValidToken(u"sk-ant_oat01.AZaz09~+/=="_s) && PlanRules::isValidToken(QString(16384, u'a')));
        QVERIFY(!PlanRules::isValidToken(QString(16385, u'a')) && !PlanRules::isValidToken(u"=="_s));
        QVERIFY(!PlanRules::isValidToken(u"ab=cd"_s) && !PlanRules::isValidToken(u"ab cd"_s));
    }

    void endpointOverride_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("used");
        QTest::addRow("IPv4 loopback") << u"http://127.0.0.1:8080/api/oauth/usage"_s << true;
        QTest::addRow("IPv6 loopback") << u"http://[::1]:8080/u"_s << true;
        QTest::addRow("localhost over https") << u"https://localhost/u"_s << true;
        QTest::addRow("another host") << u"https://usage.example.com/u"_s << false;
        QTest::addRow("loopback as a name prefix") << u"http://127.0.0.1.example.com/u"_s << false;
        QTest::addRow("not http") << u"file://localhost/etc/passwd"_s << false;
        QTest::addRow("user info") << u"http://user@127.0.0.1/u"_s << false;
    }
    void endpointOverride()
    {
        QFETCH(QString, text);
        QFETCH(bool, used);
        const QUrl standard(u"https://api.anthropic.com/api/oauth/usage"_s);
        QString complaint;
        QCOMPARE(PlanRules::endpoint(standard, text, &complaint), used ? QUrl(text) : standard);
        QCOMPARE(complaint.isEmpty(), used);
    }

    // The service's HTTP date is UTC whatever the local zone; Chatham's offset (+12:45/+13:45)
    // and its daylight-saving gap make any reading as local time show.
    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<qint64>("seconds");
        const QDateTime gap(QDate(2026, 9, 27), QTime(2, 50), Qt::UTC); // 02:50 does not exist in Chatham that night
        QTest::addRow("seconds") << QByteArray(" 120 ") << t0 << qint64(120);
        QTest::addRow("HTTP date") << QByteArray("Sun, 01 Jun 2025 14:05:00 GMT") << t0 << qint64(300);
        QTest::addRow("HTTP date in a local daylight-saving gap")
            << QByteArray("Sun, 27 Sep 2026 02:50:00 GMT") << gap.addSecs(-90) << qint64(90);
        QTest::addRow("HTTP date past") << QByteArray("Sun, 01 Jun 2025 13:59:00 GMT") << t0 << qint64(60);
        QTest::addRow("unreadable") << QByteArray("soon") << t0 << qint64(60);
        QTest::addRow("far ahead") << QByteArray("Mon, 02 Jun 2025 14:00:00 GMT") << t0 << qint64(900);
    }
    void retryAfter()
    {
        QFETCH(QByteArray, header);
        QFETCH(QDateTime, now);
        QFETCH(qint64, seconds);
        QCOMPARE(PlanRules::retryAfter(header, now).count(), seconds);
    }

    void keychainNames()
    {
        const QString plain = u"Claude Code-credentials"_s;
        QCOMPARE(PlanRules::keychainServiceNames(QString()), QStringList{plain});
        QCOMPARE(PlanRules::keychainServiceNames(u"/Users/ana/.claude-work"_s),
                 QStringList({plain + u"-838efb44"_s, plain}));
        // A decomposed "é" names the same item as the composed one.
        QCOMPARE(PlanRules::keychainServiceNames(u"/Users/jose\u0301/.claude"_s).constFirst(), plain + u"-6ab0a63a"_s);
    }

    void schedule()
    {
        PlanSchedule schedule(t0);
        QVERIFY(schedule.isDue(t0)); // at launch
        QList<qint64> backoff;
        for (int failure = 0; failure < 5; ++failure) {
            schedule.failed(t0);
            backoff << t0.secsTo(schedule.nextFetchAt());
        }
        QCOMPARE(backoff, QList<qint64>({300, 600, 1200, 1800, 1800}));
        schedule.succeeded(t0);
        QCOMPARE(t0.secsTo(schedule.nextFetchAt()), 300);
        schedule.failed(t0);
        QCOMPARE(t0.secsTo(schedule.nextFetchAt()), 300); // a success starts the backoff again

        // A 429 blocks every request until its time, at most 15 minutes, and is retried right then.
        schedule.failed(t0, t0.addSecs(1000));
        QVERIFY(!schedule.mayRequest(t0.addSecs(899)) && schedule.mayRequest(t0.addSecs(900)));
        QCOMPARE(schedule.nextFetchAt(), t0.addSecs(900));
        schedule.failed(t0, t0.addSecs(30));
        QCOMPARE(schedule.nextFetchAt(), t0.addSecs(30));
        // A new login wants a fetch now, yet not inside the block.
        schedule.fetchSoon(t0);
        QCOMPARE(schedule.nextFetchAt(), t0.addSecs(30));
        schedule.fetchSoon(t0.addSecs(40));
        QVERIFY(schedule.isDue(t0.addSecs(40)));

        // Asleep for two minutes: due soon after waking, yet not inside the block.
        PlanSchedule awake(t0);
        awake.succeeded(t0);
        awake.observeClocks(t0, std::chrono::milliseconds(0));
        awake.observeClocks(t0.addSecs(30), std::chrono::milliseconds(30000));
        QCOMPARE(awake.nextFetchAt(), t0.addSecs(300)); // clocks agree: nothing changes
        awake.observeClocks(t0.addSecs(150), std::chrono::milliseconds(31000));
        QCOMPARE(awake.nextFetchAt(), t0.addSecs(160));
        awake.failed(t0.addSecs(160), t0.addSecs(400));
        awake.observeClocks(t0.addSecs(300), std::chrono::milliseconds(32000));
        QCOMPARE(awake.nextFetchAt(), t0.addSecs(400));
    }
};

QTEST_GUILESS_MAIN(TestPlanUsage)
#include "tst_planusage.moc"
