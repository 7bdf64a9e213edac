#include "planusagefetcher.h"
#include "statuslineaction.h"
#include "statuslinesettings.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

class TestStatusLineAction : public QObject
{
    Q_OBJECT

private slots:
    void followsTheSettings_data();
    void followsTheSettings();
};

void TestStatusLineAction::followsTheSettings_data()
{
    QTest::addColumn<bool>("folderLater");
    QTest::addRow("the folder is there at launch") << false;
    // Claude Code makes its folder when it first runs, which may be after the panel started.
    QTest::addRow("Claude Code makes the folder after launch") << true;
}

void TestStatusLineAction::followsTheSettings()
{
    QFETCH(bool, folderLater);
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(u"home/.claude/settings.json"_s);
    if (!folderLater)
        QVERIFY(QDir().mkpath(dir.filePath(u"home/.claude"_s)));
    const QString bridgePath = dir.filePath(u"glimmerox-statusline"_s);
    const StatusLineSettings settings(settingsPath, dir.filePath(u"record.json"_s), bridgePath);
    PlanFetcherEnvironment environment;
    environment.credentials = std::make_shared<FileCredentialStore>(dir.filePath(u"none"_s));
    PlanUsageFetcher fetcher(environment);
    QWidget window;
    QString shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&shown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    closer.start(10);

    QAction *action = createStatusLineAction(settings, fetcher, &window);
    QVERIFY(!action->isChecked());
    QTRY_VERIFY(fetcher.isServiceEnabled());
    if (folderLater) {
        QVERIFY(QDir().mkpath(dir.filePath(u"home/.claude"_s)));
        QVERIFY(settings.install().ok);
        QTRY_VERIFY(action->isChecked());
        QVERIFY(!fetcher.isServiceEnabled());
        QVERIFY(settings.uninstall().ok);
        QTRY_VERIFY(!action->isChecked());
    }
    // No bridge beside the program: nothing is written, and the reason is shown.
    QFile::remove(settingsPath);
    action->trigger();
    QTRY_VERIFY2(shown.contains(u"missing or cannot be run"_s), qPrintable(shown));
    QTRY_VERIFY(!action->isChecked());
    QVERIFY(!QFile::exists(settingsPath));
    QFile bridge(bridgePath);
    QVERIFY(bridge.open(QIODevice::WriteOnly));
    bridge.close();
    QVERIFY(bridge.setPermissions(bridge.permissions() | QFile::ExeOwner));

    QTRY_VERIFY(fetcher.isServiceEnabled());
    // The edit runs on the pool; the mark shows the choice at once.
    action->trigger();
    QVERIFY(action->isChecked());
    QTRY_VERIFY(settings.isInstalled());
    QTRY_VERIFY(!fetcher.isServiceEnabled());

    // Taken out from the command line: the item and the fetcher follow.
    QVERIFY(settings.uninstall().ok);
    QTRY_VERIFY(!action->isChecked());
    QVERIFY(fetcher.isServiceEnabled());
    QVERIFY(settings.install().ok);
    QTRY_VERIFY(action->isChecked());
    action->trigger();
    QTRY_VERIFY(!settings.isInstalled());
    QTRY_VERIFY(fetcher.isServiceEnabled());

    // A file that is not JSON is left alone, the reason shown, the item unchecked.
    QFile broken(settingsPath);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("{oops");
    broken.close();
    action->trigger();
    QTRY_VERIFY2(shown.contains(u"not valid JSON"_s), qPrintable(shown));
    QTRY_VERIFY(!action->isChecked());

    // A bridge set by an older version is brought up to date when the item is made.
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(R"({"statusLine": {"type": "command", "command": "/old/glimmerox-statusline"}})");
    broken.close();
    const QAction *next = createStatusLineAction(settings, fetcher, &window);
    QTRY_VERIFY(next->isChecked());
    QVERIFY(broken.open(QIODevice::ReadOnly));
    const QByteArray migrated = broken.readAll();
    QVERIFY2(migrated.contains("b=/old/glimmerox-statusline; [ -x"), migrated.constData());
}

QTEST_MAIN(TestStatusLineAction)
#include "tst_statuslineaction.moc"
