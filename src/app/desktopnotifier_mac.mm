#include "desktopnotifier.h"

#include "applog.h"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

// Without a delegate that says otherwise, the centre keeps quiet about notifications that
// arrive while their application is the active one, which the panel often is.
@interface GlimmeroxNotificationDelegate : NSObject <UNUserNotificationCenterDelegate>
@end

@implementation GlimmeroxNotificationDelegate

- (void)userNotificationCenter:(UNUserNotificationCenter *)center
       willPresentNotification:(UNNotification *)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions options))completionHandler
{
    (void)center;
    (void)notification;
    completionHandler(UNNotificationPresentationOptionBanner | UNNotificationPresentationOptionList
                      | UNNotificationPresentationOptionSound);
}

@end

namespace {

// Posts through the user notification centre. The centre exists only for a bundled application;
// run outside a bundle (a bare build) notifications are dropped. Built with ARC.
class NotificationCentreNotifier : public DesktopNotifier
{
public:
    NotificationCentreNotifier()
    {
        if (!available())
            return;
        UNUserNotificationCenter *centre = [UNUserNotificationCenter currentNotificationCenter];
        // The centre holds its delegate weakly; this object keeps it alive.
        m_delegate = [[GlimmeroxNotificationDelegate alloc] init];
        centre.delegate = m_delegate;
        [centre requestAuthorizationWithOptions:(UNAuthorizationOptionAlert | UNAuthorizationOptionSound)
                              completionHandler:^(BOOL granted, NSError *error) {
                                  if (!granted || error)
                                      qCDebug(lcApp) << "notifications not allowed";
                              }];
    }

    ~NotificationCentreNotifier() override
    {
        if (m_delegate && [UNUserNotificationCenter currentNotificationCenter].delegate == m_delegate)
            [UNUserNotificationCenter currentNotificationCenter].delegate = nil;
    }

    void notify(const DesktopNotification &notification) override
    {
        if (!available()) {
            qCDebug(lcApp) << "not a bundled application; notification dropped:" << notification.summary;
            return;
        }
        UNMutableNotificationContent *content = [[UNMutableNotificationContent alloc] init];
        content.title = notification.summary.toNSString();
        content.body = notification.body.toNSString();
        // Time-sensitive breaks through Focus only where the signature carries that entitlement;
        // elsewhere the centre shows it as an active notification.
        if (@available(macOS 12.0, *)) {
            if (notification.urgent)
                content.interruptionLevel = UNNotificationInterruptionLevelTimeSensitive;
        }
        // A request with the identifier of one still shown takes its place.
        NSString *identifier = notification.replaceKey.isEmpty()
            ? [[NSUUID UUID] UUIDString]
            : (QStringLiteral("org.glimmerox.") + notification.replaceKey).toNSString();
        UNNotificationRequest *request = [UNNotificationRequest requestWithIdentifier:identifier
                                                                              content:content
                                                                              trigger:nil];
        [[UNUserNotificationCenter currentNotificationCenter]
            addNotificationRequest:request
             withCompletionHandler:^(NSError *error) {
                 if (error)
                     qCDebug(lcApp) << "the notification centre refused a notification:"
                                    << QString::fromNSString(error.localizedDescription);
             }];
    }

private:
    static bool available() { return NSBundle.mainBundle.bundleIdentifier != nil; }

    GlimmeroxNotificationDelegate *m_delegate = nil;
};

} // namespace

std::unique_ptr<DesktopNotifier> systemNotifier()
{
    return std::make_unique<NotificationCentreNotifier>();
}
