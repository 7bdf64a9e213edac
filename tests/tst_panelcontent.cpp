#include "panelcontent.h"

#include <QTest>

#include <limits>

Q_DECLARE_METATYPE(PanelInputs)

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

QStringList litLeds(const PanelContent &content)
{
    QStringList lit;
    for (int i = 0; i < ledCount; ++i)
        if (content.leds[i])
            lit << ledLabel(Led(i));
    return lit;
}

QStringList litKeys(const PanelContent &content)
{
    QStringList lit;
    for (int i = 0; i < keyCount; ++i)
        if (content.keys[i])
            lit << keyLabel(Key(i));
    return lit;
}

PlanUsage report(double session, qint64 sessionResetIn, double weekly, qint64 weeklyResetIn)
{
    PlanUsage usage;
    usage.fiveHourUtilization = session;
    usage.weeklyUtilization = weekly;
    if (sessionResetIn >= 0)
        usage.fiveHourResetsAt = now.addSecs(sessionResetIn);
    if (weeklyResetIn >= 0)
        usage.weeklyResetsAt = now.addSecs(weeklyResetIn);
    return usage;
}

SessionStats stats(qint64 context, qint64 output, qint64 total, qint64 window = 200000)
{
    return {total, context, output, window};
}

} // namespace

class TestPanelContent : public QObject
{
    Q_OBJECT

private slots:
    void content_data();
    void content();
};

void TestPanelContent::content_data()
{
    QTest::addColumn<PanelInputs>("inputs");
    QTest::addColumn<QString>("main");   // "#<value>" for the numeric strip, the text otherwise
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QString>("small");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("leds");
    QTest::addColumn<QStringList>("keys");

    const QStringList sessionLabel{"CONTEXT WINDOW TOKENS - MESSAGES"};
    const QStringList totalLabel{"TOTAL CONVERSATION TOKENS"};
    const QStringList planLabels{"D D", "H H", "M M"};
    const QString contextCaption = "CONTEXT  WIN %";
    const PanelState session{DisplayMode::session, false};
    const PanelState sessionTotal{DisplayMode::session, true};
    const PanelState plan{DisplayMode::plan, false};
    const PanelState weekly{DisplayMode::plan, true};
    const qint64 twoHoursFive = 2 * 3600 + 5 * 60;
    const qint64 threeDaysFourHoursFive = 3 * 86400 + 4 * 3600 + 5 * 60;

    QTest::addRow("fresh launch") << PanelInputs{session, {}, 0, {}, false, false, now} << "#0" << sessionLabel
                                  << "0" << contextCaption << QStringList{"SESSION"} << QStringList{"K1"};
    QTest::addRow("last context plus output")
        << PanelInputs{session, stats(150000, 2500, 900000), 1, {}, false, false, now} << "#152500" << sessionLabel
        << "76" << contextCaption << QStringList{"SESSION"} << QStringList{"K1"};
    QTest::addRow("total tokens in the alternate view")
        << PanelInputs{sessionTotal, stats(150000, 2500, 123456789), 1, {}, false, false, now} << "#123456789"
        << totalLabel << "76" << contextCaption << QStringList{"SESSION"} << QStringList{"K1", "OP"};
    QTest::addRow("two sessions light ACTIVE")
        << PanelInputs{session, {}, 2, {}, false, false, now} << "#0" << sessionLabel << "0" << contextCaption
        << QStringList{"SESSION", "ACTIVE"} << QStringList{"K1"};
    QTest::addRow("two sessions in plan mode leave ACTIVE dark")
        << PanelInputs{plan, {}, 2, {}, false, false, now} << "00 00 00" << planLabels << "---" << "SESSION"
        << QStringList{"QUOTAS", "5-HOUR"} << QStringList{"K2"};
    QTest::addRow("error in session mode lights ERROR only")
        << PanelInputs{session, stats(10, 5, 15), 1, {}, false, true, now} << "#15" << sessionLabel << "0"
        << contextCaption << QStringList{"SESSION", "ERROR"} << QStringList{"K1"};
    QTest::addRow("token sum saturates instead of overflowing")
        << PanelInputs{session, stats(std::numeric_limits<qint64>::max(), 1, 0, 0), 1, {}, false, false, now}
        << QStringLiteral("#%1").arg(std::numeric_limits<qint64>::max()) << sessionLabel << "0" << contextCaption
        << QStringList{"SESSION"} << QStringList{"K1"};

    QTest::addRow("plan, no report, fetching")
        << PanelInputs{plan, {}, 1, {}, true, false, now} << " - - - " << planLabels << "---" << "SESSION"
        << QStringList{"QUOTAS", "5-HOUR"} << QStringList{"K2"};
    QTest::addRow("plan, error without a report")
        << PanelInputs{plan, {}, 1, {}, false, true, now} << "-- -- --" << planLabels << "---" << "SESSION"
        << QStringList{"QUOTAS", "ERROR", "5-HOUR"} << QStringList{"K2"};
    QTest::addRow("plan, error over an older report keeps its per cent")
        << PanelInputs{plan, {}, 1, report(42, twoHoursFive, 10, -1), false, true, now} << "-- -- --" << planLabels
        << "42" << "SESSION" << QStringList{"QUOTAS", "ERROR", "5-HOUR"} << QStringList{"K2"};
    QTest::addRow("plan, 5-hour countdown")
        << PanelInputs{plan, {}, 1, report(42, twoHoursFive, 10, threeDaysFourHoursFive), false, false, now}
        << "00 02 05" << planLabels << "42" << "SESSION" << QStringList{"QUOTAS", "5-HOUR"} << QStringList{"K2"};
    QTest::addRow("plan, report held while fetching again")
        << PanelInputs{plan, {}, 1, report(42, twoHoursFive, 10, -1), true, false, now} << "00 02 05" << planLabels
        << "42" << "SESSION" << QStringList{"QUOTAS", "5-HOUR"} << QStringList{"K2"};
    QTest::addRow("plan, 7-day countdown")
        << PanelInputs{weekly, {}, 1, report(42, twoHoursFive, 10, threeDaysFourHoursFive), false, false, now}
        << "03 04 05" << planLabels << "10" << "WEEKLY" << QStringList{"QUOTAS", "7-DAY"}
        << QStringList{"K2", "OP"};
    QTest::addRow("plan, negative per cent is held at 0")
        << PanelInputs{plan, {}, 1, report(-3, -1, 0, -1), false, false, now} << "00 00 00" << planLabels << "0"
        << "SESSION" << QStringList{"QUOTAS", "5-HOUR"} << QStringList{"K2"};
}

void TestPanelContent::content()
{
    QFETCH(PanelInputs, inputs);
    QFETCH(QString, main);
    QFETCH(QStringList, labels);
    QFETCH(QString, small);
    QFETCH(QString, caption);
    QFETCH(QStringList, leds);
    QFETCH(QStringList, keys);

    const PanelContent content = computePanelContent(inputs);
    if (main.startsWith('#')) {
        QCOMPARE(content.mainKind, MainStripKind::number);
        QCOMPARE(content.mainValue, main.mid(1).toLongLong());
    } else {
        QCOMPARE(content.mainKind, MainStripKind::text);
        QCOMPARE(content.mainText, main);
    }
    QCOMPARE(content.mainLabels, labels);
    QCOMPARE(content.smallValue, small);
    QCOMPARE(content.smallSuffix, QStringLiteral("%"));
    QCOMPARE(content.smallCaption, caption);
    QCOMPARE(litLeds(content), leds);
    QCOMPARE(litKeys(content), keys);
}

QTEST_APPLESS_MAIN(TestPanelContent)
#include "tst_panelcontent.moc"
