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
const QString FirstDay = u"2009/10/09"_s;
const QString SecondDay = u"2009/10/30"_s;
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
    // Every booking a desk was told succeeded is stored once under the number it was told, every one it
    // was told failed left nothing (a pair whose second dose failed keeps just the first), and nothing
    // else is stored. With the usual patience none fails; impatient desks meet real lock timeouts.
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
            QStringList settings = {u"prefix=端末%1"_s.arg(d), u"count=%1"_s.arg(Each), u"date="_s + FirstDay,
                                    u"hour="_s + Hour};
            if (pairs) {
                settings << u"date2="_s + SecondDay << u"hour2="_s + Hour;
            }
            if (patience > 0) {
                settings << u"patience=%1"_s.arg(patience);
            }
            desks.push_back(std::make_unique<Workstation>(ws.target(), pairs ? u"pairs"_s : u"register"_s, settings));
        }
        QVERIFY(startTogether(desks, 30000));
        QVERIFY(waitAllFinished(desks, 120000));

        QStringList expected;
        int succeeded = 0;
        int failed = 0;
        QString firstFailure;
        int longestWait = 0;
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
            int outcomes = 0;
            for (const QStringList &line : desk->lines()) {
                const QString kind = line.value(0);
                if (kind == u"ok"_s && !pairs) {
                    QCOMPARE(line.value(3), u"1"_s); // a new booking, never another desk's overwritten
                    expected << row(line.value(1), FirstDay, line.value(2).toInt(), 1, 1);
                } else if (kind == u"ok"_s) {
                    expected << row(line.value(1), FirstDay, line.value(2).toInt(), 2, 1)
                             << row(line.value(1), SecondDay, line.value(3).toInt(), 2, 2);
                } else if (kind == u"fail2"_s) {
                    expected << row(line.value(1), FirstDay, line.value(2).toInt(), 2, 1);
                } else if (kind != u"fail"_s && kind != u"fail1"_s) {
                    continue;
                }
                ++outcomes;
                longestWait = std::max(longestWait, (kind == u"ok"_s ? line.last() : line.value(line.size() - 2)).toInt());
                if (kind == u"ok"_s) {
                    ++succeeded;
                } else {
                    ++failed;
                    if (firstFailure.isEmpty()) {
                        firstFailure = line.join(u' ');
                    }
                    // What the desk's user is shown: the reason, and that trying again may help.
                    QVERIFY2(line.last().contains(u"もう一度実行してください"_s), qPrintable(line.join(u' ')));
                }
            }
            QCOMPARE(outcomes, Each);
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
              ws.onPostgres() ? "PostgreSQL" : "SQLite", succeeded, pairs ? " (pairs)" : "", failed,
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
