#include "desktopnotifier_freedesktop.h"
#include "usagenotifications.h"

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

// Stands in for the desktop's notification server: records every Notify call.
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList capabilities;
    QStringList calls; // "app name|icon|summary|body"

    // Takes the service's name on `bus`.
    bool serve(QDBusConnection &bus)
    {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &appName, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        calls << QStringList{appName, icon, summary, body}.join(u'|');
        return uint(calls.size());
    }
};

// Starts a private session bus that can start no service of its own; its address, or empty.
QString startPrivateBus(const QTemporaryDir &dir, QProcess &bus)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    QFile config(dir.filePath(QStringLiteral("bus.conf")));
    if (daemon.isEmpty() || !config.open(QIODevice::WriteOnly))
        return {};
    config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + dir.path().toUtf8()
                 + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                   "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    config.close();
    bus.start(daemon, {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
    while (!bus.canReadLine() && bus.waitForReadyRead(10000)) {
    }
    return QString::fromUtf8(bus.readLine().trimmed());
}

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    // A bus that does not answer (its daemon stopped) holds up neither the start nor an alert:
    // the notification waits, and arrives once the bus answers again.
    void aStoppedBusBlocksNothing_data()
    {
        QTest::addColumn<bool>("connectedFirst");
        QTest::addRow("stopped before the panel connects") << false;
        QTest::addRow("stopped after the panel connected") << true;
    }
    void aStoppedBusBlocksNothing()
    {
        QFETCH(bool, connectedFirst);
        QTemporaryDir dir;
        QProcess bus; // killed when it goes, stopped or not
        const QString address = startPrivateBus(dir, bus);
        if (address.isEmpty())
            QSKIP("dbus-daemon is not installed or did not start");
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        QDBusConnection serverBus = QDBusConnection::connectToBus(address, QStringLiteral("server ") + row);
        NotificationServer server;
        QVERIFY(server.serve(serverBus));
        const auto connectPanel = [=] { return QDBusConnection::connectToBus(address, QStringLiteral("panel ") + row); };
        std::optional<FreedesktopNotifier> notifier;
        if (connectedFirst)
            notifier.emplace(connectPanel());
        QVERIFY(::kill(pid_t(bus.processId()), SIGSTOP) == 0);
        if (!connectedFirst)
            notifier.emplace(connectPanel);
        notifier->notify(QStringLiteral("waits"), QStringLiteral("for the bus"));
        // A blocking call would have come back only after the bus's timeout, the alert dropped.
        QCOMPARE(notifier->pendingNotifications(), 1);

        QVERIFY(::kill(pid_t(bus.processId()), SIGCONT) == 0);
        QTRY_COMPARE(server.calls, QStringList{QStringLiteral("Glimmerox|glimmerox|waits|for the bus")});
    }

    void notificationsOnAPrivateBus_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body"); // the session alert's body names this folder
        QTest::addRow("a service reading markup gets the folder escaped")
            << QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}
            << QStringLiteral("R&amp;D &lt;b&gt;x");
        QTest::addRow("a plain-text service gets it as it is") << QStringList{QStringLiteral("body")}
                                                               << QStringLiteral("R&D <b>x");
    }
    void notificationsOnAPrivateBus()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        QTemporaryDir dir;
        QProcess bus;
        const QString address = startPrivateBus(dir, bus);
        if (address.isEmpty())
            QSKIP("dbus-daemon is not installed or did not start");

        // Connections are named per row: a name already in use would return the last row's bus.
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        // A bus without a server: nothing happens, and nothing is kept for later.
        FreedesktopNotifier notifier(QDBusConnection::connectToBus(address, QStringLiteral("panel ") + row));
        notifier.notify(QStringLiteral("dropped"), {});
        QTRY_COMPARE(notifier.pendingNotifications(), 0);

        QDBusConnection serverBus = QDBusConnection::connectToBus(address, QStringLiteral("server ") + row);
        NotificationServer server;
        server.capabilities = capabilities;
        QVERIFY(server.serve(serverBus));

        UsageNotifications notifications(notifier);
        PlanUsage usage;
        usage.fiveHourResetsAt = QDateTime::currentDateTimeUtc().addSecs(3600);
        for (double figure : {90.0 /* the baseline */, 96.0, 97.0}) {
            usage.fiveHourUtilization = figure;
            notifications.observe(usage);
        }
        SessionStats stats;
        stats.sessionId = QStringLiteral("s1");
        stats.cwd = QStringLiteral("/home/ana/R&D <b>x");
        for (qint64 tokens : {20000, 170000}) {
            stats.lastContextTokens = tokens;
            notifications.observe(stats);
        }
        QTRY_COMPARE(server.calls.size(), 2);
        const QString &plan = server.calls.at(0), &session = server.calls.at(1);
        QVERIFY2(plan.startsWith(QStringLiteral("Glimmerox|glimmerox|")) && plan.contains(QStringLiteral("96 %")), qPrintable(plan));
        QVERIFY2(session.contains(QStringLiteral(" in ") + body + QStringLiteral(" has")) && session.contains(QStringLiteral("85 %")),
                 qPrintable(session));
        bus.terminate();
        bus.waitForFinished();
    }
};

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
