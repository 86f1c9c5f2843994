// Several workstations drawing reservation numbers at once, each over its own connection.
#include "support/Workspace.h"

#include <QMutex>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <atomic>
#include <latch>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using qrb::Database;
using qrb::DbError;
using qrb::DbTarget;
using qrb::test::Workspace;

namespace {

// How registration stores a reservation: the number drawn and the row added in one write transaction.
int book(Database &db, const QString &name)
{
    Database::WriteTransaction t(db);
    const int yno = db.scalar(u"SELECT COALESCE(MAX(YNO), 0) + 1 FROM YOYAKU"_s).toInt();
    db.write(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, CFLG) VALUES (?, ?, ?, ?, 0)"_s,
             {yno, name, u"2009/10/09"_s, u"10"_s});
    t.commit();
    return yno;
}

} // namespace

class ConcurrencyTest : public QObject
{
    Q_OBJECT

private slots:
    void simultaneousBookingsGetDistinctNumbers()
    {
        constexpr int Workstations = 4;
        constexpr int Each = 60;
        Workspace ws;
        const DbTarget target = ws.target();
        std::latch ready(Workstations);
        QMutex mutex;
        QStringList failures;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int w = 0; w < Workstations; ++w) {
            threads.emplace_back(QThread::create([&, w] {
                Database db(u"workstation-%1"_s.arg(w));
                try {
                    db.DB_open(target);
                    ready.arrive_and_wait();
                    for (int i = 0; i < Each; ++i) {
                        book(db, u"端末%1-%2"_s.arg(w).arg(i));
                    }
                } catch (const DbError &error) {
                    const QMutexLocker locker(&mutex);
                    failures << error.message();
                }
            }));
            threads.back()->start();
        }
        for (const auto &thread : threads) {
            QVERIFY(thread->wait(120000));
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u"\n---\n"_s)));
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), Workstations * Each);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(DISTINCT YNO) FROM YOYAKU"_s).toInt(), Workstations * Each);
        QCOMPARE(ws.db.scalar(u"SELECT MAX(YNO) FROM YOYAKU"_s).toInt(), Workstations * Each);
    }

    void aWriterWaitsForTheOtherAndDrawsAfterIt()
    {
        Workspace ws;
        const DbTarget target = ws.target();
        Database reader(u"reader"_s);
        reader.DB_open(target);

        auto first = std::make_unique<Database::WriteTransaction>(ws.db);
        ws.addReservation(u"2009/10/09"_s, u"10"_s, u"先"_s);

        std::atomic<int> drawn = 0;
        QString failure;
        std::unique_ptr<QThread> second(QThread::create([&] {
            Database db(u"second"_s);
            try {
                db.DB_open(target);
                drawn = book(db, u"後"_s);
            } catch (const DbError &error) {
                failure = error.message();
            }
        }));
        second->start();
        // While the first writer holds its transaction the second one waits, and the others still read
        // (what was committed so far).
        QVERIFY(!second->wait(500));
        QCOMPARE(reader.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 0);
        first->commit();
        first.reset();
        QVERIFY(second->wait(20000));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(drawn.load(), 2);
        QStringList order;
        reader.forEachRow(u"SELECT KNM FROM YOYAKU ORDER BY YNO"_s, {},
                          [&](const QSqlQuery &q) { order << q.value(0).toString(); });
        QCOMPARE(order, (QStringList{u"先"_s, u"後"_s}));
    }

    void aWriterKeptWaitingTooLongIsToldToTryAgain()
    {
        Workspace ws;
        Database other(u"other"_s);
        other.DB_open(ws.target());
        auto holding = std::make_unique<Database::WriteTransaction>(ws.db);
        ws.addReservation(u"2009/10/09"_s, u"10"_s, u"先"_s);
        QString message;
        try {
            book(other, u"後"_s);
        } catch (const DbError &error) {
            message = error.message();
        }
        QVERIFY2(message.contains(u"もう一度実行してください"_s), qPrintable(message));
        holding->commit();
        holding.reset();
        // Nothing of the refused booking is left behind, and the next try goes through.
        QCOMPARE(book(other, u"後"_s), 2);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(ConcurrencyTest)
#include "tst_concurrency.moc"
