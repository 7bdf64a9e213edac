#pragma once

#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"
#include "statuslineplan.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class CachedUsageReports;
class ClaudeStatsReader;
class PlanUsageFetcher;
class StatusLineSamples;

// A key of the painted panel as a real, focusable widget: it draws nothing but a focus ring
// (the panel under it is the key's look) and gives assistive tools and the keyboard a button
// with a name, a description and a checked state. Mouse input passes through to the panel.
class PanelKeyButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit PanelKeyButton(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The instrument panel: holds the display mode and the alternate-view toggle, redraws the
// whole panel from both sources whenever either changes (and on the fetcher's tick, so the
// countdowns advance), and turns clicks and key presses into their actions. Presses elsewhere
// are left to the parent, which uses them to move the window. Hovering an LED, a key or a
// display shows what it means now.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    ContentView(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QWidget *parent = nullptr);

    DisplayMode mode() const { return m_state.mode; }
    bool alternateView() const { return m_state.alternateView; }

    // What the panel reads now, and what it shows from that.
    PanelInputs inputs() const;
    PanelContent content() const;
    const PanelLayout &layout() const { return m_layout; }
    // The accessible button standing for a clickable element.
    PanelKeyButton *keyButton(PanelClick which) const
    {
        return m_buttons[static_cast<int>(which == PanelClick::project ? PanelClick::active : which)];
    }

    // Claude Code's status line as a further source: plan figures and context window sizes,
    // for sessions of `dataDirectory` unless a sample names another (see statuslineplan.h).
    void setStatusLineSamples(StatusLineSamples *samples, const QString &dataDirectory);
    // Claude Code's cached usage reports as the source after the status line.
    void setCachedReports(CachedUsageReports *reports);

    // Each plan window's pace over its recent history, by PlanWindow::key(), for the captions,
    // LEDs and tooltips.
    void setPlanPaces(QHash<QString, Pace> paces);

    // The clock the countdowns are computed from; the system clock unless replaced.
    void setClock(std::function<QDateTime()> clock);

    // How large the panel is drawn: 1 is 650 x 185; painting, hit areas and tooltips follow.
    void setScale(qreal scale);
    qreal scale() const { return m_scale; }

    // One operation per key, shared by mouse, keyboard, accessibility and tests.
    void clickK1();
    void clickK2(); // switches to plan mode and asks for a fetch (the fetcher spaces them)
    void clickOP();
    void clickFiveHour();
    void clickSevenDay();
    void pinNextSession(); // ACTIVE, the project name or S: the next live session, then the latest again
    void click(PanelClick which);
    void fetchNow(); // F5: asks for a fetch, the mode unchanged

    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPointF toDesign(QPointF widgetPoint) const;
    QRect toWidget(const QRectF &designRect) const;
    // Brings the buttons' checked state in line with the content, then repaints.
    void refresh();
    void placeButtons();
    // Blinks the shown window's LED while a fetch runs.
    void followFetching();
    // K2 and F5: fresh plan figures from every source that is on.
    void fetchPlan();

    ClaudeStatsReader &m_stats;
    PlanUsageFetcher &m_fetcher;
    StatusLineSamples *m_samples = nullptr;
    CachedUsageReports *m_cachedReports = nullptr;
    QString m_dataDirectory;
    QHash<QString, Pace> m_paces;
    PanelState m_state;
    PanelLayout m_layout;
    PanelPaintCache m_cache;
    std::function<QDateTime()> m_clock;
    SessionActivity m_activity;
    std::optional<PanelClick> m_pressed;
    qreal m_scale = 1;
    QTimer m_blink;
    bool m_blinkOn = true;
    // One per click but the project name, which shares the ACTIVE LED's.
    std::array<PanelKeyButton *, 6> m_buttons{};
};
