#include "windowbehaviour.h"

#include <QTimer>
#include <QWidget>

#import <AppKit/AppKit.h>

namespace {

// Floating level: above normal windows, below menus and modal panels (Qt's stay-on-top hint
// alone would put the panel at the modal-panel level). Every desktop space, also beside
// full-screen windows, and the system's shadow although the background is transparent.
void applyMacWindowBehaviour(QWidget &window)
{
    NSView *view = (__bridge NSView *)reinterpret_cast<void *>(window.winId());
    NSWindow *nsWindow = view.window;
    if (!nsWindow)
        return;
    nsWindow.level = NSFloatingWindowLevel;
    nsWindow.collectionBehavior = NSWindowCollectionBehaviorCanJoinAllSpaces
        | NSWindowCollectionBehaviorFullScreenAuxiliary;
    nsWindow.hasShadow = YES;
    [nsWindow invalidateShadow];
}

} // namespace

void platformwindow::beforeShow(QWidget &window, bool)
{
    // Qt sets the window's level as it orders the window in, so ours follows once it is shown.
    QTimer::singleShot(0, &window, [&window] { applyMacWindowBehaviour(window); });
}

void platformwindow::updateShape(QWidget &) {}
