// One clinic day worked on from several desks at once: arrivals recorded at one, bookings taken at
// another, the status watched at a third, each a process of its own.
#include "screens/status/StatusScreen.h"
#include "screens/visits/VisitScreen.h"
#include "shared/Dates.h"
#include "support/Workspace.h"
#include "support/Workstation.h"

#include <QFile>
#include <QHash>
#include <QListWidget>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;
using qrb::test::Workstation;
using qrb::test::Workstations;

namespace {

const QString Today = u"2009/10/09"_s; // the workspace's today

// Whether one of a screen's lists or tables shows `name`.
bool showsName(const QWidget &screen, const QString &name)
{
    for (const QListWidget *list : screen.findChildren<QListWidget *>()) {
        if (!list->findItems(name, Qt::MatchContains).isEmpty()) {
            return true;
        }
    }
    for (const QTableWidget *table : screen.findChildren<QTableWidget *>()) {
        if (!table->findItems(name, Qt::MatchContains).isEmpty()) {
            return true;
        }
    }
    return false;
}

// A screen left open at a desk, and its timer's tick.
using Tick = std::function<void()>;
using Screen = std::function<std::pair<std::shared_ptr<QWidget>, Tick>(qrb::ProgramState &)>;

} // namespace

Q_DECLARE_METATYPE(Screen)

class SharedDayTest : public QObject
{
    Q_OBJECT

private slots:
    // The last flag the visit desk wrote for each reservation is the one stored, although bookings
    // were added to the same day meanwhile and the status desk kept reading it; nobody crashed, the
    // status desk never saw a count that does not add up, no booking failed.
    void arrivalsBookingsAndStatusAtOnce()
    {
        constexpr int Seeded = 40;
        constexpr int Bookings = 250;
        constexpr int Moves = 1000;
        Workspace ws(3);
        for (int i = 0; i < Seeded; ++i) {
            ws.addReservation(Today, qrb::slotKey(i % qrb::SlotCount), u"来院%1"_s.arg(i));
        }
        const QString stop = ws.folder() + u"/stop"_s;
        Workstations desks;
        desks.push_back(std::make_unique<Workstation>(
            ws.target(), u"visits"_s, QStringList{u"date="_s + Today, u"moves=%1"_s.arg(Moves), u"seed=7"_s}));
        desks.push_back(std::make_unique<Workstation>(
            ws.target(), u"register"_s,
            QStringList{u"prefix=受付"_s, u"count=%1"_s.arg(Bookings), u"date="_s + Today, u"hour=11"_s}));
        desks.push_back(
            std::make_unique<Workstation>(ws.target(), u"status"_s, QStringList{u"date="_s + Today, u"until="_s + stop}));
        Workstation &visits = *desks[0];
        Workstation &status = *desks[2];
        QVERIFY(startTogether(desks, 30000));
        QTRY_VERIFY_WITH_TIMEOUT(!visits.isRunning() && !desks[1]->isRunning(), 120000);
        QFile flag(stop);
        QVERIFY(flag.open(QIODevice::WriteOnly));
        flag.close();
        QVERIFY(waitAllFinished(desks, 30000));
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
        }

        QCOMPARE(desks[1]->lines(u"ok"_s).size(), Bookings);
        for (const auto &[desk, kind] : {std::pair{&visits, u"fail"_s}, std::pair{&visits, u"gone"_s},
                                          std::pair{&status, u"bad"_s}, std::pair{&status, u"fail"_s}}) {
            const QList<QStringList> lines = desk->lines(kind);
            QVERIFY2(lines.isEmpty(), qPrintable(lines.value(0).join(u' ')));
        }
        QVERIFY(!status.lines(u"read"_s).isEmpty());

        QHash<int, int> written;
        for (const QStringList &line : visits.lines(u"set"_s)) {
            written.insert(line.value(1).toInt(), line.value(2).toInt());
        }
        QStringList lost;
        int stored = 0;
        ws.db.forEachRow(u"SELECT YNO, CFLG FROM YOYAKU WHERE YDATE = ?"_s, {Today}, [&](const QSqlQuery &q) {
            ++stored;
            if (q.value(1).toInt() != written.value(q.value(0).toInt(), 0)) {
                lost << u"%1: %2 stored"_s.arg(q.value(0).toInt()).arg(q.value(1).toInt());
            }
        });
        QCOMPARE(stored, Seeded + Bookings);
        QCOMPARE(lost, QStringList{});
        qInfo("%s: %lld flags written to %lld reservations, %d bookings alongside, %lld status reads, none lost",
              ws.onPostgres() ? "PostgreSQL" : "SQLite", static_cast<long long>(visits.lines(u"set"_s).size()),
              static_cast<long long>(written.size()), Bookings, static_cast<long long>(status.lines(u"read"_s).size()));
    }

    // A screen left open at one desk shows what another desk booked once its timer ticks, and not
    // before: it holds no stale snapshot of the database between refreshes.
    void anotherDesksBookingShowsOnTheNextTick_data()
    {
        QTest::addColumn<Screen>("make");
        QTest::newRow("visit record") << Screen([](qrb::ProgramState &state) {
            auto screen = std::make_shared<qrb::VisitScreen>(state);
            return std::pair<std::shared_ptr<QWidget>, Tick>{screen, [screen] { screen->Timer1_Timer(); }};
        });
        QTest::newRow("status") << Screen([](qrb::ProgramState &state) {
            auto screen = std::make_shared<qrb::StatusScreen>(state);
            return std::pair<std::shared_ptr<QWidget>, Tick>{screen, [screen] { screen->Timer1_Timer(); }};
        });
    }

    void anotherDesksBookingShowsOnTheNextTick()
    {
        QFETCH(Screen, make);
        Workspace ws(3);
        ws.addReservation(Today, u"10"_s, u"山田花子"_s);
        const auto [screen, tick] = make(*ws.state);
        QVERIFY(showsName(*screen, u"山田花子"_s));

        Workstations other;
        other.push_back(std::make_unique<Workstation>(
            ws.target(), u"register"_s, QStringList{u"prefix=鈴木一郎"_s, u"count=1"_s, u"date="_s + Today, u"hour=11"_s}));
        QVERIFY(startTogether(other, 30000) && waitAllFinished(other, 30000));
        QVERIFY2(other.front()->succeeded(), qPrintable(other.front()->diagnosis()));
        QCOMPARE(other.front()->lines(u"ok"_s).size(), 1);

        QVERIFY(!showsName(*screen, u"鈴木一郎-0000"_s));
        tick();
        QVERIFY(showsName(*screen, u"鈴木一郎-0000"_s));
        QVERIFY(showsName(*screen, u"山田花子"_s));
        QCOMPARE(ws.dialogs.texts(), QStringList{});
    }
};

QRB_WORKSTATION_TEST_MAIN(SharedDayTest)
#include "tst_sharedday.moc"
