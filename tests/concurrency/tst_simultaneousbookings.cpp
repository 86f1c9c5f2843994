// Four reception workstations booking the same slots at the same moment, each its own process with its
// own connection, through the registration code of the entry screen.
#include "shared/Dates.h"
#include "support/Common.h"
#include "support/Workspace.h"
#include "support/Workstation.h"

#include <QHash>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace qrb::test;

namespace {

constexpr int Desks = 4;

// The day and hour of the i-th booking of a desk that spreads its bookings.
QString spreadSlot(int i)
{
    return QDate(2009, 10, 9).addDays(i / qrb::SlotCount).toString(u"yyyy/MM/dd"_s) + u' ' +
           qrb::slotKey(i % qrb::SlotCount);
}

} // namespace

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
        QTest::addColumn<int>("places");
        QTest::addColumn<QString>("job"); // what every desk does, besides its name
        QTest::addColumn<int>("patience");
        QTest::addColumn<QString>("firstDeskAnswers");
        const QString one = u"count=250 date=2009/10/09 hour=10"_s;
        const QString pair = one + u" date2=2009/10/30 hour2=10"_s;
        const QString spread = u"count=200 date=2009/10/09 spread=1 answer=cancel"_s;
        QTest::newRow("single bookings") << 3 << one << 0 << u"ok"_s;
        QTest::newRow("single bookings, desks that give up after 1 ms") << 3 << one << 1 << u"ok"_s;
        QTest::newRow("新型 pairs") << 3 << pair << 0 << u"ok"_s;
        QTest::newRow("新型 pairs, desks that give up after 1 ms") << 3 << pair << 1 << u"ok"_s;
        QTest::newRow("one-place slots, every desk answers Cancel") << 1 << spread << 0 << u"cancel"_s;
        QTest::newRow("one-place slots, one desk answers OK") << 1 << spread << 0 << u"ok"_s;
    }
    void fourDesksAtOnce()
    {
        QFETCH(int, places);
        QFETCH(QString, job);
        QFETCH(int, patience);
        QFETCH(QString, firstDeskAnswers);
        const bool pairs = job.contains(u"date2"_s);
        const bool spread = job.contains(u"spread"_s);
        const int each = job.section(u'=', 1, 1).section(u' ', 0, 0).toInt();
        Workspace ws(places);
        Workstations desks;
        for (int d = 0; d < Desks; ++d) {
            QStringList settings = job.split(u' ') << u"prefix=端末%1"_s.arg(d) << u"patience=%1"_s.arg(patience);
            if (d == 0) {
                settings << u"answer="_s + firstDeskAnswers;
            }
            desks.push_back(std::make_unique<Workstation>(ws.target(), u"register"_s, settings));
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
        if (patience > 0) {
            // Otherwise the checks above would have proved nothing about failures.
            QVERIFY(failed > 0);
            return;
        }
        QCOMPARE(failed, 0);
        // Each desk gets its turn long before its patience (10 s) runs out, however long it has waited
        // already: none is kept out by the others' stream of bookings.
        QVERIFY2(longestWait < 5000, qPrintable(QString::number(longestWait)));
        if (!spread) {
            QCOMPARE(stored.size(), Desks * each * (pairs ? 2 : 1));
            return;
        }
        QCOMPARE(asked, (Desks - 1) * each);
        // Per slot: one place, and one more for every OK to the question.
        QHash<QString, int> allowed;
        for (const QStringList &line : desks.front()->lines(u"asked"_s)) {
            allowed[spreadSlot(line.value(1).section(u'-', -1).toInt())] += firstDeskAnswers == u"ok"_s;
        }
        const QStringList inSlot = rowsOf(ws.db, u"SELECT YDATE, YTIME, COUNT(*) FROM YOYAKU GROUP BY YDATE, YTIME"_s);
        for (const QString &slot : inSlot) {
            QVERIFY2(slot.section(u' ', 2).toInt() <= 1 + allowed.value(slot.section(u' ', 0, 1)), qPrintable(slot));
        }
        QCOMPARE(inSlot.size(), each);
    }
};

QRB_WORKSTATION_TEST_MAIN(SimultaneousBookingsTest)
#include "tst_simultaneousbookings.moc"
