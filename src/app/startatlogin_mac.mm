#include "startatlogin.h"

#include "applog.h"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

namespace {

// The application itself as its login item (SMAppService, macOS 13, the oldest system the build
// targets); the user sees and can remove it under System Settings, General, Login Items.
class MainAppLoginItem : public LoginItem
{
public:
    bool isEnabled() const override { return SMAppService.mainAppService.status == SMAppServiceStatusEnabled; }

    std::optional<QString> setEnabled(bool enabled) override
    {
        NSError *error = nil;
        const BOOL done = enabled ? [SMAppService.mainAppService registerAndReturnError:&error]
                                  : [SMAppService.mainAppService unregisterAndReturnError:&error];
        if (done)
            return std::nullopt;
        const QString reason = QString::fromNSString(error.localizedDescription);
        qCInfo(lcApp) << "the login item could not be changed:" << reason;
        return reason;
    }
};

} // namespace

std::unique_ptr<LoginItem> loginItemForCurrentUser()
{
    return std::make_unique<MainAppLoginItem>();
}
