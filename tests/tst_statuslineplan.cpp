#include "panelcontent.h"
#include "paneltooltip.h"
#include "statuslineplan.h"

#include <QTest>

#include <algorithm>

Q_DECLARE_METATYPE(PanelInputs)
Q_DECLARE_METATYPE(QList<DataDirectorySamples>)

using namespace Qt::StringLiterals;

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QString home = u"/home/ana/.claude"_s;

QString hhmm(const QDateTime &t)
{
    return t.toLocalTime().toString(u"HH:mm"_s);
}

// Samples of one data directory: session "s1" (a 1M window) and both windows at fiveHour % and
// 50 %, received `ageSeconds` ago.
DataDirectorySamples samples(const QString &dataDirectory, double fiveHour, qint64 ageSeconds,
                             const QString &session = u"s1"_s)
{
    const QDateTime at = now.addSecs(-ageSeconds);
    SessionSample s{session, dataDirectory, u"/home/ana/app"_s, u"claude-opus-4-6[1m]"_s, u"Opus 4.6"_s,
                    1000000, 12, at};
    return {dataDirectory, {s}, PlanWindowSample{fiveHour, now.addSecs(3600), at}, PlanWindowSample{50, {}, at}};
}

PanelInputs planInputs(std::optional<qint64> reportAgeSeconds, bool failed = false)
{
    PanelInputs in;
    in.state = {DisplayMode::plan, false};
    in.now = now;
    in.sessionStats.sessionId = u"s1"_s;
    if (reportAgeSeconds) {
        PlanUsage report;
        report.fiveHourUtilization = 10;
        report.fiveHourResetsAt = now.addSecs(7200);
        report.fetchedAt = now.addSecs(-*reportAgeSeconds);
        in.planUsage = report;
    }
    if (failed) {
        in.lastFailure = PlanFailure{PlanFailureReason::httpStatus, 500, {}, {}};
        in.lastError = in.lastFailure->code();
    }
    return in;
}

} // namespace

class TestStatusLinePlan : public QObject
{
    Q_OBJECT

private slots:
    void source_data()
    {
        QTest::addColumn<PanelInputs>("inputs");
        QTest::addColumn<QList<DataDirectorySamples>>("kept");
        QTest::addColumn<bool>("serviceEnabled");
        QTest::addColumn<QString>("shows");   // main | small | ERROR LED
        QTest::addColumn<QString>("tooltip"); // part of the small display's tooltip

        const QString service = u"Plan figures from the usage service, as of "_s;
        const QString statusLine = u"Plan figures from Claude Code's status line, as of "_s;
        QTest::addRow("status line newer than the report")
            << planInputs(600) << QList{samples(home, 23, 60)} << true << u"00 01 00 | 23 | -"_s
            << statusLine + hhmm(now.addSecs(-60));
        QTest::addRow("report newer than the status line")
            << planInputs(60) << QList{samples(home, 23, 600)} << true << u"00 02 00 | 10 | -"_s
            << service + hhmm(now.addSecs(-60));
        QTest::addRow("another data directory's samples do not count")
            << planInputs(600) << QList{samples(u"/srv/b"_s, 23, 60, u"other"_s)} << true << u"00 02 00 | 10 | -"_s
            << service + hhmm(now.addSecs(-600));
        QTest::addRow("the shown session's samples count, wherever they are")
            << planInputs(600) << QList{samples(home, 5, 60, u"other"_s), samples(u"/srv/b"_s, 23, 60)} << true
            << u"00 01 00 | 23 | -"_s << statusLine;
        QTest::addRow("newer status line hides a failed fetch")
            << planInputs(std::nullopt, true) << QList{samples(home, 23, 60)} << true << u"00 01 00 | 23 | -"_s
            << statusLine;
        QTest::addRow("service off: a newer report is not shown")
            << planInputs(10) << QList{samples(home, 23, 60)} << false << u"00 01 00 | 23 | -"_s << statusLine;
        QTest::addRow("service off, stale status line")
            << planInputs(std::nullopt) << QList{samples(home, 23, 20 * 60)} << false << u"00 01 00 | 23 dimmed | -"_s
            << u"stale"_s;
        QTest::addRow("service off, nothing yet: dashes, no ERROR")
            << planInputs(std::nullopt, true) << QList<DataDirectorySamples>() << false << u"-- -- -- | --- | -"_s
            << u"Waiting for Claude Code's status line"_s;
        PanelInputs otherAccount = planInputs(60);
        otherAccount.sessionStats.claudeDir = u"/srv/b"_s;
        QTest::addRow("another account's session: not this login's report")
            << otherAccount << QList<DataDirectorySamples>() << true << u"-- -- -- | --- | -"_s
            << u"Waiting for Claude Code's status line"_s;
        QTest::addRow("another account's session: its own status line, though older")
            << otherAccount << QList{samples(home, 5, 60, u"x"_s), samples(u"/srv/b"_s, 23, 600, u"other"_s)} << true
            << u"00 01 00 | 23 | -"_s << statusLine + hhmm(now.addSecs(-600));
        QTest::addRow("service on, no samples: as before")
            << planInputs(std::nullopt, true) << QList<DataDirectorySamples>() << true << u"-- -- -- | --- | ERROR"_s
            << u"HTTP 500"_s;
    }
    void source()
    {
        QFETCH(PanelInputs, inputs);
        QFETCH(QList<DataDirectorySamples>, kept);
        QFETCH(bool, serviceEnabled);
        QFETCH(QString, tooltip);
        const PanelInputs in = withStatusLine(inputs, kept, home, serviceEnabled);
        const PanelContent c = computePanelContent(in);
        const QString shows = c.mainText + u" | "_s + c.smallValue + (c.smallDimmed ? u" dimmed"_s : QString()) + u" | "_s
            + (c.ledLit(Led::error) ? u"ERROR"_s : u"-"_s);
        QTEST(shows, "shows");
        const QString text = panelTooltip(in, PanelArea::small);
        QVERIFY2(text.contains(tooltip), qPrintable(text));
        // The shown session's own window size wins over the transcripts' guess whenever it was sampled.
        const bool sampled = std::any_of(kept.cbegin(), kept.cend(), [&](const DataDirectorySamples &d) {
            return d.session(inputs.sessionStats.sessionId).has_value();
        });
        QCOMPARE(in.sessionStats.contextWindowSize, sampled ? 1000000 : 200000);
    }

};

QTEST_MAIN(TestStatusLinePlan)
#include "tst_statuslineplan.moc"
