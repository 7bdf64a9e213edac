#pragma once

#include <QString>

#include <memory>

// Puts up a desktop notification. Where the desktop offers no notification service the
// notification is dropped without an error: notifications are a courtesy, never required.
class DesktopNotifier
{
public:
    DesktopNotifier() = default;
    virtual ~DesktopNotifier() = default;
    Q_DISABLE_COPY_MOVE(DesktopNotifier)

    virtual void notify(const QString &summary, const QString &body) = 0;
};

// The platform's: the freedesktop notification service on the session bus (Linux and other
// free desktops), the user notification centre on macOS.
std::unique_ptr<DesktopNotifier> systemNotifier();
