#include "promptcacheview.h"
#include "samplestore.h"
#include "statuslinesample.h"

#include <QJsonDocument>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// An even second: the blinking LED is on in it.
const QDateTime sent = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

std::optional<PromptCacheSample> parsed(const QByteArray &json)
{
    return parsePromptCache(QJsonDocument::fromJson(json).object());
}

QString local(const QDateTime &time)
{
    return time.toLocalTime().toString(u"HH:mm"_s);
}

// Warm for an hour after `sent`, as Claude Code 2.1.260 reports it.
const QByteArray fullCache = R"({"warm":true,"ttl":"1h","expires_at":)"
    + QByteArray::number(sent.addSecs(3600).toSecsSinceEpoch())
    + R"(,"hit_ratio":0.957,"recache_tokens_if_cold":217000,"misses":3,"last_miss_at":)"
    + QByteArray::number(sent.addSecs(-1800).toSecsSinceEpoch())
    + R"(,"last_miss_cause":{"causes":["tools_changed","renamed_in_2_2"]}})";

} // namespace

class TestPromptCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QStringList>("causes");
        QTest::addRow("every member, an unknown cause") << fullCache << true
                                                        << QStringList{u"tools_changed"_s, u"unknown"_s};
        QTest::addRow("members of the wrong type or range")
            << QByteArray(R"({"warm":true,"ttl":"2h","expires_at":"soon","hit_ratio":1.5,"recache_tokens_if_cold":-4,)"
                          R"("misses":null,"last_miss_cause":{"causes":"tools_changed"}})")
            << true << QStringList{};
        QTest::addRow("no warm") << QByteArray(R"({"ttl":"5m"})") << false << QStringList{};
        QTest::addRow("older Claude Code: nothing") << QByteArray("{}") << false << QStringList{};
    }
    // Read from a payload, kept through the sample file unchanged.
    void parse()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, present);
        QFETCH(QStringList, causes);
        const QByteArray payload = R"({"session_id":"s1","transcript_path":"/home/ana/.claude/projects/p/s1.jsonl",)"
                                   R"("prompt_cache":)" + json + '}';
        const StatusLineSample sample = parseStatusLinePayload(payload, sent, {}, u"/home/ana"_s).value();
        const std::optional<PromptCacheSample> &cache = sample.session.promptCache;
        QCOMPARE(cache.has_value(), present);
        if (!cache)
            return;
        QCOMPARE(cache->lastMissCauses, causes);
        const bool figures = !causes.isEmpty(); // the full row reads them all, the wrong one none
        for (bool read : {cache->ttlSeconds.has_value(), cache->expiresAt.has_value(), cache->hitRatio.has_value(),
                          cache->recacheTokens.has_value(), cache->misses.has_value()})
            QCOMPARE(read, figures);

        QTemporaryDir runtime;
        const SampleStore store(runtime.filePath(u"glimmerox"_s));
        QCOMPARE(store.record(sample, sent), QString());
        QCOMPARE(store.read(sample.session.dataDirectory).value().session(u"s1"_s)->promptCache, cache);
    }

    void view_data()
    {
        QTest::addColumn<QByteArray>("json"); // empty: no prompt_cache at all
        QTest::addColumn<qint64>("at");       // seconds after the payload
        QTest::addColumn<bool>("lit");
        QTest::addColumn<QString>("tooltip");
        const QString warmUntil = u"Prompt cache warm until %1 (1-hour cache), "_s.arg(local(sent.addSecs(3600)));
        const QString rest = u"After that the next reply re-reads 217,000 tokens. Hits 96 %. Last miss %1: "
                             "tools changed, cause unknown."_s.arg(local(sent.addSecs(-1800)));
        QTest::addRow("warm") << fullCache << qint64(240) << true << warmUntil + u"56 min left. "_s + rest;
        QTest::addRow("last minute, on") << fullCache << qint64(3556) << true << warmUntil + u"44 s left. "_s + rest;
        QTest::addRow("last minute, off") << fullCache << qint64(3557) << false << warmUntil + u"43 s left. "_s + rest;
        QTest::addRow("cold on the panel's clock")
            << fullCache << qint64(3600) << false
            << u"Prompt cache cold since %1. The next reply re-reads 217,000 tokens. Hits 96 %. Last miss %2: tools "
               "changed, cause unknown."_s.arg(local(sent.addSecs(3600)), local(sent.addSecs(-1800)));
        QTest::addRow("cold as sent") << QByteArray(R"({"warm":false,"recache_tokens_if_cold":5000})") << qint64(0)
                                      << false << u"Prompt cache cold. The next reply re-reads 5,000 tokens."_s;
        // Without an expiry the cache lasts five minutes after the reply that renewed it.
        QTest::addRow("only warm, early") << QByteArray(R"({"warm":true})") << qint64(100) << true
                                          << u"Prompt cache warm until %1, 3 min left."_s.arg(local(sent.addSecs(300)));
        QTest::addRow("only warm, later") << QByteArray(R"({"warm":true})") << qint64(301) << false
                                          << u"Prompt cache cold since %1."_s.arg(local(sent.addSecs(300)));
        QTest::addRow("absent") << QByteArray() << qint64(0) << false
                                << u"Claude Code sends no prompt-cache figures (2.1.251 or later does)"_s;
    }
    // The LED and its tooltip count down on the panel's clock, between payloads.
    void view()
    {
        QFETCH(QByteArray, json);
        QFETCH(qint64, at);
        QFETCH(bool, lit);
        QFETCH(QString, tooltip);
        PanelInputs inputs;
        inputs.promptCache = json.isEmpty() ? std::nullopt : parsed(json);
        QCOMPARE(inputs.promptCache.has_value(), !json.isEmpty());
        inputs.promptCacheSentAt = sent;
        inputs.now = sent.addSecs(at);
        QCOMPARE(computePanelContent(inputs).ledLit(Led::cache), lit);
        QCOMPARE(promptCacheTooltip(inputs), tooltip);
    }
};

QTEST_MAIN(TestPromptCache)
#include "tst_promptcache.moc"
