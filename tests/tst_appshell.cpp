#include "claudestatsreader.h"
#include "paneltray.h"
#include "panelwindow.h"
#include "planusagefetcher.h"
#include "privatefiles.h"
#include "singleinstance.h"
#include "startatlogin.h"
#include "startup.h"
#include "trayicon.h"
#include "xdgautostartentry.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class TestAppShell : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("printed"); // a part of what is printed; empty: the panel starts
        QTest::addRow("--version") << "--version" << "Glimmerox 9.8.7\n";
        QTest::addRow("--help") << "--help" << "--version";
        QTest::addRow("Qt's -reverse is no bundle of -v") << "-reverse" << "";
        QTest::addRow("Qt's -platform with its value") << "-platform xcb" << "";
    }
    void commandLine()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, printed);
        const StartupRequest request = parseCommandLine(
            QStringList{QStringLiteral("glimmerox")} + arguments.split(u' '), QStringLiteral("9.8.7"));
        QCOMPARE(request.action == StartupRequest::Action::printText, !printed.isEmpty());
        QVERIFY2(request.text.contains(printed), qPrintable(request.text));
    }

    // Whether the panel finds a display, and which platform it asks Qt for (XWayland under Wayland,
    // where a window can neither stay on top nor place itself).
    void display_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QByteArray>("preferred"); // empty: Qt decides
        QTest::addRow("nothing set") << "" << "" << false << QByteArray();
        QTest::addRow("X11") << "DISPLAY=:0" << "" << true << QByteArray();
        QTest::addRow("Wayland without XWayland") << "WAYLAND_DISPLAY=wayland-0" << "" << true << QByteArray();
        QTest::addRow("Wayland with XWayland") << "WAYLAND_DISPLAY=wayland-0 DISPLAY=:0" << "" << true << QByteArray("xcb");
        QTest::addRow("the user's choice wins") << "WAYLAND_DISPLAY=wayland-0 DISPLAY=:0 QT_QPA_PLATFORM=wayland" << ""
                                                << true << QByteArray();
        QTest::addRow("xcb chosen, only Wayland there") << "QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY=wayland-0" << "" << false
                                                        << QByteArray();
        QTest::addRow("wayland-egl chosen, only X11 there") << "QT_QPA_PLATFORM=wayland-egl DISPLAY=:0" << "" << false
                                                            << QByteArray();
        QTest::addRow("a fallback list with one that finds its display")
            << "QT_QPA_PLATFORM=wayland;xcb DISPLAY=:0" << "" << true << QByteArray();
        QTest::addRow("minimal with options needs none") << "QT_QPA_PLATFORM=minimal:enable_fonts" << "" << true << QByteArray();
        QTest::addRow("-platform wins over the variable") << "QT_QPA_PLATFORM=offscreen" << "-platform xcb" << false
                                                          << QByteArray();
        QTest::addRow("-platform offscreen") << "" << "-platform offscreen" << true << QByteArray();
    }
    void display()
    {
    #if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
        QSKIP("this system always has its window server");
    #endif
        QFETCH(QString, environment);
        QFETCH(QString, arguments);
        QProcessEnvironment variables;
        for (const QString &variable : environment.split(u' ', Qt::SkipEmptyParts))
            variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        QTEST(::hasDisplay(variables, QStringList{QStringLiteral("glimmerox")} + arguments.split(u' ', Qt::SkipEmptyParts)),
              "found");
        QTEST(::preferredPlatform(variables).value_or(QByteArray()), "preferred");
    }

    void startWithoutDisplay()
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

    void singleInstance_data()
    {
        QTest::addColumn<QString>("occupant"); // what holds the socket's name when the panel starts
        QTest::addColumn<bool>("locked");      // whether another holder has the lock
        QTest::addColumn<SingleInstance::Claim>("claim");
        using Claim = SingleInstance::Claim;
        QTest::addRow("a running Glimmerox is asked to the front") << "glimmerox" << true << Claim::activated;
        QTest::addRow("a file left behind is taken over") << "file" << false << Claim::started;
        QTest::addRow("a socket left by a crash is taken over") << "silent" << false << Claim::started;
        QTest::addRow("a listener answering something else is taken over") << "stranger" << false << Claim::started;
        QTest::addRow("a stopped panel keeps its place") << "silent" << true << Claim::notAnswering;
    }
    void singleInstance()
    {
        QFETCH(QString, occupant);
        QFETCH(bool, locked);
        QFETCH(SingleInstance::Claim, claim);
        QTemporaryDir runtime;
        const QString name = runtime.filePath(QStringLiteral("glimmerox.socket"));
        SingleInstance first(name);
        QSignalSpy firstActivations(&first, &SingleInstance::activationRequested);
        QLocalServer foreign;
        std::optional<FileLock> lock;
        if (occupant == u"glimmerox")
            QCOMPARE(first.claim(), SingleInstance::Claim::started);
        else if (locked)
            lock.emplace(SingleInstance::lockPath(name), std::chrono::milliseconds(0));
        if (occupant == u"file")
            QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        else if (occupant == u"silent" || occupant == u"stranger")
            QVERIFY(foreign.listen(name));
        if (occupant == u"stranger") {
            connect(&foreign, &QLocalServer::newConnection, this, [&foreign] {
                foreign.nextPendingConnection()->write("SSH-2.0-OpenSSH_9.2\r\n");
            });
        }

        SingleInstance launch(name);
        QCOMPARE(launch.claim(), claim);
        if (claim == SingleInstance::Claim::activated) {
            QTRY_COMPARE(firstActivations.size(), 1);
            return;
        }
        // A stopped holder, once gone, leaves its lock free; whoever started answers the next launch.
        lock.reset();
        QSignalSpy activations(&launch, &SingleInstance::activationRequested);
        SingleInstance later(name);
        QCOMPARE(later.claim(), claim == SingleInstance::Claim::started ? SingleInstance::Claim::activated
                                                                        : SingleInstance::Claim::started);
        QTRY_COMPARE(activations.size(), claim == SingleInstance::Claim::started ? 1 : 0);
    }

    // The program itself: a stopped panel keeps the second launch out, and answers again once it
    // goes on.
    void stoppedPanel()
    {
        QTemporaryDir runtime; // made with mode 0700
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("HOME"), runtime.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "CLAUDE_CONFIG_DIR"})
            environment.remove(QString::fromLatin1(name));
        QProcess panel, second; // killed when they go, stopped or not
        for (QProcess *program : {&panel, &second})
            program->setProcessEnvironment(environment);
        panel.start(QStringLiteral(GLIMMEROX_EXECUTABLE), {});
        // The panel answers once its event loop runs.
        const QString socket = runtime.filePath(QStringLiteral("glimmerox.socket"));
        QTRY_COMPARE_WITH_TIMEOUT(SingleInstance(socket).claim(), SingleInstance::Claim::activated, 30000);

        QCOMPARE(::kill(pid_t(panel.processId()), SIGSTOP), 0);
        second.start(QStringLiteral(GLIMMEROX_EXECUTABLE), {});
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1, 0);
        QCOMPARE(second.readAllStandardError(), QByteArray(SingleInstance::notAnsweringMessage));

        // Going on, the one panel answers again.
        QCOMPARE(::kill(pid_t(panel.processId()), SIGCONT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(SingleInstance(socket).claim(), SingleInstance::Claim::activated, 30000);
        QCOMPARE(panel.state(), QProcess::Running);
    }

    void userServerName_data()
    {
        QTest::addColumn<int>("runtimeMode"); // 0: XDG_RUNTIME_DIR unset, -1: a link to a private folder
        QTest::addColumn<int>("fallbackMode"); // 0: <temp>/glimmerox-<uid> does not exist yet
        QTest::addColumn<QString>("expected"); // which folder holds the socket
        QTest::addRow("the private runtime folder") << 0700 << 0 << "runtime";
        QTest::addRow("a runtime folder others may enter is not used") << 0755 << 0 << "fallback";
        QTest::addRow("a link at the runtime folder's place is not followed") << -1 << 0 << "fallback";
        QTest::addRow("no runtime folder, an existing private fallback") << 0 << 0700 << "fallback";
        QTest::addRow("a fallback others may enter leaves no socket at all") << 0 << 0777 << "none";
    }
    void userServerName()
    {
        QFETCH(int, runtimeMode);
        QFETCH(int, fallbackMode);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString runtime = dir.filePath(QStringLiteral("runtime"));
        const QString temp = dir.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(temp));
        QString runtimeVariable;
        if (runtimeMode != 0) {
            QVERIFY(QDir().mkdir(runtime));
            runtimeVariable = runtime;
        }
        if (runtimeMode > 0)
            QVERIFY(::chmod(QFile::encodeName(runtime).constData(), mode_t(runtimeMode)) == 0);
        if (runtimeMode < 0) {
            QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
            runtimeVariable = dir.filePath(QStringLiteral("link"));
            QVERIFY(QFile::link(runtime, runtimeVariable));
        }
        const QString fallback = QStringLiteral("%1/glimmerox-%2").arg(temp).arg(::geteuid());
        if (fallbackMode != 0) {
            QVERIFY(QDir().mkdir(fallback));
            QVERIFY(::chmod(QFile::encodeName(fallback).constData(), mode_t(fallbackMode)) == 0);
        }

        const QString name = SingleInstance::userServerName(runtimeVariable, temp);
        const QString folder = expected == u"runtime" ? runtime : expected == u"fallback" ? fallback : QString();
        QCOMPARE(name, folder.isEmpty() ? QString() : folder + QStringLiteral("/glimmerox.socket"));
        struct stat info;
        if (expected == u"fallback")
            QVERIFY(::stat(QFile::encodeName(fallback).constData(), &info) == 0 && (info.st_mode & 07777) == 0700);
    }

    void hideIntoTheTrayAndBack()
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
        PanelInputs shown;
        shown.state.mode = DisplayMode::plan;
        shown.sessionStats.sessionId = shown.sessionStats.cwd = QStringLiteral("/home/ana/orchard");
        shown.planUsage = PlanUsage{};
        shown.planUsage->fiveHourUtilization = 42.0;
        tray.setFigures(shown);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        panel.hideAction()->trigger();
        QVERIFY(!panel.isVisible());
        QSystemTrayIcon *icon = tray.trayIcon();
        QVERIFY(icon && !icon->icon().isNull());
        QVERIFY2(icon->toolTip().contains(QStringLiteral("orchard")) && icon->toolTip().contains(QStringLiteral("42 %")),
                 qPrintable(icon->toolTip()));
        // The icon is the plan window's figure, and follows it while hidden.
        QCOMPARE(icon->icon().pixmap(22).toImage(), trayIconImage(42, 22));
        shown.planUsage->fiveHourUtilization = 85.0;
        tray.setFigures(shown);
        QCOMPARE(icon->icon().pixmap(22).toImage(), trayIconImage(85, 22));
        emit icon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(panel.isVisible());
        QVERIFY(!tray.trayIcon());

        // Without a tray the panel minimises, as it always did.
        trayAvailable = false;
        panel.hideAction()->trigger();
        QTRY_VERIFY(panel.windowState().testFlag(Qt::WindowMinimized));
        QVERIFY(!tray.trayIcon());
        panel.bringToFrontAction()->trigger();
        QTRY_VERIFY(panel.isVisible() && !panel.isMinimized());
    }

    void autostartEntryPath_data()
    {
        QTest::addColumn<QString>("configHome"); // the variable; "HOME" stands for the fixture's folder
        QTest::addColumn<QString>("existing");   // entries already in <fixture>/.config/autostart
        QTest::addColumn<QString>("expected");   // relative to the fixture
        QTest::addRow("a relative variable means ~/.config") << "relative/config" << ""
                                                             << ".config/autostart/org.glimmerox.Glimmerox.desktop";
        QTest::addRow("an absolute variable is used") << "HOME/cfg" << "" << "cfg/autostart/org.glimmerox.Glimmerox.desktop";
        QTest::addRow("an entry under the earlier name stays in use")
            << "" << "glimmerox.desktop" << ".config/autostart/glimmerox.desktop";
        QTest::addRow("the current name wins when both exist") << "" << "glimmerox.desktop org.glimmerox.Glimmerox.desktop"
                                                              << ".config/autostart/org.glimmerox.Glimmerox.desktop";
    }
    void autostartEntryPath()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, existing);
        QFETCH(QString, expected);
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral(".config/autostart"));
        QVERIFY(QDir().mkpath(folder));
        for (const QString &name : existing.split(u' ', Qt::SkipEmptyParts))
            QVERIFY(QFile(folder + u'/' + name).open(QIODevice::WriteOnly));
        configHome.replace(QStringLiteral("HOME"), home.path());
        QCOMPARE(::autostartEntryPath(configHome, home.path()), home.filePath(expected));
    }

    void startAtLogin_data()
    {
        // The entry's file before: "" none, "ours" as Glimmerox writes it, "link" a symbolic link to
        // an entry of ours. After: a part of the file, "none" for no file, "link" for the link as it was.
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("checkedBefore");
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<bool>("checkedAfter");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("message");
        QTest::addRow("ticking writes an entry with the program quoted")
            << "" << false << false << true << "\nExec=\"/opt/My Tools/glimmerox\"\n" << false;
        QTest::addRow("unticking removes an entry as Glimmerox wrote it") << "ours" << true << false << false << "none"
                                                                          << false;
        QTest::addRow("unticking an edited entry hides it and keeps the user's lines")
            << "[Desktop Entry]\nExec=glimmerox --quiet\n\n[Extra]\nKey=1\n" << true << false << false
            << "[Desktop Entry]\nExec=glimmerox --quiet\nHidden=true\n\n[Extra]\nKey=1\n" << false;
        QTest::addRow("an entry the user hid shows as off; ticking unhides it")
            << "[Desktop Entry]\nExec=glimmerox --quiet\nHidden = true\n" << false << false << true
            << "[Desktop Entry]\nExec=glimmerox --quiet\nHidden=false\n" << false;
        QTest::addRow("an entry turned off for GNOME shows as off; ticking turns it on")
            << "[Desktop Entry]\nExec=glimmerox\nX-GNOME-Autostart-enabled=false\n" << false << false << true
            << "[Desktop Entry]\nExec=glimmerox\nX-GNOME-Autostart-enabled=true\n" << false;
        QTest::addRow("a symbolic link is neither read nor written through")
            << "link" << false << false << false << "link" << true;
        QTest::addRow("a short write on a full disk leaves it unticked") << "" << false << true << false << "none" << true;
    }
    void startAtLogin()
    {
        QFETCH(QString, before);
        QFETCH(bool, checkedBefore);
        QFETCH(bool, fullDisk);
        QFETCH(bool, checkedAfter);
        QFETCH(QString, after);
        QFETCH(bool, message);
        QTemporaryDir config;
        const auto entry = std::make_shared<XdgAutostartEntry>(config.filePath(QStringLiteral("autostart/x.desktop")),
                                                               QStringLiteral("/opt/My Tools/glimmerox"));
        QVERIFY(QDir().mkpath(config.filePath(QStringLiteral("autostart"))));
        const QString target = config.filePath(QStringLiteral("elsewhere.desktop"));
        const auto writeFile = [](const QString &path, const QByteArray &content) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        if (before == u"link")
            QVERIFY(writeFile(target, entry->defaultEntry()) && QFile::link(target, entry->entryPath()));
        else if (!before.isEmpty())
            QVERIFY(writeFile(entry->entryPath(), before == u"ours" ? entry->defaultEntry() : before.toUtf8()));

        QStringList reported;
        QAction *action = createStartAtLoginAction(entry, this, [&](const QString &reason) { reported << reason; });
        QTRY_COMPARE(action->isChecked(), checkedBefore);
        {
            // A file may grow no larger than a few bytes, as on a disk that is full.
            struct rlimit limit;
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
            const struct rlimit saved = limit;
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = fullDisk ? 16 : limit.rlim_cur;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            action->trigger();
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
            std::signal(SIGXFSZ, oldHandler);
        }
        QCOMPARE(action->isChecked(), checkedAfter);
        QCOMPARE(entry->isEnabled(), checkedAfter);
        QCOMPARE(reported.size(), message ? 1 : 0);
        QFile file(entry->entryPath());
        if (after == u"none") {
            QVERIFY(!QFileInfo::exists(entry->entryPath()));
            QCOMPARE(QDir(config.filePath(QStringLiteral("autostart"))).entryList(QDir::Files | QDir::Hidden), QStringList());
        } else if (after == u"link") {
            QCOMPARE(QFileInfo(entry->entryPath()).symLinkTarget(), target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), entry->defaultEntry());
        } else {
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray content = file.readAll();
            QVERIFY2(content.contains(after.toUtf8()), content.constData());
        }
    }
};

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
