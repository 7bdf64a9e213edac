#pragma once

#include <QPoint>
#include <QWidget>

#include <array>
#include <optional>

class ClaudeStatsReader;
class ContentView;
class PlanUsageFetcher;
class QAction;
class QMenu;
class QSettings;

// The program's one window: a frameless, translucent, always-on-top panel (650 x 185 at 100 %) whose only
// content is the ContentView, centred on the primary screen when created (or, with "Remember
// Position" on, where it was on its screen). Dragging from any point
// that is not a key moves the window, once the pointer has travelled the platform's drag distance,
// so a short click never leaves the window following the pointer. Its actions ("About Glimmerox", "Hide Glimmerox",
// "Bring to Front", "Quit Glimmerox") are offered on right-click where there is no menu bar,
// and their shortcuts work while the panel has focus.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    // The sizes the panel is offered in, in per cent of 650 x 185.
    static constexpr std::array<int, 4> sizePercents{100, 125, 150, 200};

    // settings keeps the chosen size and, while "Remember Position" is on, the position (otherwise
    // each launch centres), and must outlive the window; without one, the user's Glimmerox
    // settings are used.
    PanelWindow(ClaudeStatsReader &stats, PlanUsageFetcher &fetcher, QSettings *settings = nullptr,
                QWidget *parent = nullptr);

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

    // "Size": one checkable entry per size; Ctrl + "+" and Ctrl + "-" step through them.
    QMenu *sizeMenu() const { return m_sizeMenu; }
    QAction *largerAction() const { return m_larger; }
    QAction *smallerAction() const { return m_smaller; }
    int sizePercent() const { return m_sizePercent; }
    // Where the size is kept, for the menu's other settings.
    QSettings &settings() const { return *m_settings; }
    // Scales the whole panel around its centre and remembers the choice; other values are ignored.
    void setSizePercent(int percent);

    // "Remember Position", off by default: when on, the panel reopens where it was on its screen.
    QAction *rememberPositionAction() const { return m_rememberPosition; }

signals:
    void aboutRequested();
    // "Hide Glimmerox" was chosen; when nothing receives this, the panel minimises itself.
    void hideRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void buildSizeMenu();
    void applySize(int percent);
    void restorePosition();
    void storePosition();

    ContentView *m_view;
    QAction *m_about;
    QAction *m_hide;
    QAction *m_bringToFront;
    QAction *m_quit;
    // Where a left press on the body happened (global), until the move starts or the button is released.
    std::optional<QPoint> m_pressPosition;
    QList<QAction *> m_menuActions;
    QSettings *m_settings;
    QMenu *m_sizeMenu;
    QAction *m_larger;
    QAction *m_smaller;
    QAction *m_rememberPosition;
    int m_sizePercent = 100;
    // Where the press grabbed the window, when the platform cannot move it for us.
    std::optional<QPoint> m_dragOffset;
};
