#pragma once

#include "panelcontent.h"
#include "planusage.h"
#include "sessionstats.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class PanelWindow;
class QMenu;
class QSystemTrayIcon;

// Where "Hide Glimmerox" puts the panel: into a system tray icon where the desktop has a tray
// (it shows the shown mode's figure as a number, its tooltip gives the current figures, a click
// brings the panel back, its menu has the panel's actions), otherwise minimised as before. The
// icon goes away once the panel shows again.
class PanelTray : public QObject
{
    Q_OBJECT

public:
    using TrayCheck = std::function<bool()>;

    // trayAvailable defaults to QSystemTrayIcon::isSystemTrayAvailable.
    explicit PanelTray(PanelWindow &panel, TrayCheck trayAvailable = {});
    ~PanelTray() override;

    void hidePanel();
    void restorePanel();
    // What the panel shows: its figures for the tooltip, its mode's figure for the icon.
    void setFigures(const PanelInputs &shown);

    // The icon while the panel is hidden in the tray, otherwise null.
    QSystemTrayIcon *trayIcon() const { return m_icon.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PanelWindow &m_panel;
    TrayCheck m_trayAvailable;
    QString m_toolTip;
    std::optional<qint64> m_figure;
    bool m_quitOnLastWindowClosed = true;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

// The tray icon's tooltip: the shown session's context fill and the plan windows' use.
QString trayToolTip(const SessionStats &stats, const std::optional<PlanUsage> &usage);
