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
    const StatusLineSettings settings(settingsPath, dir.filePath(u"record.json"_s), u"/usr/bin/glimmerox-statusline"_s);
    PlanFetcherEnvironment environment;
    environment.credentials = std::make_shared<FileCredentialStore>(dir.filePath(u"none"_s));
    PlanUsageFetcher fetcher(environment);
    QWidget window;

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

QTEST_MAIN(TestStatusLineAction)
#include "tst_statuslineaction.moc"
