#include "contentview.h"

#include "cachedusagereport.h"
#include "claudestatsreader.h"
#include "panellog.h"
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
    {PanelClick::active, u"ACTIVE", u"Pin the next running session; after the last one, follow the latest again. Keyboard: S."},
    {PanelClick::fiveHour, u"5-HOUR", u"Plan mode: show the 5-hour quota window. Session mode: show the last call's tokens. Keyboard: 5."},
    {PanelClick::sevenDay, u"7-DAY", u"Plan mode: show the 7-day quota window. Session mode: show the session's total tokens. Keyboard: 7."},
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
    case PanelClick::active: return layout.led(Led::active).item;
    case PanelClick::project: return layout.projectName;
    }
    return {};
}

bool isChecked(const PanelContent &content, PanelClick click)
{
    switch (click) {
    case PanelClick::active:
    case PanelClick::project: return content.projectPinned;
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
    case Qt::Key_S: return PanelClick::active;
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
    // Two rings, pale over dark, so the focus shows on a lit red key as well as on an unlit one;
    // both on whole pixels, so neither is blurred into the other at ratio 1.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::withOpacity(Qt::black, 0.8f), 2));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 2, 2);
    painter.setPen(QPen(Palette::engraving, 1, Qt::DashLine));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 2, 2);
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
        m_buttons[static_cast<int>(which)] = button;
    }
    placeButtons();

    m_blink.setInterval(400);
    connect(&m_blink, &QTimer::timeout, this, [this] {
        m_blinkOn = !m_blinkOn;
        update();
    });

    const auto repaint = [this] { refresh(); };
    connect(&stats, &ClaudeStatsReader::sessionStatsChanged, this, [this] {
        m_activity = m_activity.after(m_stats.sessionStats(), m_clock());
        refresh();
    });
    connect(&stats, &ClaudeStatsReader::activeSessionsChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::planUsageChanged, this, repaint);
    connect(&stats, &ClaudeStatsReader::pinnedSessionChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::isFetchingChanged, this, [this] {
        followFetching();
        refresh();
    });
    connect(&fetcher, &PlanUsageFetcher::lastErrorChanged, this, repaint);
    connect(&fetcher, &PlanUsageFetcher::ticked, this, [this] { update(); });
    followFetching();
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
    inputs.nextFetchAt = m_fetcher.nextFetchAt();
    inputs.now = m_clock();
    inputs.pinnedSessionId = m_stats.pinnedSession();
    inputs.blinkOn = m_blinkOn;
    inputs.paces = m_paces;
    if (m_activity.sessionId == inputs.sessionStats.sessionId)
        inputs.shownSessionWroteAt = m_activity.wroteAt;
    if (m_samples || m_cachedReports)
        return withStatusLine(inputs, m_samples ? m_samples->samples() : QList<DataDirectorySamples>(), m_dataDirectory,
                              m_fetcher.isServiceEnabled(),
                              m_cachedReports ? m_cachedReports->reports() : QHash<QString, QList<PlanWindow>>());
    return inputs;
}

void ContentView::followFetching()
{
    m_blinkOn = true;
    if (m_fetcher.isFetching())
        m_blink.start();
    else
        m_blink.stop();
}

void ContentView::setScale(qreal scale)
{
    Q_ASSERT(scale > 0);
    m_scale = scale;
    setFixedSize(sizeHint());
    placeButtons();
    update();
}

void ContentView::placeButtons()
{
    for (const KeyDescription &key : keyDescriptions)
        m_buttons[static_cast<int>(key.click)]->setGeometry(toWidget(clickRect(m_layout, key.click)));
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

void ContentView::setCachedReports(CachedUsageReports *reports)
{
    if (m_cachedReports)
        disconnect(m_cachedReports, nullptr, this, nullptr);
    m_cachedReports = reports;
    if (m_cachedReports)
        connect(m_cachedReports, &CachedUsageReports::reportsChanged, this, &ContentView::refresh);
}

void ContentView::setPlanPaces(QHash<QString, Pace> paces)
{
    m_paces = std::move(paces);
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
    // A blinking LED is no change of the key's state.
    PanelInputs steady = inputs();
    steady.isFetching = false;
    const PanelContent now = computePanelContent(steady);
    for (const KeyDescription &key : keyDescriptions)
        m_buttons[static_cast<int>(key.click)]->setChecked(isChecked(now, key.click));
    update();
}

void ContentView::pinNextSession()
{
    const QString next = nextPinnedSession(m_stats.activeSessions(), m_stats.pinnedSession());
    qCDebug(lcPanel) << "pin" << (next.isEmpty() ? QStringLiteral("follows the latest session") : next);
    m_stats.setPinnedSession(next);
}

void ContentView::click(PanelClick which)
{
    if (which == PanelClick::active || which == PanelClick::project) {
        pinNextSession();
        return;
    }
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
    return {qRound(PanelLayout::width * m_scale), qRound(PanelLayout::height * m_scale)};
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
    QToolTip::showText(help->globalPos(), toolTipShowingPlainText(panelTooltip(inputs(), *area)), this,
                       toWidget(m_layout.areaRect(*area)));
    return true;
}

bool ContentView::focusNextPrevChild(bool next)
{
    // Tab goes round the six keys: the panel itself draws no focus ring, so it is no stop.
    QList<QWidget *> ring;
    for (const KeyDescription &key : keyDescriptions)
        ring << keyButton(key.click);
    const qsizetype count = ring.size();
    const qsizetype at = ring.indexOf(focusWidget());
    const qsizetype to = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    ring.at(to)->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
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
    const std::optional<PanelClick> which = clickForKey(event->key());
    if (event->key() != Qt::Key_F5 && !which) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A held key is one press: its repeats neither fetch nor flip the view back and forth.
    if (event->isAutoRepeat())
        return;
    if (which)
        click(*which);
    else
        fetchNow();
}

void ContentView::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton ? m_layout.hit(toDesign(event->position())) : std::nullopt;
    // The project name is a key only while it is printed; elsewhere the key row is body.
    if (m_pressed == PanelClick::project && content().projectName.isEmpty())
        m_pressed.reset();
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
