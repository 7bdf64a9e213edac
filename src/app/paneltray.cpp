#include "paneltray.h"

#include "applog.h"
#include "panelwindow.h"
#include "trayicon.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>

#include <utility>

PanelTray::PanelTray(PanelWindow &panel, TrayCheck trayAvailable)
    : QObject(&panel)
    , m_panel(panel)
    , m_trayAvailable(trayAvailable ? std::move(trayAvailable) : TrayCheck(&QSystemTrayIcon::isSystemTrayAvailable))
    , m_toolTip(trayToolTip({}, std::nullopt))
{
    connect(&panel, &PanelWindow::hideRequested, this, &PanelTray::hidePanel);
    panel.installEventFilter(this);
}

PanelTray::~PanelTray() = default;

void PanelTray::hidePanel()
{
    if (!m_trayAvailable()) {
        qCDebug(lcApp) << "no system tray; minimising the panel";
        m_panel.showMinimized();
        return;
    }
    if (!m_icon) {
        m_menu = std::make_unique<QMenu>();
        m_menu->addAction(m_panel.bringToFrontAction());
        m_menu->addSeparator();
        m_menu->addAction(m_panel.aboutAction());
        m_menu->addActions(m_panel.menuActions());
        m_menu->addSeparator();
        m_menu->addAction(m_panel.quitAction());
        m_icon = std::make_unique<QSystemTrayIcon>(figureIcon(m_figure, QApplication::windowIcon()));
        m_icon->setToolTip(m_toolTip);
        m_icon->setContextMenu(m_menu.get());
        connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                restorePanel();
        });
        m_icon->show();
        // With the panel hidden, closing a box opened from the tray menu (About) would otherwise
        // look like closing the last window and end the program.
        m_quitOnLastWindowClosed = QApplication::quitOnLastWindowClosed();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    m_panel.hide();
}

void PanelTray::restorePanel()
{
    m_panel.bringToFront();
}

void PanelTray::setFigures(const PanelInputs &shown)
{
    // Handed over every second: the icon is only told what changed.
    const QString toolTip = trayToolTip(shown.sessionStats, shown.planUsage);
    const bool newToolTip = toolTip != m_toolTip;
    m_toolTip = toolTip;
    const std::optional<qint64> figure = trayFigure(shown);
    const bool redraw = figure != m_figure;
    m_figure = figure;
    if (!m_icon)
        return;
    if (newToolTip)
        m_icon->setToolTip(m_toolTip);
    if (redraw)
        m_icon->setIcon(figureIcon(m_figure, QApplication::windowIcon()));
}

bool PanelTray::eventFilter(QObject *watched, QEvent *event)
{
    // However the panel comes back (tray click, "Bring to Front", a later launch), the icon goes.
    if (watched == &m_panel && event->type() == QEvent::Show && m_icon) {
        m_icon->hide();
        QApplication::setQuitOnLastWindowClosed(m_quitOnLastWindowClosed);
        // Not deleted here: this may run inside the icon's own activation signal.
        m_icon.release()->deleteLater();
        m_menu.release()->deleteLater();
    }
    return QObject::eventFilter(watched, event);
}

QString trayToolTip(const SessionStats &stats, const std::optional<PlanUsage> &usage)
{
    QStringList lines{QStringLiteral("Glimmerox")};
    if (!stats.sessionId.isEmpty()) {
        QString line = QObject::tr("Context %1 %").arg(stats.contextPercent());
        if (const QString project = projectName(stats.cwd); !project.isEmpty())
            line += QStringLiteral(" · ") + project;
        lines << line;
    }
    const auto percentText = [](std::optional<qint64> percent) {
        return percent ? QStringLiteral("%1 %").arg(*percent) : QStringLiteral("–");
    };
    if (usage)
        lines << QObject::tr("5-hour %1 · 7-day %2").arg(percentText(usage->fiveHourPercent()),
                                                         percentText(usage->weeklyPercent()));
    return lines.join(QLatin1Char('\n'));
}
