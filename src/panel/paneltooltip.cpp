#include "paneltooltip.h"

#include "displaytext.h"
#include "promptcacheview.h"
#include "windowrule.h"

#include <QDir>
#include <QLocale>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace {

const QString noStatusLine = QStringLiteral("No status line from this session: project settings may override it, "
                                            "the folder may not be trusted, or a policy disables it");
const QString noPlanFigures = QStringLiteral("Claude Code's status line sends no plan figures for this login (API key, "
                                             "Team or Enterprise plan, or Claude Code before 2.1.80)");
constexpr qint64 fiveHourSeconds = 5 * 3600;
constexpr qint64 sevenDaySeconds = 7 * 86400;
// A tooltip taller than this many session lines is no longer read.
constexpr qsizetype maxListedSessions = 10;

QString tokens(qint64 count)
{
    return QLocale().toString(count);
}

qint64 windowLength(const PlanWindow &w)
{
    return w.kind == PlanWindowKind::fiveHour ? fiveHourSeconds : sevenDaySeconds;
}

QString windowName(const PlanWindow &w)
{
    return sanitizedDisplayText(w.name());
}

QString sourceWords(PlanSource source)
{
    switch (source) {
    case PlanSource::statusLine: return QStringLiteral("from Claude Code's status line");
    case PlanSource::cachedReport: return QStringLiteral("from Claude Code's cached report");
    case PlanSource::usageService: return QStringLiteral("from the usage service");
    }
    return {};
}

// "2 min ago", "3 h ago"; a time ahead of the clock is as old as can be.
QString age(const QDateTime &asOf, const QDateTime &now)
{
    const QDateTime present = presentTime(asOf, now);
    if (!present.isValid())
        return QStringLiteral("time unknown");
    const qint64 minutes = present.secsTo(now) / 60;
    if (minutes < 1)
        return QStringLiteral("just now");
    if (minutes < 60)
        return QStringLiteral("%1 min ago").arg(minutes);
    if (minutes < 48 * 60)
        return QStringLiteral("%1 h ago").arg(minutes / 60);
    return QStringLiteral("%1 d ago").arg(minutes / (24 * 60));
}

// "Reset at 13:36; new figures come with Claude Code's next reply"
QString passedReset(const PlanWindow &w, const QDateTime &now)
{
    return QStringLiteral("Reset at %1; new figures come with Claude Code's next reply").arg(clockText(*w.resetsAt, now));
}

// "Tue 14:00"; a reset a week or more ahead (the spend limit's month) names its date, since the
// day alone would read as this week's.
QString resetDay(const QDateTime &resetsAt, const QDateTime &now)
{
    const QString format = now.secsTo(resetsAt) >= 6 * 86400 ? QStringLiteral("ddd d MMM HH:mm") : QStringLiteral("ddd HH:mm");
    return QLocale().toString(resetsAt.toLocalTime(), format);
}

// One line per window: name, figure, reset, source and age, the binding one marked.
QString windowList(const PlanUsage &usage, const QDateTime &now)
{
    QStringList lines;
    for (const PlanWindow &w : usage.shownWindows()) {
        QString line = QStringLiteral("\u2022 %1%2: ").arg(windowName(w), w.binding ? QStringLiteral(" (binding)") : QString());
        if (w.hasReset(now))
            line += QStringLiteral("0 %, reset at %1").arg(clockText(*w.resetsAt, now));
        else if (w.resetsAt && w.resetsAt->isValid())
            line += QStringLiteral("%1 %, resets %2").arg(w.percent()).arg(resetDay(*w.resetsAt, now));
        else if (w.kind == PlanWindowKind::credits || w.kind == PlanWindowKind::spend)
            line += QStringLiteral("%1 % of the monthly limit").arg(w.percent());
        else
            line += QStringLiteral("%1 %, idle").arg(w.percent());
        line += QStringLiteral(", %1, %2").arg(sourceWords(w.source), age(w.asOf, now));
        if (w.isStale(now))
            line += QStringLiteral(" (stale)");
        lines << line;
    }
    return lines.join(u'\n');
}

QString joined(std::initializer_list<QString> lines)
{
    QStringList kept;
    for (const QString &line : lines)
        if (!line.isEmpty())
            kept << line;
    return kept.join(QLatin1Char('\n'));
}

// When the fetcher tries again; never a time that has passed.
QString nextTry(const PanelInputs &in)
{
    if (in.isFetching || (in.nextFetchAt && in.nextFetchAt->isValid() && *in.nextFetchAt <= in.now))
        return QStringLiteral("trying again now");
    if (!in.nextFetchAt || !in.nextFetchAt->isValid())
        return {};
    return QStringLiteral("next try %1").arg(clockText(*in.nextFetchAt, in.now));
}

// The last fetch's failure with the next try, or empty when it did not fail.
QString failureLine(const PanelInputs &in)
{
    if (!in.hasError())
        return {};
    QString text = in.lastFailure ? failureText(*in.lastFailure, in.credentialLocation)
                                  : QStringLiteral("The last plan fetch failed: %1").arg(*in.lastError);
    if (const QString next = nextTry(in); !next.isEmpty())
        text += QStringLiteral("; ") + next;
    return text;
}

// Why the plan shows no figures, or empty when it has a report with windows to show.
QString planUnavailable(const PanelInputs &in)
{
    if (!in.planUsage) {
        if (in.hasError())
            return failureLine(in);
        if (in.statusLineSendsNoPlan)
            return noPlanFigures;
        if (in.waitingForStatusLine)
            return QStringLiteral("Waiting for Claude Code's status line");
        return in.isFetching ? QStringLiteral("Fetching the plan report\u2026")
                             : QStringLiteral("No plan report yet: press K2 to fetch one");
    }
    if (!in.planUsage->hasWindows())
        return joined({QStringLiteral("No 5-hour or weekly limits on this plan"), failureLine(in),
                       in.planUsage->fetchedAt.isValid()
                           ? QStringLiteral("Report from the usage service, %1").arg(age(in.planUsage->fetchedAt, in.now))
                           : QString()});
    return {};
}

// The line a tooltip about plan figures adds while a fetch runs.
QString fetchingLine(const PanelInputs &in)
{
    return in.isFetching ? QStringLiteral("Fetching\u2026") : QString();
}

// "5-hour window: 42 % used; at this pace, 100 % in 1 h 10 min", or why there is no figure.
// The pace of the window's recent history when it has enough, else of the whole window so far.
QString windowUse(const PanelInputs &in, const std::optional<PlanWindow> &w, bool weekly)
{
    const QDateTime &now = in.now;
    if (!w)
        return QStringLiteral("The report has no %1 window").arg(weekly ? QStringLiteral("7-day") : QStringLiteral("5-hour"));
    if (w->hasReset(now))
        return QStringLiteral("%1: %2").arg(windowName(*w), passedReset(*w, now));
    if (w->kind == PlanWindowKind::credits || w->kind == PlanWindowKind::spend)
        return QStringLiteral("%1: %2 % of the monthly limit used").arg(windowName(*w), QString::number(w->percent()));
    QString text = QStringLiteral("%1 window: %2 % used").arg(windowName(*w), QString::number(w->percent()));
    const std::optional<Pace> recent = recentPace(in, *w);
    const QString pace = recent ? paceSentence(*recent, now)
        : w->resetsAt           ? paceText(w->utilization, *w->resetsAt, windowLength(*w), now)
                                : QString();
    if (!pace.isEmpty())
        text += QStringLiteral("; ") + pace;
    return text;
}


// " (~/.claude-work)" after a session's name while sessions of more than one Claude Code data
// directory (one per account) are read; nothing otherwise.
QString dataDirectoryNote(const PanelInputs &in, const QString &claudeDir)
{
    if (in.sessionStats.dataDirectoryCount < 2 || claudeDir.isEmpty())
        return {};
    const QString home = QDir::homePath();
    const bool inHome = claudeDir.startsWith(home + u'/');
    return QStringLiteral(" (%1)").arg(sanitizedDisplayText(inHome ? u'~' + claudeDir.mid(home.size()) : claudeDir));
}

// A session as the tooltips name it: its project folder, or the start of its id.
QString sessionLabel(const QString &cwd, const QString &sessionId)
{
    const QString name = sanitizedDisplayText(projectName(cwd));
    return name.isEmpty() ? sanitizedDisplayText(sessionId.left(8)) : name;
}

bool isPinned(const PanelInputs &in)
{
    return !in.pinnedSessionId.isEmpty() && in.pinnedSessionId == in.sessionStats.sessionId;
}

QString sessionName(const SessionStats &stats)
{
    QString name = sessionLabel(stats.cwd, stats.sessionId);
    if (!stats.model.isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" \u00B7 ")) + sanitizedDisplayText(stats.model);
    return name;
}

QString pinState(const PanelInputs &in)
{
    return isPinned(in) ? QStringLiteral("Pinned: click ACTIVE or the project name (key S) for the next session")
                        : QStringLiteral("Following the latest session: click ACTIVE or the project name (key S) to pin one");
}

QString mainSessionTooltip(const PanelInputs &in)
{
    const SessionStats &s = in.sessionStats;
    if (s == SessionStats{})
        return QStringLiteral("No Claude Code session found");
    const qint64 shown = in.state.alternateView ? s.totalTokens : s.contextAndOutput();
    const QString what = in.state.alternateView ? QStringLiteral("Total tokens of the conversation")
                                                : QStringLiteral("Last call's context plus its output");
    return joined({QStringLiteral("%1: %2 tokens%3")
                       .arg(what, tokens(shown),
                            shown > mainDisplayLimit ? QStringLiteral(" (shown in thousands)") : QString()),
                   sessionName(s).isEmpty() ? QString()
                                            : QStringLiteral("Session: %1%2%3")
                                                  .arg(sessionName(s), dataDirectoryNote(in, s.claudeDir),
                                                       isPinned(in) ? QStringLiteral(" (pinned)") : QString()),
                   QStringLiteral("Context: %1 of %2 tokens (%3 %)")
                       .arg(tokens(s.lastContextTokens), tokens(s.contextWindowSize))
                       .arg(s.contextPercent()),
                   QStringLiteral("Total: %1 tokens").arg(tokens(s.totalTokens)),
                   in.sessionCostUsd ? QStringLiteral("Cost so far by Claude Code's reckoning: $%1")
                                           .arg(QLocale::c().toString(*in.sessionCostUsd, 'f', 2))
                                     : QString()});
}

QString mainPlanTooltip(const PanelInputs &in)
{
    const QString unavailable = planUnavailable(in);
    if (!unavailable.isEmpty())
        return unavailable;
    const std::optional<PlanWindow> w = shownPlanWindow(in);
    QString reset;
    if (!w)
        reset = QStringLiteral("The report has no %1 window").arg(in.state.alternateView ? QStringLiteral("7-day") : QStringLiteral("5-hour"));
    else if (w->hasReset(in.now))
        reset = passedReset(*w, in.now);
    else if (w->kind == PlanWindowKind::credits || w->kind == PlanWindowKind::spend)
        reset = QStringLiteral("%1: monthly, no countdown").arg(windowName(*w));
    else if (w->resetsAt && w->resetsAt->isValid())
        reset = QStringLiteral("The %1 window resets in %2, at %3")
                    .arg(windowName(*w), durationText(std::max<qint64>(0, in.now.secsTo(*w->resetsAt))),
                         clockText(*w->resetsAt, in.now));
    else
        reset = QStringLiteral("The %1 window is idle: it starts with your next message, so no reset is due").arg(windowName(*w));
    return joined({failureLine(in), reset, windowList(*in.planUsage, in.now),
                   in.statusLineSendsNoPlan ? noPlanFigures : QString(), fetchingLine(in)});
}

QString smallTooltip(const PanelInputs &in)
{
    if (in.state.mode == DisplayMode::session) {
        const SessionStats &s = in.sessionStats;
        if (in.activeSessions.isEmpty())
            return QStringLiteral("No Claude Code session is running");
        return QStringLiteral("Context window %1 % full: %2 of %3 tokens")
            .arg(s.contextPercent())
            .arg(tokens(s.lastContextTokens), tokens(s.contextWindowSize));
    }
    const QString unavailable = planUnavailable(in);
    if (!unavailable.isEmpty())
        return unavailable;
    return joined({failureLine(in), windowUse(in, shownPlanWindow(in), in.state.alternateView),
                   windowList(*in.planUsage, in.now), in.statusLineSendsNoPlan ? noPlanFigures : QString(),
                   fetchingLine(in)});
}

QString activeTooltip(const PanelInputs &in)
{
    if (in.activeSessions.isEmpty())
        return QStringLiteral("ACTIVE: no Claude Code session is running");
    QStringList lines{in.activeSessions.size() == 1
                          ? QStringLiteral("ACTIVE: 1 Claude Code session running")
                          : QStringLiteral("ACTIVE: %1 Claude Code sessions running").arg(in.activeSessions.size())};
    const QList<ActiveSession> sessions = sessionsInPinOrder(in.activeSessions);
    for (const ActiveSession &session : sessions.first(std::min(sessions.size(), maxListedSessions))) {
        const bool shown = !session.sessionId.isEmpty() && session.sessionId == in.sessionStats.sessionId;
        // The shown session's figure is the small display's: its status line may have settled its window.
        const std::optional<qint64> percent =
            shown ? std::optional<qint64>(in.sessionStats.contextPercent()) : session.contextPercent;
        const QString context =
            percent ? QStringLiteral("%1 % context").arg(*percent) : QStringLiteral("context not read");
        const QString mark = !shown ? QString() : isPinned(in) ? QStringLiteral(" (shown, pinned)") : QStringLiteral(" (shown)");
        lines << QStringLiteral("\u2022 %1%2: %3%4")
                     .arg(sessionLabel(session.cwd, session.sessionId), dataDirectoryNote(in, session.claudeDir),
                          context, mark);
    }
    if (sessions.size() > maxListedSessions)
        lines << QStringLiteral("\u2026 and %1 more").arg(sessions.size() - maxListedSessions);
    lines << pinState(in);
    return lines.join(QLatin1Char('\n'));
}

// What 5-HOUR and 7-DAY do: pick the plan window, and in session mode the token figure, since
// they set the same alternate view that OP turns over.
QString windowKeyTooltip(const PanelInputs &in, bool weekly)
{
    QString action;
    if (in.state.mode == DisplayMode::session)
        action = weekly ? QStringLiteral("7-DAY (key 7): show the session's total tokens; in plan mode, the 7-day window")
                        : QStringLiteral("5-HOUR (key 5): show the last call's context plus output; in plan mode, the 5-hour window");
    else
        action = weekly ? QStringLiteral("7-DAY (key 7): show the binding weekly window; press again for the other "
                                         "weekly windows, credits and the spend limit")
                        : QStringLiteral("5-HOUR (key 5): show the 5-hour window");
    const bool shownWindow = weekly == in.state.alternateView;
    const QString fetching = shownWindow ? fetchingLine(in) : QString();
    if (!in.planUsage || !in.planUsage->hasWindows())
        return joined({action, fetching});
    PanelInputs key = in;
    key.state = applyClick(PanelState{DisplayMode::plan, !weekly, 0}, weekly ? PanelClick::sevenDay : PanelClick::fiveHour);
    return joined({action, windowUse(in, shownPlanWindow(key), weekly), windowList(*in.planUsage, in.now), fetching});
}

QString opTooltip(const PanelInputs &in)
{
    const bool alternate = in.state.alternateView;
    QString target;
    if (in.state.mode == DisplayMode::session)
        target = alternate ? QStringLiteral("the last call's context plus output") : QStringLiteral("the session's total tokens");
    else
        target = alternate ? QStringLiteral("the 5-hour window") : QStringLiteral("the 7-day window");
    return QStringLiteral("OP (key O): switch to %1").arg(target);
}

} // namespace

QString failureText(const PlanFailure &failure, const QString &credentialLocation)
{
    const QString location = credentialLocation.isEmpty() ? QStringLiteral("the credential store")
                                                          : sanitizedDisplayText(credentialLocation);
    switch (failure.reason) {
    case PlanFailureReason::noToken:
        return QStringLiteral("No Claude Code login found in %1").arg(location);
    case PlanFailureReason::tokenExpired:
        return QStringLiteral("The Claude Code login has expired. Claude Code renews its login when you next use it");
    case PlanFailureReason::credentialsUnreadable:
        return QStringLiteral("%1 reading %2").arg(failure.detail, location);
    case PlanFailureReason::keychainDenied:
        return failure.detail.isEmpty() ? QStringLiteral("Keychain access denied")
                                        : QStringLiteral("Keychain access denied (%1)").arg(failure.detail);
    case PlanFailureReason::rateLimited:
        return QStringLiteral("Rate limited by the usage service");
    case PlanFailureReason::badReply:
        return QStringLiteral("The usage service sent something that is not a usage report");
    case PlanFailureReason::httpStatus:
        return QStringLiteral("The usage service answered HTTP %1").arg(failure.httpStatus);
    case PlanFailureReason::timedOut:
        return QStringLiteral("The usage service did not answer in time");
    case PlanFailureReason::transport:
        return failure.detail.isEmpty() ? QStringLiteral("Could not reach the usage service")
                                        : QStringLiteral("Could not reach the usage service: %1").arg(failure.detail);
    }
    return failure.code();
}

QString paceText(double utilization, const QDateTime &resetsAt, qint64 windowSeconds, const QDateTime &now)
{
    Q_ASSERT(windowSeconds > 0);
    if (!resetsAt.isValid() || !now.isValid() || std::isnan(utilization))
        return {};
    if (utilization >= 100)
        return QStringLiteral("limit reached");
    const qint64 remaining = std::clamp<qint64>(now.secsTo(resetsAt), 0, windowSeconds);
    const qint64 elapsed = windowSeconds - remaining;
    if (utilization <= 0 || elapsed <= 0)
        return QStringLiteral("lasts until reset");
    // Use so far spread evenly over the time so far, carried forward.
    const double toFull = (100 - utilization) * double(elapsed) / utilization;
    if (toFull >= double(remaining))
        return QStringLiteral("lasts until reset");
    return QStringLiteral("at this pace, 100 % in %1").arg(durationText(qint64(toFull)));
}

QString panelTooltip(const PanelInputs &in, PanelArea area)
{
    const bool plan = in.state.mode == DisplayMode::plan;
    switch (area) {
    case PanelArea::main:
        return joined({plan ? mainPlanTooltip(in) : mainSessionTooltip(in), in.noStatusLineFromSession ? noStatusLine : QString()});
    case PanelArea::small:
        return joined({smallTooltip(in), in.noStatusLineFromSession ? noStatusLine : QString()});
    case PanelArea::quotas:
        return QStringLiteral("QUOTAS: plan mode, the 5-hour and 7-day quotas of your plan (K2)");
    case PanelArea::session:
        return isPinned(in) ? QStringLiteral("SESSION: session mode, the tokens of the pinned Claude Code session (K1)")
                            : QStringLiteral("SESSION: session mode, the tokens of the latest Claude Code session (K1)");
    case PanelArea::active:
        return activeTooltip(in);
    case PanelArea::cache:
        return promptCacheTooltip(in);
    case PanelArea::error:
        if (in.hasError())
            return failureLine(in);
        return in.serviceEnabled ? QStringLiteral("No error: the last plan fetch did not fail")
                                 : QStringLiteral("No error: the plan figures come from Claude Code's status line");
    case PanelArea::fiveHour:
        return windowKeyTooltip(in, false);
    case PanelArea::sevenDay:
        return windowKeyTooltip(in, true);
    case PanelArea::k1:
        return QStringLiteral("K1 (key 1): show the current Claude Code session's tokens");
    case PanelArea::k2:
        if (!in.serviceEnabled)
            return QStringLiteral("K2 (key 2): show the plan quotas and read Claude Code's status line again (F5 too)");
        return QStringLiteral("K2 (key 2): show the plan quotas and fetch a fresh report (F5 fetches again); "
                              "at most one fetch every 30 s");
    case PanelArea::op:
        return opTooltip(in);
    case PanelArea::project:
        if (plan || in.activeSessions.isEmpty())
            return {};
        return joined({QStringLiteral("Session: %1").arg(sessionName(in.sessionStats)), pinState(in)});
    }
    return {};
}

QString toolTipShowingPlainText(const QString &plain)
{
    if (!Qt::mightBeRichText(plain))
        return plain;
    return QStringLiteral("<p style='white-space:pre'>") + plain.toHtmlEscaped() + QStringLiteral("</p>");
}
