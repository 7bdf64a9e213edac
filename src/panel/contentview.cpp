#include "contentview.h"

#include "claudestatsreader.h"
#include "logging.h"
#include "palette.h"
#include "paneltooltip.h"
#include "planusagefetcher.h"
#include "statuslinesamples.h"
#include "statuslineplan.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

struct KeyDescription
{
    PanelClick click;
    const char16_t *name;
    const char16_t *description;
};

// Tab order follows the panel's reading order: the LED keys above, then K1, K2 and OP.
constexpr KeyDescription keyDescriptions[] = {
    {PanelClick::fiveHour, u"5-HOUR", u"Show the 5-hour quota window. Keyboard: 5."},
    {PanelClick::sevenDay, u"7-DAY", u"Show the 7-day quota window. Keyboard: 7."},
    {PanelClick::k1, u"K1", u"Session mode: the current Claude Code session's tokens. Keyboard: 1."},
    {PanelClick::k2, u"K2", u"Plan mode: the plan's quotas; fetches a fresh report. Keyboard: 2; F5 fetches again."},
    {PanelClick::op, u"OP", u"Alternate view: total tokens, or the 7-day window. Keyboard: O."},
};

QRectF clickRect(const PanelLayout &layout, PanelClick click)
{
    switch (click) {
    case PanelClick::k1: return layout.key(Key::k1).cap;
    case PanelClick::k2: return layout.key(Key::k2).cap;
    case PanelClick::op: return layout.key(Key::op).cap;
    case PanelClick::fiveHour: return layout.led(Led::fiveHour).item;
    case PanelClick::sevenDay: return layout.led(Led::sevenDay).item;
    }
    return {};
}

bool isLit(const PanelContent &content, PanelClick click)
{
    switch (click) {
    case PanelClick::k1: return content.keyLit(Key::k1);
    case PanelClick::k2: return content.keyLit(Key::k2);
    case PanelClick::op: return content.keyLit(Key::op);
    case PanelClick::fiveHour: return content.ledLit(Led::fiveHour);
    case PanelClick::sevenDay: return content.ledLit(Led::sevenDay);
    }
    return false;
}

std::optional<PanelClick> clickForKey(int key)
{
    switch (key) {
    case Qt::Key_1: return PanelClick::k1;
    case Qt::Key_2: return PanelClick::k2;
    case Qt::Key_O: return PanelClick::op;
    case Qt::Key_5: return PanelClick::fiveHour;
    case Qt::Key_7: return PanelClick::sevenDay;
    default: return std::nullopt;
    }
}

} // namespace

PanelKeyButton::PanelKeyButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    // Clicks are the panel's: it tells a click on a key from the start of a window move.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PanelKeyButton::paintEvent(QPaintEvent *)
{
    if (!hasFocus())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::withOpacity(Palette::ledRed, 0.8f), 1, Qt::DotLine));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
}

ContentView::ContentView(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QWidget *parent)
    : QWidget(parent)
    , m_stats(stats)
    , m_fetcher(fetcher)
    , m_layout(PanelLayout::compute(PanelFonts::system()))
    , m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Glimmerox panel"));
    setFixedSize(sizeHint());

    // The buttons are created in tab order, so focus moves through them as they are listed.
    for (const KeyDescription &key : keyDescriptions) {
        auto *button = new PanelKeyButton(this);
        button->setText(QString::fromUtf16(key.name));
        button->setAccessibleName(QString::fromUtf16(key.name));
        button->setAccessibleDescription(QString::fromUtf16(key.description));
        const PanelClick which = key.click;
        connect(button, &QAbstractButton::clicked, this, [this, which] { click(which); });
        button->setGeometry(toWidget(clickRect(m_layout, which))); // the panel's size is fixed
        m_buttons[static_cast<int>(which)] = button;
    }

    const auto repaint = [this] { refresh(); };
    connect(&stats, &ClaudeStatsReader::sessionStatsChanged, this, repaint);
    connect(&stats, &ClaudeStatsReader::activeSessionsChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::isFetchingChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::lastErrorChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::ticked, this, [this] { update(); });
    refresh();
}

PanelInputs ContentView::inputs() const
{
    PanelInputs inputs;
    inputs.state = m_state;
    inputs.sessionStats = m_stats.sessionStats();
    inputs.activeSessions = m_stats.activeSessions();
    inputs.planUsage = m_fetcher.planUsage();
    inputs.isFetching = m_fetcher.isFetching();
    inputs.lastError = m_fetcher.lastError();
    inputs.lastFailure = m_fetcher.lastFailure();
    inputs.credentialLocation = m_fetcher.credentialLocation();
    inputs.now = m_clock();
    if (m_samples)
        return withStatusLine(inputs, m_samples->samples(), m_dataDirectory, m_fetcher.isServiceEnabled());
    return inputs;
}

void ContentView::setStatusLineSamples(StatusLineSamples *samples, const QString &dataDirectory)
{
    if (m_samples)
        disconnect(m_samples, nullptr, this, nullptr);
    m_samples = samples;
    m_dataDirectory = dataDirectory;
    if (m_samples)
        connect(m_samples, &StatusLineSamples::samplesChanged, this, &ContentView::refresh);
    refresh();
}

PanelContent ContentView::content() const
{
    return computePanelContent(inputs());
}

void ContentView::setClock(std::function<QDateTime()> clock)
{
    Q_ASSERT(clock);
    m_clock = std::move(clock);
    update();
}

void ContentView::refresh()
{
    const PanelContent now = content();
    for (const KeyDescription &key : keyDescriptions)
        m_buttons[static_cast<int>(key.click)]->setChecked(isLit(now, key.click));
    update();
}

void ContentView::click(PanelClick which)
{
    m_state = applyClick(m_state, which);
    qCDebug(lcPanel) << "key" << int(which) << "mode" << int(m_state.mode) << "alternate" << m_state.alternateView;
    refresh();
    // The fetch runs on its own and publishes through the fetcher's signals; nothing waits.
    if (which == PanelClick::k2)
        fetchPlan();
}

void ContentView::fetchPlan()
{
    // The status line's figures are read again; the service is asked unless it is off.
    if (m_samples)
        m_samples->reload();
    m_fetcher.fetchUsage();
}

void ContentView::clickK1() { click(PanelClick::k1); }
void ContentView::clickK2() { click(PanelClick::k2); }
void ContentView::clickOP() { click(PanelClick::op); }
void ContentView::clickFiveHour() { click(PanelClick::fiveHour); }
void ContentView::clickSevenDay() { click(PanelClick::sevenDay); }

void ContentView::fetchNow()
{
    qCDebug(lcPanel) << "fetch requested from the keyboard";
    fetchPlan();
}

QSize ContentView::sizeHint() const
{
    return {int(PanelLayout::width), int(PanelLayout::height)};
}

QPointF ContentView::toDesign(QPointF widgetPoint) const
{
    return {widgetPoint.x() * PanelLayout::width / width(), widgetPoint.y() * PanelLayout::height / height()};
}

QRect ContentView::toWidget(const QRectF &designRect) const
{
    const qreal sx = width() / PanelLayout::width;
    const qreal sy = height() / PanelLayout::height;
    return QRectF(designRect.x() * sx, designRect.y() * sy, designRect.width() * sx, designRect.height() * sy)
        .toAlignedRect();
}

bool ContentView::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const std::optional<PanelArea> area = m_layout.areaAt(toDesign(help->pos()));
    if (!area) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // The text is worked out when asked, so it says what the element means at this moment.
    QToolTip::showText(help->globalPos(), panelTooltip(inputs(), *area), this, toWidget(m_layout.areaRect(*area)));
    return true;
}

void ContentView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.scale(width() / PanelLayout::width, height() / PanelLayout::height);
    paintPanel(painter, m_layout, content(), m_cache);
}

void ContentView::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) {
        QWidget::keyPressEvent(event); // Ctrl+Q and the like belong to the window's actions
        return;
    }
    if (event->key() == Qt::Key_F5) {
        fetchNow();
        return;
    }
    if (const std::optional<PanelClick> which = clickForKey(event->key())) {
        click(*which);
        return;
    }
    QWidget::keyPressEvent(event);
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
