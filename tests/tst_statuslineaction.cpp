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
    void followsTheSettings();
    void followsAFolderMadeLater();
};

void TestStatusLineAction::followsTheSettings()
{
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(u"claude/settings.json"_s);
    QDir(dir.path()).mkpath(u"claude"_s);
    const StatusLineSettings settings(settingsPath, dir.filePath(u"record.json"_s), u"/usr/bin/glimmerox-statusline"_s);
    PlanFetcherEnvironment environment;
    environment.credentials = std::make_shared<FileCredentialStore>(dir.filePath(u"none"_s));
    PlanUsageFetcher fetcher(environment);
    QWidget window;

    QAction *action = createStatusLineAction(settings, fetcher, &window);
    QVERIFY(!action->isChecked());
    QTRY_VERIFY(fetcher.isServiceEnabled());
    action->trigger();
    QVERIFY(action->isChecked());
    QVERIFY(settings.isInstalled());
    QVERIFY(!fetcher.isServiceEnabled());

    // Taken out from the command line: the item and the fetcher follow.
    QVERIFY(settings.uninstall().ok);
    QTRY_VERIFY(!action->isChecked());
    QVERIFY(fetcher.isServiceEnabled());
    QVERIFY(settings.install().ok);
    QTRY_VERIFY(action->isChecked());
    action->trigger();
    QVERIFY(!settings.isInstalled());

    // A file that is not JSON is left alone, the reason shown, the item unchecked.
    QFile broken(settingsPath);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("{oops");
    broken.close();
    QString shown;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&shown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    closer.start(10);
    action->trigger();
    QVERIFY2(shown.contains(u"not valid JSON"_s), qPrintable(shown));
    QVERIFY(!action->isChecked());
}

// Claude Code makes its folder when it first runs, which may be after the panel started: the
// check mark follows the settings written there all the same.
void TestStatusLineAction::followsAFolderMadeLater()
{
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(u"home/.claude/settings.json"_s);
    const StatusLineSettings settings(settingsPath, dir.filePath(u"record.json"_s), u"/usr/bin/glimmerox-statusline"_s);
    PlanFetcherEnvironment environment;
    environment.credentials = std::make_shared<FileCredentialStore>(dir.filePath(u"none"_s));
    PlanUsageFetcher fetcher(environment);
    QWidget window;
    QAction *action = createStatusLineAction(settings, fetcher, &window);
    QTRY_VERIFY(fetcher.isServiceEnabled());

    QVERIFY(QDir().mkpath(dir.filePath(u"home/.claude"_s)));
    QVERIFY(settings.install().ok);
    QTRY_VERIFY(action->isChecked());
    QVERIFY(!fetcher.isServiceEnabled());
    QVERIFY(settings.uninstall().ok);
    QTRY_VERIFY(!action->isChecked());
}

QTEST_MAIN(TestStatusLineAction)
#include "tst_statuslineaction.moc"
