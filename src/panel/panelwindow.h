#pragma once

#include <QPoint>
#include <QWidget>

#include <optional>

class ClaudeStatsReader;
class ContentView;
class PlanUsageFetcher;
class QAction;

// The program's one window: a frameless, translucent, always-on-top 650 x 185 panel whose only
// content is the ContentView, centred on the primary screen when created. Dragging from any point
// that is not a key moves the window, once the pointer has travelled the platform's drag distance,
// so a short click never leaves the window following the pointer. Its actions ("About Glimmerox", "Hide Glimmerox",
// "Bring to Front", "Quit Glimmerox") are offered on right-click where there is no menu bar,
// and their shortcuts work while the panel has focus.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    PanelWindow(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QWidget *parent = nullptr);

    ContentView *contentView() const { return m_view; }
    QAction *aboutAction() const { return m_about; }
    QAction *hideAction() const { return m_hide; }
    QAction *bringToFrontAction() const { return m_bringToFront; }
    QAction *quitAction() const { return m_quit; }

    // Puts the window in the middle of its screen's available area.
    void centreOnScreen();
    // Shows, raises and activates the window, also after it was hidden or minimised.
    void bringToFront();
    // Offers a further action in the panel's menu, after "About Glimmerox".
    void addMenuAction(QAction *action);
    QList<QAction *> menuActions() const { return m_menuActions; }

signals:
    void aboutRequested();
    // "Hide Glimmerox" was chosen; when nothing receives this, the panel minimises itself.
    void hideRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    ContentView *m_view;
    QAction *m_about;
    QAction *m_hide;
    QAction *m_bringToFront;
    QAction *m_quit;
    // Where a left press on the body happened (global), until the move starts or the button is released.
    std::optional<QPoint> m_pressPosition;
    QList<QAction *> m_menuActions;
    // Where the press grabbed the window, when the platform cannot move it for us.
    std::optional<QPoint> m_dragOffset;
};
