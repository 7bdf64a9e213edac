#include "credentialdocument.h"
#include "credentialstore.h"

#include <QtTest>

#include <QJsonDocument>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

// Claude Code's document, with members of every JSON type the program does not own.
const QByteArray fullDocument = R"({"claudeAiOauth":{"accessToken":"old-access","refreshToken":"old-refresh",)"
                                R"("expiresAt":1700000000000,"scopes":["user:inference"],"subscriptionType":"max",)"
                                R"("tier":null,"isPro":true,"counter":9007199254740993,"nested":{"ü":"日本"}},)"
                                R"("mcpOAuth":{"server":{"expiresAt":-12}},"version":3,"ratio":0.25})";

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void tokenSet_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("found");
        QTest::addRow("token set without tokens") << QByteArray(R"({"claudeAiOauth":{}})") << true;
        QTest::addRow("token set not an object") << QByteArray(R"({"claudeAiOauth":"x"})") << false;
        QTest::addRow("no token set") << QByteArray(R"({"other":{}})") << false;
        QTest::addRow("top level an array") << QByteArray(R"([{"claudeAiOauth":{}}])") << false;
        QTest::addRow("not JSON") << QByteArray("claudeAiOauth") << false;
    }
    void tokenSet()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, found);
        QCOMPARE(CredentialDocument::tokenSet(document).has_value(), found);
        // Renewal writes into an existing token set only, adding missing members, never making one.
        const auto updated = CredentialDocument::withRenewedTokens(document, "a", "r", 1);
        QCOMPARE(updated.has_value(), found);
        if (updated)
            QCOMPARE(CredentialDocument::tokenSet(*updated)->value("refreshToken").toString(), "r");
    }

    void renewalChangesOnlyTheThreeMembers()
    {
        const auto updated =
            CredentialDocument::withRenewedTokens(fullDocument, "new-access", "new-refresh", 1765000000123.5);
        QVERIFY(updated);
        // The expiry keeps its half millisecond; integers beyond double precision stay exact.
        QVERIFY(updated->contains("\"expiresAt\":1765000000123.5"));
        QVERIFY(updated->contains("\"counter\":9007199254740993"));

        QJsonObject expected = QJsonDocument::fromJson(fullDocument).object();
        QJsonObject tokens = expected.value("claudeAiOauth").toObject();
        tokens.insert("accessToken", "new-access");
        tokens.insert("refreshToken", "new-refresh");
        tokens.insert("expiresAt", 1765000000123.5);
        expected.insert("claudeAiOauth", tokens);
        QCOMPARE(QJsonDocument::fromJson(*updated).object(), expected);
    }

    void fileReadRefuses_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addRow("missing") << "missing";
        QTest::addRow("folder") << "folder";
        QTest::addRow("named pipe without a writer") << "fifo";
        QTest::addRow("far larger than a token document") << "huge";
    }
    void fileReadRefuses()
    {
        QFETCH(QString, kind);
        QTemporaryDir home;
        const QString path = home.filePath(".credentials.json");
        if (kind == "folder")
            QVERIFY(QDir(home.path()).mkdir(".credentials.json"));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "huge")
            QVERIFY(writeFile(path, QByteArray(2 << 20, ' ') + fullDocument));
        QVERIFY(!FileCredentialStore(path).read());
    }

    void fileReplaceKeepsPermissionsAndLinks()
    {
        QTemporaryDir home;
        const QString target = home.filePath("real.json");
        const QString link = home.filePath(".credentials.json");
        QVERIFY(writeFile(target, fullDocument));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(QFile::link(target, link));
        FileCredentialStore store(link);
        QCOMPARE(store.read(), std::optional(fullDocument));

        store.replace("{}");
        QCOMPARE(readFile(target), QByteArray("{}"));
        QVERIFY(QFileInfo(link).isSymLink());
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0640));
        QCOMPARE(filesIn(home.path()), QStringList({".credentials.json", "real.json"}));
    }

    void fileReplaceNeverCreates()
    {
        QTemporaryDir home;
        FileCredentialStore(home.filePath(".credentials.json")).replace(fullDocument);
        QVERIFY(filesIn(home.path()).isEmpty());
    }

    // A replace that fails half-way leaves the original whole and no temporary file behind.
    // The full disk is simulated with the file size limit, which binds root too.
    void failedReplaceLeavesOriginal_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addRow("read-only folder") << true;
        QTest::addRow("disk full") << false;
    }
    void failedReplaceLeavesOriginal()
    {
        QFETCH(bool, readOnlyFolder);
        if (readOnlyFolder && ::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir home;
        const QString path = home.filePath(".credentials.json");
        QVERIFY(writeFile(path, fullDocument));
        const auto writable = QFile::permissions(home.path());
        struct rlimit previous {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = previous;
        tiny.rlim_cur = 16;
        if (readOnlyFolder)
            QVERIFY(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::ExeOwner));
        else
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tiny), 0);

        FileCredentialStore(path).replace(fullDocument + fullDocument);

        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(QFile::setPermissions(home.path(), writable));
        QCOMPARE(readFile(path), fullDocument);
        QCOMPARE(filesIn(home.path()), QStringList{".credentials.json"});
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
