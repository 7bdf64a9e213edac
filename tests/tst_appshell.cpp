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
#include <QProcess>
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
    void hasDisplay_data();
    void hasDisplay();
    void startWithoutDisplay();
    void secondLaunchActivatesTheFirst();
    void hideIntoTheTrayAndBack();
    void startAtLogin();
};

void TestAppShell::commandLine_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("printed"); // a part of what is printed; empty: the panel starts
    QTest::addRow("--version") << "--version" << "Glimmerox 9.8.7\n";
    QTest::addRow("--help") << "--help" << "--version";
    QTest::addRow("Qt's -reverse is no bundle of -v") << "-reverse" << "";
    QTest::addRow("Qt's -platform with its value") << "-platform xcb" << "";
}

void TestAppShell::commandLine()
{
    QFETCH(QString, arguments);
    QFETCH(QString, printed);
    const StartupRequest request = parseCommandLine(
        QStringList{QStringLiteral("glimmerox")} + arguments.split(u' '), QStringLiteral("9.8.7"));
    QCOMPARE(request.action == StartupRequest::Action::printText, !printed.isEmpty());
    QVERIFY2(request.text.contains(printed), qPrintable(request.text));
}

void TestAppShell::preferredPlatform_data()
{
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QByteArray>("expected"); // empty: Qt decides
    QTest::addRow("Wayland with XWayland") << "WAYLAND_DISPLAY=wayland-0 DISPLAY=:0" << QByteArray("xcb");
    QTest::addRow("Wayland without XWayland") << "WAYLAND_DISPLAY=wayland-0" << QByteArray();
    QTest::addRow("plain X11") << "DISPLAY=:0" << QByteArray();
    QTest::addRow("the user's choice wins") << "WAYLAND_DISPLAY=wayland-0 DISPLAY=:0 QT_QPA_PLATFORM=wayland"
                                           << QByteArray();
}

void TestAppShell::preferredPlatform()
{
    QFETCH(QString, environment);
    QFETCH(QByteArray, expected);
    QProcessEnvironment variables;
    for (const QString &variable : environment.split(u' '))
        variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    QCOMPARE(::preferredPlatform(variables).value_or(QByteArray()), expected);
}

void TestAppShell::hasDisplay_data()
{
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("expected");
    QTest::addRow("nothing set") << "" << "" << false;
    QTest::addRow("X11") << "DISPLAY=:0" << "" << true;
    QTest::addRow("Wayland") << "WAYLAND_DISPLAY=wayland-0" << "" << true;
    QTest::addRow("xcb chosen, only Wayland there") << "QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY=wayland-0" << "" << false;
    QTest::addRow("wayland-egl chosen, only X11 there") << "QT_QPA_PLATFORM=wayland-egl DISPLAY=:0" << "" << false;
    QTest::addRow("a fallback list with one that finds its display")
        << "QT_QPA_PLATFORM=wayland;xcb DISPLAY=:0" << "" << true;
    QTest::addRow("offscreen needs none") << "QT_QPA_PLATFORM=offscreen" << "" << true;
    QTest::addRow("minimal with options needs none") << "QT_QPA_PLATFORM=minimal:enable_fonts" << "" << true;
    QTest::addRow("-platform wins over the variable") << "QT_QPA_PLATFORM=offscreen" << "-platform xcb" << false;
    QTest::addRow("-platform offscreen") << "" << "-platform offscreen" << true;
}

void TestAppShell::hasDisplay()
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    QSKIP("this system always has its window server");
#endif
    QFETCH(QString, environment);
    QFETCH(QString, arguments);
    QFETCH(bool, expected);
    QProcessEnvironment variables;
    for (const QString &variable : environment.split(u' ', Qt::SkipEmptyParts))
        variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    QCOMPARE(::hasDisplay(variables, QStringList{QStringLiteral("glimmerox")} + arguments.split(u' ', Qt::SkipEmptyParts)),
             expected);
}

void TestAppShell::startWithoutDisplay()
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    QSKIP("this system always has its window server");
#endif
    // Qt's own answer would be an abort with a core dump and a paragraph of advice.
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(GLIMMEROX_EXECUTABLE), {});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardError(), QByteArray(noDisplayMessage));
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
}

void TestAppShell::secondLaunchActivatesTheFirst()
{
    QTemporaryDir runtime;
    const QString name = runtime.filePath(QStringLiteral("glimmerox.socket"));
    // A socket file left by an instance that crashed does not stop the next launch.
    QVERIFY(QFile(name).open(QIODevice::WriteOnly));
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
    stats.sessionId = stats.cwd = QStringLiteral("/home/ana/orchard");
    PlanUsage usage;
    usage.fiveHourUtilization = 42.0;
    tray.setFigures(stats, usage);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    panel.hideAction()->trigger();
    QVERIFY(!panel.isVisible());
    QSystemTrayIcon *icon = tray.trayIcon();
    QVERIFY(icon && !icon->icon().isNull());
    QVERIFY2(icon->toolTip().contains(QStringLiteral("orchard")) && icon->toolTip().contains(QStringLiteral("42 %")),
             qPrintable(icon->toolTip()));
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
    const QString blocker = config.filePath(QStringLiteral("blocked"));
    QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
    QAction *failing = createStartAtLoginAction(
        StartAtLogin(blocker + QStringLiteral("/autostart/glimmerox.desktop"), QStringLiteral("glimmerox")), this);
    failing->trigger();
    QVERIFY(!failing->isChecked());
#endif
}

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
