#include "startatlogin.h"

#include "logging.h"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

// The application itself as its login item (macOS 13 and later); the user sees and can remove
// it under System Settings, General, Login Items.
StartAtLogin StartAtLogin::forCurrentUser()
{
    return {};
}

bool StartAtLogin::isEnabled() const
{
    if (@available(macOS 13.0, *))
        return SMAppService.mainAppService.status == SMAppServiceStatusEnabled;
    return false;
}

bool StartAtLogin::setEnabled(bool enabled) const
{
    if (@available(macOS 13.0, *)) {
        NSError *error = nil;
        const BOOL done = enabled ? [SMAppService.mainAppService registerAndReturnError:&error]
                                  : [SMAppService.mainAppService unregisterAndReturnError:&error];
        if (!done)
            qCInfo(lcApp) << "the login item could not be changed:"
                          << QString::fromNSString(error.localizedDescription);
        return done;
    }
    qCInfo(lcApp) << "login items need macOS 13 or later";
    return false;
}
