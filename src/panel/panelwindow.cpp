#include "panelwindow.h"

#include "contentview.h"
#include "panelposition.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QWindow>

#include <algorithm>

namespace {

const QString sizeKey = QStringLiteral("panel/sizePercent");
const QString rememberPositionKey = QStringLiteral("panel/rememberPosition");
const QString positionScreenKey = QStringLiteral("panel/positionScreen");
const QString positionOffsetKey = QStringLiteral("panel/positionOffset");

QList<ScreenArea> screenAreas()
{
    QList<ScreenArea> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas.append({screen->name(), screen->geometry(), screen->availableGeometry()});
    return areas;
}

} // namespace

PanelWindow::PanelWindow(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QSettings *settings, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_view(new ContentView(stats, fetcher, this))
    , m_about(new QAction(tr("About Glimmerox"), this))
    , m_hide(new QAction(tr("Hide Glimmerox"), this))
    , m_bringToFront(new QAction(tr("Bring to Front"), this))
    , m_quit(new QAction(tr("Quit Glimmerox"), this))
    , m_settings(settings ? settings : new QSettings(QStringLiteral("Glimmerox"), QStringLiteral("Glimmerox"), this))
    , m_sizeMenu(new QMenu(tr("Size"), this))
    , m_larger(new QAction(tr("Larger"), this))
    , m_smaller(new QAction(tr("Smaller"), this))
    , m_rememberPosition(new QAction(tr("Remember Position"), this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Glimmerox"));
    setFixedSize(m_view->size());
    m_view->move(0, 0);

#ifndef Q_OS_MACOS
    // On macOS the native application menu already hides the application on Command-H.
    m_hide->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
#endif
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_about->setMenuRole(QAction::AboutRole);
    m_quit->setMenuRole(QAction::QuitRole);
    for (QAction *action : {m_about, m_hide, m_bringToFront, m_quit}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(m_about, &QAction::triggered, this, &PanelWindow::aboutRequested);
    // A frameless panel has no other way back once hidden, so unless the application hides it
    // somewhere else (a tray icon), hiding minimises it: the taskbar (or "Bring to Front") restores it.
    connect(m_hide, &QAction::triggered, this, [this] {
        if (isSignalConnected(QMetaMethod::fromSignal(&PanelWindow::hideRequested)))
            emit hideRequested();
        else
            showMinimized();
    });
    connect(m_bringToFront, &QAction::triggered, this, &PanelWindow::bringToFront);
    connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    buildSizeMenu();

    const int saved = m_settings->value(sizeKey, 100).toInt();
    if (std::find(sizePercents.cbegin(), sizePercents.cend(), saved) != sizePercents.cend())
        applySize(saved);
    centreOnScreen();

    m_rememberPosition->setCheckable(true);
    m_rememberPosition->setChecked(m_settings->value(rememberPositionKey, false).toBool());
    connect(m_rememberPosition, &QAction::toggled, this, [this](bool remember) {
        m_settings->setValue(rememberPositionKey, remember);
        if (remember)
            storePosition();
    });
    if (m_rememberPosition->isChecked())
        restorePosition();
}

// The remembered place when its screen is still there, held inside what that screen offers now;
// otherwise the panel stays centred.
void PanelWindow::restorePosition()
{
    if (!m_settings->contains(positionScreenKey))
        return;
    const RememberedPosition remembered{m_settings->value(positionScreenKey).toString(),
                                        m_settings->value(positionOffsetKey).toPoint()};
    if (const std::optional<QPoint> position = reopenedPosition(remembered, size(), screenAreas()))
        move(*position);
}

void PanelWindow::storePosition()
{
    // The screen that holds the panel's centre; a panel dragged off every screen keeps its own.
    const QScreen *target = QGuiApplication::screenAt(geometry().center());
    if (!target)
        target = screen();
    if (!target)
        return;
    const RememberedPosition remembered =
        rememberedPosition({target->name(), target->geometry(), target->availableGeometry()}, pos());
    m_settings->setValue(positionScreenKey, remembered.screen);
    m_settings->setValue(positionOffsetKey, remembered.offset);
}

void PanelWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_rememberPosition->isChecked())
        storePosition();
}

void PanelWindow::buildSizeMenu()
{
    auto *group = new QActionGroup(m_sizeMenu);
    for (const int percent : sizePercents) {
        QAction *entry = m_sizeMenu->addAction(QStringLiteral("%1 %").arg(percent));
        entry->setCheckable(true);
        entry->setChecked(percent == m_sizePercent);
        entry->setData(percent);
        group->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, percent] { setSizePercent(percent); });
    }
    // Ctrl and "=" too: on many keyboards "+" needs Shift.
    m_larger->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    m_smaller->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    const auto step = [this](int direction) {
        const auto current = std::find(sizePercents.cbegin(), sizePercents.cend(), m_sizePercent);
        const auto next = current + direction;
        if (next >= sizePercents.cbegin() && next < sizePercents.cend())
            setSizePercent(*next);
    };
    connect(m_larger, &QAction::triggered, this, [step] { step(+1); });
    connect(m_smaller, &QAction::triggered, this, [step] { step(-1); });
    m_sizeMenu->addSeparator();
    m_sizeMenu->addAction(m_larger);
    m_sizeMenu->addAction(m_smaller);
    for (QAction *action : {m_larger, m_smaller}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
}

void PanelWindow::applySize(int percent)
{
    m_sizePercent = percent;
    m_view->setScale(percent / 100.0);
    setFixedSize(m_view->size());
    for (QAction *entry : m_sizeMenu->actions())
        if (entry->isCheckable())
            entry->setChecked(entry->data().toInt() == percent);
}

void PanelWindow::setSizePercent(int percent)
{
    if (std::find(sizePercents.cbegin(), sizePercents.cend(), percent) == sizePercents.cend()
        || percent == m_sizePercent)
        return;
    const QPoint centre = geometry().center();
    applySize(percent);
    QRect grown(centre - QPoint(width() / 2, height() / 2), size());
    // Grown about its centre, the panel may reach past the screen's edge: it is pushed back in,
    // its top-left corner first when it is larger than the screen.
    if (const QScreen *target = screen())
        grown = keptInside(grown, target->availableGeometry());
    move(grown.topLeft());
    m_settings->setValue(sizeKey, percent);
}

void PanelWindow::centreOnScreen()
{
    const QScreen *target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    const QRect area = target->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2) + QPoint(1, 1));
}

void PanelWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void PanelWindow::addMenuAction(QAction *action)
{
    m_menuActions.append(action);
}

void PanelWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressPosition = event->globalPosition().toPoint();
    m_dragOffset.reset();
    event->accept();
}

void PanelWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressPosition && (event->buttons() & Qt::LeftButton)) {
        const QPoint travelled = event->globalPosition().toPoint() - *m_pressPosition;
        if (travelled.manhattanLength() < QApplication::startDragDistance()) {
            event->accept();
            return;
        }
        // Some window managers keep a window glued to the pointer when a move starts on a
        // press that ends at once; starting only on a real drag avoids that.
        QWindow *window = windowHandle();
        if (!window || !window->startSystemMove())
            m_dragOffset = *m_pressPosition - pos();
        m_pressPosition.reset();
    }
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *m_dragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void PanelWindow::mouseReleaseEvent(QMouseEvent *event)
{
    m_pressPosition.reset();
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

void PanelWindow::contextMenuEvent(QContextMenuEvent *event)
{
#ifdef Q_OS_MACOS
    // The application menu in the menu bar carries these actions on macOS.
    QWidget::contextMenuEvent(event);
#else
    QMenu menu(this);
    menu.addAction(m_about);
    menu.addActions(m_menuActions);
    menu.addMenu(m_sizeMenu);
    menu.addAction(m_rememberPosition);
    menu.addSeparator();
    menu.addAction(m_hide);
    menu.addAction(m_bringToFront);
    menu.addSeparator();
    menu.addAction(m_quit);
    menu.exec(event->globalPos());
#endif
}
