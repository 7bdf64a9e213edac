#include "panelcontent.h"

#include <QtNumeric>


namespace {

const QString sessionLabel = QStringLiteral("CONTEXT WINDOW TOKENS - MESSAGES");
const QString totalLabel = QStringLiteral("TOTAL CONVERSATION TOKENS");

QString mainText(const PanelInputs &in)
{
    if (in.hasError() || in.waitingForStatusLine)
        return QStringLiteral("-- -- --");
    if (!in.planUsage && in.isFetching)
        return QStringLiteral(" - - - ");
    if (in.planUsage)
        return in.planUsage->resetTimerString(in.state.alternateView, in.now);
    return QStringLiteral("00 00 00");
}

} // namespace

PanelState applyClick(PanelState state, PanelClick click)
{
    switch (click) {
    case PanelClick::k1:
        state.mode = DisplayMode::session;
        break;
    case PanelClick::k2:
        state.mode = DisplayMode::plan;
        break;
    case PanelClick::op:
        state.alternateView = !state.alternateView;
        break;
    case PanelClick::fiveHour:
        state.alternateView = false;
        break;
    case PanelClick::sevenDay:
        state.alternateView = true;
        break;
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
        content.mainText = mainText(in);
        content.mainLabels = {QStringLiteral("D D"), QStringLiteral("H H"), QStringLiteral("M M")};
        // A failed fetch shows no figures at all: an old per cent beside a dashed countdown
        // would read as current.
        const std::optional<qint64> percent = in.planUsage && !in.hasError()
            ? (weekly ? in.planUsage->weeklyPercent() : in.planUsage->fiveHourPercent())
            : std::nullopt;
        content.smallValue = percent ? QString::number(*percent) : QStringLiteral("---");
        content.smallDimmed = percent && in.planUsage->isStale(in.now);
        if (!weekly)
            content.smallCaption = QStringLiteral("SESSION");
        else if (in.planUsage && in.planUsage->weeklyScope && !in.planUsage->weeklyScope->isEmpty())
            content.smallCaption = QStringLiteral("7-DAY \u00B7 ") + in.planUsage->weeklyScope->toUpper();
        else
            content.smallCaption = QStringLiteral("WEEKLY");
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
        content.smallValue = QString::number(stats.contextPercent());
        content.smallCaption = QStringLiteral("CONTEXT  WIN %");
        content.projectName = projectName(stats.cwd);
    }
    content.smallSuffix = QStringLiteral("%");

    content.leds[int(Led::quotas)] = plan;
    content.leds[int(Led::session)] = !plan;
    content.leds[int(Led::active)] = !plan && in.activeSessions.size() > 1;
    content.leds[int(Led::error)] = in.hasError();
    content.leds[int(Led::fiveHour)] = plan && !weekly;
    content.leds[int(Led::sevenDay)] = plan && weekly;

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
