#include <QWidget>

#import <AppKit/AppKit.h>

// The panel floats on every desktop space, also beside full-screen windows, and keeps the
// system's window shadow although its background is transparent.
void applyMacWindowBehaviour(QWidget &window)
{
    NSView *view = reinterpret_cast<NSView *>(window.winId());
    NSWindow *nsWindow = view.window;
    if (!nsWindow)
        return;
    // Floating level: above normal windows, below menus and modal panels (Qt's stay-on-top
    // hint alone would put the panel at the modal-panel level).
    nsWindow.level = NSFloatingWindowLevel;
    nsWindow.collectionBehavior = NSWindowCollectionBehaviorCanJoinAllSpaces
        | NSWindowCollectionBehaviorFullScreenAuxiliary;
    nsWindow.hasShadow = YES;
    [nsWindow invalidateShadow];
}
