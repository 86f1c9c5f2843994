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

// Every text a screen's lists and tables show.
QStringList shownTexts(const QWidget &screen)
{
    QStringList texts;
    for (const QListWidget *list : screen.findChildren<QListWidget *>()) {
        for (int i = 0; i < list->count(); ++i) {
            texts << list->item(i)->text();
        }
    }
    for (const QTableWidget *table : screen.findChildren<QTableWidget *>()) {
        for (int r = 0; r < table->rowCount(); ++r) {
            for (int c = 0; c < table->columnCount(); ++c) {
                if (table->item(r, c) != nullptr) {
                    texts << table->item(r, c)->text();
                }
            }
        }
    }
    return texts;
}

bool showsName(const QWidget &screen, const QString &name)
{
    return shownTexts(screen).join(u'\n').contains(name);
}

using ScreenMaker = std::function<std::unique_ptr<QWidget>(qrb::ProgramState &)>;

} // namespace

Q_DECLARE_METATYPE(ScreenMaker)

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
        Workstation &booking = *desks[1];
        Workstation &status = *desks[2];
        QVERIFY(startTogether(desks, 30000));
        QTRY_VERIFY_WITH_TIMEOUT(!visits.isRunning() && !booking.isRunning(), 120000);
        QFile flag(stop);
        QVERIFY(flag.open(QIODevice::WriteOnly));
        flag.close();
        QVERIFY(waitAllFinished(desks, 30000));
        for (const auto &desk : desks) {
            QVERIFY2(desk->succeeded(), qPrintable(desk->diagnosis()));
        }

        QCOMPARE(booking.lines(u"ok"_s).size(), Bookings);
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
        QHash<int, int> stored;
        ws.db.forEachRow(u"SELECT YNO, CFLG FROM YOYAKU WHERE YDATE = ?"_s, {Today},
                         [&](const QSqlQuery &q) { stored.insert(q.value(0).toInt(), q.value(1).toInt()); });
        QCOMPARE(stored.size(), Seeded + Bookings);
        int lost = 0;
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            if (it.value() != written.value(it.key(), 0)) {
                qWarning("reservation %d: flag %d stored, %d written last", it.key(), it.value(),
                         written.value(it.key(), 0));
                ++lost;
            }
        }
        QCOMPARE(lost, 0);
        qInfo("%s: %lld flags written to %lld reservations, %d bookings alongside, %lld status reads, none lost",
              ws.onPostgres() ? "PostgreSQL" : "SQLite", static_cast<long long>(visits.lines(u"set"_s).size()),
              static_cast<long long>(written.size()), Bookings, static_cast<long long>(status.lines(u"read"_s).size()));
    }

    // A screen left open at one desk shows what another desk booked once its timer ticks, and not
    // before: it holds no stale snapshot of the database between refreshes.
    void anotherDesksBookingShowsOnTheNextTick_data()
    {
        QTest::addColumn<ScreenMaker>("make");
        QTest::addColumn<std::function<void(QWidget &)>>("tick");
        QTest::newRow("visit record") << ScreenMaker([](qrb::ProgramState &state) {
            return std::make_unique<qrb::VisitScreen>(state);
        }) << std::function<void(QWidget &)>([](QWidget &w) { static_cast<qrb::VisitScreen &>(w).Timer1_Timer(); });
        QTest::newRow("status") << ScreenMaker([](qrb::ProgramState &state) {
            return std::make_unique<qrb::StatusScreen>(state);
        }) << std::function<void(QWidget &)>([](QWidget &w) { static_cast<qrb::StatusScreen &>(w).Timer1_Timer(); });
    }

    void anotherDesksBookingShowsOnTheNextTick()
    {
        QFETCH(ScreenMaker, make);
        QFETCH(std::function<void(QWidget &)>, tick);
        Workspace ws(3);
        ws.addReservation(Today, u"10"_s, u"山田花子"_s);
        const std::unique_ptr<QWidget> screen = make(*ws.state);
        QVERIFY(showsName(*screen, u"山田花子"_s));

        Workstations other;
        other.push_back(std::make_unique<Workstation>(
            ws.target(), u"register"_s, QStringList{u"prefix=鈴木一郎"_s, u"count=1"_s, u"date="_s + Today, u"hour=11"_s}));
        QVERIFY(startTogether(other, 30000));
        QVERIFY(waitAllFinished(other, 30000));
        QVERIFY2(other.front()->succeeded(), qPrintable(other.front()->diagnosis()));
        QCOMPARE(other.front()->lines(u"ok"_s).size(), 1);

        QVERIFY(!showsName(*screen, u"鈴木一郎-0000"_s));
        tick(*screen);
        QVERIFY2(showsName(*screen, u"鈴木一郎-0000"_s), qPrintable(shownTexts(*screen).join(u" | "_s)));
        QVERIFY(showsName(*screen, u"山田花子"_s));
        QCOMPARE(ws.dialogs.texts(), QStringList{});
    }
};

QRB_WORKSTATION_TEST_MAIN(SharedDayTest)
#include "tst_sharedday.moc"
