#include "cachedusagereport.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray account = "4f1c2a9e-0000-4000-8000-00000000a11c";

// Claude Code's global config as it grows: project histories with quotes, braces and escapes
// around the one member read, and `padding` bytes of them.
QByteArray config(const QByteArray &cached, const QByteArray &login = account, qsizetype padding = 4 << 20)
{
    const QByteArray history = "{\"display\":\"fix \\\"}{\\\" in x\\\\\",\"pastedContents\":{\"1\":[1,{\"a\":\"]\"}]}},";
    QByteArray projects = R"("projects":{"/home/ana/app":{"history":[)";
    while (projects.size() < padding)
        projects += history;
    projects += R"({"display":"end"}],"allowedTools":[]}})";
    QByteArray text = R"({"numStartups":412,"theme":"dark",)" + projects;
    if (!cached.isEmpty())
        text += R"(,"cachedUsageUtilization":)" + cached;
    return text + R"(,"oauthAccount":{"accountUuid":")" + login + R"(","emailAddress":"ana@example.com"},"tail":[{}]})";
}

QByteArray cached(const QByteArray &report, const QByteArray &uuid = account)
{
    return R"({"fetchedAtMs":1772366400000,"accountUuid":")" + uuid + R"(","utilization":)" + report + "}";
}

const QByteArray fullReport = R"({"five_hour":null,"seven_day":null,"limits":[)"
                              R"({"kind":"session","percent":31,"resets_at":"2026-03-01T14:00:00Z","is_active":false},)"
                              R"({"kind":"weekly_scoped","percent":82,"resets_at":"2026-03-04T10:00:00Z","is_active":true,)"
                              R"("severity":"warning","scope":{"model":{"display_name":"Opus"}}},)"
                              R"({"kind":"weekly_scoped","percent":12,"scope":{"model":{"display_name":"Sonnet"}}},)"
                              R"({"kind":"weekly_all","percent":47,"resets_at":"2026-03-05T10:00:00Z"}],)"
                              R"("extra_usage":{"is_enabled":true,"monthly_limit":2000,"used_credits":500,"utilization":25.0}})";

QString listed(const QList<PlanWindow> &windows)
{
    QStringList keys;
    for (const PlanWindow &w : windows)
        keys << w.key() + u' ' + QString::number(w.percent());
    return keys.join(u", "_s);
}

} // namespace

class TestCachedReport : public QObject
{
    Q_OBJECT

private slots:
    void member_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("windows");
        QTest::addColumn<bool>("problem");
        const QString all = u"five_hour 31, seven_day:Opus 82, seven_day:Sonnet 12, seven_day 47, credits 25"_s;
        QTest::addRow("big file, member among the others") << config(cached(fullReport)) << all << false;
        QTest::addRow("another account's report") << config(cached(fullReport, "someone-else")) << QString() << true;
        QTest::addRow("no login in the file") << config(cached(fullReport), "") << QString() << true;
        QTest::addRow("no member: no complaint") << config({}) << QString() << false;
        QTest::addRow("malformed member") << config(R"({"fetchedAtMs":"soon","utilization":[]})") << QString() << true;
        QTest::addRow("member is no object") << config("[1,2,3]") << QString() << true;
        QTest::addRow("truncated file") << config(cached(fullReport)).left(3 << 20) << QString() << true;
        QTest::addRow("flat windows only")
            << config(cached(R"({"five_hour":{"utilization":5,"resets_at":"2026-03-01T14:00:00Z"},"seven_day":null})"), account, 10)
            << u"five_hour 5"_s << false;
    }
    void member()
    {
        QFETCH(QByteArray, file);
        const CachedReportWindows read = cachedReportWindows(file);
        QTEST(listed(read.windows), "windows");
        QTEST(!read.problem.isEmpty(), "problem");
        for (const PlanWindow &w : read.windows) {
            QCOMPARE(w.source, PlanSource::cachedReport);
            QCOMPARE(w.asOf, QDateTime::fromMSecsSinceEpoch(1772366400000, Qt::UTC));
        }
    }

    void configFile()
    {
        QCOMPARE(claudeConfigFile(u"/home/ana/.claude/"_s, u"/home/ana"_s), u"/home/ana/.claude.json"_s);
        QCOMPARE(claudeConfigFile(u"/srv/work-claude"_s, u"/home/ana"_s), u"/srv/work-claude/.claude.json"_s);
    }

    // The file is followed as Claude Code rewrites it: replaced by a rename, grown past the limit.
    void follows()
    {
        QTemporaryDir home;
        const QString dataDirectory = home.filePath(u".claude"_s);
        QVERIFY(QDir().mkpath(dataDirectory));
        const auto write = [&](const QByteArray &text) {
            QSaveFile file(home.filePath(u".claude.json"_s));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
            QVERIFY(file.commit());
        };
        write(config(cached(fullReport), account, 1000));
        CachedUsageReports reports(home.path());
        QSignalSpy changed(&reports, &CachedUsageReports::reportsChanged);
        reports.setDataDirectories({dataDirectory});
        QVERIFY(changed.wait());
        const QString key = QDir(dataDirectory).canonicalPath();
        QCOMPARE(reports.reports().value(key).size(), 5);

        write(config(cached(R"({"five_hour":{"utilization":64}})"), account, 1000));
        QTRY_COMPARE(listed(reports.reports().value(key)), u"five_hour 64"_s);

        // A file past the limit is skipped, never read: a sparse one costs nothing to make.
        QFile big(home.filePath(u".claude.json"_s));
        QVERIFY(big.resize(maxClaudeConfigBytes + 1));
        QTRY_VERIFY(reports.reports().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCachedReport)
#include "tst_cachedreport.moc"
