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

mode_t modeOf(const QString &path)
{
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

// Claude Code's document with members of every JSON type that the program does not own.
const QByteArray fullDocument = R"({"claudeAiOauth":{"accessToken":"old-access","refreshToken":"old-refresh",)"
                                R"("expiresAt":1700000000000,"scopes":["user:inference","user:profile"],)"
                                R"("subscriptionType":"max","rateLimitTier":null,"isPro":true,)"
                                R"("counter":9007199254740993,"nested":{"deep":{"ü":"日本"}}},)"
                                R"("mcpOAuth":{"server":{"token":"other","expiresAt":-12}},"version":3,"ratio":0.25})";

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void tokenSet_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("found");
        QTest::addRow("full document") << fullDocument << true;
        QTest::addRow("token set without tokens") << QByteArray(R"({"claudeAiOauth":{}})") << true;
        QTest::addRow("token set not an object") << QByteArray(R"({"claudeAiOauth":"x"})") << false;
        QTest::addRow("no token set") << QByteArray(R"({"other":{}})") << false;
        QTest::addRow("top level an array") << QByteArray(R"([{"claudeAiOauth":{}}])") << false;
        QTest::addRow("not JSON") << QByteArray("claudeAiOauth") << false;
        QTest::addRow("empty") << QByteArray() << false;
    }
    void tokenSet()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, found);
        QCOMPARE(CredentialDocument::tokenSet(document).has_value(), found);
        // Renewal writes into an existing token set only, never making one.
        QCOMPARE(CredentialDocument::withRenewedTokens(document, "a", "r", 1).has_value(), found);
    }

    void renewalChangesOnlyTheThreeMembers()
    {
        const std::optional<QByteArray> updated =
            CredentialDocument::withRenewedTokens(fullDocument, "new-access", "new-refresh", 1765000000123.5);
        QVERIFY(updated);
        // The expiry keeps its half millisecond; large integers stay exact integers.
        QVERIFY(updated->contains("\"expiresAt\":1765000000123.5"));
        QVERIFY(updated->contains("\"counter\":9007199254740993"));

        QJsonObject expected = QJsonDocument::fromJson(fullDocument).object();
        QJsonObject tokens = expected.value("claudeAiOauth").toObject();
        tokens.insert("accessToken", "new-access");
        tokens.insert("refreshToken", "new-refresh");
        tokens.insert("expiresAt", 1765000000123.5);
        expected.insert("claudeAiOauth", tokens);
        const QJsonObject actual = QJsonDocument::fromJson(*updated).object();
        QCOMPARE(actual, expected);
        // Value and type of what we do not own, spot-checked beyond QJsonValue's equality.
        const QJsonObject actualTokens = actual.value("claudeAiOauth").toObject();
        QVERIFY(actualTokens.value("rateLimitTier").isNull());
        QCOMPARE(actualTokens.value("isPro").type(), QJsonValue::Bool);
        QCOMPARE(actualTokens.value("counter").toInteger(), Q_INT64_C(9007199254740993));
        QCOMPARE(actual.value("version").toVariant().typeId(), QMetaType::LongLong);
    }

    void renewalAddsMissingMembers()
    {
        const std::optional<QByteArray> updated =
            CredentialDocument::withRenewedTokens(R"({"claudeAiOauth":{"scopes":[]}})", "a", "r", 5);
        QVERIFY(updated);
        const QJsonObject tokens = QJsonDocument::fromJson(*updated).object().value("claudeAiOauth").toObject();
        QCOMPARE(tokens.value("accessToken").toString(), "a");
        QCOMPARE(tokens.value("refreshToken").toString(), "r");
        QCOMPARE(tokens.value("expiresAt").toDouble(), 5.0);
        QVERIFY(tokens.value("scopes").isArray());
    }

    void fileRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addRow("missing") << "missing";
        QTest::addRow("folder") << "folder";
        QTest::addRow("named pipe, no writer") << "fifo";
        QTest::addRow("larger than any token document") << "huge";
    }
    void fileRead()
    {
        QFETCH(QString, kind);
        QTemporaryDir home;
        const QString path = home.filePath(".credentials.json");
        if (kind == "folder")
            QVERIFY(QDir(home.path()).mkdir(".credentials.json"));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "huge")
            QVERIFY(writeFile(path, QByteArray(2 * 1024 * 1024, ' ') + fullDocument));
        QVERIFY(!FileCredentialStore(path).read());
    }

    void fileReplaceIsAtomicAndKeepsPermissions()
    {
        QTemporaryDir home;
        const QString path = home.filePath(".credentials.json");
        QVERIFY(writeFile(path, fullDocument));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        FileCredentialStore store(path);
        QCOMPARE(store.read(), std::optional(fullDocument));

        store.replace("{\"claudeAiOauth\":{}}");
        QCOMPARE(readFile(path), QByteArray("{\"claudeAiOauth\":{}}"));
        QCOMPARE(modeOf(path), mode_t(0640));
        // Only the file itself is left in the folder: no temporary file behind.
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{".credentials.json"});
    }

    void fileReplaceNeverCreates()
    {
        QTemporaryDir home;
        const QString path = home.filePath(".claude/.credentials.json");
        QVERIFY(QDir(home.path()).mkdir(".claude"));
        FileCredentialStore(path).replace(fullDocument);
        QVERIFY(!QFile::exists(path));
        QVERIFY(QDir(home.filePath(".claude")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void fileReplaceInReadOnlyFolderLeavesOriginal()
    {
        if (::geteuid() == 0)
            QSKIP("root may write into a read-only folder");
        QTemporaryDir home;
        const QString folder = home.filePath(".claude");
        QVERIFY(QDir(home.path()).mkdir(".claude"));
        const QString path = folder + "/.credentials.json";
        QVERIFY(writeFile(path, fullDocument));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        FileCredentialStore(path).replace("{}");
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(readFile(path), fullDocument);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{".credentials.json"});
    }

    // A full disk, simulated with the file size limit (which binds root too): the write of the
    // new document fails half-way, and the original must be left whole.
    void fileReplaceOnFullDiskLeavesOriginal()
    {
        QTemporaryDir home;
        const QString path = home.filePath(".credentials.json");
        QVERIFY(writeFile(path, fullDocument));
        struct rlimit previous {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = previous;
        tiny.rlim_cur = 16;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
        FileCredentialStore(path).replace(fullDocument + fullDocument);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(readFile(path), fullDocument);
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{".credentials.json"});
    }

    void fileReplaceThroughSymlinkKeepsTheLink()
    {
        QTemporaryDir home;
        const QString target = home.filePath("real.json");
        const QString link = home.filePath(".credentials.json");
        QVERIFY(writeFile(target, fullDocument));
        QVERIFY(QFile::link(target, link));
        FileCredentialStore(link).replace("{}");
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(target), QByteArray("{}"));
    }

    void systemStoreIsTheHomeCredentialsFile()
    {
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(".claude"));
        QVERIFY(writeFile(home.filePath(".claude/.credentials.json"), fullDocument));
        QCOMPARE(systemCredentialStore(home.path())->read(), std::optional(fullDocument));
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
