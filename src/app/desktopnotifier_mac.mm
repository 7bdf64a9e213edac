#include "desktopnotifier.h"

#include "logging.h"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

namespace {

// Posts through the user notification centre. The centre exists only for a bundled application;
// run outside a bundle (a bare build) notifications are dropped.
class NotificationCentreNotifier : public DesktopNotifier
{
public:
    NotificationCentreNotifier()
    {
        if (!available())
            return;
        [[UNUserNotificationCenter currentNotificationCenter]
            requestAuthorizationWithOptions:(UNAuthorizationOptionAlert | UNAuthorizationOptionSound)
                          completionHandler:^(BOOL granted, NSError *error) {
                              if (!granted || error)
                                  qCDebug(lcApp) << "notifications not allowed";
                          }];
    }

    void notify(const QString &summary, const QString &body) override
    {
        if (!available()) {
            qCDebug(lcApp) << "not a bundled application; notification dropped:" << summary;
            return;
        }
        UNMutableNotificationContent *content = [[[UNMutableNotificationContent alloc] init] autorelease];
        content.title = summary.toNSString();
        content.body = body.toNSString();
        UNNotificationRequest *request =
            [UNNotificationRequest requestWithIdentifier:[[NSUUID UUID] UUIDString] content:content trigger:nil];
        [[UNUserNotificationCenter currentNotificationCenter]
            addNotificationRequest:request
             withCompletionHandler:^(NSError *error) {
                 if (error)
                     qCDebug(lcApp) << "the notification centre refused a notification";
             }];
    }

private:
    static bool available() { return NSBundle.mainBundle.bundleIdentifier != nil; }
};

} // namespace

std::unique_ptr<DesktopNotifier> systemNotifier()
{
    return std::make_unique<NotificationCentreNotifier>();
}
