#include "displaytext.h"
#include "panelcontent.h"
#include "paneltooltip.h"
#include "statuslineplan.h"

#include <QDir>
#include <QHash>
#include <QLocale>
#include <QTest>
#include <QTextDocument>

#include <algorithm>
#include <limits>

Q_DECLARE_METATYPE(PanelInputs)
Q_DECLARE_METATYPE(QList<DataDirectorySamples>)
Q_DECLARE_METATYPE(QList<PanelClick>)

using namespace Qt::StringLiterals;

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
constexpr qint64 twoHoursFive = 2 * 3600 + 5 * 60;
constexpr qint64 threeDaysFourHoursFive = 3 * 86400 + 4 * 3600 + 5 * 60;

QString hhmm(const QDateTime &t)
{
    return t.toLocalTime().toString(u"HH:mm"_s);
}

// "main | captions | small | caption | lit LEDs and keys | project", the long captions abbreviated.
QString describe(const PanelContent &c)
{
    QString captions = c.mainLabels.join(u'|');
    captions.replace(u"CONTEXT WINDOW TOKENS - MESSAGES"_s, u"CTX"_s)
        .replace(u"TOTAL CONVERSATION TOKENS"_s, u"TOTAL"_s)
        .replace(u"D D|H H|M M"_s, u"DHM"_s);
    QStringList lit;
    for (int i = 0; i < ledCount; ++i)
        if (c.leds[i])
            lit << ledLabel(Led(i));
    for (int i = 0; i < keyCount; ++i)
        if (c.keys[i])
            lit << keyLabel(Key(i));
    const QString main = (c.mainKind == MainStripKind::number ? u"#%1"_s.arg(c.mainValue) : c.mainText)
        + (c.mainDimmed ? u" dimmed"_s : QString());
    const QString small = c.smallValue + c.smallSuffix + (c.smallDimmed ? u" dimmed"_s : QString());
    const QString project = c.projectName + (c.projectPinned ? u" (pinned)"_s : QString());
    return QStringList{main, captions, small, c.smallCaption, lit.join(u' '), project}.join(u" | "_s);
}

// A report with the 5-hour window at fiveHour % resetting in fiveHourIn seconds, the 7-day one
// at 10 % resetting in 3 d 4 h 5 min; fetched ageSeconds ago.
PlanUsage report(std::optional<double> fiveHour, qint64 fiveHourIn = twoHoursFive, qint64 ageSeconds = 60)
{
    PlanUsage usage;
    usage.fiveHourUtilization = fiveHour;
    usage.fiveHourResetsAt = now.addSecs(fiveHourIn);
    usage.weeklyUtilization = 10;
    usage.weeklyResetsAt = now.addSecs(threeDaysFourHoursFive);
    usage.fetchedAt = now.addSecs(-ageSeconds);
    return usage;
}

struct Inputs
{
    PanelInputs in;
    Inputs(DisplayMode mode, bool alternate) { in.state = {mode, alternate}, in.now = now; }
    Inputs &tokens(qint64 context, qint64 output, qint64 total)
    {
        in.sessionStats = {total, context, output, 200000, u"id-1"_s, u"/home/ana/glimmerox"_s, u"claude-opus-4-6"_s, {}, 1};
        return *this;
    }
    // Live sessions id-1, id-2, ... in projects p1, p2, ..., each started a second after the one before.
    Inputs &sessions(int count)
    {
        for (int i = 0; i < count; ++i)
            in.activeSessions.append({100 + i, u"id-%1"_s.arg(i + 1), u"/home/ana/p%1"_s.arg(i + 1), now.addSecs(i), 10 * i, {}});
        return *this;
    }
    // The sessions and the shown one in data directories .claude and .claude-1, .claude-2, ...
    Inputs &dataDirectories()
    {
        in.sessionStats.claudeDir = QDir::homePath() + u"/.claude"_s;
        in.sessionStats.dataDirectoryCount = 2;
        for (int i = 0; i < in.activeSessions.size(); ++i)
            in.activeSessions[i].claudeDir = QDir::homePath() + (i ? u"/.claude-%1"_s.arg(i) : u"/.claude"_s);
        return *this;
    }
    Inputs &pinned(const QString &sessionId) { return in.pinnedSessionId = sessionId, *this; }
    Inputs &blinkOff() { return in.blinkOn = false, *this; }
    Inputs &project(const QString &cwd, const QString &model = {})
    {
        in.sessionStats.cwd = cwd;
        in.sessionStats.model = model;
        return *this;
    }
    Inputs &plan(const PlanUsage &usage) { return in.planUsage = usage, *this; }
    Inputs &fetching() { return in.isFetching = true, *this; }
    Inputs &failed(PlanFailureReason reason = PlanFailureReason::httpStatus, int status = 500,
                   std::optional<QDateTime> retryAt = {}, const QString &detail = u"Connection refused"_s)
    {
        in.lastFailure = PlanFailure{reason, status, detail, retryAt};
        in.lastError = in.lastFailure->code();
        in.credentialLocation = u"~/.claude/.credentials.json"_s;
        in.nextFetchAt = retryAt;
        return *this;
    }
    operator PanelInputs() const { return in; }
};

// Status-line samples of one data directory: `session` (a 1M window) and both windows at
// fiveHour % and 50 %, received ageSeconds ago.
DataDirectorySamples samples(const QString &dataDirectory, double fiveHour, qint64 ageSeconds,
                             const QString &session = u"id-1"_s)
{
    const QDateTime at = now.addSecs(-ageSeconds);
    SessionSample s{session, dataDirectory, u"/home/ana/app"_s, u"claude-opus-4-6[1m]"_s, u"Opus 4.6"_s, 1000000, 12, at, {}, {}};
    return {dataDirectory, {s}, PlanWindowSample{fiveHour, now.addSecs(3600), at}, PlanWindowSample{50, {}, at}, {}};
}
const QString claudeHome = u"/home/ana/.claude"_s;

// Every kind of window: 5-hour, weekly of all models, Opus weekly (in force), credits, spend.
PlanUsage allWindows(qint64 fiveHourIn = twoHoursFive)
{
    const auto window = [](PlanWindowKind kind, const QString &scope, double percent, std::optional<qint64> resetIn,
                           PlanSource source, bool active = false) {
        return PlanWindow{kind, scope, percent, resetIn ? std::optional(now.addSecs(*resetIn)) : std::nullopt,
                          source, now.addSecs(-120), active, false};
    };
    return PlanUsage::fromWindows({window(PlanWindowKind::spend, {}, 140.4, 20 * 86400, PlanSource::statusLine),
                                   window(PlanWindowKind::credits, {}, 25, {}, PlanSource::cachedReport),
                                   window(PlanWindowKind::weekly, u"Opus"_s, 82, 2 * 86400, PlanSource::cachedReport, true),
                                   window(PlanWindowKind::weekly, {}, 64, threeDaysFourHoursFive, PlanSource::statusLine),
                                   window(PlanWindowKind::fiveHour, {}, 91, fiveHourIn, PlanSource::statusLine)},
                                  now);
}

const Inputs session(DisplayMode::session, false);
const Inputs sessionTotal(DisplayMode::session, true);
const Inputs fiveHour(DisplayMode::plan, false);
const Inputs sevenDay(DisplayMode::plan, true);

} // namespace

class TestPanelContent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void content_data()
    {
        QTest::addColumn<PanelInputs>("inputs");
        QTest::addColumn<QString>("shows"); // as describe() writes it

        const qint64 max = std::numeric_limits<qint64>::max();
        PlanUsage scoped = report(42);
        scoped.weeklyScope = u"Opus"_s;
        PlanUsage idle = report(0);
        idle.fiveHourResetsAt.reset(); // the service's idle window: no use, so no reset time

        QTest::addRow("fresh launch, no session: small display dark, not 0 %%")
            << PanelInputs(session) << u"#0 | CTX | ---% | CONTEXT  WIN % | SESSION K1 | "_s;
        QTest::addRow("context plus output, with the project") << PanelInputs(Inputs(session).sessions(1).tokens(150000, 2500, 9))
                                                               << u"#152500 | CTX | 76% | CONTEXT  WIN % | SESSION K1 | glimmerox"_s;
        QTest::addRow("eight nines still shown as they are") << PanelInputs(Inputs(sessionTotal).sessions(1).tokens(1, 1, 99999999))
                                                             << u"#99999999 | TOTAL | 0% | CONTEXT  WIN % | SESSION K1 OP | glimmerox"_s;
        QTest::addRow("past eight digits: thousands") << PanelInputs(Inputs(sessionTotal).sessions(1).tokens(1, 1, 123456789))
                                                      << u"#123456 | TOTAL \u00D71000 | 0% | CONTEXT  WIN % | SESSION K1 OP | glimmerox"_s;
        QTest::addRow("token sum saturates") << PanelInputs(Inputs(session).sessions(1).tokens(max, 1, 0))
                                             << u"#%1 | CTX \u00D71000 | 100% | CONTEXT  WIN % | SESSION K1 | glimmerox"_s.arg(max / 1000);
        QTest::addRow("two sessions light ACTIVE") << PanelInputs(Inputs(session).sessions(2))
                                                   << u"#0 | CTX | 0% | CONTEXT  WIN % | SESSION ACTIVE K1 | "_s;
        QTest::addRow("the pinned session is marked") << PanelInputs(Inputs(session).sessions(2).tokens(1, 1, 2).pinned(u"id-1"_s))
                                                      << u"#2 | CTX | 0% | CONTEXT  WIN % | SESSION ACTIVE K1 | glimmerox (pinned)"_s;
        QTest::addRow("a pin not yet shown marks nothing")
            << PanelInputs(Inputs(session).sessions(2).tokens(1, 1, 2).pinned(u"id-2"_s))
            << u"#2 | CTX | 0% | CONTEXT  WIN % | SESSION ACTIVE K1 | glimmerox"_s;
        QTest::addRow("a folder name cannot break the line or turn the text")
            << PanelInputs(Inputs(session).sessions(1).tokens(1, 1, 2).project(u"/home/ana/ev\nil\u202Etxt.exe"_s))
            << u"#2 | CTX | 0% | CONTEXT  WIN % | SESSION K1 | eviltxt.exe"_s;
        QTest::addRow("error in session mode lights ERROR only") << PanelInputs(Inputs(session).failed())
                                                                 << u"#0 | CTX | ---% | CONTEXT  WIN % | SESSION ERROR K1 | "_s;
        QTest::addRow("session, a fetch from F5 blinks 5-HOUR") << PanelInputs(Inputs(session).fetching())
                                                                << u"#0 | CTX | ---% | CONTEXT  WIN % | SESSION 5-HOUR K1 | "_s;
        QTest::addRow("plan, a fetch blinks the shown window's LED")
            << PanelInputs(Inputs(sevenDay).plan(report(42)).fetching().blinkOff())
            << u"03 04 05 | DHM | 10% | WEEKLY | QUOTAS K2 OP | "_s;
        QTest::addRow("plan, idle window is dark, unlike the zeros before any fetch")
            << PanelInputs(Inputs(fiveHour).plan(idle)) << u"__ __ __ | DHM | 0% | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, two sessions leave ACTIVE dark") << PanelInputs(Inputs(fiveHour).sessions(2).tokens(1, 1, 2))
                                                              << u"00 00 00 | DHM | ---% | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, no report, fetching") << PanelInputs(Inputs(fiveHour).fetching())
                                                   << u" - - -  | DHM | ---% | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, error without a report") << PanelInputs(Inputs(fiveHour).failed())
                                                      << u"-- -- -- | DHM | ---% | SESSION | QUOTAS ERROR 5-HOUR K2 | "_s;
        QTest::addRow("plan, a failed fetch keeps the last good figures, dimmed")
            << PanelInputs(Inputs(fiveHour).plan(report(42)).failed())
            << u"00 02 05 dimmed | DHM | 42% dimmed | SESSION | QUOTAS ERROR 5-HOUR K2 | "_s;
        QTest::addRow("plan without these limits: dashes, no ERROR") << PanelInputs(Inputs(fiveHour).plan(PlanUsage{}))
                                                                     << u"-- -- -- | DHM | ---% | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, 5-hour countdown") << PanelInputs(Inputs(fiveHour).plan(report(42)))
                                                << u"00 02 05 | DHM | 42% | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, absent window is dashes, not 0") << PanelInputs(Inputs(fiveHour).plan(report(std::nullopt)))
                                                              << u"__ __ __ | DHM | ---% | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, stale report dimmed") << PanelInputs(Inputs(fiveHour).plan(report(42, twoHoursFive, 16 * 60)))
                                                   << u"00 02 05 | DHM | 42% dimmed | SESSION | QUOTAS 5-HOUR K2 | "_s;
        QTest::addRow("plan, scoped 7-day figure names its scope")
            << PanelInputs(Inputs(sevenDay).plan(scoped)) << u"03 04 05 | DHM | 10% | 7-DAY \u00B7 OPUS | QUOTAS 7-DAY K2 OP | "_s;
    }
    // 7-DAY pressed again in plan mode steps from the binding weekly window through the others,
    // credits and the spend limit, and round; 5-HOUR, OP and K1 go back to the binding one.
    void windowSteps_data()
    {
        QTest::addColumn<QList<PanelClick>>("clicks");
        QTest::addColumn<QString>("shows");
        QTest::addRow("binding first") << QList{PanelClick::sevenDay} << u"02 00 00 | 82 | 7-DAY \u00B7 OPUS"_s;
        QTest::addRow("then all models") << QList<PanelClick>(2, PanelClick::sevenDay) << u"03 04 05 | 64 | WEEKLY"_s;
        QTest::addRow("credits: no countdown") << QList<PanelClick>(3, PanelClick::sevenDay) << u"__ __ __ | 25 | CREDITS"_s;
        QTest::addRow("spend past 100") << QList<PanelClick>(4, PanelClick::sevenDay) << u"__ __ __ | 140 | SPEND"_s;
        QTest::addRow("and round") << QList<PanelClick>(5, PanelClick::sevenDay) << u"02 00 00 | 82 | 7-DAY \u00B7 OPUS"_s;
        QTest::addRow("5-HOUR resets the step")
            << QList{PanelClick::sevenDay, PanelClick::sevenDay, PanelClick::fiveHour, PanelClick::sevenDay}
            << u"02 00 00 | 82 | 7-DAY \u00B7 OPUS"_s;
        QTest::addRow("OP resets the step")
            << QList{PanelClick::sevenDay, PanelClick::sevenDay, PanelClick::op, PanelClick::op}
            << u"02 00 00 | 82 | 7-DAY \u00B7 OPUS"_s;
        QTest::addRow("K2 keeps it")
            << QList{PanelClick::sevenDay, PanelClick::sevenDay, PanelClick::k2} << u"03 04 05 | 64 | WEEKLY"_s;
        QTest::addRow("session mode never steps")
            << QList{PanelClick::k1, PanelClick::sevenDay, PanelClick::sevenDay, PanelClick::k2}
            << u"02 00 00 | 82 | 7-DAY \u00B7 OPUS"_s;
    }
    void windowSteps()
    {
        QFETCH(QList<PanelClick>, clicks);
        Inputs in = Inputs(fiveHour).plan(allWindows());
        for (PanelClick click : clicks)
            in.in.state = applyClick(in.in.state, click);
        const PanelContent c = computePanelContent(in);
        QTEST(c.mainText + u" | "_s + c.smallValue + u" | "_s + c.smallCaption, "shows");
    }

    // From its reset time on a window is a new idle one, whichever source sent it.
    void passedReset()
    {
        Inputs in = Inputs(fiveHour).plan(allWindows(30));
        QCOMPARE(computePanelContent(in).mainText, u"00 00 00"_s);
        in.in.now = now.addSecs(31);
        const PanelContent c = computePanelContent(in);
        QCOMPARE(c.mainText + u" "_s + c.smallValue, u"__ __ __ 0"_s);
        const QString tooltip = panelTooltip(in, PanelArea::main);
        QVERIFY2(tooltip.contains(u"Reset at "_s + hhmm(now.addSecs(30)) + u"; new figures come with Claude Code's next reply"_s),
                 qPrintable(tooltip));
        QVERIFY2(tooltip.contains(u"\u2022 Opus weekly (binding): 82 %, resets "_s), qPrintable(tooltip));
        QVERIFY2(tooltip.contains(u"\u2022 Credits: 25 % of the monthly limit, from Claude Code's cached report, 2 min ago"_s),
                 qPrintable(tooltip));
        const QString spendReset = QLocale().toString(now.addSecs(20 * 86400).toLocalTime(), u"ddd d MMM HH:mm"_s);
        QVERIFY2(tooltip.contains(u"\u2022 Spend limit: 140 %, resets "_s + spendReset), qPrintable(tooltip));
    }

    void content()
    {
        QFETCH(PanelInputs, inputs);
        QFETCH(QString, shows);
        QCOMPARE(describe(computePanelContent(inputs)), shows);
    }

    void tooltips_data()
    {
        QTest::addColumn<PanelInputs>("inputs");
        QTest::addColumn<PanelArea>("area");
        QTest::addColumn<QStringList>("says"); // each must appear in the text

        const QDateTime retry = now.addSecs(5 * 60);
        const QString at = hhmm(retry);
        using R = PlanFailureReason;
        const Inputs withReport = Inputs(fiveHour).plan(report(42));

        QTest::addRow("main: the shown session")
            << PanelInputs(Inputs(session).tokens(152301, 2488, 48211077)) << PanelArea::main
            << QStringList{u"glimmerox \u00B7 claude-opus-4-6"_s, u"152,301 of 200,000"_s, u"Total: 48,211,077"_s};
        QTest::addRow("main: countdown and report age")
            << PanelInputs(withReport) << PanelArea::main
            << QStringList{u"5-hour window resets in 2 h 05 min"_s, u"\u2022 5-hour: 42 %, resets "_s,
                           u"from the usage service, 1 min ago"_s};
        QTest::addRow("small: stale report says so")
            << PanelInputs(Inputs(fiveHour).plan(report(42, twoHoursFive, 20 * 60))) << PanelArea::small
            << QStringList{u"42 % used"_s, u"stale"_s};
        QTest::addRow("active: every live session with its context")
            << PanelInputs(Inputs(session).tokens(1, 1, 2).sessions(2)) << PanelArea::active
            << QStringList{u"2 Claude Code sessions"_s, u"p1: 0 % context (shown)"_s, u"p2: 10 % context"_s};
        QTest::addRow("active: the shown session's context as the small display has it")
            << PanelInputs(Inputs(session).tokens(150000, 2000, 152000).sessions(2)) << PanelArea::active
            << QStringList{u"p1: 76 % context (shown)"_s, u"p2: 10 % context"_s};
        QTest::addRow("several data directories are named")
            << PanelInputs(Inputs(session).tokens(1, 1, 2).sessions(2).dataDirectories()) << PanelArea::active
            << QStringList{u"p1 (~/.claude): 0 % context (shown)"_s, u"p2 (~/.claude-1): 10 % context"_s};
        QTest::addRow("7-DAY key: use and pace")
            << PanelInputs(withReport) << PanelArea::sevenDay << QStringList{u"key 7"_s, u"10 % used"_s, u"lasts until reset"_s};
        QTest::addRow("7-DAY key in session mode: what it does there")
            << PanelInputs(session) << PanelArea::sevenDay << QStringList{u"show the session's total tokens"_s};
        QTest::addRow("active: ten sessions at most, the pinned one marked")
            << PanelInputs(Inputs(session).sessions(12).tokens(1, 1, 2).pinned(u"id-1"_s)) << PanelArea::active
            << QStringList{u"12 Claude Code sessions"_s, u"p1: 0 % context (shown, pinned)"_s, u"p10: 90 % context"_s,
                           u"\u2026 and 2 more"_s, u"Pinned"_s};
        QTest::addRow("main: a 1 MiB model name is cut")
            << PanelInputs(Inputs(session).sessions(1).tokens(1, 1, 2).project(u"/a/b"_s, QString(1 << 20, u'm')))
            << PanelArea::main << QStringList{u"b \u00B7 "_s + QString(63, u'm') + u"\u2026\n"_s};
        QTest::addRow("main: fetching says so") << PanelInputs(Inputs(withReport).fetching()) << PanelArea::main
                                                << QStringList{u"Fetching\u2026"_s};
        QTest::addRow("5-HOUR key: fetching says so") << PanelInputs(Inputs(withReport).fetching()) << PanelArea::fiveHour
                                                      << QStringList{u"key 5"_s, u"Fetching\u2026"_s};

        const struct { const char *name; Inputs inputs; QString words; } failures[] = {
            {"no login", Inputs(fiveHour).failed(R::noToken), u"No Claude Code login found in ~/.claude/.credentials.json"_s},
            {"HTTP 500", Inputs(fiveHour).failed(R::httpStatus, 500, retry), u"The usage service answered HTTP 500; next try "_s + at},
            {"next try already due", Inputs(fiveHour).failed(R::httpStatus, 500, now.addSecs(-60)), u"HTTP 500; trying again now"_s},
            {"rate limited", Inputs(fiveHour).failed(R::rateLimited, 429, retry), u"Rate limited by the usage service; next try "_s + at},
            {"expired", Inputs(fiveHour).failed(R::tokenExpired), u"Claude Code renews its login when you next use it"_s},
            {"unreadable", Inputs(fiveHour).failed(R::credentialsUnreadable, 0, {}, u"Permission denied"_s),
             u"Permission denied reading ~/.claude/.credentials.json"_s},
            {"keychain denied", Inputs(fiveHour).failed(R::keychainDenied, 0, {}, {}), u"Keychain access denied"_s},
            {"transport", Inputs(fiveHour).failed(R::transport), u"Could not reach the usage service: Connection refused"_s},
            {"bad reply", Inputs(fiveHour).failed(R::badReply), u"not a usage report"_s},
            {"timed out", Inputs(fiveHour).failed(R::timedOut), u"did not answer in time"_s},
        };
        PanelInputs statusLineOnly = Inputs(fiveHour).plan(report(42));
        statusLineOnly.serviceEnabled = false;
        QTest::addRow("K2 with the status line: no fetch promised") << statusLineOnly << PanelArea::k2
                                                                   << QStringList{u"read Claude Code's status line again"_s};
        QTest::addRow("ERROR with the status line: no fetch to fail") << statusLineOnly << PanelArea::error
                                                                     << QStringList{u"come from Claude Code's status line"_s};
        QTest::addRow("main: a plan without these limits")
            << PanelInputs(Inputs(fiveHour).plan(PlanUsage{})) << PanelArea::main
            << QStringList{u"No 5-hour or weekly limits on this plan"_s};
        for (const auto &[name, inputs, words] : failures) { // the kept figures come with the failure
            QTest::addRow("ERROR: %s", name) << PanelInputs(inputs) << PanelArea::error << QStringList{words};
            QTest::addRow("small: %s", name) << PanelInputs(Inputs(inputs).plan(report(42))) << PanelArea::small << QStringList{words};
        }
    }
    void tooltips()
    {
        QFETCH(PanelInputs, inputs);
        QFETCH(PanelArea, area);
        QFETCH(QStringList, says);
        const QString text = panelTooltip(inputs, area);
        for (const QString &part : says)
            QVERIFY2(text.contains(part), qPrintable(text));
        QVERIFY2(!text.contains(u"p11:"_s), "the ACTIVE list stops after ten sessions");
    }

    void tooltipsShowTheirTextLiterally_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addRow("a tag in the first line") << u"Session: R&D <b>x \u00B7 opus\nPinned"_s;
        QTest::addRow("an entity in the first line") << u"Session: a &lt; b &amp;  c"_s;
        QTest::addRow("a tag on a later line only") << u"ACTIVE: 2 sessions\n\u2022 <i>x</i>"_s;
    }
    // Decides as QToolTip does whether a text is HTML, and reads back what it would show.
    void tooltipsShowTheirTextLiterally()
    {
        QFETCH(QString, text);
        const QString handed = toolTipShowingPlainText(text);
        QTextDocument shown;
        if (Qt::mightBeRichText(handed))
            shown.setHtml(handed);
        else
            shown.setPlainText(handed);
        QCOMPARE(shown.toPlainText(), text);
    }

    // Plan figures of Claude Code's status line and the fetched report, for the shown session's
    // data directory, merged by the window rule: the two reset an hour apart here, so they are two
    // windows and the newer stands. With the service off only the status line counts.
    void statusLineSource_data()
    {
        QTest::addColumn<PanelInputs>("inputs");
        QTest::addColumn<QList<DataDirectorySamples>>("kept");
        QTest::addColumn<bool>("serviceEnabled");
        QTest::addColumn<QString>("shows");   // main | small | ERROR LED
        QTest::addColumn<QString>("tooltip"); // part of the small display's tooltip

        const QString service = u"from the usage service, "_s;
        const QString statusLine = u"from Claude Code's status line, "_s;
        const Inputs shown = Inputs(fiveHour).tokens(1, 1, 2); // session id-1 in the default data directory
        const auto fetched = [&](qint64 ageSeconds) { return Inputs(shown).plan(report(10, 7200, ageSeconds)); };
        const Inputs failed = Inputs(shown).failed();
        QTest::addRow("status line newer than the report")
            << PanelInputs(fetched(600)) << QList{samples(claudeHome, 23, 60)} << true << u"00 01 00 | 23 | -"_s
            << statusLine + u"1 min ago"_s;
        QTest::addRow("report newer than the status line")
            << PanelInputs(fetched(60)) << QList{samples(claudeHome, 23, 600)} << true << u"00 02 00 | 10 | -"_s
            << service + u"1 min ago"_s;
        QTest::addRow("another data directory's samples do not count")
            << PanelInputs(fetched(600)) << QList{samples(u"/srv/b"_s, 23, 60, u"other"_s)} << true
            << u"00 02 00 | 10 | -"_s << service + u"10 min ago"_s;
        QTest::addRow("the shown session's samples count, wherever they are")
            << PanelInputs(fetched(600)) << QList{samples(claudeHome, 5, 60, u"other"_s), samples(u"/srv/b"_s, 23, 60)}
            << true << u"00 01 00 | 23 | -"_s << statusLine;
        QTest::addRow("newer status line hides a failed fetch")
            << PanelInputs(failed) << QList{samples(claudeHome, 23, 60)} << true << u"00 01 00 | 23 | -"_s << statusLine;
        QTest::addRow("service off: a newer report is not shown")
            << PanelInputs(fetched(10)) << QList{samples(claudeHome, 23, 60)} << false << u"00 01 00 | 23 | -"_s
            << statusLine;
        QTest::addRow("service off, stale status line")
            << PanelInputs(shown) << QList{samples(claudeHome, 23, 20 * 60)} << false << u"00 01 00 | 23 dimmed | -"_s
            << u"stale"_s;
        QTest::addRow("service off, nothing yet: dashes, no ERROR")
            << PanelInputs(failed) << QList<DataDirectorySamples>() << false << u"-- -- -- | --- | -"_s
            << u"Waiting for Claude Code's status line"_s;
        Inputs otherAccount = fetched(60);
        otherAccount.in.sessionStats.claudeDir = u"/srv/b"_s;
        QTest::addRow("another account's session: not this login's report")
            << PanelInputs(otherAccount) << QList<DataDirectorySamples>() << true << u"-- -- -- | --- | -"_s
            << u"Waiting for Claude Code's status line"_s;
        QTest::addRow("another account's session: its own status line, though older")
            << PanelInputs(otherAccount) << QList{samples(claudeHome, 5, 60, u"x"_s), samples(u"/srv/b"_s, 23, 600, u"other"_s)}
            << true << u"00 01 00 | 23 | -"_s << statusLine + u"10 min ago"_s;
        QTest::addRow("service on, no samples: as before")
            << PanelInputs(failed) << QList<DataDirectorySamples>() << true << u"-- -- -- | --- | ERROR"_s << u"HTTP 500"_s;
    }
    void statusLineSource()
    {
        QFETCH(PanelInputs, inputs);
        QFETCH(QList<DataDirectorySamples>, kept);
        QFETCH(bool, serviceEnabled);
        QFETCH(QString, tooltip);
        const PanelInputs in = withStatusLine(inputs, kept, claudeHome, serviceEnabled);
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

    // The sources without a login: the cached report fills what the status line lacks, the same
    // window keeps its highest figure across sources, and a status line without plan figures says so.
    void noLoginSources_data()
    {
        QTest::addColumn<bool>("rateLimits"); // the samples carry plan figures
        QTest::addColumn<bool>("cached");     // Claude Code's cached report is there
        QTest::addColumn<QString>("shows");
        QTest::addColumn<QString>("tooltip");
        const QString noFigures = u"Claude Code's status line sends no plan figures for this login"_s;
        QTest::addRow("payloads without rate_limits") << false << false << u"-- -- -- | --- | -"_s << noFigures;
        QTest::addRow("the cached report fills in") << false << true << u"00 01 00 | 50 | -"_s << noFigures;
        QTest::addRow("same window: the higher, from the cached report")
            << true << true << u"00 01 00 | 50 | -"_s << u"\u2022 5-hour: 50 %, resets "_s;
    }
    void noLoginSources()
    {
        QFETCH(bool, rateLimits);
        QFETCH(bool, cached);
        const DataDirectorySamples sampled = samples(claudeHome, 30, 60);
        const DataDirectorySamples kept = rateLimits ? sampled : DataDirectorySamples{claudeHome, sampled.sessions, {}, {}, {}};
        QHash<QString, QList<PlanWindow>> reports;
        if (cached)
            reports.insert(claudeHome, {{PlanWindowKind::fiveHour, {}, 50, now.addSecs(3600 + 20), PlanSource::cachedReport,
                                         now.addSecs(-3 * 3600), false, false}});
        const PanelInputs in = withStatusLine(Inputs(fiveHour).tokens(1, 1, 2), {kept}, claudeHome, false, reports);
        const PanelContent c = computePanelContent(in);
        QTEST(c.mainText + u" | "_s + c.smallValue + u" | "_s + (c.ledLit(Led::error) ? u"ERROR"_s : u"-"_s),
              "shows");
        QFETCH(QString, tooltip);
        const QString text = panelTooltip(in, PanelArea::small);
        QVERIFY2(text.contains(tooltip), qPrintable(text));
    }

    // The status line names the model and the cost; a sampled window below the context is ignored.
    void sessionFromStatusLine()
    {
        DataDirectorySamples kept = samples(claudeHome, 30, 60);
        kept.sessions[0].modelName = u"Opus 4.6 (1M context)"_s;
        kept.sessions[0].costUsd = 1.234;
        Inputs shown = Inputs(session).tokens(150000, 1, 2);
        PanelInputs in = withStatusLine(shown, {kept}, claudeHome, true);
        const QString text = panelTooltip(in, PanelArea::main);
        QVERIFY2(text.contains(u"Opus 4.6 (1M context)"_s) && text.contains(u"Cost so far by Claude Code's reckoning: $1.23"_s),
                 qPrintable(text));
        kept.sessions[0].contextWindowSize = 100000;
        in = withStatusLine(shown, {kept}, claudeHome, true);
        QCOMPARE(in.sessionStats.contextWindowSize, 200000);

        // Another live session is listed with Claude Code's figure, unless from before its current run.
        const Inputs two = Inputs(session).tokens(150000, 1, 2).sessions(2);
        kept.sessions.append({u"id-2"_s, claudeHome, u"/home/ana/p2"_s, {}, {}, 1000000, 85, now.addSecs(1), {}, {}});
        QVERIFY(panelTooltip(withStatusLine(two, {kept}, claudeHome, true), PanelArea::active).contains(u"p2: 85 % context"_s));
        kept.sessions.last().receivedAt = now.addSecs(-60);
        QVERIFY(panelTooltip(withStatusLine(two, {kept}, claudeHome, true), PanelArea::active).contains(u"p2: 10 % context"_s));
    }

    // The bridge is installed and the shown live session writes, but no sample comes from it.
    void silentSession_data()
    {
        QTest::addColumn<qint64>("wroteAgo");   // seconds; -1: no write seen
        QTest::addColumn<qint64>("sampledAgo"); // seconds; -1: never sampled
        QTest::addColumn<bool>("serviceEnabled");
        QTest::addColumn<bool>("silent");
        QTest::addRow("wrote, never sampled") << qint64(30) << qint64(-1) << false << true;
        QTest::addRow("wrote, sampled long before") << qint64(30) << qint64(600) << false << true;
        QTest::addRow("wrote, sampled since") << qint64(30) << qint64(25) << false << false;
        QTest::addRow("the bridge still has its grace") << qint64(3) << qint64(-1) << false << false;
        QTest::addRow("no write lately") << qint64(300) << qint64(-1) << false << false;
        QTest::addRow("no write seen") << qint64(-1) << qint64(-1) << false << false;
        QTest::addRow("bridge not installed") << qint64(30) << qint64(-1) << true << false;
    }
    void silentSession()
    {
        QFETCH(qint64, wroteAgo);
        QFETCH(qint64, sampledAgo);
        QFETCH(bool, serviceEnabled);
        Inputs in = Inputs(session).tokens(10, 1, 20).sessions(1);
        if (wroteAgo >= 0) {
            // The view sees the session's figures change at that moment.
            const SessionActivity first = SessionActivity{}.after(in.in.sessionStats, now.addSecs(-900));
            SessionStats grown = in.in.sessionStats;
            grown.totalTokens += 5;
            in.in.shownSessionWroteAt = first.after(in.in.sessionStats, now).after(grown, now.addSecs(-wroteAgo)).wroteAt;
        }
        QList<DataDirectorySamples> kept;
        if (sampledAgo >= 0)
            kept << samples(claudeHome, 30, sampledAgo);
        const PanelInputs shown = withStatusLine(in, kept, claudeHome, serviceEnabled);
        QTEST(shown.noStatusLineFromSession, "silent");
        QCOMPARE(panelTooltip(shown, PanelArea::main).contains(u"No status line from this session"_s),
                 shown.noStatusLineFromSession);
    }

    void pace_data()
    {
        QTest::addColumn<double>("utilization");
        QTest::addColumn<qint64>("resetIn");
        QTest::addColumn<qint64>("window");
        QTest::addColumn<QString>("pace");
        constexpr qint64 week = 7 * 86400;
        QTest::addRow("half used at half time lasts") << 50.0 << week / 2 << week << u"lasts until reset"_s;
        QTest::addRow("60 %% at half time") << 60.0 << week / 2 << week << u"at this pace, 100 % in 2 d 8 h"_s;
        QTest::addRow("80 %% after the first hour") << 80.0 << qint64(4 * 3600) << qint64(5 * 3600)
                                                  << u"at this pace, 100 % in 15 min"_s;
        QTest::addRow("limit reached") << 100.0 << qint64(3600) << week << u"limit reached"_s;
    }
    void pace()
    {
        QFETCH(double, utilization);
        QFETCH(qint64, resetIn);
        QFETCH(qint64, window);
        QFETCH(QString, pace);
        QCOMPARE(paceText(utilization, now.addSecs(resetIn), window, now), pace);
    }

    // Each click pins the next live session, oldest first, then goes back to following the latest.
    void pinOrder_data()
    {
        QTest::addColumn<PanelInputs>("inputs");
        QTest::addColumn<QString>("next");
        Inputs three = Inputs(session).sessions(3);
        std::swap(three.in.activeSessions[0], three.in.activeSessions[2]); // listed newest first
        QTest::addRow("following: the oldest") << PanelInputs(three) << u"id-1"_s;
        QTest::addRow("pinned: the next by start") << PanelInputs(Inputs(three).pinned(u"id-1"_s)) << u"id-2"_s;
        QTest::addRow("after the last: following again") << PanelInputs(Inputs(three).pinned(u"id-3"_s)) << QString();
        QTest::addRow("a pin whose session ended: the oldest") << PanelInputs(Inputs(three).pinned(u"gone"_s)) << u"id-1"_s;
        QTest::addRow("no session: following") << PanelInputs(session) << QString();
    }
    void pinOrder()
    {
        QFETCH(PanelInputs, inputs);
        QFETCH(QString, next);
        QCOMPARE(nextPinnedSession(inputs.activeSessions, inputs.pinnedSessionId), next);
    }

    void displayText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s; // one character of five code points
        QTest::addRow("controls, overrides and isolates go")
            << u"a\tb\nc\u0000d\u202Ee\u2067f\u2069g\u200Fh\u0085i"_s << u"abcdefghi"_s;
        QTest::addRow("64 characters stay") << QString(64, u'x') << QString(64, u'x');
        QTest::addRow("65 are cut to 63 and an ellipsis") << QString(65, u'x') << QString(63, u'x') + u"\u2026"_s;
        QTest::addRow("a cut never splits a character")
            << QString(62, u'x') + family + u"e\u0301"_s + u"z"_s << QString(62, u'x') + family + u"\u2026"_s;
        QTest::addRow("nothing but controls") << u"\r\n\u202E"_s << QString();
        QTest::addRow("1 MiB of controls before a name") << QString(1 << 20, u'\n') + u"name"_s << u"\u2026"_s;
    }
    void displayText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(sanitizedDisplayText(text), shown);
    }
};

QTEST_APPLESS_MAIN(TestPanelContent)
#include "tst_panelcontent.moc"
