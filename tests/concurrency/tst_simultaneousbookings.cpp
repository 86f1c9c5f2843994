// Four reception workstations booking the same slot at the same moment, each its own process with its
// own connection, through the registration code of the entry screen.
#include "support/Workspace.h"
#include "support/Workstation.h"

#include <QSet>
#include <QSqlQuery>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;
using qrb::test::Workstation;
using qrb::test::Workstations;

namespace {

constexpr int Desks = 4;
constexpr int Each = 250;
const QString Days[] = {u"2009/10/09"_s, u"2009/10/30"_s};
const QString Hour = u"10"_s;

QString row(const QString &name, const QString &day, int yno, int sflg, int scnt)
{
    return u"%1 %2 %3 YNO %4 SFLG %5 SCNT %6"_s.arg(name, day, Hour).arg(yno).arg(sflg).arg(scnt);
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
    void fourDesksFillOneSlot_data()
    {
        QTest::addColumn<bool>("pairs");
        QTest::addColumn<int>("patience");
        QTest::newRow("single bookings") << false << 0;
        QTest::newRow("single bookings, desks that give up after 1 ms") << false << 1;
        QTest::newRow("新型 pairs") << true << 0;
        QTest::newRow("新型 pairs, desks that give up after 1 ms") << true << 1;
    }

    void fourDesksFillOneSlot()
    {
        QFETCH(bool, pairs);
        QFETCH(int, patience);
        Workspace ws(3);
        Workstations desks;
        for (int d = 0; d < Desks; ++d) {
            QStringList settings = {u"prefix=端末%1"_s.arg(d), u"count=%1"_s.arg(Each), u"date="_s + Days[0],
                                    u"hour="_s + Hour};
            if (pairs) {
                settings << u"date2="_s + Days[1] << u"hour2="_s + Hour;
            }
            if (patience > 0) {
                settings << u"patience=%1"_s.arg(patience);
            }
            desks.push_back(std::make_unique<Workstation>(ws.target(), u"register"_s, settings));
        }
        QVERIFY(startTogether(desks, 30000));
        QVERIFY(waitAllFinished(desks, 120000));

        QStringList expected;
        int failed = 0;
        QString firstFailure;
        int longestWait = 0;
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
            const QList<QStringList> outcomes = desk->lines(u"ok"_s) + desk->lines(u"fail"_s);
            QCOMPARE(outcomes.size(), Each);
            for (const QStringList &line : outcomes) {
                const bool ok = line.value(0) == u"ok"_s;
                const qsizetype doses = (line.size() - (ok ? 3 : 4)) / 2;
                for (qsizetype k = 0; k < doses; ++k) {
                    QCOMPARE(line.value(3 + 2 * k), u"1"_s);
                    expected << row(line.value(1), Days[k], line.value(2 + 2 * k).toInt(), pairs ? 2 : 1, int(k) + 1);
                }
                longestWait = std::max(longestWait, line.value(line.size() - (ok ? 1 : 2)).toInt());
                if (!ok) {
                    ++failed;
                    firstFailure = firstFailure.isEmpty() ? line.join(u' ') : firstFailure;
                    // What the desk's user is shown: the reason, and that trying again may help.
                    QVERIFY2(line.last().contains(u"もう一度実行してください"_s), qPrintable(line.join(u' ')));
                }
            }
        }
        expected.sort();

        QStringList stored;
        QSet<int> numbers;
        ws.db.forEachRow(u"SELECT KNM, YDATE, YNO, SFLG, SCNT FROM YOYAKU WHERE YTIME = ?"_s, {Hour},
                         [&](const QSqlQuery &q) {
                             stored << row(q.value(0).toString(), q.value(1).toString(), q.value(2).toInt(),
                                           q.value(3).toInt(), q.value(4).toInt());
                             numbers.insert(q.value(2).toInt());
                         });
        stored.sort();
        QCOMPARE(stored, expected);
        QCOMPARE(numbers.size(), stored.size());
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), stored.size());

        qInfo("%s: %d bookings%s told done, %d told failed, %lld rows, %lld distinct numbers, longest wait %d ms",
              ws.onPostgres() ? "PostgreSQL" : "SQLite", Desks * Each - failed, pairs ? " (pairs)" : "", failed,
              static_cast<long long>(stored.size()), static_cast<long long>(numbers.size()), longestWait);
        if (patience == 0) {
            QVERIFY2(failed == 0, qPrintable(firstFailure));
            // Each desk gets its turn long before its patience (10 s) runs out, however long it has
            // waited already: none is kept out by the others' stream of bookings.
            QVERIFY2(longestWait < 5000, qPrintable(QString::number(longestWait)));
            QCOMPARE(stored.size(), Desks * Each * (pairs ? 2 : 1));
        } else {
            // Otherwise the checks above would have proved nothing about failures.
            QVERIFY(failed > 0);
        }
    }
};

QRB_WORKSTATION_TEST_MAIN(SimultaneousBookingsTest)
#include "tst_simultaneousbookings.moc"
