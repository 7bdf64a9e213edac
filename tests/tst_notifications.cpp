#include "desktopnotifier_freedesktop.h"
#include "usagenotifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Stands in for the desktop's notification server: records every Notify call.
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName, icon, summary;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString &appName, uint, const QString &icon, const QString &summary, const QString &,
                const QStringList &, const QVariantMap &, int)
    {
        calls.append({appName, icon, summary});
        return uint(calls.size());
    }
};

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void thresholdsReachTheServer();
    void noServerNoNotification();

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;
};

void TestNotifications::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        QSKIP("dbus-daemon is not installed");
    // A private session bus that can start no service of its own.
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<busconfig><type>session</type><listen>unix:tmpdir=" + m_dir.path().toUtf8()
               + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                 "<allow own=\"*\"/></policy></busconfig>");
    file.close();
    m_bus.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                         QStringLiteral("--print-address")});
    QVERIFY(m_bus.waitForReadyRead(10000));
    while (!m_bus.canReadLine())
        QVERIFY(m_bus.waitForReadyRead(10000));
    m_address = QString::fromUtf8(m_bus.readLine().trimmed());
}

void TestNotifications::cleanupTestCase()
{
    m_bus.terminate();
    m_bus.waitForFinished();
}

void TestNotifications::thresholdsReachTheServer()
{
    QDBusConnection serverBus = QDBusConnection::connectToBus(m_address, QStringLiteral("server"));
    NotificationServer server;
    QVERIFY(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                     QDBusConnection::ExportAllSlots));
    QVERIFY(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    FreedesktopNotifier notifier(QDBusConnection::connectToBus(m_address, QStringLiteral("panel")));
    UsageNotifications notifications(notifier);
    PlanUsage usage;
    usage.fiveHourResetsAt = QDateTime::currentDateTimeUtc().addSecs(3600);
    for (double figure : {90.0 /* the baseline */, 96.0, 97.0}) {
        usage.fiveHourUtilization = figure;
        notifications.observe(usage);
    }
    SessionStats stats;
    stats.sessionId = QStringLiteral("s1");
    stats.lastContextTokens = 20000;
    notifications.observe(stats);
    stats.lastContextTokens = 170000;
    notifications.observe(stats);

    QTRY_COMPARE(server.calls.size(), 2);
    QCOMPARE(server.calls.at(0).appName, QStringLiteral("Glimmerox"));
    QCOMPARE(server.calls.at(0).icon, QStringLiteral("glimmerox"));
    QVERIFY2(server.calls.at(0).summary.contains(QStringLiteral("96 %")), qPrintable(server.calls.at(0).summary));
    QVERIFY2(server.calls.at(1).summary.contains(QStringLiteral("85 %")), qPrintable(server.calls.at(1).summary));
    serverBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
}

void TestNotifications::noServerNoNotification()
{
    // No bus at all: nothing happens.
    FreedesktopNotifier(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), QStringLiteral("none")))
        .notify(QStringLiteral("lost"), {});

    FreedesktopNotifier notifier(QDBusConnection::connectToBus(m_address, QStringLiteral("early")));
    notifier.notify(QStringLiteral("dropped"), {});
    // A server that comes later sees only what was sent after it came: nothing was queued.
    QDBusConnection serverBus = QDBusConnection::connectToBus(m_address, QStringLiteral("late server"));
    NotificationServer server;
    serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server, QDBusConnection::ExportAllSlots);
    QVERIFY(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    notifier.notify(QStringLiteral("delivered"), {});
    QTRY_COMPARE(server.calls.size(), 1);
    QCOMPARE(server.calls.at(0).summary, QStringLiteral("delivered"));
}

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
