// One clinic day worked on from several desks at once: arrivals recorded at one, bookings taken at
// another, the status watched at a third, each a process of its own.
#include "db/Booking.h"
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

#include <algorithm>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;
using qrb::test::Workstation;
using qrb::test::Workstations;

namespace {

const QString Today = u"2009/10/09"_s; // the workspace's today

// Whether one of a screen's lists or tables shows `name`.
bool showsName(const QWidget &screen, const QString &name)
{
    const auto shows = [&](const auto &widgets) {
        return std::any_of(widgets.begin(), widgets.end(),
                           [&](const auto *w) { return !w->findItems(name, Qt::MatchContains).isEmpty(); });
    };
    return shows(screen.findChildren<QListWidget *>()) || shows(screen.findChildren<QTableWidget *>());
}

} // namespace

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
    void anotherDesksBookingShowsOnTheNextTick()
    {
        Workspace ws(3);
        ws.addReservation(Today, u"10"_s, u"山田花子"_s);
        qrb::VisitScreen visits(*ws.state);
        qrb::StatusScreen status(*ws.state);
        // Another desk, with a connection of its own.
        qrb::Database other(u"other"_s);
        other.DB_open(ws.target());
        qrb::BookingRecord r;
        r.knm = u"鈴木一郎"_s;
        r.ydate = Today;
        r.ytime = u"11"_s;
        qrb::registerReservation(other, r, qrb::WhenFull::Overbook);
        for (QWidget *screen : std::initializer_list<QWidget *>{&visits, &status}) {
            QVERIFY(!showsName(*screen, u"鈴木一郎"_s));
        }
        visits.Timer1_Timer();
        status.Timer1_Timer();
        for (QWidget *screen : std::initializer_list<QWidget *>{&visits, &status}) {
            QVERIFY(showsName(*screen, u"鈴木一郎"_s) && showsName(*screen, u"山田花子"_s));
        }
        QCOMPARE(ws.dialogs.texts(), QStringList{});
    }
};

QRB_WORKSTATION_TEST_MAIN(SharedDayTest)
#include "tst_sharedday.moc"
