#pragma once

#include "panelcontent.h"
#include "panellayout.h"
#include "panelpainter.h"

#include <QDateTime>
#include <QWidget>

#include <functional>
#include <optional>

class ClaudeStatsReader;
class PlanUsageFetcher;

// The instrument panel: holds the display mode and the alternate-view toggle, redraws the
// whole panel from both sources whenever either changes (and on the fetcher's tick, so the
// countdowns advance), and turns clicks on the keys into their actions. Presses elsewhere are
// left to the parent, which uses them to move the window.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    ContentView(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QWidget *parent = nullptr);

    DisplayMode mode() const { return m_state.mode; }
    bool alternateView() const { return m_state.alternateView; }

    // What the panel shows right now.
    PanelContent content() const;
    const PanelLayout &layout() const { return m_layout; }

    // The clock the countdowns are computed from; the system clock unless replaced.
    void setClock(std::function<QDateTime()> clock);

    // One operation per key, shared by mouse handling and tests.
    void clickK1();
    void clickK2(); // switches to plan mode and starts one fetch, on every click
    void clickOP();
    void clickFiveHour();
    void clickSevenDay();
    void click(PanelClick which);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPointF toDesign(QPointF widgetPoint) const;

    ClaudeStatsReader &m_stats;
    PlanUsageFetcher &m_fetcher;
    PanelState m_state;
    PanelLayout m_layout;
    PanelPaintCache m_cache;
    std::function<QDateTime()> m_clock;
    std::optional<PanelClick> m_pressed;
};
