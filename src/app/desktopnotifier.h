#pragma once

#include <QString>

#include <memory>

// One desktop notification.
struct DesktopNotification
{
    QString summary;
    QString body;
    // Shown as urgent: freedesktop urgency 2 (critical), time-sensitive on macOS.
    bool urgent = false;
    // A notification takes the place of the one put up before under the same key instead of
    // stacking beside it; an empty key never replaces anything.
    QString replaceKey;

    friend bool operator==(const DesktopNotification &, const DesktopNotification &) = default;
};

// Puts up a desktop notification. Where the desktop offers no notification service the
// notification is dropped without an error: notifications are a courtesy, never required.
class DesktopNotifier
{
public:
    DesktopNotifier() = default;
    virtual ~DesktopNotifier() = default;
    Q_DISABLE_COPY_MOVE(DesktopNotifier)

    virtual void notify(const DesktopNotification &notification) = 0;
};

// The platform's: the freedesktop notification service on the session bus (Linux and other
// free desktops), the user notification centre on macOS.
std::unique_ptr<DesktopNotifier> systemNotifier();
