#include "Bench.h"

#include "Harness.h"
#include "Seed.h"

#include "db/Database.h"
#include "db/Reservation.h"
#include "db/Booking.h"
#include "db/Capacities.h"
#include "db/DayStatus.h"
#include "db/History.h"
#include "db/Schema.h"
#include "db/Visits.h"
#include "screens/reports/Reports.h"
#include "screens/search/SearchResults.h"
#include "db/Search.h"
#include "shared/Kana.h"
#include "shared/Dates.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <optional>

using namespace Qt::StringLiterals;

namespace qrb::bench {

namespace {

struct Options {
    qint64 rows = 1000000;
    int runs = 15;
    QString json;
    QString folder;
    QString pg;    // a PostgreSQL database instead of the SQLite file
    bool keep = false;  // leave the seeded tables on the server
    bool reuse = false; // time the database a previous run left (--keep, or --dir) instead of seeding
};

// The day the interactive operations work on: a busy weekday inside the seeded span.
const QDate BenchDay(2025, 11, 4);

QString executableBeside(const QString &name)
{
    return QCoreApplication::applicationDirPath() + u"/../"_s + name;
}

// From process start to the help screen shown (offscreen), and the app's peak resident memory.
Result startUp(const QString &folder, int runs)
{
    Result r{u"start-up to help screen"_s, 0, {}, std::nullopt, std::nullopt, {}};
    long peakKb = 0;
    r.ours = measure(runs, [&] {
        QProcess app;
        app.setWorkingDirectory(folder);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"QRB_QUIT_WHEN_SHOWN"_s, u"1"_s);
        app.setProcessEnvironment(env);
        app.start(executableBeside(u"qrb"_s), {});
        if (!app.waitForFinished(30000) || app.exitCode() != 0) {
            throw std::runtime_error("qrb did not start: " + app.readAllStandardError().toStdString());
        }
        // "VmHWM:    41234 kB", printed by the program itself as it quits.
        const QList<QByteArray> words = app.readAllStandardOutput().simplified().split(' ');
        const qsizetype at = words.indexOf("VmHWM:");
        if (at >= 0 && at + 1 < words.size()) {
            peakKb = std::max(peakKb, words.at(at + 1).toLong());
        }
    });
    r.note = u"peak RSS %1 MB"_s.arg(double(peakKb) / 1024.0, 0, 'f', 1);
    return r;
}

const char *const GridSql = "SELECT YDATE, YTIME, COUNT(*) FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ? GROUP BY YDATE, YTIME";
const char *const NamesSql = "SELECT KNM FROM YOYAKU WHERE YDATE = ? AND YTIME = ? ORDER BY YNO";
const char *const SlotCountSql = "SELECT COUNT(*) FROM YOYAKU WHERE YDATE = ? AND YTIME = ?";
const char *const PlacesSql = "SELECT NINZU FROM SETTING WHERE SWEEKDAY = ? AND STIME = ?";

// The search screen: the first screenful of the list for common and rare names, readings and
// numbers (what the user waits for), and reading 田中's list to its end by scrolling. The floor runs the
// same page statements.
void searchOperations(Database &db, Floor &floor, const Options &o, std::vector<Result> &results)
{
    using Finder = QList<SearchHit> (*)(Database &, const QString &, const SearchPage &);
    const struct {
        QString operation;
        SearchBox box;
        Finder finder;
        QString typed;
    } searches[] = {
        {u"search: name 田中, first screenful"_s, SearchBox::Name, reservationsWithNameContaining, u"田中"_s},
        {u"search: name 子, first screenful"_s, SearchBox::Name, reservationsWithNameContaining, u"子"_s},
        {u"search: name 山田　太郎, first screenful"_s, SearchBox::Name, reservationsWithNameContaining,
         seededName(11, 0)},
        {u"search: name 田中*子, first screenful"_s, SearchBox::Name, reservationsWithNameContaining, u"田中*子"_s},
        {u"search: kana たなか, first screenful"_s, SearchBox::Kana, reservationsWithKanaStartingWith, u"たなか"_s},
        {u"search: telephone prefix, first screenful"_s, SearchBox::Telephone,
         reservationsWithTelephoneStartingWith, u"090-1234"_s},
        {u"search: telephone typed without hyphens, first screenful"_s, SearchBox::Telephone,
         reservationsWithTelephoneStartingWith, u"０９０１２３４"_s},
        {u"search: patient number"_s, SearchBox::PatientNumber, reservationsWithPatientNumber, u"123456"_s},
    };
    SearchResults list;
    const auto pageStatement = [&](SearchBox box, const QString &typed, std::optional<SearchHit> after) {
        return searchStatement(db, box, typed, {std::move(after), SearchResults::PageSize + 1});
    };
    const auto floorQuery = [&](const SearchStatement &statement) {
        return floor.query(statement.sql.toUtf8().constData(), statement.values);
    };
    for (const auto &search : searches) {
        const auto reader = [&](const SearchPage &page) { return search.finder(db, search.typed, page); };
        const qsizetype all = search.finder(db, search.typed, {}).size();
        const SearchStatement first = pageStatement(search.box, search.typed, std::nullopt);
        Result r{search.operation, o.rows, {}, {}, std::nullopt, {}};
        r.ours = measure(o.runs, [&] { list.start(reader); });
        r.floor = measure(o.runs, [&] { floorQuery(first); });
        r.note = u"%1 lines of %2 found"_s.arg(list.rowCount()).arg(all);
        results.push_back(r);
    }
    // Scrolling to the end: the view asks for page after page until the last line.
    const QString tanaka = u"田中"_s;
    const auto reader = [&](const SearchPage &page) { return reservationsWithNameContaining(db, tanaka, page); };
    const QList<SearchHit> all = reservationsWithNameContaining(db, tanaka);
    std::vector<SearchStatement> pages{pageStatement(SearchBox::Name, tanaka, std::nullopt)};
    for (qsizetype last = SearchResults::PageSize - 1; last < all.size(); last += SearchResults::PageSize) {
        pages.push_back(pageStatement(SearchBox::Name, tanaka, all.at(last)));
    }
    Result r{u"search: name 田中, scrolled to the end"_s, o.rows, {}, {}, std::nullopt, {}};
    r.ours = measure(std::min(o.runs, 5), [&] {
        list.start(reader);
        while (list.canFetchMore({})) {
            list.fetchMore({});
        }
    });
    if (list.rowCount() != all.size()) {
        throw std::runtime_error("the list scrolled to its end differs from the whole search");
    }
    r.floor = measure(std::min(o.runs, 5), [&] {
        for (const SearchStatement &page : pages) {
            floorQuery(page);
        }
    });
    r.note = u"%1 lines in %2 pages"_s.arg(all.size()).arg(pages.size());
    results.push_back(r);
}

// What the entry screen reads when it opens or after "確認" (grid, names, slot line), and what a
// registration, a two-dose booking and a cancellation cost, refresh included.
void entryOperations(Database &db, Floor &floor, const Options &o, std::vector<Result> &results)
{
    const QString year = QString::number(BenchDay.year());
    const QString month = twoDigits(BenchDay.month());
    const QString day = twoDigits(BenchDay.day());
    const QString key = dateKey(BenchDay);
    const QString last = dateKey(QDate(BenchDay.year(), BenchDay.month(), BenchDay.daysInMonth()));
    const QString slot = u"10"_s;
    const int weekday = weekdayNumber(BenchDay);
    const auto refresh = [&] {
        monthGrid(db, year, month, day);
        namesInSlot(db, key, slot);
        YOYAKU_cnt(db, key, slot);
        placesInSlot(db, BenchDay, slot);
    };
    const auto rawRefresh = [&] {
        floor.query(GridSql, {key, last});
        floor.query(NamesSql, {key, slot});
        floor.query(SlotCountSql, {key, slot});
        floor.query(PlacesSql, {weekday, slot});
    };
    {
        Result r{u"entry: open (grid, names, slot line)"_s, o.rows, {}, {}, std::nullopt, {}};
        r.ours = measure(o.runs, refresh);
        r.floor = measure(o.runs, rawRefresh);
        results.push_back(r);
    }
    {
        Result r{u"entry: month grid"_s, o.rows, {}, {}, std::nullopt, {}};
        r.ours = measure(o.runs, [&] { monthGrid(db, year, month, day); });
        r.floor = measure(o.runs, [&] { floor.query(GridSql, {key, last}); });
        results.push_back(r);
    }
    int serial = 0;
    const auto booking = [&](const QString &date, int sflg, int scnt) {
        BookingRecord b;
        b.kno = u"900%1"_s.arg(serial);
        b.knm = u"ベンチ　患者%1"_s.arg(serial);
        b.kknm = u"ﾍﾞﾝﾁ ｶﾝｼﾞｬ"_s;
        b.ydate = date;
        b.ytime = slot;
        b.bflg = 3;
        b.birthday = u"50年01月01日"_s;
        b.tel1 = u"090-0000-0000"_s;
        b.sflg = sflg;
        b.scnt = scnt;
        return b;
    };
    {
        Result r{u"entry: register (check, add, refresh)"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
        r.ours = measure(o.runs, [&] {
            ++serial;
            registerReservation(db, booking(key, 1, 1), qrb::WhenFull::Refuse);
            refresh();
        });
        r.note = u"with its history row"_s;
        results.push_back(r);
    }
    {
        const QString second = dateKey(BenchDay.addDays(21));
        Result r{u"entry: register 新型 pair"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
        r.ours = measure(o.runs, [&] {
            ++serial;
            registerReservation(db, booking(key, 2, 1), qrb::WhenFull::Refuse);
            registerReservation(db, booking(second, 2, 2), qrb::WhenFull::Refuse);
            refresh();
        });
        results.push_back(r);
    }
    {
        Result r{u"entry: cancel (and refresh)"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
        r.ours = measure(o.runs, [&] {
            cancelReservation(db, key, slot, u"ベンチ　患者%1"_s.arg(serial--));
            refresh();
        });
        results.push_back(r);
    }
}

// The status screen's day and the visit record screen's lists, and one move between them.
void dayOperations(Database &db, Floor &floor, const Options &o, std::vector<Result> &results)
{
    const QString key = dateKey(BenchDay);
    const int weekday = weekdayNumber(BenchDay);
    {
        Result r{u"status: day (statistics and list)"_s, o.rows, {}, {}, std::nullopt, {}};
        r.ours = measure(o.runs, [&] {
            dayCounts(db, BenchDay);
            namesOfDay(db, BenchDay, true);
        });
        r.floor = measure(o.runs, [&] {
            floor.query("SELECT COUNT(*), COALESCE(SUM(CASE WHEN CFLG = 1 THEN 1 ELSE 0 END), 0), "
                        "COALESCE(SUM(CASE WHEN CFLG = 0 THEN 1 ELSE 0 END), 0) FROM YOYAKU WHERE YDATE = ?",
                        {key});
            floor.query("SELECT COALESCE(SUM(NINZU), 0) FROM SETTING WHERE SWEEKDAY = ?", {weekday});
            floor.query("SELECT YTIME, KNM FROM YOYAKU WHERE YDATE = ? ORDER BY YTIME, YNO", {key});
        });
        results.push_back(r);
    }
    const char *visitSql = "SELECT YNO, YTIME, KNM FROM YOYAKU WHERE YDATE = ? AND CFLG = ? ORDER BY YTIME, YNO";
    {
        Result r{u"visits: both lists"_s, o.rows, {}, {}, std::nullopt, {}};
        r.ours = measure(o.runs, [&] {
            reservationsOfDayByVisit(db, key, 0);
            reservationsOfDayByVisit(db, key, 1);
        });
        r.floor = measure(o.runs, [&] {
            floor.query(visitSql, {key, 0});
            floor.query(visitSql, {key, 1});
        });
        results.push_back(r);
    }
    {
        Result r{u"visits: one move (and both lists)"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
        int flag = 1;
        r.ours = measure(o.runs, [&] {
            const auto waiting = reservationsOfDayByVisit(db, key, 1 - flag);
            if (!waiting.isEmpty()) {
                setVisitFlag(db, waiting.first(), key, flag);
            }
            reservationsOfDayByVisit(db, key, 0);
            reservationsOfDayByVisit(db, key, 1);
            flag = 1 - flag;
        });
        results.push_back(r);
    }
}

// The three report files, written to disk through the code the button and qrb-report share.
void reportOperations(Database &db, const QString &folder, const Options &o, std::vector<Result> &results)
{
    const QString out = folder + u"/reports/"_s;
    const std::pair<ReportKind, QString> kinds[] = {{ReportKind::Daily, u"report: daily"_s},
                                                    {ReportKind::NotVisited, u"report: not yet visited"_s},
                                                    {ReportKind::Monthly, u"report: monthly"_s}};
    for (const auto &[kind, name] : kinds) {
        Result r{name, o.rows, {}, std::nullopt, std::nullopt, {}};
        r.ours = measure(o.runs, [&] { writeReport(db, out, kind, BenchDay); });
        results.push_back(r);
    }
}

void settingsOperations(Database &db, const Options &o, std::vector<Result> &results)
{
    Result load{u"settings: load"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
    CapacityTable table;
    load.ours = measure(o.runs, [&] { table = loadCapacities(db); });
    results.push_back(load);
    Result save{u"settings: save 70 cells"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
    save.ours = measure(o.runs, [&] { saveCapacities(db, table); });
    results.push_back(save);
}

// The maintenance screen's history of a busy day and of a common name, newest first.
void historyOperations(Database &db, const Options &o, std::vector<Result> &results)
{
    const std::pair<HistoryKey, QString> keys[] = {{HistoryKey::Day, dateKey(BenchDay)},
                                                   {HistoryKey::Name, seededName(11, 0)}};
    for (const auto &[key, value] : keys) {
        qsizetype found = 0;
        Result r{key == HistoryKey::Day ? u"history: a day"_s : u"history: a name"_s, o.rows, {}, std::nullopt,
                 std::nullopt, {}};
        r.ours = measure(o.runs, [&] { found = historyOf(db, key, value).size(); });
        r.note = u"%1 found"_s.arg(found);
        results.push_back(r);
    }
}

// The month grid the way it was first designed: ten count queries per listed day, on a copy of the
// same data without any index. The grid above is compared against it.
void naiveMonthGrid(Database &db, const QString &path, const Options &o, std::vector<Result> &results)
{
    const QString copy = path + u".noindex"_s;
    QFile::remove(copy);
    db.run(u"VACUUM INTO ?"_s, {copy}).finish();
    Database naive(u"bench-naive"_s);
    naive.DB_open(copy);
    // Every index the file has, those the search and the lists added later included: one of them left
    // would answer the counts, and the row would compare the grid with nothing the design started from.
    QStringList indexes;
    naive.forEachRow(u"SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL"_s, {},
                     [&](const QSqlQuery &q) { indexes << q.value(0).toString(); });
    for (const QString &index : indexes) {
        naive.write(u"DROP INDEX "_s + index);
    }
    const QString year = QString::number(BenchDay.year());
    const QString month = twoDigits(BenchDay.month());
    // How the engine answers one count, shown with the figure: a whole scan of the table.
    QStringList plan;
    naive.forEachRow(u"EXPLAIN QUERY PLAN SELECT COUNT(*) FROM YOYAKU WHERE YDATE = ? AND YTIME = ?"_s,
                     {dateKey(BenchDay), slotKey(0)}, [&](const QSqlQuery &q) { plan << q.value(3).toString(); });
    const Timing grid = measure(o.runs, [&] { monthGrid(db, year, month, u"01"_s); });
    Result r{u"entry: month grid, ten counts a day, no index"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
    r.ours = measure(1, [&] {
        for (int d = 1; d <= BenchDay.daysInMonth(); ++d) {
            for (int slot = 0; slot < SlotCount; ++slot) {
                YOYAKU_cnt(naive, dateKey(year, month, twoDigits(d)), slotKey(slot));
            }
        }
    });
    r.ratioOverride = r.ours.medianMs / grid.medianMs;
    r.note = u"%1; ratio = this / grouped grid of the whole month (%2 ms)"_s.arg(plan.join(u", "_s))
                 .arg(grid.medianMs, 0, 'f', 3);
    results.push_back(r);
    naive.DB_close();
    QFile::remove(copy);
}

const char *const Usage =
    "usage: qrb-bench [--rows N] [--runs R] [--json FILE] [--dir FOLDER] [--pg CONNECTION] [--keep] [--reuse]\n"
    "Seeds a new database with N reservations and times every action of the desk on it, beside the same\n"
    "statements through the engine's bare client library.\n"
    "  --rows N          reservations to seed (default 1000000)\n"
    "  --runs R          repetitions of each timing, of which the median and the maximum are shown (default 15)\n"
    "  --json FILE       also write the table to FILE as JSON\n"
    "  --dir FOLDER      the SQLite database in FOLDER rather than in a temporary folder\n"
    "  --pg CONNECTION   a PostgreSQL database that does not hold QRB's tables yet (\"host=... dbname=... user=...\")\n"
    "  --keep            leave the seeded tables on the server\n"
    "  --reuse           time what a run with --keep or --dir left instead of seeding again\n"
    "  -h, --help        show this text\n";

// The exit code when the command line ends the run here (help asked for, or a wrong option).
std::optional<int> parse(const QStringList &args, Options &o)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == u"--rows"_s && hasValue) {
            o.rows = args.at(++i).toLongLong();
        } else if (a == u"--runs"_s && hasValue) {
            o.runs = std::max(1, args.at(++i).toInt());
        } else if (a == u"--json"_s && hasValue) {
            o.json = args.at(++i);
        } else if (a == u"--dir"_s && hasValue) {
            o.folder = args.at(++i);
        } else if (a == u"--pg"_s && hasValue) {
            o.pg = args.at(++i);
        } else if (a == u"--keep"_s) {
            o.keep = true;
        } else if (a == u"--reuse"_s) {
            o.reuse = true;
        } else if (a == u"-h"_s || a == u"--help"_s) {
            QTextStream(stdout) << Usage;
            return 0;
        } else {
            QTextStream(stderr) << "qrb-bench: unknown option or missing value: " << a << "\n" << Usage;
            return 2;
        }
    }
    return std::nullopt;
}

} // namespace

int run(const QStringList &arguments)
{
    Options o;
    if (const std::optional<int> exitCode = parse(arguments, o)) {
        return *exitCode;
    }
    QTemporaryDir temp;
    const QString folder = o.folder.isEmpty() ? temp.path() : o.folder;
    QDir().mkpath(folder);
    const QString path = folder + u"/yoyaku.db"_s;
    std::vector<Result> results;
    QTextStream err(stderr);
    try {
        const DbTarget target = o.pg.isEmpty() ? DbTarget::sqlite(path) : DbTarget::server(PgServer::fromConnInfo(o.pg));
        Database db(u"bench"_s);
        db.setActor(u"qrb-bench"_s);
        if (o.reuse) {
            db.DB_open(target);
        } else {
            if (!target.isPostgres()) {
                QFile::remove(path);
            }
            // On a server this refuses a database that already holds the tables: the bench never
            // touches reservations it did not make.
            createDatabase(target, 20);
            db.DB_open(target);
            QElapsedTimer seeding;
            seeding.start();
            seed(db, o.rows);
            const double seedMs = double(seeding.nsecsElapsed()) / 1e6;
            results.push_back({u"seeding"_s, o.rows, {seedMs, seedMs}, std::nullopt, std::nullopt, {}});
            err << "seeded " << o.rows << " rows in " << seedMs / 1000 << " s\n";
            // As many rows of history: every registration, visit and cancellation below writes one more.
            seeding.restart();
            seedHistory(db, o.rows);
            const double historyMs = double(seeding.nsecsElapsed()) / 1e6;
            results.push_back(
                {u"seeding history"_s, o.rows, {historyMs, historyMs}, std::nullopt, std::nullopt, {}});
        }

        std::unique_ptr<Floor> floorConnection;
        if (target.isPostgres()) {
            floorConnection = std::make_unique<PgFloor>(o.pg);
        } else {
            floorConnection = std::make_unique<SqliteFloor>(path);
        }
        Floor &floor = *floorConnection;
        const QString day = dateKey(BenchDay);
        const int weekday = weekdayNumber(BenchDay);

        // The slot line of the entry screen: reservations and places of one slot.
        {
            Result r{u"entry: slot line"_s, o.rows, {}, {}, std::nullopt, {}};
            r.ours = measure(o.runs, [&] {
                YOYAKU_cnt(db, day, u"10"_s);
                NINZU_cnt(db, weekday, u"10"_s);
            });
            r.floor = measure(o.runs, [&] {
                floor.query("SELECT COUNT(*) FROM YOYAKU WHERE YDATE = ? AND YTIME = ?", {day, u"10"_s});
                floor.query("SELECT NINZU FROM SETTING WHERE SWEEKDAY = ? AND STIME = ?", {weekday, u"10"_s});
            });
            results.push_back(r);
        }

        searchOperations(db, floor, o, results);
        entryOperations(db, floor, o, results);
        dayOperations(db, floor, o, results);
        reportOperations(db, folder, o, results);
        settingsOperations(db, o, results);
        historyOperations(db, o, results);
        if (!target.isPostgres()) {
            naiveMonthGrid(db, path, o, results);
        }

        // Compaction needs the file to itself: the floor's connection goes first.
        floorConnection.reset();
        // Compaction: close, compact (the file through TEMP.mdb, the server's VACUUM), open again.
        {
            Result r{u"maintenance: compaction"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
            r.ours = measure(std::min(o.runs, 3), [&] {
                db.DB_close();
                db.DB_compact(target);
                db.DB_open(target);
            });
            results.push_back(r);
        }

        db.DB_close();
        QFile ini(folder + u"/setting.ini"_s);
        if (ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ini.write("[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=.\r\n[TEXTFILE]\r\nTXTPATH=./reports/\r\n");
            if (const auto &server = target.postgres) {
                ini.write(u"[POSTGRESQL]\r\nHOST=%1\r\nPORT=%2\r\nDBNAME=%3\r\nUSER=%4\r\nPASSWORD=%5\r\n"_s
                              .arg(server->host, server->port > 0 ? QString::number(server->port) : QString(),
                                   server->dbname, server->user, server->password)
                              .toUtf8());
            }
            ini.close();
        }
        results.push_back(startUp(folder, std::min(o.runs, 10)));
        if (target.isPostgres() && !o.keep && !o.reuse) {
            db.DB_open(target);
            db.write(u"DROP TABLE YOYAKU, SETTING"_s);
            db.DB_close();
        }
    } catch (const DbError &error) {
        err << error.message() << '\n';
        return 1;
    } catch (const std::exception &error) {
        err << error.what() << '\n';
        return 1;
    }
    printTable(results);
    if (!o.json.isEmpty() && !writeJson(o.json, results)) {
        err << "cannot write " << o.json << '\n';
        return 1;
    }
    return 0;
}

} // namespace qrb::bench
