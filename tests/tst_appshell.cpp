#include "claudestatsreader.h"
#include "paneltray.h"
#include "panelwindow.h"
#include "planusagefetcher.h"
#include "singleinstance.h"
#include "startatlogin.h"
#include "startup.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

class TestAppShell : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void preferredPlatform_data();
    void preferredPlatform();
    void secondLaunchActivatesTheFirst();
    void hideIntoTheTrayAndBack();
    void startAtLogin();
};

void TestAppShell::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("printed"); // empty: the panel starts
    const QString version = QStringLiteral("Glimmerox 9.8.7\n");
    QTest::addRow("no arguments") << QStringList{} << QString();
    QTest::addRow("--version") << QStringList{QStringLiteral("--version")} << version;
    QTest::addRow("-v") << QStringList{QStringLiteral("-v")} << version;
    QTest::addRow("--help") << QStringList{QStringLiteral("--help")} << QStringLiteral("Usage: ");
    QTest::addRow("Qt's -reverse is no bundle of -v") << QStringList{QStringLiteral("-reverse")} << QString();
    QTest::addRow("Qt's -platform with its value")
        << QStringList{QStringLiteral("-platform"), QStringLiteral("xcb")} << QString();
}

void TestAppShell::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, printed);
    const StartupRequest request =
        parseCommandLine(QStringList{QStringLiteral("/usr/bin/glimmerox")} + arguments, QStringLiteral("9.8.7"));
    QCOMPARE(request.action == StartupRequest::Action::printText, !printed.isEmpty());
    QVERIFY2(request.text.startsWith(printed), qPrintable(request.text));
    if (arguments == QStringList{QStringLiteral("--help")})
        QVERIFY(request.text.contains(QStringLiteral("[options]")) && request.text.contains(QStringLiteral("--version")));
}

void TestAppShell::preferredPlatform_data()
{
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("x11");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QByteArray>("expected"); // empty: Qt decides
    QTest::addRow("Wayland with XWayland") << "wayland-0" << ":0" << "" << QByteArray("xcb");
    QTest::addRow("Wayland without XWayland") << "wayland-0" << "" << "" << QByteArray();
    QTest::addRow("plain X11") << "" << ":0" << "" << QByteArray();
    QTest::addRow("the user's choice wins") << "wayland-0" << ":0" << "wayland" << QByteArray();
}

void TestAppShell::preferredPlatform()
{
    QFETCH(QString, wayland);
    QFETCH(QString, x11);
    QFETCH(QString, chosen);
    QFETCH(QByteArray, expected);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/home/ana"));
    for (const auto &[name, value] : {std::pair{QStringLiteral("WAYLAND_DISPLAY"), wayland},
                                      std::pair{QStringLiteral("DISPLAY"), x11},
                                      std::pair{QStringLiteral("QT_QPA_PLATFORM"), chosen}})
        if (!value.isEmpty())
            environment.insert(name, value);
    QCOMPARE(::preferredPlatform(environment).value_or(QByteArray()), expected);
}

void TestAppShell::secondLaunchActivatesTheFirst()
{
    QTemporaryDir runtime;
    const QString name = runtime.filePath(QStringLiteral("glimmerox.socket"));
    {
        // A socket file left by an instance that crashed does not stop the next launch.
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
    }
    SingleInstance first(name);
    QVERIFY(first.claim());
    QSignalSpy activations(&first, &SingleInstance::activationRequested);
    SingleInstance second(name);
    QVERIFY(!second.claim());
    QVERIFY(activations.wait());
}

void TestAppShell::hideIntoTheTrayAndBack()
{
    QTemporaryDir home;
    ClaudeStatsReader reader(home.filePath(QStringLiteral(".claude")));
    PlanFetcherEnvironment environment = PlanFetcherEnvironment::system();
    environment.credentials = std::make_shared<FileCredentialStore>(home.filePath(QStringLiteral("missing.json")));
    PlanUsageFetcher fetcher(environment);
    PanelWindow panel(reader, fetcher);
    // The icon compiled into the program is the tray's.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/glimmerox-32.png")));
    bool trayAvailable = true;
    PanelTray tray(panel, [&] { return trayAvailable; });
    SessionStats stats;
    stats.sessionId = QStringLiteral("s1");
    stats.cwd = QStringLiteral("/home/ana/orchard");
    PlanUsage usage;
    usage.fiveHourUtilization = 42.0;
    tray.setFigures(stats, usage);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    panel.hideAction()->trigger();
    QVERIFY(!panel.isVisible());
    QSystemTrayIcon *icon = tray.trayIcon();
    QVERIFY(icon);
    QVERIFY(!icon->icon().isNull());
    QVERIFY(icon->toolTip().contains(QStringLiteral("orchard")));
    QVERIFY(icon->toolTip().contains(QStringLiteral("42 %")));
    QVERIFY(icon->contextMenu()->actions().contains(panel.quitAction()));
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(panel.isVisible());
    QVERIFY(!tray.trayIcon());

    // Without a tray the panel minimises, as it always did.
    trayAvailable = false;
    panel.hideAction()->trigger();
    QTRY_VERIFY(panel.windowState().testFlag(Qt::WindowMinimized));
    QVERIFY(!tray.trayIcon());
}

void TestAppShell::startAtLogin()
{
#ifdef Q_OS_MACOS
    QSKIP("the login item belongs to the application bundle");
#else
    QCOMPARE(autostartEntryPath(QStringLiteral("/xdg/config"), QStringLiteral("/home/ana")),
             QStringLiteral("/xdg/config/autostart/glimmerox.desktop"));
    QCOMPARE(autostartEntryPath(QStringLiteral("relative/config"), QStringLiteral("/home/ana")),
             QStringLiteral("/home/ana/.config/autostart/glimmerox.desktop"));

    QTemporaryDir config;
    const StartAtLogin setting(config.filePath(QStringLiteral("autostart/glimmerox.desktop")),
                               QStringLiteral("/opt/My Tools/glimmerox"));
    QAction *action = createStartAtLoginAction(setting, this);
    QVERIFY(!action->isChecked());
    action->trigger();
    QFile entry(setting.entryPath());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains("\nExec=\"/opt/My Tools/glimmerox\"\n"));
    action->trigger();
    QVERIFY(!setting.isEnabled());

    // Where the entry cannot be written, the check mark stays off.
    QFile blocker(config.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    QAction *failing = createStartAtLoginAction(
        StartAtLogin(blocker.fileName() + QStringLiteral("/autostart/glimmerox.desktop"), QStringLiteral("glimmerox")),
        this);
    failing->trigger();
    QVERIFY(!failing->isChecked());
#endif
}

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
