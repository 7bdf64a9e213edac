#include "credentialdocument.h"
#include "credentialstore.h"

#include <QtTest>

#include <QJsonDocument>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
QByteArray readFile(const QString &path) { return FileCredentialStore(path).read().value_or(QByteArray()); }
QStringList filesIn(const QString &folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

// Claude Code's document, with members of every JSON type the program does not own.
const QByteArray fullDocument = R"({"claudeAiOauth":{"accessToken":"old-access","refreshToken":"old-refresh",)"
                                R"("expiresAt":1700000000000,"scopes":["user:inference"],"tier":null,"isPro":true,)"
                                R"("counter":9007199254740993,"nested":{"ü":"日本"}},"mcpOAuth":{"s":{"e":-12}},"ratio":0.25})";

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    // Renewal writes into an existing token set only, never making one, and changes nothing else.
    void documentUpdate()
    {
        for (const QByteArray bad : {R"({"claudeAiOauth":"x"})", R"({"other":{}})", R"([{"claudeAiOauth":{}}])", "x"})
            QVERIFY(!CredentialDocument::tokenSet(bad) && !CredentialDocument::withRenewedTokens(bad, u"a"_s, u"r"_s, 1));
        const auto updated =
            CredentialDocument::withRenewedTokens(fullDocument, u"new-access"_s, u"new-refresh"_s, 1765000000123.5);
        QVERIFY(updated);
        // The expiry keeps its half millisecond; integers beyond double precision stay exact.
        QVERIFY(updated->contains("\"expiresAt\":1765000000123.5") && updated->contains("\"counter\":9007199254740993"));
        QJsonObject expected = QJsonDocument::fromJson(fullDocument).object();
        QJsonObject tokens = expected.value(u"claudeAiOauth"_s).toObject();
        tokens.insert(u"accessToken"_s, u"new-access"_s);
        tokens.insert(u"refreshToken"_s, u"new-refresh"_s);
        tokens.insert(u"expiresAt"_s, 1765000000123.5);
        expected.insert(u"claudeAiOauth"_s, tokens);
        QCOMPARE(QJsonDocument::fromJson(*updated).object(), expected);
    }

    void fileReadRefuses()
    {
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkdir(u"folder"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(home.filePath(u"fifo"_s)).constData(), 0600), 0);
        QVERIFY(writeFile(home.filePath(u"huge"_s), QByteArray(2 << 20, ' ') + fullDocument));
        for (const QString &name : {u"missing"_s, u"folder"_s, u"fifo"_s, u"huge"_s})
            QVERIFY2(!FileCredentialStore(home.filePath(name)).read(), qPrintable(name));
    }

    // The replace goes through a link to its target and keeps what the file is besides its
    // content: permissions, owner and group, extended attributes. A temporary file a killed
    // process left is removed when the next write-back checks that it can save.
    void replaceKeepsTheFile()
    {
        QTemporaryDir home;
        const QString target = home.filePath(u"real.json"_s);
        const QString link = home.filePath(u".credentials.json"_s);
        const QByteArray nativeTarget = QFile::encodeName(target);
        QVERIFY(writeFile(target, fullDocument) && writeFile(target + u".glimmerox-Ab12Cd"_s, "spent"));
        QVERIFY(writeFile(home.filePath(u"real.json.other"_s), "not ours"));
        QCOMPARE(::chmod(nativeTarget.constData(), 0640), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(nativeTarget.constData(), 4242, 4343), 0);
        const bool xattrs = ::setxattr(nativeTarget.constData(), "user.kept", "1", 1, 0) == 0;
        QVERIFY(QFile::link(target, link));
        FileCredentialStore store(link);
        QCOMPARE(store.read(), std::optional(fullDocument));

        QVERIFY(store.canReplace());
        QVERIFY(store.replace("{}"));
        QCOMPARE(readFile(target), QByteArray("{}"));
        QVERIFY(QFileInfo(link).isSymLink());
        struct stat status {};
        QCOMPARE(::stat(nativeTarget.constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0640));
        if (root)
            QVERIFY(status.st_uid == 4242 && status.st_gid == 4343);
        char value[4] = {};
        if (xattrs)
            QCOMPARE(::getxattr(nativeTarget.constData(), "user.kept", value, sizeof value), 1);
        QCOMPARE(filesIn(home.path()), QStringList({u".credentials.json"_s, u"real.json"_s, u"real.json.other"_s}));

        FileCredentialStore missing(home.filePath(u"missing.json"_s));
        QVERIFY(!missing.canReplace() && !missing.replace(fullDocument));
        QVERIFY(!QFile::exists(home.filePath(u"missing.json"_s)));
    }

    // A replace that fails half-way leaves the original whole and no temporary file behind.
    // The full disk is simulated with the file size limit, which binds root too.
    void failedReplaceLeavesOriginal()
    {
        QTemporaryDir home;
        const QString path = home.filePath(u".credentials.json"_s);
        QVERIFY(writeFile(path, fullDocument));
        struct rlimit previous {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = previous;
        tiny.rlim_cur = 16;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const bool replaced = FileCredentialStore(path).replace(fullDocument + fullDocument);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!replaced);
        QCOMPARE(readFile(path), fullDocument);
        QCOMPARE(filesIn(home.path()), QStringList{u".credentials.json"_s});
        if (::geteuid() == 0)
            return; // root writes into read-only folders
        QVERIFY(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(!FileCredentialStore(path).canReplace() && !FileCredentialStore(path).replace("{}"));
        QVERIFY(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(readFile(path), fullDocument);
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
