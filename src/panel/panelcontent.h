#pragma once

#include "palette.h"
#include "planusage.h"
#include "sessionstats.h"

#include <QDateTime>
#include <QString>
#include <QList>
#include <QStringList>

#include <array>
#include <optional>

// The two things the panel can show: the local session's token figures, or the plan's quotas.
enum class DisplayMode { session, plan };

// The LED row, left to right. The last two are also keys.
enum class Led { quotas, session, active, error, fiveHour, sevenDay };
inline constexpr int ledCount = 6;

// The three push keys.
enum class Key { k1, k2, op };
inline constexpr int keyCount = 3;

// Everything a click can hit.
enum class PanelClick { k1, k2, op, fiveHour, sevenDay };

// Everything that explains itself in a tooltip: the two displays, every LED and every key.
enum class PanelArea { main, small, quotas, session, active, error, fiveHour, sevenDay, k1, k2, op };

// The panel's own state: the only two values the view keeps.
struct PanelState
{
    DisplayMode mode = DisplayMode::session;
    bool alternateView = false;

    friend bool operator==(const PanelState &, const PanelState &) = default;
};

// The state after a click. "K2" also starts a fetch; that is the view's job, not this one's.
PanelState applyClick(PanelState state, PanelClick click);

// Where the plan figures on show come from.
enum class PlanSource { usageService, statusLine };

// What the panel reads from its two sources at one redraw, plus the clock.
struct PanelInputs
{
    PanelState state;
    SessionStats sessionStats;
    QList<ActiveSession> activeSessions;
    std::optional<PlanUsage> planUsage;
    bool isFetching = false;
    // The fetcher's short error code; present while the last fetch failed.
    std::optional<QString> lastError;
    // The same failure with its reason, for the words of the tooltips.
    std::optional<PlanFailure> lastFailure;
    QString credentialLocation;
    QDateTime now;

    // Claude Code's status line as the plan source (see statuslineplan.h).
    PlanSource planSource = PlanSource::usageService;
    // The service is off for the status line, which has sent no plan figures yet.
    bool waitingForStatusLine = false;

    bool hasError() const { return lastError.has_value(); }
};

// Which strip the main display shows.
enum class MainStripKind { number, text };

// What every display, caption, LED and key shows at one redraw.
struct PanelContent
{
    MainStripKind mainKind = MainStripKind::number;
    qint64 mainValue = 0; // when mainKind is number: shown in eight positions
    QString mainText;     // when mainKind is text: one cell per character

    // One centred caption in session mode, the three digit-pair captions in plan mode.
    QStringList mainLabels;

    QString smallValue;
    QString smallSuffix;
    QString smallCaption;
    // A plan report older than planReportStaleSeconds: the small display is drawn dimmed.
    bool smallDimmed = false;

    // The shown session's project folder, printed small in the key row; empty in plan mode.
    QString projectName;

    std::array<bool, ledCount> leds{};
    std::array<bool, keyCount> keys{};

    bool ledLit(Led led) const { return leds[static_cast<int>(led)]; }
    bool keyLit(Key key) const { return keys[static_cast<int>(key)]; }
    bool planCaptions() const { return mainLabels.size() == 3; }

    friend bool operator==(const PanelContent &, const PanelContent &) = default;
};

PanelContent computePanelContent(const PanelInputs &inputs);

// The largest figure the eight-digit display shows as it is; past it the display shows thousands.
inline constexpr qint64 mainDisplayLimit = 99'999'999;

// The legend printed beside an LED.
QString ledLabel(Led led);
// The legend printed on a key.
QString keyLabel(Key key);
