#pragma once

class QAction;
class QSettings;
class QWidget;
class UsageNotifications;

// The menu's "Notifications" check item: on by default, kept in `settings` (beside the panel's
// size), and turning every notification off and on at once.
QAction *createNotificationsAction(QSettings &settings, UsageNotifications &notifications, QWidget *parent);
