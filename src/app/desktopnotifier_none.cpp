#include "desktopnotifier.h"

#include "applog.h"

namespace {

// A system without a notification service Glimmerox knows: alerts go to the log only.
class LogOnlyNotifier : public DesktopNotifier
{
public:
    void notify(const DesktopNotification &notification) override
    {
        qCDebug(lcApp) << "no notification service here; notification dropped:" << notification.summary;
    }
};

} // namespace

std::unique_ptr<DesktopNotifier> systemNotifier()
{
    return std::make_unique<LogOnlyNotifier>();
}
