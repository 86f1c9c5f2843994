// Four reception workstations booking the same slots at the same moment, each its own process with its
// own connection, through the registration code of the entry screen.
#include "db/WebBooking.h"
#include "shared/Dates.h"
#include "support/Common.h"
#include "support/Workspace.h"
#include "support/Workstation.h"

#include <QHash>
#include <QTest>

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;
using namespace qrb::test;

constexpr int Desks = 4;

// The day and hour of the i-th booking of a desk that spreads its bookings.
static QString spreadSlot(int i)
{
    return qrb::dateKey(QDate(2009, 10, 9).addDays(i / qrb::SlotCount)) + u' ' + qrb::slotKey(i % qrb::SlotCount);
}

class SimultaneousBookingsTest : public QObject
{
    Q_OBJECT

private slots:
    // Every booking a desk was told succeeded is stored once under the number it was told, as a new
    // booking (never another desk's overwritten), every one it was told failed left nothing (a pair
    // whose second dose failed keeps just the first), and nothing else is stored. With the usual
    // patience none fails; impatient desks meet real lock timeouts.
    // With one-place slots, one after another, each desk looking at the slot first as the entry screen
    // does: a slot holds more than one booking only where a desk was asked the over-booking question
    // and answered OK; every booking but a slot's first is asked.
    void fourDesksAtOnce_data()
    {
        QTest::addColumn<QString>("job");     // what every desk does, besides its name; spread: one-place slots
        QTest::addColumn<QString>("answers"); // each desk's answer to the over-booking question
        const QString one = u"count=250 date=2009/10/09 hour=10"_s;
        const QString pair = one + u" date2=2009/10/30 hour2=10"_s;
        const QString spread = u"count=200 date=2009/10/09 spread=1"_s;
        QTest::newRow("single bookings") << one << u"ok ok ok ok"_s;
        QTest::newRow("single bookings, desks that give up after 1 ms") << one + u" patience=1"_s << u"ok ok ok ok"_s;
        QTest::newRow("新型 pairs") << pair << u"ok ok ok ok"_s;
        QTest::newRow("新型 pairs, desks that give up after 1 ms") << pair + u" patience=1"_s << u"ok ok ok ok"_s;
        QTest::newRow("one-place slots, every desk answers Cancel") << spread << u"cancel cancel cancel cancel"_s;
        QTest::newRow("one-place slots, one desk answers OK") << spread << u"ok cancel cancel cancel"_s;
    }
    void fourDesksAtOnce()
    {
        QFETCH(QString, job);
        QFETCH(QString, answers);
        const bool pairs = job.contains(u"date2"_s), spread = job.contains(u"spread"_s);
        const bool impatient = job.contains(u"patience"_s);
        const int each = job.section(u'=', 1, 1).section(u' ', 0, 0).toInt();
        Workspace ws(spread ? 1 : 3);
        Workstations desks;
        for (int d = 0; d < Desks; ++d) {
            desks.push_back(std::make_unique<Workstation>(
                ws.target(), u"register"_s,
                job.split(u' ') << u"prefix=端末%1"_s.arg(d) << u"answer="_s + answers.section(u' ', d, d)));
        }
        QVERIFY(startTogether(desks, 30000));
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(desks), 180000);

        // What the desks were told, as rows of YOYAKU: name, day, hour, number, SFLG, SCNT.
        QStringList expected;
        int failed = 0, asked = 0, longestWait = 0;
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
            QCOMPARE(desk->lines(u"ok"_s).size() + desk->lines(u"fail"_s).size() + desk->lines(u"full"_s).size(), each);
            asked += int(desk->lines(u"asked"_s).size());
            for (const QStringList &line : desk->lines(u"ok"_s) + desk->lines(u"fail"_s)) {
                const bool ok = line.value(0) == u"ok"_s;
                const QString slot = spread ? spreadSlot(line.value(1).section(u'-', -1).toInt()) : u"2009/10/09 10"_s;
                for (qsizetype k = 0; k < (line.size() - (ok ? 3 : 4)) / 2; ++k) {
                    QCOMPARE(line.value(3 + 2 * k), u"1"_s); // added, not overwritten
                    expected << u"%1 %2 %3 %4 %5"_s
                                    .arg(line.value(1), k ? u"2009/10/30 10"_s : slot, line.value(2 + 2 * k))
                                    .arg(pairs ? 2 : 1)
                                    .arg(k + 1);
                }
                longestWait = std::max(longestWait, line.value(line.size() - (ok ? 1 : 2)).toInt());
                failed += !ok;
                // What the desk's user is shown: the reason, and that trying again may help.
                QVERIFY2(ok || line.last().contains(u"もう一度実行してください"_s), qPrintable(line.join(u' ')));
            }
        }
        expected.sort();
        QStringList stored = rowsOf(ws.db, u"SELECT KNM, YDATE, YTIME, YNO, SFLG, SCNT FROM YOYAKU"_s);
        stored.sort();
        QCOMPARE(stored, expected);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(DISTINCT YNO) FROM YOYAKU"_s).toInt(), stored.size());
        qInfo("%s: %lld rows, %d told failed, %d asked, longest wait %d ms", ws.onPostgres() ? "PostgreSQL" : "SQLite",
              static_cast<long long>(stored.size()), failed, asked, longestWait);
        // Impatient desks must meet real failures, or the checks above proved nothing about them.
        QVERIFY(impatient ? failed > 0 : failed == 0);
        if (impatient) {
            return;
        }
        // Each desk gets its turn long before its patience (10 s) runs out, however long it has waited
        // already: none is kept out by the others' stream of bookings.
        QVERIFY2(longestWait < 5000, qPrintable(QString::number(longestWait)));
        if (!spread) {
            QCOMPARE(stored.size(), Desks * each * (pairs ? 2 : 1));
            return;
        }
        // Every booking but a slot's first is asked; a slot holds one place, and one more for every OK.
        QCOMPARE(asked, (Desks - 1) * each);
        QHash<QString, int> oks;
        for (const QStringList &line : desks.front()->lines(u"asked"_s)) {
            oks[spreadSlot(line.value(1).section(u'-', -1).toInt())] += answers.startsWith(u"ok"_s);
        }
        QStringList inSlot;
        for (int i = 0; i < each; ++i) {
            inSlot << spreadSlot(i) + u' ' + QString::number(1 + oks.value(spreadSlot(i)));
        }
        QCOMPARE(rowsOf(ws.db, u"SELECT YDATE, YTIME, COUNT(*) FROM YOYAKU GROUP BY YDATE, YTIME ORDER BY 1, 2"_s),
                 inSlot);
    }

    // Three desks and the web page each book and at once cancel, so that the newest reservation is
    // cancelled again and again while the others book: every booking gets a number never handed out
    // before (1, 2, 3, … without a gap, since none failed), and the counter keeps the last one. The
    // database is one of an earlier version, without the counter: all four open it at once and make
    // it once.
    void cancelledNumbersAreNeverHandedOutAgain()
    {
        constexpr int Each = 150;
        Workspace ws(Desks);
        qrb::prepareWebBooking(ws.db);
        ws.db.write(u"DROP TABLE QRB_YNO"_s);
        Workstations desks;
        for (int d = 0; d < Desks; ++d) {
            QStringList job{u"count=%1"_s.arg(Each), u"date=2009/10/09"_s, u"hour=10"_s, u"then=cancel"_s,
                            u"prefix=端末%1"_s.arg(d)};
            if (d == 0) {
                job << u"via=web"_s;
            }
            desks.push_back(std::make_unique<Workstation>(ws.target(), u"register"_s, job));
        }
        QVERIFY(startTogether(desks, 30000));
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(desks), 180000);
        QList<int> numbers;
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
            const QList<QStringList> ok = desk->lines(u"ok"_s);
            QVERIFY2(ok.size() == Each, qPrintable(desk->lines().value(ok.size()).join(u' ')));
            for (const QStringList &line : ok) {
                numbers << line.value(2).toInt();
            }
        }
        std::sort(numbers.begin(), numbers.end());
        QList<int> everyOnce(Desks * Each);
        std::iota(everyOnce.begin(), everyOnce.end(), 1);
        QCOMPARE(numbers, everyOnce);
        QCOMPARE(rowsOf(ws.db, u"SELECT COUNT(*) FROM YOYAKU"_s) + rowsOf(ws.db, u"SELECT LAST FROM QRB_YNO"_s),
                 (QStringList{u"0"_s, QString::number(Desks * Each)}));
    }
};

QRB_WORKSTATION_TEST_MAIN(SimultaneousBookingsTest)
#include "tst_simultaneousbookings.moc"
