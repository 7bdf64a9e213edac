#include "contentview.h"

#include "claudestatsreader.h"
#include "planusagefetcher.h"

#include <QMouseEvent>
#include <QPainter>

ContentView::ContentView(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QWidget *parent)
    : QWidget(parent)
    , m_stats(stats)
    , m_fetcher(fetcher)
    , m_layout(PanelLayout::compute(PanelFonts::system()))
    , m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());

    const auto repaint = [this] { update(); };
    connect(&stats, &ClaudeStatsReader::sessionStatsChanged, this, repaint);
    connect(&stats, &ClaudeStatsReader::activeSessionsChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::isFetchingChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::lastErrorChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::ticked, this, repaint);
}

PanelContent ContentView::content() const
{
    PanelInputs inputs;
    inputs.state = m_state;
    inputs.sessionStats = m_stats.sessionStats();
    inputs.activeSessionCount = m_stats.activeSessions().size();
    inputs.planUsage = m_fetcher.planUsage();
    inputs.isFetching = m_fetcher.isFetching();
    inputs.hasError = m_fetcher.lastError().has_value();
    inputs.now = m_clock();
    return computePanelContent(inputs);
}

void ContentView::setClock(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
    update();
}

void ContentView::click(PanelClick which)
{
    m_state = applyClick(m_state, which);
    update();
    // The fetch runs on its own and publishes through the fetcher's signals; nothing waits.
    if (which == PanelClick::k2)
        m_fetcher.fetchUsage();
}

void ContentView::clickK1() { click(PanelClick::k1); }
void ContentView::clickK2() { click(PanelClick::k2); }
void ContentView::clickOP() { click(PanelClick::op); }
void ContentView::clickFiveHour() { click(PanelClick::fiveHour); }
void ContentView::clickSevenDay() { click(PanelClick::sevenDay); }

QSize ContentView::sizeHint() const
{
    return {int(PanelLayout::width), int(PanelLayout::height)};
}

QPointF ContentView::toDesign(QPointF widgetPoint) const
{
    return {widgetPoint.x() * PanelLayout::width / width(), widgetPoint.y() * PanelLayout::height / height()};
}

void ContentView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.scale(width() / PanelLayout::width, height() / PanelLayout::height);
    paintPanel(painter, m_layout, content(), m_cache);
}

void ContentView::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton ? m_layout.hit(toDesign(event->position())) : std::nullopt;
    if (!m_pressed) {
        event->ignore(); // not a key: the window may start a move
        return;
    }
    event->accept();
}

void ContentView::mouseReleaseEvent(QMouseEvent *event)
{
    const std::optional<PanelClick> pressed = std::exchange(m_pressed, std::nullopt);
    if (!pressed || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // Like a push button: the action runs when released over the key that was pressed.
    if (m_layout.hit(toDesign(event->position())) == pressed)
        click(*pressed);
    event->accept();
}
