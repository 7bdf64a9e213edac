#include "privatefiles.h"
#include "statuslinesettings.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString bridge = u"/opt/glimmerox/bin/glimmerox-statusline"_s;
const QByteArray missing = "<missing>";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A data directory with Claude Code's settings and Glimmerox's record beside it.
struct Rig
{
    QTemporaryDir dir;
    QString settingsPath = dir.filePath(u"claude/settings.json"_s);
    QString recordPath = dir.filePath(u"config/glimmerox/statusline.json"_s);
    StatusLineSettings settings{settingsPath, recordPath, bridge};

    explicit Rig(const QByteArray &original)
    {
        QDir(dir.path()).mkpath(u"claude"_s);
        if (original != missing)
            write(settingsPath, original);
    }
};

} // namespace

class TestStatusLineSettings : public QObject
{
    Q_OBJECT

private slots:
    void installAndUninstall_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QByteArray>("installed");
        QTest::addColumn<QByteArray>("uninstalled");

        const QByteArray entry = "{\"type\": \"command\", \"command\": \"b=/opt/glimmerox/bin/glimmerox-statusline; "
                                 "[ -x \\\"$b\\\" ] && exec \\\"$b\\\"; exit 0\"}";
        QTest::addRow("no file: created") << missing << "{\"statusLine\": " + entry + "}\n" << QByteArray("{}\n");
        QTest::addRow("empty object") << QByteArray("{ }") << "{\"statusLine\": " + entry + " }" << QByteArray("{ }");
        const QByteArray odd = "{\n\t\"model\":\"opus\" ,\n\t\"n\": 12345678901234567890,\"weird key \\u00e9\":"
                               "{\"deep\":[1,2.50,{\"}\":\"{\\\"\"}]}\n}\n";
        QTest::addRow("odd formatting, unknown keys, 20-digit integer, no status line")
            << odd << odd.left(odd.size() - 3) + ",\"statusLine\": " + entry + "\n}\n" << odd;
        const QByteArray spaced = "{\n  \"a\": 1 ,\n  \"b\": [\n    2\n  ]\r\n}";
        QTest::addRow("spaced like the member before")
            << spaced << spaced.left(spaced.size() - 3) + ",\n  \"statusLine\": " + entry + "\r\n}" << spaced;
        const QByteArray quoted = "\xEF\xBB\xBF{\"statusLine\" :{ \"type\":\"command\",\n "
                                  "\"command\":\"printf '%s' \\\"$(pwd)\\\"\","
                                  "\"padding\": 0,\"refreshInterval\":5,\"future\":{\"x\":null}}, \"z\":true}";
        QTest::addRow("status line with single quotes and further members")
            << quoted
            << QByteArray("\xEF\xBB\xBF{\"statusLine\" :{\"type\": \"command\", \"command\": \"b=/opt/glimmerox/bin/glimmerox-statusline "
               "c='printf '\\\\''%s'\\\\'' \\\"$(pwd)\\\"'; [ -x \\\"$b\\\" ] && exec \\\"$b\\\" --then \\\"$c\\\"; "
               "exec /bin/sh -c \\\"$c\\\"\", \"padding\": 0, \"refreshInterval\":5, \"future\":{\"x\":null}}, \"z\":true}")
            << quoted;
        QTest::addRow("status line null, first of two")
            << QByteArray("{\"statusLine\":null,\"b\":1}") << "{\"statusLine\":" + entry + ",\"b\":1}"
            << QByteArray("{\"statusLine\":null,\"b\":1}");
    }
    void installAndUninstall()
    {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, installed);
        QFETCH(QByteArray, uninstalled);
        Rig rig(original);
        QVERIFY(!rig.settings.isInstalled());
        const SettingsEditResult first = rig.settings.install();
        QVERIFY2(first.ok, qPrintable(first.message));
        QCOMPARE(readAll(rig.settingsPath), installed);
        QVERIFY(rig.settings.isInstalled());
        // Installing again never chains the bridge to itself.
        QVERIFY(rig.settings.install().ok);
        QCOMPARE(readAll(rig.settingsPath), installed);

        const SettingsEditResult removed = rig.settings.uninstall();
        QVERIFY2(removed.ok, qPrintable(removed.message));
        QCOMPARE(readAll(rig.settingsPath), uninstalled);
        QVERIFY(!rig.settings.isInstalled());
        QVERIFY(rig.settings.uninstall().ok); // nothing left to remove
        QCOMPARE(readAll(rig.settingsPath), uninstalled);
    }

    void uninstallWithoutRecordUnchains()
    {
        // Without Glimmerox's record, or with one an edit of the chained command has outdated, the
        // previous status line is rebuilt from what the bridge chains now.
        for (const bool recordLost : {true, false}) {
            Rig rig(R"({"statusLine": {"type": "command", "command": "echo 'a b' \\", "padding": 2}})");
            QVERIFY(rig.settings.install().ok);
            QString expected = u"echo 'a b' \\"_s;
            if (recordLost) {
                QVERIFY(QFile::remove(rig.recordPath));
            } else {
                QByteArray edited = readAll(rig.settingsPath);
                write(rig.settingsPath, edited.replace("'echo '", "'printf '"));
                expected.replace(u"echo"_s, u"printf"_s);
            }
            QVERIFY(rig.settings.uninstall().ok);
            const QJsonObject statusLine =
                QJsonDocument::fromJson(readAll(rig.settingsPath)).object()[u"statusLine"_s].toObject();
            QCOMPARE(statusLine[u"command"_s].toString(), expected);
            QCOMPARE(statusLine[u"padding"_s].toInt(), 2);
        }
    }

    void keepsModeAndLink()
    {
        Rig rig(missing);
        const QString target = rig.dir.filePath(u"dotfiles.json"_s);
        write(target, "{\"a\":1}");
        QVERIFY(::chmod(QFile::encodeName(target).constData(), 0640) == 0);
        QVERIFY(QFile::link(target, rig.settingsPath));
        QVERIFY(rig.settings.install().ok);
        QVERIFY(QFileInfo(rig.settingsPath).isSymLink());
        QCOMPARE(filePermissions(target), 0640);
        QVERIFY(readAll(target).contains("glimmerox-statusline"));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QString>("says");
        QTest::addRow("trailing comma") << QByteArray("{\"a\":1,}") << u"not valid JSON"_s;
        QTest::addRow("comment") << QByteArray("{// x\n}") << u"not valid JSON"_s;
        QTest::addRow("array") << QByteArray("[]") << u"not valid JSON"_s;
        QTest::addRow("empty") << QByteArray("") << u"not valid JSON"_s;
        QTest::addRow("folder") << QByteArray("<folder>") << u"not a regular file"_s;
        QTest::addRow("fifo") << QByteArray("<fifo>") << u"not a regular file"_s;
        QTest::addRow("read-only") << QByteArray("<read-only>") << u"not writable"_s;
    }
    void refusals()
    {
        QFETCH(QByteArray, kind);
        QFETCH(QString, says);
        Rig rig(kind.startsWith('<') ? missing : kind);
        const QByteArray path = QFile::encodeName(rig.settingsPath);
        if (kind == "<folder>")
            QVERIFY(QDir().mkdir(rig.settingsPath));
        if (kind == "<fifo>")
            QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        if (kind == "<read-only>") {
            if (::geteuid() == 0)
                QSKIP("root may write any file");
            write(rig.settingsPath, "{}");
            QVERIFY(::chmod(path.constData(), 0400) == 0);
        }
        const QByteArray before = kind == "<read-only>" ? QByteArray("{}") : kind;
        for (const SettingsEditResult &result : {rig.settings.install(), rig.settings.uninstall()}) {
            QVERIFY(!result.ok);
            QVERIFY2(result.message.contains(says) && result.message.contains(rig.settingsPath), qPrintable(result.message));
        }
        if (!kind.startsWith('<'))
            QCOMPARE(readAll(rig.settingsPath), before);
        QVERIFY(!QFile::exists(rig.recordPath));
    }

    void oddBridgePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addRow("quote") << u"/home/o'brien/bin/glimmerox-statusline"_s;
        QTest::addRow("spaces and $") << u"/Applications/My $HOME Tools/glimmerox-statusline"_s;
        QTest::addRow("backslash, double quote") << u"/opt/a\\b \"c\"/glimmerox-statusline"_s;
        QTest::addRow("non-ASCII") << u"/home/zoë/Glimmerox – Ü/glimmerox-statusline"_s;
    }
    void oddBridgePaths()
    {
        QFETCH(QString, path);
        const QByteArray original = "{\"statusLine\":{\"type\":\"command\",\"command\":\"echo 'it''s' \\\"$x\\\"\"}}";
        Rig rig(original);
        const StatusLineSettings settings(rig.settingsPath, rig.recordPath, path);
        QVERIFY(settings.install().ok);
        const QByteArray installed = readAll(rig.settingsPath);
        QVERIFY(settings.isInstalled());
        QVERIFY(settings.install().ok); // recognised, so never nested
        QCOMPARE(readAll(rig.settingsPath), installed);
        QVERIFY(settings.uninstall().ok);
        QCOMPARE(readAll(rig.settingsPath), original);
    }

    void olderFormBroughtUpToDate()
    {
        // The form of earlier versions: the bridge first, the previous command after --then.
        const QByteArray old = "{\"a\": 1, \"statusLine\": {\"type\": \"command\", \"command\": "
                               "\"'/opt/old dir/glimmerox-statusline' --then 'echo '\\\\''hi'\\\\'''\", \"padding\": 1}}";
        for (const bool viaInstall : {false, true}) {
            Rig rig(old);
            QVERIFY(rig.settings.isInstalled());
            QVERIFY((viaInstall ? rig.settings.install() : rig.settings.migrate()).ok);
            const QByteArray migrated = readAll(rig.settingsPath);
            QVERIFY(migrated.startsWith("{\"a\": 1, \"statusLine\": {\"type\": \"command\", \"command\": \"b='/opt/old dir/"));
            QVERIFY(migrated.endsWith("exec /bin/sh -c \\\"$c\\\"\", \"padding\": 1}}"));
            QVERIFY(!QFile::exists(rig.recordPath));
            QVERIFY(rig.settings.migrate().ok); // the current form stays as it is
            QCOMPARE(readAll(rig.settingsPath), migrated);
            QVERIFY(rig.settings.uninstall().ok);
            QCOMPARE(readAll(rig.settingsPath),
                     "{\"a\": 1, \"statusLine\": {\"type\": \"command\", \"command\": \"echo 'hi'\", \"padding\": 1}}");
        }
        // One written by hand is the user's: left as it is, though recognised.
        const QByteArray byHand = R"({"statusLine": {"type": "command", "command": "~/bin/glimmerox-statusline"}})";
        Rig rig(byHand);
        QVERIFY(rig.settings.migrate().ok && rig.settings.install().ok && rig.settings.isInstalled());
        QCOMPARE(readAll(rig.settingsPath), byHand);
    }

    void concurrentWriterKept_data()
    {
        QTest::addColumn<int>("writes");
        QTest::addColumn<bool>("ok");
        QTest::addRow("one write in between") << 1 << true;
        QTest::addRow("three") << 3 << true;
        QTest::addRow("every time: given up") << 100 << false;
    }
    void concurrentWriterKept()
    {
        QFETCH(int, writes);
        QFETCH(bool, ok);
        for (const bool install : {true, false}) {
            Rig rig("{\"model\": \"opus\"}");
            if (!install)
                QVERIFY(rig.settings.install().ok);
            int written = 0;
            // Claude Code rewriting the file between the edit's read and its rename.
            rig.settings.setBeforeReplace([&] {
                if (written < writes)
                    write(rig.settingsPath, readAll(rig.settingsPath).replace("{", "{\"k" + QByteArray::number(written++) + "\": 1, "));
            });
            const SettingsEditResult result = install ? rig.settings.install() : rig.settings.uninstall();
            QCOMPARE(result.ok, ok);
            const QJsonObject settings = QJsonDocument::fromJson(readAll(rig.settingsPath)).object();
            QVERIFY(settings.contains(u"k%1"_s.arg(std::min(writes, 4) - 1)));
            QCOMPARE(rig.settings.isInstalled(), install == ok);
            if (!ok)
                QVERIFY2(result.message.contains(u"kept changing"_s), qPrintable(result.message));
        }
    }

    void damagedRecord_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("command");
        QTest::addRow("two values") << QByteArray("{\"statusLine\": {\"type\": \"command\", \"command\": \"echo x\"}}")
                                    << u"{\"command\": \"echo x\"}, 1"_s << u"echo x"_s;
        QTest::addRow("cut short") << QByteArray("{\"statusLine\": null}") << u"{\"type\":"_s << QString();
        QTest::addRow("spills past its member") << QByteArray("{\"statusLine\": null}") << u"null}, \"x\": {"_s << QString();
    }
    void damagedRecord()
    {
        QFETCH(QByteArray, original);
        QFETCH(QString, planted);
        QFETCH(QString, command);
        Rig rig(original);
        QVERIFY(rig.settings.install().ok);
        QJsonObject entries = QJsonDocument::fromJson(readAll(rig.recordPath)).object();
        for (const QString &key : entries.keys())
            entries[key] = QJsonObject{{u"previous"_s, planted}};
        write(rig.recordPath, QJsonDocument(entries).toJson());
        const SettingsEditResult result = rig.settings.uninstall();
        QVERIFY(result.ok);
        const QJsonDocument settings = QJsonDocument::fromJson(readAll(rig.settingsPath));
        QVERIFY(settings.isObject());
        QCOMPARE(settings[u"statusLine"_s][u"command"_s].toString(), command);
        QVERIFY2(result.message.contains(u"damaged"_s), qPrintable(result.message));
    }

    void quoting()
    {
        QCOMPARE(shellQuoted(u"/Applications/My Tools/glimmerox-statusline"_s),
                 u"'/Applications/My Tools/glimmerox-statusline'"_s);
        QVERIFY(runsStatusLineBridge(u"'/Applications/My Tools/glimmerox-statusline' --then 'x'"_s));
        QVERIFY(runsStatusLineBridge(u"  glimmerox-statusline"_s));
        QVERIFY(!runsStatusLineBridge(u"echo glimmerox-statusline"_s));
        QVERIFY(!runsStatusLineBridge(u"/opt/glimmerox-statusline-old/run.sh"_s));
    }
};

QTEST_GUILESS_MAIN(TestStatusLineSettings)
#include "tst_statuslinesettings.moc"
