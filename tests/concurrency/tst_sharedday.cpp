// One clinic day worked on from several desks at once: arrivals recorded at one, bookings taken at
// another, the status watched at a third, each a process of its own.
#include "db/Booking.h"
#include "screens/status/StatusScreen.h"
#include "screens/visits/VisitScreen.h"
#include "shared/Dates.h"
#include "support/Common.h"
#include "support/Workspace.h"
#include "support/Workstation.h"

#include <QHash>
#include <QListWidget>
#include <QTableWidget>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace qrb::test;

const QString Today = u"2009/10/09"_s; // the workspace's today

// Whether one of a screen's lists or tables shows `name`.
static bool showsName(const QWidget &screen, const QString &name)
{
    const auto shows = [&](const auto &widgets) {
        return std::any_of(widgets.begin(), widgets.end(),
                           [&](const auto *w) { return !w->findItems(name, Qt::MatchContains).isEmpty(); });
    };
    return shows(screen.findChildren<QListWidget *>()) || shows(screen.findChildren<QTableWidget *>());
}

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
        Workspace ws(3);
        for (int i = 0; i < Seeded; ++i) {
            ws.addReservation(Today, qrb::slotKey(i % qrb::SlotCount), u"来院%1"_s.arg(i));
        }
        const QString stop = ws.folder() + u"/stop"_s;
        Workstations desks;
        for (const auto &[job, settings] : {std::pair{u"visits"_s, u"moves=1000 seed=7"_s},
                                            {u"register"_s, u"prefix=受付 count=%1 hour=11"_s.arg(Bookings)},
                                            {u"status"_s, u"until="_s + stop}}) {
            desks.push_back(
                std::make_unique<Workstation>(ws.target(), job, settings.split(u' ') << u"date="_s + Today));
        }
        Workstation &visits = *desks[0];
        Workstation &status = *desks[2];
        QVERIFY(startTogether(desks, 30000));
        QTRY_VERIFY_WITH_TIMEOUT(!visits.isRunning() && !desks[1]->isRunning(), 120000);
        QVERIFY(writeFileBytes(stop, {}));
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(desks), 30000);
        // Nothing failed, no reservation went missing under the visit desk, no read was bad.
        const QStringList good{u"ready"_s, u"set"_s, u"ok"_s, u"asked"_s, u"read"_s, u"done"_s};
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
            for (const QStringList &line : desk->lines()) {
                QVERIFY2(good.contains(line.value(0)), qPrintable(line.join(u' ')));
            }
        }
        QCOMPARE(desks[1]->lines(u"ok"_s).size(), Bookings);
        QVERIFY(!status.lines(u"read"_s).isEmpty());

        QHash<QString, QString> written; // the last flag written to each reservation
        for (const QStringList &line : visits.lines(u"set"_s)) {
            written.insert(line.value(1), line.value(2));
        }
        const QStringList stored =
            rowsOf(ws.db, u"SELECT YNO, COALESCE(CFLG, 0) FROM YOYAKU WHERE YDATE = ? ORDER BY YNO"_s, {Today});
        QStringList expected;
        for (const QString &row : stored) {
            expected << row.section(u' ', 0, 0) + u' ' + written.value(row.section(u' ', 0, 0), u"0"_s);
        }
        QCOMPARE(stored.size(), Seeded + Bookings);
        QCOMPARE(stored, expected);
        QCOMPARE(visits.lines(u"set"_s).size(), 1000); // every move of the visit desk was written
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
        qrb::registerReservation(other, bookingOf(u"鈴木一郎"_s, Today, u"11"_s), qrb::WhenFull::Overbook);
        QVERIFY(!showsName(visits, u"鈴木一郎"_s) && !showsName(status, u"鈴木一郎"_s));
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
