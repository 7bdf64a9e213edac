#include "desktopnotifier_freedesktop.h"
#include "notificationsaction.h"
#include "usagenotifications.h"

#include <QAction>

#include <QDBusConnection>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

using namespace Qt::StringLiterals;

// Stands in for the desktop's notification server: records every Notify call.
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList capabilities;
    QStringList calls; // "app name|icon|summary|body|urgency|replaced id"
    uint lastId = 100;

    // Takes the service's name on `bus`.
    bool serve(QDBusConnection &bus)
    {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
            && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        // The urgency is a byte, as the protocol has it.
        const QVariant urgency = hints.value(QStringLiteral("urgency"));
        const QString level = urgency.typeId() == QMetaType::UChar ? QString::number(urgency.toInt()) : u"?"_s;
        calls << QStringList{appName, icon, summary, body, level, QString::number(replacesId)}.join(u'|');
        // As a server does: a replaced notification keeps its id.
        return replacesId ? replacesId : ++lastId;
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
    // The menu item: on at first, and once turned off, off again at the next launch.
    void menuItemKeepsItsChoice()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(u"glimmerox.ini"_s), QSettings::IniFormat);
        FreedesktopNotifier notifier(QDBusConnection(u"none"_s));
        UsageNotifications notifications(notifier);
        const std::unique_ptr<QAction> item(createNotificationsAction(settings, notifications, nullptr));
        QVERIFY(item->isChecked() && notifications.isEnabled());
        item->trigger();
        QVERIFY(!notifications.isEnabled());
        UsageNotifications nextLaunch(notifier);
        const std::unique_ptr<QAction> nextItem(createNotificationsAction(settings, nextLaunch, nullptr));
        QVERIFY(!nextItem->isChecked() && !nextLaunch.isEnabled());
    }

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
        notifier->notify({QStringLiteral("waits"), QStringLiteral("for the bus"), false, {}});
        // A blocking call would have come back only after the bus's timeout, the alert dropped.
        QCOMPARE(notifier->pendingNotifications(), 1);

        QVERIFY(::kill(pid_t(bus.processId()), SIGCONT) == 0);
        QTRY_COMPARE(server.calls, QStringList{QStringLiteral("Glimmerox|glimmerox|waits|for the bus|1|0")});
    }

    void notificationsOnAPrivateBus_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body"); // the session alerts' bodies name this folder
        QTest::addRow("a service reading markup gets the folder escaped")
            << QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}
            << QStringLiteral("R&amp;D &lt;b&gt;x-%1-draft");
        QTest::addRow("a plain-text service gets it as it is") << QStringList{QStringLiteral("body")}
                                                               << QStringLiteral("R&D <b>x-%1-draft");
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
        notifier.notify({QStringLiteral("dropped"), {}, false, QStringLiteral("context/s1")});
        QTRY_COMPARE(notifier.pendingNotifications(), 0);

        QDBusConnection serverBus = QDBusConnection::connectToBus(address, QStringLiteral("server ") + row);
        NotificationServer server;
        server.capabilities = capabilities;
        QVERIFY(server.serve(serverBus));

        const QDateTime now(QDate(2026, 3, 1), QTime(13, 31), Qt::UTC);
        UsageNotifications notifications(notifier, nullptr, [now] { return now; });
        PlanUsage usage;
        usage.fiveHourResetsAt = now.addSecs(118 * 60);
        for (double figure : {90.0 /* the baseline */, 96.0, 97.0}) {
            usage.fiveHourUtilization = figure;
            notifications.observe(usage);
        }
        QTRY_COMPARE(server.calls.size(), 1);
        const QString plan = server.calls.takeFirst();
        QCOMPARE(plan, u"Glimmerox|glimmerox|5-hour limit at 96 %|Resets in 1 h 58 min, at %1.|2|0"_s
                           .arg(usage.fiveHourResetsAt->toLocalTime().toString(u"HH:mm"_s)));

        // The shown session stays low; another one fills up: 85 % and then, before the first
        // notification's id is back, 96 %, which replaces it with urgency.
        const QList<ActiveSession> live{{1, QStringLiteral("shown"), QStringLiteral("/home/ana/app"), {}, 10, {}},
                                        {2, QStringLiteral("s2"), QStringLiteral("/home/ana/R&D <b>x-%1-draft"), {}, 20, {}}};
        SessionStats shown;
        shown.sessionId = QStringLiteral("shown");
        const auto observeAt = [&](qint64 percent) {
            QList<ActiveSession> sessions = live;
            sessions[1].contextPercent = percent;
            notifications.observe(liveSessionContexts(sessions, shown, {}));
        };
        for (qint64 percent : {20, 85, 96})
            observeAt(percent);
        QTRY_COMPARE(server.calls.size(), 2);
        const QString first = server.calls.at(0), second = server.calls.at(1);
        const auto sent = [&](qint64 percent, const QString &urgencyAndReplaced) {
            return u"Glimmerox|glimmerox|Context "_s + QString::number(percent) + u" % full|The Claude Code session in "_s
                + body + u" has used "_s + QString::number(percent)
                + u" % of its context window: run /compact to free it.|"_s + urgencyAndReplaced;
        };
        QCOMPARE(first, sent(85, u"1|0"_s));
        QCOMPARE(second, sent(96, u"2|102"_s));

        // Turned off, nothing is sent; turned on again, only what happens from then on.
        notifications.setEnabled(false);
        observeAt(10);
        observeAt(90);
        notifications.setEnabled(true);
        observeAt(97);
        QTRY_COMPARE(server.calls.size(), 3);
        QCOMPARE(server.calls.at(2), sent(97, u"2|102"_s));
        bus.terminate();
        bus.waitForFinished();
    }
};

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
