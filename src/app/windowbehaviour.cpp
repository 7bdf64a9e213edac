#include "windowbehaviour.h"

#include <QEvent>
#include <QWidget>

namespace {

class PlatformWindowBehaviour : public QObject
{
public:
    explicit PlatformWindowBehaviour(QWidget &window)
        : QObject(&window)
        , m_window(window)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window && event->type() == QEvent::Show) {
            // Sent before the window is mapped, unless the system brought it back itself.
            platformwindow::beforeShow(m_window, event->spontaneous());
            platformwindow::updateShape(m_window);
        } else if (watched == &m_window && event->type() == QEvent::Resize) {
            platformwindow::updateShape(m_window);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget &m_window;
};

} // namespace

void keepPlatformWindowBehaviour(QWidget &panel)
{
    new PlatformWindowBehaviour(panel); // owned by the panel
    if (panel.isVisible())
        platformwindow::beforeShow(panel, true);
}
