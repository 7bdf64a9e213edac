#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QObject;

// Whether the panel starts when the user logs in: an autostart entry on free desktops, the
// application's login item on macOS.
class LoginItem
{
public:
    LoginItem() = default;
    virtual ~LoginItem() = default;
    Q_DISABLE_COPY_MOVE(LoginItem)

    virtual bool isEnabled() const = 0;
    // Turns it on or off; the reason when that failed.
    virtual std::optional<QString> setEnabled(bool enabled) = 0;
};

// The current user's, starting this executable; null where the system has none we know.
std::unique_ptr<LoginItem> loginItemForCurrentUser();

// The menu's "Start at Login" check item, showing and changing the setting. A change that
// fails leaves the mark showing what is in place and hands the reason to reportFailure.
QAction *createStartAtLoginAction(std::shared_ptr<LoginItem> item, QObject *parent,
                                  std::function<void(const QString &)> reportFailure);
