#include "paneltooltip.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 fiveHourSeconds = 5 * 3600;
constexpr qint64 sevenDaySeconds = 7 * 86400;

QString tokens(qint64 count)
{
    return QLocale().toString(count);
}

// Local wall-clock time; the date too when it is not today.
QString clockTime(const QDateTime &when, const QDateTime &now)
{
    const QDateTime local = when.toLocalTime();
    if (now.isValid() && local.date() != now.toLocalTime().date())
        return local.toString(QStringLiteral("d MMM HH:mm"));
    return local.toString(QStringLiteral("HH:mm"));
}

QString duration(qint64 seconds)
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

// The figures of one quota window, as the tooltips describe it.
struct Window
{
    QString name; // "5-hour window", "7-day window (Opus)"
    std::optional<double> utilization;
    std::optional<qint64> percent;
    std::optional<QDateTime> resetsAt;
    qint64 length = 0;
};

Window window(const PlanUsage &usage, bool weekly)
{
    if (!weekly)
        return {QStringLiteral("5-hour window"), usage.fiveHourUtilization, usage.fiveHourPercent(),
                usage.fiveHourResetsAt, fiveHourSeconds};
    QString name = QStringLiteral("7-day window");
    if (usage.weeklyScope && !usage.weeklyScope->isEmpty())
        name += QStringLiteral(" (%1)").arg(*usage.weeklyScope);
    return {name, usage.weeklyUtilization, usage.weeklyPercent(), usage.weeklyResetsAt, sevenDaySeconds};
}

QString reportAge(const PlanUsage &usage, PlanSource source, const QDateTime &now)
{
    if (!usage.fetchedAt.isValid())
        return {};
    QString age = QStringLiteral("Plan figures %1, as of %2")
                      .arg(source == PlanSource::statusLine ? QStringLiteral("from Claude Code's status line")
                                                            : QStringLiteral("from the usage service"),
                           clockTime(usage.fetchedAt, now));
    if (usage.isStale(now))
        age += QStringLiteral(" (stale: older than %1 minutes)").arg(planReportStaleSeconds / 60);
    return age;
}

// Why the plan shows no figures, or empty when it has a report to show.
QString planUnavailable(const PanelInputs &in)
{
    if (in.hasError())
        return in.lastFailure ? failureText(*in.lastFailure, in.credentialLocation)
                              : QStringLiteral("The last plan fetch failed: %1").arg(*in.lastError);
    if (!in.planUsage && in.waitingForStatusLine)
        return QStringLiteral("Waiting for Claude Code's status line");
    if (!in.planUsage)
        return in.isFetching ? QStringLiteral("Fetching the plan report\u2026")
                             : QStringLiteral("No plan report yet: press K2 to fetch one");
    return {};
}

// "42 % used; at this pace, 100 % in 1 h 10 min", or why there is no figure.
QString windowUse(const Window &w, const QDateTime &now)
{
    if (!w.percent)
        return QStringLiteral("The report has no %1").arg(w.name);
    QString text = QStringLiteral("%1: %2 % used").arg(w.name).arg(*w.percent);
    const QString pace = w.resetsAt ? paceText(*w.utilization, *w.resetsAt, w.length, now) : QString();
    if (!pace.isEmpty())
        text += QStringLiteral("; ") + pace;
    return text;
}

QString joined(std::initializer_list<QString> lines)
{
    QStringList kept;
    for (const QString &line : lines)
        if (!line.isEmpty())
            kept << line;
    return kept.join(QLatin1Char('\n'));
}

QString sessionName(const SessionStats &stats)
{
    QString name = projectName(stats.cwd);
    if (name.isEmpty())
        name = stats.sessionId.left(8);
    if (!stats.model.isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" \u00B7 ")) + stats.model;
    return name;
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
                   sessionName(s).isEmpty() ? QString() : QStringLiteral("Session: %1").arg(sessionName(s)),
                   QStringLiteral("Context: %1 of %2 tokens (%3 %)")
                       .arg(tokens(s.lastContextTokens), tokens(s.contextWindowSize))
                       .arg(s.contextPercent()),
                   QStringLiteral("Total: %1 tokens").arg(tokens(s.totalTokens))});
}

QString mainPlanTooltip(const PanelInputs &in)
{
    const QString unavailable = planUnavailable(in);
    if (!unavailable.isEmpty())
        return unavailable;
    const Window w = window(*in.planUsage, in.state.alternateView);
    const QString reset = w.resetsAt && w.resetsAt->isValid()
        ? QStringLiteral("The %1 resets in %2, at %3")
              .arg(w.name, duration(std::max<qint64>(0, in.now.secsTo(*w.resetsAt))), clockTime(*w.resetsAt, in.now))
        : QStringLiteral("The report gives no reset time for the %1").arg(w.name);
    return joined({reset, reportAge(*in.planUsage, in.planSource, in.now)});
}

QString smallTooltip(const PanelInputs &in)
{
    if (in.state.mode == DisplayMode::session) {
        const SessionStats &s = in.sessionStats;
        return QStringLiteral("Context window %1 % full: %2 of %3 tokens")
            .arg(s.contextPercent())
            .arg(tokens(s.lastContextTokens), tokens(s.contextWindowSize));
    }
    const QString unavailable = planUnavailable(in);
    if (!unavailable.isEmpty())
        return unavailable;
    return joined({windowUse(window(*in.planUsage, in.state.alternateView), in.now),
                   reportAge(*in.planUsage, in.planSource, in.now)});
}

QString activeTooltip(const PanelInputs &in)
{
    if (in.activeSessions.isEmpty())
        return QStringLiteral("ACTIVE: no Claude Code session is running");
    QStringList lines{in.activeSessions.size() == 1
                          ? QStringLiteral("ACTIVE: 1 Claude Code session running")
                          : QStringLiteral("ACTIVE: %1 Claude Code sessions running").arg(in.activeSessions.size())};
    for (const ActiveSession &session : in.activeSessions) {
        QString name = projectName(session.cwd);
        if (name.isEmpty())
            name = session.sessionId.left(8);
        const QString context = session.contextPercent ? QStringLiteral("%1 % context").arg(*session.contextPercent)
                                                       : QStringLiteral("context not read");
        const bool shown = !session.sessionId.isEmpty() && session.sessionId == in.sessionStats.sessionId;
        lines << QStringLiteral("\u2022 %1: %2%3").arg(name, context, shown ? QStringLiteral(" (shown)") : QString());
    }
    return lines.join(QLatin1Char('\n'));
}

QString windowKeyTooltip(const PanelInputs &in, bool weekly)
{
    const QString action = weekly ? QStringLiteral("7-DAY (key 7): show the 7-day window")
                                  : QStringLiteral("5-HOUR (key 5): show the 5-hour window");
    if (!in.planUsage || in.hasError())
        return action;
    return joined({action, windowUse(window(*in.planUsage, weekly), in.now)});
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
    const QString at = failure.retryAt ? failure.retryAt->toLocalTime().toString(QStringLiteral("HH:mm")) : QString();
    QString text;
    switch (failure.reason) {
    case PlanFailureReason::noToken:
        text = QStringLiteral("No Claude Code login found in %1")
                   .arg(credentialLocation.isEmpty() ? QStringLiteral("the credential store") : credentialLocation);
        break;
    case PlanFailureReason::tokenRefreshFailed:
        text = QStringLiteral("Could not renew the Claude Code login");
        break;
    case PlanFailureReason::tokenExpired:
        text = QStringLiteral("Login expired; Claude Code renews it when you next use it");
        break;
    case PlanFailureReason::tokenNotSaved:
        text = QStringLiteral("Could not save the renewed login");
        break;
    case PlanFailureReason::rateLimited:
        // The retry time is the whole message here, not an afterthought.
        return at.isEmpty() ? QStringLiteral("Rate limited by the usage service")
                            : QStringLiteral("Rate limited until %1").arg(at);
    case PlanFailureReason::badReply:
        text = QStringLiteral("The usage service sent something that is not a usage report");
        break;
    case PlanFailureReason::httpStatus:
        text = QStringLiteral("The usage service answered HTTP %1").arg(failure.httpStatus);
        break;
    case PlanFailureReason::timedOut:
        text = QStringLiteral("The usage service did not answer in time");
        break;
    case PlanFailureReason::transport:
        text = failure.transportText.isEmpty()
            ? QStringLiteral("Could not reach the usage service")
            : QStringLiteral("Could not reach the usage service: %1").arg(failure.transportText);
        break;
    }
    if (!at.isEmpty())
        text += QStringLiteral("; next try %1").arg(at);
    return text;
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
    return QStringLiteral("at this pace, 100 % in %1").arg(duration(qint64(toFull)));
}

QString panelTooltip(const PanelInputs &in, PanelArea area)
{
    const bool plan = in.state.mode == DisplayMode::plan;
    switch (area) {
    case PanelArea::main:
        return plan ? mainPlanTooltip(in) : mainSessionTooltip(in);
    case PanelArea::small:
        return smallTooltip(in);
    case PanelArea::quotas:
        return QStringLiteral("QUOTAS: plan mode, the 5-hour and 7-day quotas of your plan (K2)");
    case PanelArea::session:
        return QStringLiteral("SESSION: session mode, the tokens of the latest Claude Code session (K1)");
    case PanelArea::active:
        return activeTooltip(in);
    case PanelArea::error:
        return in.hasError() ? planUnavailable(in) : QStringLiteral("No error: the last plan fetch did not fail");
    case PanelArea::fiveHour:
        return windowKeyTooltip(in, false);
    case PanelArea::sevenDay:
        return windowKeyTooltip(in, true);
    case PanelArea::k1:
        return QStringLiteral("K1 (key 1): show the current Claude Code session's tokens");
    case PanelArea::k2:
        return QStringLiteral("K2 (key 2): show the plan quotas and fetch a fresh report (F5 fetches again)");
    case PanelArea::op:
        return opTooltip(in);
    }
    return {};
}
