#include "usagealerts.h"

#include <QLocale>
#include <QMap>
#include <QTest>

// Each step is one published figure: "5h 82 @1" is a 5-hour figure of 82 % in the period that
// resets at hour 1, "7d 90 @2" the same for the 7-day window, "5h 0" a window without a reset,
// "5h -" a report without that window, "s1 85" session s1's context at 85 % with every other
// live session as it was, "s1 end" the end of session s1. Each alert reads "5h 80", "7d reset",
// "s1 95".
class TestUsageAlerts : public QObject
{
    Q_OBJECT

private slots:
    void alerts_data();
    void alerts();
    void perWindow();
    void runOut();
};

// At the recent pace a window runs out 15 minutes or more before its reset with 50 % or more
// used: announced once a period, never for the paces read first nor from the period before.
void TestUsageAlerts::runOut()
{
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    const QDateTime reset = now.addSecs(3 * 3600);
    const auto usage = [&](double percent, const QDateTime &resetsAt) {
        return PlanUsage::fromWindows({{PlanWindowKind::fiveHour, {}, percent, resetsAt, PlanSource::statusLine, now,
                                        false, false}},
                                      now);
    };
    const auto paces = [](qint64 minutesBefore, const QDateTime &resetsAt) {
        const Pace pace{20, resetsAt.addSecs(-60 * minutesBefore), 1800, true, minutesBefore, resetsAt};
        return std::optional(QHash<QString, Pace>{{QStringLiteral("five_hour"), pace}});
    };
    UsageAlerts alerts;
    QVERIFY(alerts.observe(usage(60, reset), now, paces(80, reset)).isEmpty()); // the first paces read
    const QDateTime next = reset.addSecs(5 * 3600), after = reset.addSecs(60);
    QVERIFY(alerts.observe(usage(45, next), after, paces(80, next)).isEmpty());
    QVERIFY(alerts.observe(usage(55, next), after, paces(10, next)).isEmpty());
    QVERIFY(alerts.observe(usage(55, next), after, paces(80, reset)).isEmpty());
    const QList<UsageAlert> early = alerts.observe(usage(60, next), after, paces(80, next));
    QCOMPARE(early.size(), 1);
    const AlertText text = alertText(early.at(0), after);
    QCOMPARE(text.summary, QStringLiteral("5-hour limit runs out before its reset"));
    QCOMPARE(text.body, QStringLiteral("At this pace the 5-hour limit runs out at %1, 1 h 20 min before it resets.")
                            .arg(QLocale().toString(next.addSecs(-80 * 60).toLocalTime(), QStringLiteral("HH:mm"))));
    QVERIFY(alerts.observe(usage(70, next), after, paces(90, next)).isEmpty());
}

// Each weekly window, credits and spend keep their own thresholds and periods, named in the
// words; a reset that passes with no new figure is a reset.
void TestUsageAlerts::perWindow()
{
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    const auto usage = [&](double opus, double all, double spend, const QDateTime &opusReset) {
        return PlanUsage::fromWindows({{PlanWindowKind::weekly, QStringLiteral("Opus"), opus, opusReset,
                                        PlanSource::cachedReport, now, false, false},
                                       {PlanWindowKind::weekly, {}, all, now.addDays(3), PlanSource::statusLine, now, false, false},
                                       {PlanWindowKind::spend, {}, spend, {}, PlanSource::statusLine, now, false, false}},
                                      now);
    };
    const QDateTime reset = now.addSecs(600);
    UsageAlerts alerts;
    QVERIFY(alerts.observe(usage(50, 50, 50, reset), now).isEmpty());
    const QList<UsageAlert> raised = alerts.observe(usage(82, 60, 130, reset.addSecs(40)), now);
    QStringList summaries;
    for (const UsageAlert &alert : raised)
        summaries << alertText(alert, now).summary;
    QCOMPARE(summaries, (QStringList{QStringLiteral("Opus weekly limit at 82 %"), QStringLiteral("Spend limit at 130 %")}));
    // The reset time passes while Claude Code is idle: the same figures, a later clock.
    const QList<UsageAlert> afterReset = alerts.observe(usage(82, 60, 130, reset), reset.addSecs(1));
    QCOMPARE(afterReset.size(), 1);
    QCOMPARE(alertText(afterReset.at(0), now).summary, QStringLiteral("Opus weekly limit reset"));
    QVERIFY(alerts.observe(usage(2, 60, 130, reset.addDays(7)), reset.addSecs(60)).isEmpty());
}

void TestUsageAlerts::alerts_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    const auto list = [](const char *text) { return QString::fromLatin1(text).split(u',', Qt::SkipEmptyParts); };
    QTest::addRow("a threshold passed before the first figures is never announced")
        << list("5h 85 @1,5h 90 @1") << list("");
    QTest::addRow("later crossings are announced once per threshold; a report without the window changes nothing")
        << list("5h 50 @1,5h 81 @1,5h 79 @1,5h -,5h 85 @1,5h 95 @1,5h 99 @1") << list("5h 80,5h 95");
    QTest::addRow("passing both thresholds at once announces the higher")
        << list("5h 10 @1,5h 97 @1") << list("5h 95");
    QTest::addRow("a reset after 80 %% is announced; the new period counts afresh")
        << list("5h 50 @1,5h 82 @1,5h 5 @6,5h 81 @6") << list("5h 80,5h reset,5h 80");
    QTest::addRow("a reset below 80 %% is silent") << list("5h 50 @1,5h 10 @6") << list("");
    QTest::addRow("a baseline above 80 %% earns the reset, also of a window that stops running")
        << list("5h 85 @1,5h 0") << list("5h reset");
    QTest::addRow("the 7-day window keeps its own figures and periods")
        << list("5h 50 @1,7d 50 @100,5h 96 @1,7d 90 @100,7d 5 @268") << list("5h 95,7d 80,7d reset");
    QTest::addRow("each session's first figures are its own baseline")
        << list("s1 85,s2 50,s1 90,s2 85,s1 96") << list("s2 80,s1 95");
    QTest::addRow("a compaction below 70 %% re-arms both thresholds")
        << list("s1 10,s1 96,s1 20,s1 90,s1 97") << list("s1 95,s1 80,s1 95");
    QTest::addRow("wavering between 70 %% and a threshold stays quiet")
        << list("s1 10,s1 85,s1 75,s1 85,s1 96,s1 70,s1 96,s1 69,s1 81") << list("s1 80,s1 95,s1 80");
    QTest::addRow("a baseline above 80 %% is re-armed by a compaction too")
        << list("s1 85,s1 50,s1 85") << list("s1 80");
    QTest::addRow("sessions are watched side by side, not only the one that changed")
        << list("s1 10,s2 10,s2 85,s1 96,s2 96") << list("s2 80,s1 95,s2 95");
    QTest::addRow("a session that ends is forgotten: back again, its figure is a new baseline")
        << list("s1 10,s1 85,s1 end,s1 96,s1 10,s1 81") << list("s1 80,s1 80");
    QTest::addRow("a window figure falling below 70 %% re-arms it without losing the reset")
        << list("5h 50 @1,5h 85 @1,5h 40 @1,5h 85 @1,5h 5 @6") << list("5h 80,5h 80,5h reset");
}

void TestUsageAlerts::alerts()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    const QDateTime start(QDate(2026, 3, 1), QTime(0, 0), Qt::UTC);
    UsageAlerts alerts;
    QMap<QString, qint64> live; // session → context %
    QStringList seen;
    for (qsizetype index = 0; index < steps.size(); ++index) {
        const QStringList parts = steps.at(index).split(u' ');
        const QString subject = parts.at(0);
        QList<UsageAlert> raised;
        if (subject.startsWith(u's')) {
            if (parts.at(1) == u"end")
                live.remove(subject);
            else
                live.insert(subject, parts.at(1).toLongLong());
            QList<SessionContext> sessions;
            for (auto session = live.cbegin(); session != live.cend(); ++session)
                sessions.append({session.key(), session.key(), session.value()});
            raised = alerts.observe(sessions);
        } else {
            PlanUsage usage;
            auto &figure = subject == u"5h" ? usage.fiveHourUtilization : usage.weeklyUtilization;
            auto &resetsAt = subject == u"5h" ? usage.fiveHourResetsAt : usage.weeklyResetsAt;
            if (parts.at(1) != u'-')
                figure = parts.at(1).toDouble();
            if (parts.size() > 2) // reports jitter a little
                resetsAt = start.addSecs(parts.at(2).mid(1).toLongLong() * 3600 + index % 2 * 7);
            raised = alerts.observe(usage);
        }
        for (const UsageAlert &alert : raised) {
            const QString name = alert.subject == UsageAlert::Subject::context ? alert.project
                : alert.windowKey == u"five_hour"                               ? QStringLiteral("5h")
                                                                                : QStringLiteral("7d");
            seen << name + (alert.threshold ? QStringLiteral(" %1").arg(alert.threshold) : QStringLiteral(" reset"));
        }
    }
    QCOMPARE(seen, expected);
}

QTEST_APPLESS_MAIN(TestUsageAlerts)
#include "tst_usagealerts.moc"
