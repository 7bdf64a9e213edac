#include "panelcontent.h"

#include "displaytext.h"
#include "historyrecord.h"
#include "promptcacheview.h"

#include <QtNumeric>

#include <algorithm>


namespace {

const QString sessionLabel = QStringLiteral("CONTEXT WINDOW TOKENS - MESSAGES");
const QString totalLabel = QStringLiteral("TOTAL CONVERSATION TOKENS");

const QString planDashes = QStringLiteral("-- -- --");
// Any character but a digit, "-" or a space is an unlit cell.
const QString idleWindowText = QStringLiteral("__ __ __");

QString mainText(const PanelInputs &in, const std::optional<PlanWindow> &shown)
{
    if (in.planUsage) {
        if (!in.planUsage->hasWindows())
            return planDashes;
        // An idle window has not started, so nothing counts down: its cells stay dark, unlike
        // the zeros shown before the first fetch. A window whose reset has passed is a new idle
        // one; credits and the spend limit have no countdown at all, even where Claude Code
        // sends the spend limit's monthly reset.
        if (!shown || shown->kind == PlanWindowKind::credits || shown->kind == PlanWindowKind::spend
            || !shown->resetsAt || !shown->resetsAt->isValid() || shown->hasReset(in.now))
            return idleWindowText;
        return resetCountdown(shown->resetsAt, in.now);
    }
    if (in.hasError() || in.waitingForStatusLine || in.statusLineSendsNoPlan)
        return planDashes;
    if (in.isFetching)
        return QStringLiteral(" - - - ");
    return QStringLiteral("00 00 00");
}

QString smallPlanCaption(bool weekly, const std::optional<PlanWindow> &shown)
{
    if (!weekly)
        return QStringLiteral("SESSION");
    if (!shown)
        return QStringLiteral("WEEKLY");
    switch (shown->kind) {
    case PlanWindowKind::credits: return QStringLiteral("CREDITS");
    case PlanWindowKind::spend: return QStringLiteral("SPEND");
    case PlanWindowKind::fiveHour:
    case PlanWindowKind::weekly: break;
    }
    if (shown->scope.isEmpty())
        return QStringLiteral("WEEKLY");
    return QStringLiteral("7-DAY \u00B7 ") + sanitizedDisplayText(shown->scope).toUpper();
}

} // namespace

std::optional<PlanWindow> shownPlanWindow(const PanelInputs &in)
{
    if (!in.planUsage)
        return std::nullopt;
    if (!in.state.alternateView)
        return in.planUsage->window(HistoryKey::fiveHour);
    const QList<PlanWindow> steps = in.planUsage->weeklySteps();
    if (steps.isEmpty())
        return std::nullopt;
    return steps.at(qsizetype(in.state.weeklyStep) % steps.size());
}

std::optional<Pace> recentPace(const PanelInputs &in, const PlanWindow &window)
{
    const auto found = in.paces.constFind(window.key());
    if (found == in.paces.cend() || window.hasReset(in.now))
        return std::nullopt;
    return *found;
}

std::optional<Pace> shownRunOut(const PanelInputs &in)
{
    if (in.state.mode != DisplayMode::plan)
        return std::nullopt;
    const std::optional<PlanWindow> shown = shownPlanWindow(in);
    const std::optional<Pace> pace = shown ? recentPace(in, *shown) : std::nullopt;
    return pace && pace->beforeReset ? pace : std::nullopt;
}

PanelState applyClick(PanelState state, PanelClick click)
{
    switch (click) {
    case PanelClick::k1:
        state.mode = DisplayMode::session;
        state.weeklyStep = 0;
        break;
    case PanelClick::k2:
        state.mode = DisplayMode::plan;
        break;
    case PanelClick::op:
        state.alternateView = !state.alternateView;
        state.weeklyStep = 0;
        break;
    case PanelClick::fiveHour:
        state.alternateView = false;
        state.weeklyStep = 0;
        break;
    case PanelClick::sevenDay:
        // Pressed again in plan mode: the next weekly window, then credits and the spend limit.
        if (state.mode == DisplayMode::plan && state.alternateView)
            ++state.weeklyStep;
        state.alternateView = true;
        break;
    case PanelClick::active:
    case PanelClick::project:
        break; // the pin belongs to the reader, not to the panel's state
    }
    return state;
}

PanelContent computePanelContent(const PanelInputs &in)
{
    const bool plan = in.state.mode == DisplayMode::plan;
    const bool weekly = in.state.alternateView;
    PanelContent content;

    if (plan) {
        content.mainKind = MainStripKind::text;
        const std::optional<PlanWindow> shown = shownPlanWindow(in);
        content.mainText = mainText(in, shown);
        content.mainLabels = {QStringLiteral("D D"), QStringLiteral("H H"), QStringLiteral("M M")};
        // A failed fetch keeps the last good figures, dimmed beside the lit ERROR LED, so they
        // never read as current.
        const bool kept = in.planUsage && in.planUsage->hasWindows() && in.hasError();
        content.mainDimmed = kept;
        if (shown) {
            content.smallValue = QString::number(shown->hasReset(in.now) ? 0 : shown->percent());
            content.smallDimmed = kept || shown->isStale(in.now);
        } else {
            content.smallValue = QStringLiteral("---");
        }
        content.smallCaption = smallPlanCaption(weekly, shown);
    } else {
        const SessionStats &stats = in.sessionStats;
        content.mainKind = MainStripKind::number;
        const qint64 value = weekly ? stats.totalTokens : stats.contextAndOutput();
        QString label = weekly ? totalLabel : sessionLabel;
        // Long sessions pass eight digits; thousands keep the figure moving instead of freezing at 99999999.
        if (value > mainDisplayLimit) {
            content.mainValue = value / 1000;
            label += QStringLiteral(" \u00D71000");
        } else {
            content.mainValue = value;
        }
        content.mainLabels = {label};
        // Without a live session there is no context to fill: the display stays dark, not "0 %".
        content.smallValue = in.activeSessions.isEmpty() ? QStringLiteral("---") : QString::number(stats.contextPercent());
        content.smallCaption = QStringLiteral("CONTEXT  WIN %");
        content.projectName = sanitizedDisplayText(projectName(stats.cwd));
        content.projectPinned = !in.pinnedSessionId.isEmpty() && in.pinnedSessionId == stats.sessionId;
    }
    content.smallSuffix = QStringLiteral("%");

    content.leds[int(Led::quotas)] = plan;
    content.leds[int(Led::session)] = !plan;
    content.leds[int(Led::active)] = !plan && in.activeSessions.size() > 1;
    content.leds[int(Led::cache)] = cacheLedLit(in);
    content.leds[int(Led::error)] = in.hasError();
    content.leds[int(Led::fiveHour)] = plan && !weekly;
    content.leds[int(Led::sevenDay)] = plan && weekly;
    // A fetch in progress: the LED of the window it will show blinks, in either mode.
    // Otherwise, a shown window that runs out before its reset at the recent pace says when in
    // the caption line, and its LED blinks slowly, once every 2 s of the clock.
    const std::optional<Pace> runOut = shownRunOut(in);
    const bool runsOut = runOut.has_value();
    if (runsOut)
        content.mainLabels = {paceCaption(*runOut, in.now)};
    if (in.isFetching)
        content.leds[int(weekly ? Led::sevenDay : Led::fiveHour)] = in.blinkOn;
    else if (runsOut)
        content.leds[int(weekly ? Led::sevenDay : Led::fiveHour)] = in.now.toSecsSinceEpoch() % 2 == 0;

    content.keys[int(Key::k1)] = !plan;
    content.keys[int(Key::k2)] = plan;
    content.keys[int(Key::op)] = weekly;
    return content;
}

QString ledLabel(Led led)
{
    switch (led) {
    case Led::quotas: return QStringLiteral("QUOTAS");
    case Led::session: return QStringLiteral("SESSION");
    case Led::active: return QStringLiteral("ACTIVE");
    case Led::cache: return QStringLiteral("CACHE");
    case Led::error: return QStringLiteral("ERROR");
    case Led::fiveHour: return QStringLiteral("5-HOUR");
    case Led::sevenDay: return QStringLiteral("7-DAY");
    }
    return {};
}

QString keyLabel(Key key)
{
    switch (key) {
    case Key::k1: return QStringLiteral("K1");
    case Key::k2: return QStringLiteral("K2");
    case Key::op: return QStringLiteral("OP");
    }
    return {};
}

QList<ActiveSession> sessionsInPinOrder(QList<ActiveSession> sessions)
{
    std::stable_sort(sessions.begin(), sessions.end(), [](const ActiveSession &a, const ActiveSession &b) {
        return std::tie(a.startedAt, a.sessionId) < std::tie(b.startedAt, b.sessionId);
    });
    return sessions;
}

QString nextPinnedSession(const QList<ActiveSession> &sessions, const QString &pinned)
{
    const QList<ActiveSession> order = sessionsInPinOrder(sessions);
    const auto isPinned = [&](const ActiveSession &s) { return !pinned.isEmpty() && s.sessionId == pinned; };
    const auto current = std::find_if(order.cbegin(), order.cend(), isPinned);
    // Following the latest, or pinned to a session that ended: start from the first.
    const auto next = current == order.cend() ? order.cbegin() : current + 1;
    return next == order.cend() ? QString() : next->sessionId;
}
