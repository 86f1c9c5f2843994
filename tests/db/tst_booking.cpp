#include "support/Common.h"
#include "support/Workspace.h"

#include "db/Booking.h"
#include "db/Database.h"
#include "db/ReportQueries.h"
#include "db/Search.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

using test::bookingOf;

class TestBooking : public QObject
{
    Q_OBJECT

private slots:

    void textsAreStoredAndFoundAsTyped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lookalike");
        QTest::newRow("apostrophe") << u"O'Brien"_s << u"OBrien"_s;
        QTest::newRow("percent") << u"100%"_s << u"1000"_s;
        QTest::newRow("underscore") << u"a_b"_s << u"axb"_s;
        QTest::newRow("full-width asterisk") << u"山田＊"_s << u"山田花子"_s;
        QTest::newRow("emoji") << u"山田😀"_s << u"山田"_s;
        QTest::newRow("outside Shift-JIS") << u"𠮷野"_s << u"吉野"_s;
        QTest::newRow("1000 characters") << QString(1000, u'名') << QString(999, u'名');
    }

    void textsAreStoredAndFoundAsTyped()
    {
        QFETCH(QString, name);
        QFETCH(QString, lookalike);
        test::Workspace ws;
        registerReservation(ws.db, bookingOf(lookalike), WhenFull::Overbook);
        BookingRecord r = bookingOf(name);
        r.kno = name;
        r.biko = name + u"\n"_s + name;
        registerReservation(ws.db, r, WhenFull::Overbook);
        QCOMPARE(namesInSlot(ws.db, u"2009/10/09"_s, u"10"_s), (QStringList{lookalike, name}));
        // (no era chosen: left unwritten)
        const auto found = reservationInSlot(ws.db, u"2009/10/09"_s, u"10"_s, name);
        QCOMPARE(u"%1|%2|%3"_s.arg(found->knm, found->biko).arg(found->bflg.has_value()),
                 name + u'|' + name + u'\n' + name + u"|0"_s);
        QCOMPARE(latestReservationOfPatient(ws.db, name)->knm, name);
        // Found by the name as a pattern ("*" at its end): "%" and "_" stand for themselves.
        const QList<SearchHit> hits = reservationsWithNameContaining(ws.db, name + u'*');
        QCOMPARE(hits.size() == 1 ? hits.first().knm : QString::number(hits.size()), name);
        // Cancelled in its own slot only, one record at a time (an older program wrote some twice).
        QVERIFY(!cancelReservation(ws.db, u"2009/10/09"_s, u"11"_s, name));
        ws.addReservation(u"2009/10/09"_s, u"10"_s, name);
        for (const QStringList &left : {QStringList{lookalike, name}, QStringList{lookalike}}) {
            QVERIFY(cancelReservation(ws.db, u"2009/10/09"_s, u"10"_s, name));
            QCOMPARE(namesInSlot(ws.db, u"2009/10/09"_s, u"10"_s), left);
        }
    }

    // Every booking counts in its slot, the last day of the month's too, those who came as well; not
    // those of the day before the picked one, of the next month, of an hour that is no slot, or of a day
    // written without its leading zero.
    void monthGridCountsEqualTheSlotCounts()
    {
        test::Workspace ws;
        const QStringList booked = {u"2009/10/08 08"_s, u"2009/10/09 08"_s, u"2009/10/09 08"_s, u"2009/10/09 12"_s,
                                    u"2009/10/09 17"_s, u"2009/10/09 18"_s, u"2009/10/31 17"_s, u"2009/10/31 17"_s,
                                    u"2009/11/01 08"_s, u"2009/10/1 08"_s};
        for (qsizetype i = 0; i < booked.size(); ++i) {
            ws.addReservation(booked[i].section(u' ', 0, 0), booked[i].section(u' ', 1), u"患者"_s, int(i % 2));
        }
        const auto grid = monthGrid(ws.db, u"2009"_s, u"10"_s, u"09"_s);
        QStringList counted{QString::number(grid->size())};
        for (const GridDay &day : *grid) {
            for (int slot = 0; slot < SlotCount; ++slot) {
                counted << (day.counts[slot] ? u"%1 %2:%3"_s.arg(day.label, slotKey(slot)).arg(day.counts[slot])
                                             : QString());
            }
        }
        counted.removeAll(QString());
        QCOMPARE(counted,
                 (QStringList{u"23"_s, u"09日 金 08:2"_s, u"09日 金 12:1"_s, u"09日 金 17:1"_s, u"31日 土 17:2"_s}));
    }

    // The last number a 32-bit YNO holds is given; the booking after it is refused and stores nothing.
    void numbersEndAtTheLargestThereIs()
    {
        test::Workspace ws;
        ws.db.write(
            u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG) VALUES (2147483646, '前', '2009/10/09', '10', 0)"_s);
        QCOMPARE(registerReservation(ws.db, bookingOf(u"最後"_s), WhenFull::Overbook).yno, 2147483647);
        const QString message =
            test::messageOf([&] { registerReservation(ws.db, bookingOf(u"次"_s), WhenFull::Overbook); });
        QVERIFY2(message.contains(u"上限"_s), qPrintable(message));
        QCOMPARE(namesInSlot(ws.db, u"2009/10/09"_s, u"10"_s), (QStringList{u"前"_s, u"最後"_s}));
    }

    // The counts a day's reports head with; the monthly report's are followed in its whole-file comparisons.
    void dayCountsEveryReservationAndThoseNotYetCome()
    {
        test::Workspace ws(3);
        for (const int cflg : {0, 1, 0, 0}) {
            ws.addReservation(u"2009/10/09"_s, u"08"_s, u"患者"_s, cflg);
        }
        ws.addReservation(u"2009/10/10"_s, u"08"_s, u"翌日"_s);
        // A visit flag never written counts as a reservation, not as one not yet come.
        ws.db.write(u"UPDATE YOYAKU SET CFLG = NULL WHERE YNO = 4"_s);
        const DayCounts counts = dayCounts(ws.db, QDate(2009, 10, 9));
        QCOMPARE(u"%1 %2 %3"_s.arg(counts.reserved).arg(counts.notVisited).arg(counts.places), u"4 2 30"_s);
        // A weekday nobody has set up offers no places.
        ws.db.write(u"DELETE FROM SETTING WHERE SWEEKDAY = 5"_s);
        QCOMPARE(dayCounts(ws.db, QDate(2009, 10, 9)).places, 0);
    }
};

QTEST_GUILESS_MAIN(TestBooking)
#include "tst_booking.moc"
