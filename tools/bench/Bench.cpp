#include "Bench.h"

#include "Harness.h"
#include "Seed.h"

#include "db/Database.h"
#include "db/Reservation.h"
#include "db/Schema.h"
#include "db/Search.h"
#include "shared/Kana.h"
#include "shared/Dates.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace qrb::bench {

namespace {

struct Options {
    qint64 rows = 1000000;
    int runs = 15;
    QString json;
    QString folder;
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
        struct rusage usage {};
        getrusage(RUSAGE_CHILDREN, &usage);
        peakKb = std::max(peakKb, usage.ru_maxrss);
    });
    r.note = u"peak RSS %1 MB"_s.arg(double(peakKb) / 1024.0, 0, 'f', 1);
    return r;
}

int parse(const QStringList &args, Options &o)
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
        } else {
            QTextStream(stderr) << "usage: qrb-bench [--rows N] [--runs R] [--json FILE] [--dir FOLDER]\n";
            return 2;
        }
    }
    return 0;
}

} // namespace

int run(const QStringList &arguments)
{
    Options o;
    if (const int rc = parse(arguments, o)) {
        return rc;
    }
    QTemporaryDir temp;
    const QString folder = o.folder.isEmpty() ? temp.path() : o.folder;
    QDir().mkpath(folder);
    const QString path = folder + u"/yoyaku.db"_s;
    QFile::remove(path);
    std::vector<Result> results;
    QTextStream err(stderr);
    try {
        createDatabaseFile(path, 20);
        Database db(u"bench"_s);
        db.DB_open(path);
        QElapsedTimer seeding;
        seeding.start();
        seed(db, o.rows);
        const double seedMs = double(seeding.nsecsElapsed()) / 1e6;
        results.push_back({u"seeding"_s, o.rows, {seedMs, seedMs}, std::nullopt, std::nullopt, {}});
        err << "seeded " << o.rows << " rows in " << seedMs / 1000 << " s\n";

        SqliteFloor floor(path);
        const QString day = dateKey(BenchDay);
        const int weekday = weekdayNumber(BenchDay);
        const QByteArray dayUtf8 = day.toUtf8();

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

        // Search: the four boxes of the search screen, with the SQL they run as the floor.
        {
            const QString name = seededName(11, 0); // 山田　太郎
            const QString kana = seededKana(11) + u" ﾀ"_s;
            const QString like = u"SELECT "_s + reservationColumns()
                                 + u" FROM YOYAKU WHERE %1 ORDER BY YDATE, YTIME, YNO"_s;
            const QByteArray nameSql =
                like.arg(u"UPPER(KNM) LIKE UPPER(?) ESCAPE '\\'"_s).toUtf8();
            const QByteArray kanaSql =
                like.arg(u"(UPPER(KKNM) LIKE UPPER(?) ESCAPE '\\' OR UPPER(KKNM) LIKE UPPER(?) ESCAPE '\\' OR "
                         u"UPPER(KKNM) LIKE UPPER(?) ESCAPE '\\')"_s)
                    .toUtf8();
            const QByteArray telSql =
                like.arg(u"(UPPER(TEL1) LIKE UPPER(?) ESCAPE '\\' OR UPPER(TEL2) LIKE UPPER(?) ESCAPE '\\')"_s)
                    .toUtf8();
            const QByteArray knoSql = like.arg(u"KNO = ?"_s).toUtf8();
            qsizetype found = 0;
            const auto add = [&](const QString &operation, const std::function<qsizetype()> &ours,
                                 const std::function<void()> &raw) {
                Result r{operation, o.rows, {}, {}, std::nullopt, {}};
                r.ours = measure(o.runs, [&] { found = ours(); });
                r.floor = measure(o.runs, raw);
                r.note = u"%1 found"_s.arg(found);
                results.push_back(r);
            };
            add(u"search: name contains"_s, [&] { return reservationsWithNameContaining(db, name).size(); },
                [&] { floor.query(nameSql.constData(), {QString(u'%' + name + u'%')}); });
            add(u"search: kana prefix"_s, [&] { return reservationsWithKanaStartingWith(db, kana).size(); },
                [&] {
                    floor.query(kanaSql.constData(), {QString(kana + u'%'), QString(toFullwidthKatakana(kana) + u'%'),
                                                      QString(toHiragana(kana) + u'%')});
                });
            add(u"search: telephone prefix"_s,
                [&] { return reservationsWithTelephoneStartingWith(db, u"090-1234"_s).size(); },
                [&] { floor.query(telSql.constData(), {u"090-1234%"_s, u"090-1234%"_s}); });
            add(u"search: patient number"_s, [&] { return reservationsWithPatientNumber(db, u"123456"_s).size(); },
                [&] { floor.query(knoSql.constData(), {u"123456"_s}); });
        }

        // Compaction: close, compact through TEMP.mdb, open again.
        {
            Result r{u"maintenance: compaction"_s, o.rows, {}, std::nullopt, std::nullopt, {}};
            r.ours = measure(std::min(o.runs, 3), [&] {
                db.DB_close();
                db.DB_compact(path);
                db.DB_open(path);
            });
            results.push_back(r);
        }

        db.DB_close();
        QFile ini(folder + u"/setting.ini"_s);
        if (ini.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ini.write("[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=.\r\n[TEXTFILE]\r\nTXTPATH=./reports/\r\n");
            ini.close();
        }
        results.push_back(startUp(folder, std::min(o.runs, 10)));
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
