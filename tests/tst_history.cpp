#include "historystore.h"
#include "pace.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 3), QTime(15, 0), Qt::UTC);
const QString dataDir = u"/home/ana/.claude"_s;

HistoryRecord figure(const QString &window, double percent, qint64 minutesAgo, std::optional<qint64> resetInMinutes = {})
{
    HistoryRecord record{window, percent, std::nullopt, now.addSecs(-60 * minutesAgo), HistorySource::statusLine};
    if (resetInMinutes)
        record.resetsAt = now.addSecs(60 * *resetInMinutes);
    return record;
}

QByteArray lines(const QList<HistoryRecord> &records)
{
    QByteArray bytes;
    for (const HistoryRecord &record : records)
        bytes += historyLine(record);
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void stateFolder()
    {
#ifndef Q_OS_MACOS
        QCOMPARE(HistoryStore::defaultFolder(u"/var/st/"_s, u"/home/ana"_s), u"/var/st/glimmerox"_s);
        QCOMPARE(HistoryStore::defaultFolder({}, u"/home/ana"_s), u"/home/ana/.local/state/glimmerox"_s);
        QCOMPARE(HistoryStore::defaultFolder(u"relative"_s, u"/home/ana"_s), u"/home/ana/.local/state/glimmerox"_s);
#else
        QCOMPARE(HistoryStore::defaultFolder({}, u"/Users/ana"_s), u"/Users/ana/Library/Application Support/Glimmerox"_s);
#endif
    }

    // Only a changed figure or reset is appended; a torn last line (a writer killed mid-append)
    // is skipped and does not swallow the next record.
    void appendsChangesAndSurvivesATornLine()
    {
        QTemporaryDir dir;
        const HistoryStore store(dir.path() + u"/state"_s);
        QVERIFY(store.appendChanged(dataDir, {figure(HistoryKey::fiveHour, 10, 20, 60),
                                              figure(HistoryKey::sevenDay, 40, 20, 3000)}).isEmpty());
        QVERIFY(store.appendChanged(dataDir, {figure(HistoryKey::fiveHour, 10, 10, 60),
                                              figure(HistoryKey::sevenDay, 41, 10, 3000)}).isEmpty());
        QCOMPARE(store.read(dataDir).size(), 3);
        QVERIFY(store.appendChanged(dataDir, {figure(HistoryKey::fiveHour, 10, 5, 65)}).isEmpty());
        QCOMPARE(store.read(dataDir).size(), 4); // the reset moved

        QFile file(store.fileFor(dataDir));
        QVERIFY(file.open(QIODevice::Append));
        file.write(historyLine(figure(HistoryKey::fiveHour, 11, 4)).left(30));
        file.close();
        QCOMPARE(store.read(dataDir).size(), 4);
        const HistoryRecord next = figure(HistoryKey::fiveHour, 12, 1, 65);
        QVERIFY(store.appendChanged(dataDir, {next}).isEmpty());
        QCOMPARE(store.read(dataDir).constLast(), next);
    }

    // Writers at once (each with its own open file, as separate bridges have) never tear or
    // mix a line: every append that reported success is there, whole.
    void concurrentAppends()
    {
        QTemporaryDir dir;
        const HistoryStore store(dir.path());
        constexpr int writers = 4;
        constexpr int appends = 40;
        std::atomic<int> succeeded = 0;
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < appends; ++i) {
                    const HistoryRecord record = figure(HistoryKey::sevenDayOf(QString::number(w)), i, appends - i);
                    if (store.appendChanged(dataDir, {record}).isEmpty())
                        ++succeeded;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QFile file(store.fileFor(dataDir));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> written = file.readAll().split('\n');
        QCOMPARE(written.constLast(), QByteArray());
        QCOMPARE(store.read(dataDir).size(), written.size() - 1);
        QCOMPARE(written.size() - 1, succeeded.load());
        QVERIFY(succeeded > 0);
    }

    void compaction_data()
    {
        QTest::addColumn<QList<HistoryRecord>>("records");
        QTest::addColumn<int>("keptFrom"); // the records kept are the last ones from this index
        const QList<HistoryRecord> ages{figure(HistoryKey::fiveHour, 1, 36 * 1440),
                                        figure(HistoryKey::fiveHour, 2, 34 * 1440),
                                        figure(HistoryKey::fiveHour, 3, 0)};
        QTest::addRow("older than 35 days dropped") << ages << 1;
        QTest::addRow("clock ran ahead: two days in the future dropped, an hour kept")
            << QList<HistoryRecord>{figure(HistoryKey::fiveHour, 9, -2 * 1440), figure(HistoryKey::fiveHour, 3, 30),
                                    figure(HistoryKey::fiveHour, 4, -60)}
            << 1;
        QList<HistoryRecord> many;
        for (int i = 0; i < 12000; ++i)
            many.append(figure(HistoryKey::sevenDay, i % 100, 12000 - i));
        QTest::addRow("over 1 MiB: the oldest dropped") << many << -1;
    }

    void compaction()
    {
        QFETCH(QList<HistoryRecord>, records);
        QFETCH(int, keptFrom);
        QTemporaryDir dir;
        const HistoryStore store(dir.path());
        writeFile(store.fileFor(dataDir), lines(records));
        QVERIFY(store.compact(dataDir, now).isEmpty());
        const QList<HistoryRecord> kept = store.read(dataDir);
        const QByteArray bytes = lines(kept);
        QVERIFY(bytes.size() <= maxHistoryFile * 3 / 4);
        if (keptFrom >= 0)
            QCOMPARE(kept, records.mid(keptFrom));
        else
            QVERIFY(kept.size() > 1000 && kept.constLast() == records.constLast() && kept == records.mid(records.size() - kept.size()));
    }

    // The bridge stops at 1 MiB; what compaction left takes appends again.
    void fullFileTakesNoAppends()
    {
        QTemporaryDir dir;
        const HistoryStore store(dir.path());
        QByteArray full = lines({figure(HistoryKey::fiveHour, 1, 10)});
        while (full.size() < maxHistoryFile)
            full += full;
        writeFile(store.fileFor(dataDir), full);
        QVERIFY(!store.appendChanged(dataDir, {figure(HistoryKey::fiveHour, 2, 1)}).isEmpty());
        QVERIFY(store.compact(dataDir, now).isEmpty());
        QVERIFY(store.appendChanged(dataDir, {figure(HistoryKey::fiveHour, 2, 1)}).isEmpty());
        QCOMPARE(store.read(dataDir).constLast().percent, 2.0);
    }

    void pace_data()
    {
        QTest::addColumn<QList<HistoryRecord>>("records");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("sentence"); // empty: no pace
        QTest::addColumn<QString>("caption");
        const QString five = HistoryKey::fiveHour;
        const QString week = HistoryKey::sevenDay;
        // Reset at 17:00; 10 % -> 40 % over the last 30 min: 60 %/h, 100 % at 16:00.
        QTest::addRow("rising 5-hour, runs out before the reset")
            << QList<HistoryRecord>{figure(five, 5, 90, 120), figure(five, 10, 45, 120), figure(five, 25, 15, 120),
                                    figure(five, 40, 2, 120)}
            << five << u"at the pace of the last 30 min, 100 % at 16:00, 1 h before the reset"_s << u"100 % AT 16:00"_s;
        // 10 % until 14:20, 12 % since: 4 %/h, 22 h to go.
        QTest::addRow("rising slowly, after the reset")
            << QList<HistoryRecord>{figure(five, 10, 40, 120), figure(five, 12, 5, 120)}
            << five << u"at the pace of the last 30 min, 100 % at Wed 13:00, after the reset"_s << QString();
        QTest::addRow("flat for 30 min")
            << QList<HistoryRecord>{figure(five, 30, 100, 120), figure(five, 50, 31, 120)}
            << five << u"no rise in the last 30 min"_s << QString();
        // The reset moved 20 min ago: the period began at 14:40 with 2 %; 2 -> 22 % in 20 min.
        QTest::addRow("reset in the middle of the span")
            << QList<HistoryRecord>{figure(five, 80, 28, -20), figure(five, 95, 22, -20), figure(five, 2, 20, 280),
                                    figure(five, 22, 1, 280)}
            << five << u"at the pace of the last 20 min, 100 % at 16:18, 3 h 22 min before the reset"_s
            << u"100 % AT 16:18"_s;
        // The cached report's reset of the window 20 min off the status line's: one window all the same.
        QTest::addRow("sources that differ on the reset")
            << QList<HistoryRecord>{figure(five, 5, 90, 100), figure(five, 10, 45, 120), figure(five, 25, 15, 100),
                                    figure(five, 40, 2, 120)}
            << five << u"at the pace of the last 30 min, 100 % at 16:00, 1 h before the reset"_s << u"100 % AT 16:00"_s;
        QTest::addRow("a fall without reset times starts a period")
            << QList<HistoryRecord>{figure(five, 90, 25), figure(five, 1, 5), figure(five, 3, 1)} << five << QString()
            << QString();
        QTest::addRow("less than 10 minutes of history")
            << QList<HistoryRecord>{figure(five, 10, 8, 120), figure(five, 20, 1, 120)} << five << QString() << QString();
        QTest::addRow("the last reset has passed")
            << QList<HistoryRecord>{figure(five, 10, 80, -5), figure(five, 60, 20, -5)} << five << QString() << QString();
        // Weekly: 24 h span. 30 % a day ago, 54 % now: 1 %/h, 46 h to go, reset in 3 days.
        QTest::addRow("weekly over 24 h")
            << QList<HistoryRecord>{figure(week, 20, 2000, 4320), figure(week, 30, 1500, 4320),
                                    figure(week, 54, 60, 4320), figure(five, 99, 1, 100)}
            << week << u"at the pace of the last 24 h, 100 % at Thu 13:00, 26 h before the reset"_s
            << u"100 % AT THU 13:00"_s;
        // Records from a clock that jumped back are read in the order of their times; those
        // stamped after `now` are not history yet.
        QTest::addRow("clock jump")
            << QList<HistoryRecord>{figure(five, 40, 2, 120), figure(five, 10, 45, 120), figure(five, 99, -30, 120),
                                    figure(five, 25, 15, 120)}
            << five << u"at the pace of the last 30 min, 100 % at 16:00, 1 h before the reset"_s << u"100 % AT 16:00"_s;
    }

    void pace()
    {
        QFETCH(QList<HistoryRecord>, records);
        QFETCH(QString, window);
        QFETCH(QString, sentence);
        QFETCH(QString, caption);
        const std::optional<Pace> pace = windowPace(records, window, now);
        QCOMPARE(pace.has_value(), !sentence.isEmpty());
        if (!pace)
            return;
        const QTimeZone utc = QTimeZone::utc();
        QCOMPARE(paceSentence(*pace, now, utc), sentence);
        QCOMPARE(paceCaption(*pace, now, utc), caption);
        QCOMPARE(pace->beforeReset, !caption.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
