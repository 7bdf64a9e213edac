#pragma once

#include "palette.h"
#include "pace.h"
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

// Everything a click can hit. The ACTIVE LED and the project name both pin the next session.
enum class PanelClick { k1, k2, op, fiveHour, sevenDay, active, project };

// Everything that explains itself in a tooltip: the two displays, every LED and every key.
enum class PanelArea { main, small, quotas, session, active, error, fiveHour, sevenDay, k1, k2, op, project };

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
    // When the fetcher tries next on its own.
    std::optional<QDateTime> nextFetchAt;
    QDateTime now;
    // The session the user pinned; empty while the panel follows the latest one.
    QString pinnedSessionId;
    // While a fetch runs, the shown window's LED follows this phase, so it blinks.
    bool blinkOn = true;

    // Claude Code's status line as the plan source (see statuslineplan.h).
    PlanSource planSource = PlanSource::usageService;
    // The service is off for the status line, which has sent no plan figures yet.
    bool waitingForStatusLine = false;
    // Off while Claude Code's settings run the status line: then K2 and F5 fetch nothing.
    bool serviceEnabled = true;
    // Each plan window's pace over its recent history (pace.h), when that history has enough.
    std::optional<Pace> fiveHourPace;
    std::optional<Pace> weeklyPace;

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

    // The last good countdown, kept while the fetch after it failed: drawn dimmed.
    bool mainDimmed = false;

    // One centred caption in session mode, the three digit-pair captions in plan mode.
    QStringList mainLabels;

    QString smallValue;
    QString smallSuffix;
    QString smallCaption;
    // A plan report older than planReportStaleSeconds, or kept from before a failed fetch:
    // the small display is drawn dimmed.
    bool smallDimmed = false;

    // The shown session's project folder, printed small in the key row; empty in plan mode.
    QString projectName;
    // The shown session is pinned: a pin mark goes beside its project name.
    bool projectPinned = false;

    std::array<bool, ledCount> leds{};
    std::array<bool, keyCount> keys{};

    bool ledLit(Led led) const { return leds[static_cast<int>(led)]; }
    bool keyLit(Key key) const { return keys[static_cast<int>(key)]; }
    bool planCaptions() const { return mainLabels.size() == 3; }

    friend bool operator==(const PanelContent &, const PanelContent &) = default;
};

PanelContent computePanelContent(const PanelInputs &inputs);

// The order in which the pin visits the live sessions: the oldest first.
QList<ActiveSession> sessionsInPinOrder(QList<ActiveSession> sessions);
// The session the pin moves to from the one pinned now (empty: following the latest): the next
// live one in pin order, and after the last one empty again, back to following the latest.
QString nextPinnedSession(const QList<ActiveSession> &sessions, const QString &pinned);

// The largest figure the eight-digit display shows as it is; past it the display shows thousands.
inline constexpr qint64 mainDisplayLimit = 99'999'999;

// The legend printed beside an LED.
QString ledLabel(Led led);
// The legend printed on a key.
QString keyLabel(Key key);
