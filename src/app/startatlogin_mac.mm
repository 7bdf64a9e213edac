#include "startatlogin.h"

#include "applog.h"

#include <QObject>

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

namespace {

// The application itself as its login item (macOS 13 and later); the user sees and can remove
// it under System Settings, General, Login Items.
class MainAppLoginItem : public LoginItem
{
public:
    bool isEnabled() const override
    {
        if (@available(macOS 13.0, *))
            return SMAppService.mainAppService.status == SMAppServiceStatusEnabled;
        return false;
    }

    std::optional<QString> setEnabled(bool enabled) override
    {
        if (@available(macOS 13.0, *)) {
            NSError *error = nil;
            const BOOL done = enabled ? [SMAppService.mainAppService registerAndReturnError:&error]
                                      : [SMAppService.mainAppService unregisterAndReturnError:&error];
            if (done)
                return std::nullopt;
            const QString reason = QString::fromNSString(error.localizedDescription);
            qCInfo(lcApp) << "the login item could not be changed:" << reason;
            return reason;
        }
        return QObject::tr("Login items need macOS 13 or later.");
    }
};

} // namespace

std::unique_ptr<LoginItem> loginItemForCurrentUser()
{
    return std::make_unique<MainAppLoginItem>();
}
