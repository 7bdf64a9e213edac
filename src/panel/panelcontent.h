#pragma once

#include "palette.h"
#include "pace.h"
#include "planusage.h"
#include "promptcache.h"
#include "sessionstats.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QList>
#include <QStringList>

#include <array>
#include <optional>

// The two things the panel can show: the local session's token figures, or the plan's quotas.
enum class DisplayMode { session, plan };

// The LED row, left to right. The last two are also keys.
enum class Led { quotas, session, active, cache, error, fiveHour, sevenDay };
inline constexpr int ledCount = 7;

// The three push keys.
enum class Key { k1, k2, op };
inline constexpr int keyCount = 3;

// Everything a click can hit. The ACTIVE LED and the project name both pin the next session.
enum class PanelClick { k1, k2, op, fiveHour, sevenDay, active, project };

// Everything that explains itself in a tooltip: the two displays, every LED and every key.
enum class PanelArea { main, small, quotas, session, active, cache, error, fiveHour, sevenDay, k1, k2, op, project };

// The panel's own state: the only values the view keeps, in memory only.
struct PanelState
{
    DisplayMode mode = DisplayMode::session;
    bool alternateView = false;
    // In plan mode, how often 7-DAY was pressed again while a weekly window was shown: an index
    // into PlanUsage::weeklySteps(), taken round. 5-HOUR, OP and K1 set it back to the binding window.
    int weeklyStep = 0;

    friend bool operator==(const PanelState &, const PanelState &) = default;
};

// The state after a click. "K2" also starts a fetch; that is the view's job, not this one's.
PanelState applyClick(PanelState state, PanelClick click);

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
    // The shown session's prompt cache as its status line last sent it, and when (see promptcacheview.h).
    std::optional<PromptCacheSample> promptCache;
    QDateTime promptCacheSentAt;

    // The service is off for the status line, which has sent no plan figures yet.
    bool waitingForStatusLine = false;
    // Payloads arrive for the shown data directory, but none carries plan figures.
    bool statusLineSendsNoPlan = false;
    // When the shown session last wrote its transcript, as the view saw it (SessionActivity).
    std::optional<QDateTime> shownSessionWroteAt;
    // The bridge is installed, the shown live session wrote in the last 2 minutes, but no sample
    // came from it in that time.
    bool noStatusLineFromSession = false;
    // The sources that need no login have a figure newer than 15 minutes for the shown account.
    bool noLoginFiguresFresh = false;
    // The shown session's cost by Claude Code's reckoning, from its status line.
    std::optional<double> sessionCostUsd;
    // Off while Claude Code's settings run the status line: then K2 and F5 fetch nothing.
    bool serviceEnabled = true;
    // Each plan window's pace over its recent history (pace.h), when that history has enough.
    QHash<QString, Pace> paces; // by PlanWindow::key()

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

// The plan window the displays show: the 5-hour one, or in the alternate view the weekly step's.
std::optional<PlanWindow> shownPlanWindow(const PanelInputs &inputs);

// The window's pace over its recent history, while its period lasts and the history has enough.
std::optional<Pace> recentPace(const PanelInputs &inputs, const PlanWindow &window);
// In plan mode, the shown window's pace when it runs out before its reset: then the caption line
// says when, and the window's LED blinks slowly.
std::optional<Pace> shownRunOut(const PanelInputs &inputs);

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
