// The running app fetches at launch, without a key press, from GLIMMEROX_USAGE_URL with the stored token.
#include "fakeservice.h"

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

class TestAppFetch : public QObject
{
    Q_OBJECT

private slots:
    void fetchesAtLaunch()
    {
#ifdef Q_OS_MACOS
        QSKIP("the app reads the login from the user's keychain there, which a test must not touch");
#endif
        FakeService service;
        service.setFallback(FakeService::Reply::json(R"({"five_hour":{"utilization":12}})"));
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(u".claude"_s) && QDir(home.path()).mkpath(u"run"_s));
        QFile credentials(home.filePath(u".claude/.credentials.json"_s));
        QVERIFY(credentials.open(QIODevice::WriteOnly));
        credentials.write(R"({"claudeAiOauth":{"accessToken":"launch-token","refreshToken":"r","expiresAt":9e15}})");
        credentials.close();

        // Its own home, runtime, state and temporary folders: no running copy and no real login in the way.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"CLAUDE_CONFIG_DIR"_s);
        environment.insert(u"HOME"_s, home.path());
        environment.insert(u"XDG_RUNTIME_DIR"_s, home.filePath(u"run"_s));
        environment.insert(u"XDG_STATE_HOME"_s, home.filePath(u"state"_s));
        environment.insert(u"TMPDIR"_s, home.filePath(u"run"_s));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.insert(u"GLIMMEROX_USAGE_URL"_s, service.url(u"/api/oauth/usage"_s).toString());
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(GLIMMEROX_APP_PATH), {});
        QVERIFY(app.waitForStarted());

        QTRY_VERIFY_WITH_TIMEOUT(!service.requests().isEmpty(), 30000);
        const FakeService::Request &request = service.requests().constFirst();
        QCOMPARE(request.path, QByteArray("/api/oauth/usage"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer launch-token"));
        app.kill();
        QVERIFY(app.waitForFinished());
    }
};

QTEST_GUILESS_MAIN(TestAppFetch)
#include "tst_appfetch.moc"
