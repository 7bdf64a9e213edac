// The running app fetches the plan report at launch, without a key press, from the endpoint
// that GLIMMEROX_USAGE_URL names, with the stored token.
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
        FakeService service;
        service.setFallback(FakeService::Reply::json(R"({"five_hour":{"utilization":12}})"));
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(u".claude"_s) && QDir(home.path()).mkpath(u"run"_s));
        QVERIFY(QFile::setPermissions(home.filePath(u"run"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QFile credentials(home.filePath(u".claude/.credentials.json"_s));
        QVERIFY(credentials.open(QIODevice::WriteOnly));
        credentials.write(R"({"claudeAiOauth":{"accessToken":"launch-token","refreshToken":"r","expiresAt":9e15}})");
        credentials.close();

        // The child gets its own home, runtime and temporary folders, so no running copy of the
        // app and no real login is in the way.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"CLAUDE_CONFIG_DIR"_s);
        environment.insert(u"HOME"_s, home.path());
        environment.insert(u"XDG_RUNTIME_DIR"_s, home.filePath(u"run"_s));
        environment.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
        environment.insert(u"TMPDIR"_s, home.filePath(u"run"_s));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.insert(u"GLIMMEROX_USAGE_URL"_s, service.url(u"/api/oauth/usage"_s).toString());
        environment.insert(u"GLIMMEROX_TOKEN_URL"_s, FakeService::closedPortUrl(u"/v1/oauth/token"_s).toString());
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(GLIMMEROX_APP_PATH), {});
        QVERIFY(app.waitForStarted());

        QTRY_VERIFY_WITH_TIMEOUT(!service.requests().isEmpty(), 30000);
        const FakeService::Request &request = service.requests().constFirst();
        QCOMPARE(request.method + ' ' + request.path, QByteArray("GET /api/oauth/usage"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer launch-token"));
        app.kill();
        QVERIFY(app.waitForFinished());
    }
};

QTEST_GUILESS_MAIN(TestAppFetch)
#include "tst_appfetch.moc"
