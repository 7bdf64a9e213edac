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
    nsWindow.collectionBehavior = NSWindowCollectionBehaviorCanJoinAllSpaces
        | NSWindowCollectionBehaviorFullScreenAuxiliary;
    nsWindow.hasShadow = YES;
    [nsWindow invalidateShadow];
}
