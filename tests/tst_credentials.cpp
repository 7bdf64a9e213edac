#include "credentialdocument.h"
#include "credentialstore.h"

#include <QtTest>

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Outcome = CredentialRead::Outcome;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray document = R"({"claudeAiOauth":{"accessToken":"access","expiresAt":1700000000000},"mcpOAuth":{}})";

} // namespace

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void tokenSet()
    {
        for (const QByteArray bad : {R"({"claudeAiOauth":"x"})", R"({"other":{}})", R"([{"claudeAiOauth":{}}])", "x"})
            QVERIFY2(!CredentialDocument::tokenSet(bad), bad.constData());
        QCOMPARE(CredentialDocument::tokenSet(document)->value(u"accessToken"_s).toString(), u"access"_s);
    }

    // Each read says what it found; only a missing file is a missing login, every other
    // failure carries the system's reason. The file itself is never changed.
    void fileRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("error");
        QTest::addRow("the file") << u"file"_s << int(Outcome::found) << QString();
        QTest::addRow("through a link") << u"link"_s << int(Outcome::found) << QString();
        QTest::addRow("missing") << u"missing"_s << int(Outcome::missing) << QString();
        QTest::addRow("dangling link") << u"dangling"_s << int(Outcome::missing) << QString();
        QTest::addRow("a folder in its place") << u"folder"_s << int(Outcome::failed) << u"Not a regular file"_s;
        QTest::addRow("a FIFO never blocks") << u"fifo"_s << int(Outcome::failed) << u"Not a regular file"_s;
        QTest::addRow("far too large") << u"huge"_s << int(Outcome::failed) << u"Larger than 1048576 bytes"_s;
        QTest::addRow("a file where its folder should be") << u"file/x"_s << int(Outcome::failed) << u"Not a directory"_s;
        QTest::addRow("no permission") << u"locked"_s << int(Outcome::failed) << u"Permission denied"_s;
    }
    void fileRead()
    {
        QFETCH(QString, name);
        QFETCH(int, outcome);
        QFETCH(QString, error);
        if (name == u"locked" && ::geteuid() == 0)
            QSKIP("root reads any file");
        QTemporaryDir home;
        const QDir dir(home.path());
        QVERIFY(writeFile(dir.filePath(u"file"_s), document) && writeFile(dir.filePath(u"locked"_s), document));
        QVERIFY(QFile::setPermissions(dir.filePath(u"locked"_s), {}));
        QVERIFY(writeFile(dir.filePath(u"huge"_s), QByteArray(2 << 20, ' ') + document));
        QVERIFY(QFile::link(dir.filePath(u"file"_s), dir.filePath(u"link"_s)));
        QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"dangling"_s)));
        QVERIFY(dir.mkdir(u"folder"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(u"fifo"_s)).constData(), 0600), 0);

        const CredentialRead read = FileCredentialStore(dir.filePath(name)).read();
        QCOMPARE(int(read.outcome), outcome);
        QCOMPARE(read.error, error);
        QCOMPARE(read.document, outcome == int(Outcome::found) ? document : QByteArray());
    }

    // Claude Code replaces the file, so its folder is watched too; the location reads as the user knows it.
    void watchAndLocation()
    {
        const QString path = QDir::homePath() + u"/.claude/.credentials.json"_s;
        const FileCredentialStore store(path);
        QCOMPARE(store.watchedPaths(), QStringList({path, QDir::homePath() + u"/.claude"_s}));
        QCOMPARE(store.location(), u"~/.claude/.credentials.json"_s);
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
