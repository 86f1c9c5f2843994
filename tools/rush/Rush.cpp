#include "Rush.h"

#include "Http.h"

#include "db/Booking.h"
#include "db/Database.h"
#include "db/Schema.h"
#include "db/WebBooking.h"
#include "shared/Cp932.h"
#include "shared/Dates.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace qrb::rush {

namespace {

QTextStream out(stdout);

// One answer to a confirm page sent: its status and, on a done page, the number and code shown.
struct Answer {
    int status = 0;
    int yno = 0;
    QString code;
};

// What a client was told about one booking: every answer to its confirm page, which was sent once,
// twice at the same moment (a double tap), or once more after the answer came (a reload).
struct Told {
    QString ydate;
    QString ytime;
    QString name;
    QString nonce;
    QList<Answer> answers;
    const Answer *done() const
    {
        const auto it = std::find_if(answers.cbegin(), answers.cend(), [](const Answer &a) { return a.status == 200; });
        return it == answers.cend() ? nullptr : &*it;
    }
};

struct Figures {
    std::map<QString, std::vector<double>> latencies; // page → milliseconds
    QList<Told> told;
    int fullAtConfirm = 0;
    int doubleTaps = 0;
    int reloads = 0;
    int errors = 0;
    qint64 requests = 0;
};

// What follows `before` up to the next `end`, in every place a page has it; or in the first.
std::vector<std::string_view> allBetween(std::string_view page, std::string_view before, char end)
{
    std::vector<std::string_view> found;
    for (size_t at = page.find(before); at != std::string_view::npos; at = page.find(before, at)) {
        at += before.size();
        const size_t stop = page.find(end, at);
        if (stop == std::string_view::npos) {
            break;
        }
        found.push_back(page.substr(at, stop - at));
    }
    return found;
}

QString firstBetween(std::string_view page, std::string_view before, char end)
{
    const size_t at = page.find(before);
    if (at == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = page.substr(at + before.size());
    return QString::fromUtf8(rest.substr(0, rest.find(end)));
}

// One patient's browser: days page, a day, a slot's form, confirm, book; again until the wanted
// days show no place left.
class Client final
{
public:
    Client(int id, HttpLoop &loop, QStringList wanted, Figures &figures, std::function<void()> finished)
        : m_id(id)
        , m_browser(loop)
        , m_wanted(std::move(wanted))
        , m_figures(figures)
        , m_finished(std::move(finished))
    {
    }
    void start() { daysPage(); }

private:
    using Then = std::function<void(int, std::string_view)>;
    void request(const QString &page, const std::string &path, const QList<std::pair<QString, QString>> &form,
                 const Then &then)
    {
        // Every booking comes from an address of its own, as patients' phones do behind the proxy.
        const std::string from = "X-Forwarded-For: 10." + std::to_string(m_id % 250) + '.' +
                                 std::to_string(m_sent / 250 % 250) + '.' + std::to_string(m_sent % 250 + 1) + "\r\n";
        std::string body;
        for (const auto &[k, v] : form) {
            body.append(body.empty() ? "" : "&").append(k.toStdString()).append("=");
            body.append(QUrl::toPercentEncoding(v).toStdString());
        }
        const auto started = std::chrono::steady_clock::now();
        m_browser.request(path, body, from, [=, this](int status, std::string_view answer) {
            m_figures.latencies[page].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
            ++m_figures.requests;
            then(status, answer);
        });
    }
    template <typename T> const T &pick(const QList<T> &list)
    {
        return list.at(QRandomGenerator::global()->bounded(list.size()));
    }
    static QString field(std::string_view html, const QString &name)
    {
        return firstBetween(html, "name=\"" + name.toStdString() + "\" value=\"", '"').replace(u"&amp;"_s, u"&"_s);
    }
    void fail()
    {
        ++m_figures.errors;
        daysPage();
    }

    void daysPage()
    {
        request(u"days"_s, "/", {}, [this](int status, std::string_view body) {
            QStringList open;
            for (const std::string_view day : allBetween(body, "href=\"/day?d=", '"')) {
                if (m_wanted.contains(QLatin1StringView(day))) {
                    open << QString::fromLatin1(day);
                }
            }
            if (status != 200 || open.isEmpty()) {
                m_finished();
                return;
            }
            dayPage(pick(open));
        });
    }
    void dayPage(const QString &day)
    {
        request(u"day"_s, "/day?d=" + day.toStdString(), {}, [this, day](int status, std::string_view body) {
            QStringList hours;
            for (const std::string_view hour : allBetween(body, "&amp;h=", '"')) {
                if (hour.size() == 2) {
                    hours << QString::fromLatin1(hour);
                }
            }
            if (status != 200 || hours.isEmpty()) {
                return status == 200 ? daysPage() : fail();
            }
            formPage(day, pick(hours));
        });
    }
    void formPage(const QString &day, const QString &hour)
    {
        const std::string path = "/form?d=" + day.toStdString() + "&h=" + hour.toStdString();
        request(u"form"_s, path, {}, [this, day, hour](int status, std::string_view body) {
            if (status != 200) {
                return status == 409 ? daysPage() : fail();
            }
            ++m_sent;
            const QString name = u"Web客%1-%2"_s.arg(m_id).arg(m_sent);
            const QList<std::pair<QString, QString>> fields = {
                {u"csrf"_s, field(body, u"csrf"_s)},
                {u"date"_s, day},
                {u"hour"_s, hour},
                {u"name"_s, name},
                {u"kana"_s, u"ウェブ"_s},
                {u"birth"_s, u"19800101"_s},
                {u"tel"_s, u"090-%1-%2"_s.arg(m_id, 4, 10, QChar(u'0')).arg(m_sent, 4, 10, QChar(u'0'))},
                {u"visited"_s, u"2"_s},
                {u"kind"_s, u"0"_s}};
            confirm(day, hour, name, fields);
        });
    }
    void confirm(const QString &day, const QString &hour, const QString &name,
                 const QList<std::pair<QString, QString>> &fields)
    {
        request(u"confirm"_s, "/confirm", fields, [=, this](int status, std::string_view body) {
            if (status == 422) {
                ++m_figures.fullAtConfirm;
                return daysPage();
            }
            if (status != 200) {
                return fail();
            }
            QList<std::pair<QString, QString>> booking = fields;
            booking.append({u"second"_s, QString()});
            booking.append({u"remarks"_s, QString()});
            booking.append({u"kno"_s, QString()});
            booking.append({u"nonce"_s, field(body, u"nonce"_s)});
            book(day, hour, name, booking);
        });
    }
    // Every third booking is tapped twice, every fourth page reloaded once its answer came: each must
    // answer as the first send did.
    void book(const QString &day, const QString &hour, const QString &name,
              const QList<std::pair<QString, QString>> &fields)
    {
        auto told = std::make_shared<Told>(
            Told{dateKey(QDate::fromString(day, Qt::ISODate)), hour, name, fields.last().second, {}});
        const int taps = m_sent % 3 == 0 ? 2 : 1;
        const bool reload = m_sent % 4 == 0;
        m_figures.doubleTaps += taps - 1;
        m_figures.reloads += reload;
        auto pending = std::make_shared<int>(taps);
        const auto finish = [this, told] {
            m_figures.told << *told;
            daysPage();
        };
        for (int tap = 0; tap < taps; ++tap) {
            request(u"book"_s, "/book", fields, [=, this](int status, std::string_view body) {
                told->answers << answerOf(status, body);
                if (--*pending > 0) {
                    return;
                }
                if (!reload) {
                    return finish();
                }
                request(u"book"_s, "/book", fields, [=, this](int again, std::string_view page) {
                    told->answers << answerOf(again, page);
                    finish();
                });
            });
        }
    }
    Answer answerOf(int status, std::string_view body)
    {
        if (status != 200 && status != 409) {
            ++m_figures.errors;
        }
        return {status, firstBetween(body, "id=\"yno\">", '<').toInt(), firstBetween(body, "id=\"code\">", '<')};
    }

    int m_id;
    HttpLoop::Browser m_browser;
    QStringList m_wanted;
    Figures &m_figures;
    std::function<void()> m_finished;
    int m_sent = 0;
};

struct DeskFigures {
    int booked = 0;
    int forced = 0;
    int refused = 0;
    int errors = 0;
};

// A receptionist booking patients who phone in, into the same slots, through the desk's own code; the
// second desk forces every fifth refused booking, as a receptionist may.
void desk(int id, DbTarget target, QStringList days, std::atomic<bool> &stop, DeskFigures &figures)
{
    Database db(u"desk%1"_s.arg(id));
    db.DB_open(target);
    for (int n = 0; !stop; ++n) {
        BookingRecord r;
        r.knm = u"窓口%1-%2"_s.arg(id).arg(n);
        r.ydate = dateKey(QDate::fromString(days.at(QRandomGenerator::global()->bounded(days.size())), Qt::ISODate));
        r.ytime = slotKey(QRandomGenerator::global()->bounded(SlotCount));
        r.sflg = 1;
        r.scnt = 1;
        try {
            if (!registerReservation(db, r, WhenFull::Refuse).slotFull) {
                ++figures.booked;
            } else if (id == 2 && n % 5 == 0) {
                registerReservation(db, r, WhenFull::Overbook);
                ++figures.forced;
            } else {
                ++figures.refused;
            }
        } catch (const DbError &) {
            ++figures.errors;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(p * double(values.size()))));
}

// A database of its own for one run: a file in a temporary folder, or a new database on the server
// (dropped again afterwards).
class Scratch
{
public:
    Scratch(const QString &pg, const QString &name, int places)
    {
        if (pg.isEmpty()) {
            target = DbTarget::sqlite(dir.path() + u"/"_s + name + u".db"_s);
        } else {
            m_admin.openEmpty(DbTarget::server(PgServer::fromConnInfo(pg)));
            m_name = u"qrb_rush_%1_%2"_s.arg(QCoreApplication::applicationPid()).arg(name);
            m_admin.write(u"DROP DATABASE IF EXISTS "_s + m_name);
            m_admin.write(u"CREATE DATABASE "_s + m_name +
                          u" ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0"_s);
            PgServer server = PgServer::fromConnInfo(pg);
            server.dbname = m_name;
            target = DbTarget::server(server);
        }
        createDatabase(target, places);
    }
    ~Scratch()
    {
        if (!m_name.isEmpty()) {
            try {
                m_admin.write(u"DROP DATABASE IF EXISTS "_s + m_name + u" WITH (FORCE)"_s);
            } catch (const DbError &) {
            }
        }
    }
    QTemporaryDir dir;
    DbTarget target;

private:
    Database m_admin{u"rush-admin"_s};
    QString m_name;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Seconds of processor time a process has used, its own and the kernel's on its behalf.
double cpuSeconds(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // The name in parentheses may hold blanks: the fields are counted after its closing one.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return -1;
    }
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Seconds of processor time this process (the browsers and the desks) has used.
double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What one rush measured, for the table that sets the runs side by side.
struct RunSummary {
    int workers = 0;
    double requestsPerSecond = 0;
    double cpuMsPerRequest = 0;
    double seconds = 0;            // the rush's wall time
    double serverCpu = 0;          // qrb-web's processor time
    double generatorCpu = 0;       // the browsers' and desks' (this program's)
    std::map<QString, double> p99; // page → milliseconds
    int breaks = 0;
};

int rushWith(const Options &o, int workers, RunSummary &run, QJsonArray &operations, QJsonArray &summaries)
{
    const QString engine = o.pg.isEmpty() ? u"sqlite"_s : u"postgresql"_s;
    run.workers = workers;
    try {
        Scratch rush(o.pg, u"rush%1"_s.arg(workers), o.places);
        const quint16 port = freePort();
        QByteArray ini = "[DATABASE]\r\nSYS0=rush" + QByteArray::number(workers) + ".db\r\n[SERVER]\r\nSVNM=.\r\n";
        if (rush.target.isPostgres()) {
            const PgServer &s = *rush.target.postgres;
            ini = "[POSTGRESQL]\r\nHOST=" + s.host.toUtf8() + "\r\nPORT=" + QByteArray::number(s.port) +
                  "\r\nDBNAME=" + s.dbname.toUtf8() + "\r\nUSER=" + s.user.toUtf8() +
                  "\r\nPASSWORD=" + s.password.toUtf8() + "\r\n";
        }
        ini += "[WEB]\r\nPORT=" + QByteArray::number(port) + "\r\nDAYS=" + QByteArray::number(o.days + 1) +
               "\r\nCUTOFF=0\r\nPER_PHONE=1000\r\nPER_MINUTE=100000\r\nWORKERS=" + QByteArray::number(workers) + "\r\n";
        QFile file(rush.dir.path() + u"/setting.ini"_s);
        if (!file.open(QIODevice::WriteOnly) || file.write(ini) != ini.size()) {
            out << "cannot write " << file.fileName() << Qt::endl;
            return -1;
        }
        file.close();

        QProcess server;
        server.setWorkingDirectory(rush.dir.path());
        server.setStandardOutputFile(QProcess::nullDevice());
        // The server logs every request, to a file: the browsers' loop reads no pipe, and one left
        // full would stop the server mid-rush. Only the line saying it listens matters here.
        QFile log(rush.dir.path() + u"/qrb-web.log"_s);
        server.setStandardErrorFile(log.fileName());
        server.start(QCoreApplication::applicationDirPath() + u"/qrb-web"_s, {});
        QByteArray said;
        const QDeadlineTimer deadline(10000);
        // A program that never started has nothing to wait for; one that ends has said why in the log.
        while (server.waitForStarted() && !said.contains("受付中") && !deadline.hasExpired()) {
            const bool ended = server.waitForFinished(20);
            if (log.isOpen() || log.open(QIODevice::ReadOnly)) {
                said += log.readAll();
            }
            if (ended) {
                break;
            }
        }
        if (!said.contains("受付中")) {
            out << "qrb-web did not start: " << QString::fromUtf8(said) << Qt::endl;
            return -1;
        }

        // Tomorrow on: every slot of the wanted days lies ahead, whatever the hour of the run.
        QStringList wanted;
        for (int d = 1; d <= o.days; ++d) {
            wanted << QDate::currentDate().addDays(d).toString(Qt::ISODate);
        }
        Figures figures;
        std::atomic<bool> stop = false;
        DeskFigures desks[2];
        QElapsedTimer wall;
        wall.start();
        const double generatorBefore = ownCpuSeconds();
        std::thread desk1(desk, 1, rush.target, wanted, std::ref(stop), std::ref(desks[0]));
        std::thread desk2(desk, 2, rush.target, wanted, std::ref(stop), std::ref(desks[1]));
        int running = o.clients;
        HttpLoop loop(port);
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < o.clients; ++i) {
            clients.push_back(std::make_unique<Client>(i + 1, loop, wanted, figures, [&] {
                if (--running == 0) {
                    loop.quit();
                }
            }));
            clients.back()->start();
        }
        loop.run();
        if (loop.serverStopped()) {
            stop = true;
            desk1.join();
            desk2.join();
            server.kill();
            server.waitForFinished();
            out << "qrb-web stopped answering; its log: " << rush.dir.path() << "/qrb-web.log" << Qt::endl;
            rush.dir.setAutoRemove(false);
            return -1;
        }
        const double seconds = wall.nsecsElapsed() / 1e9;
        // The browsers and the desks run on the same machine: what they take is not the server's.
        const double generator = ownCpuSeconds() - generatorBefore;
        // What else the machine was doing shapes the figures as much as the program does.
        double load[3] = {0, 0, 0};
        if (getloadavg(load, 3) != 3) {
            load[0] = load[1] = load[2] = -1;
        }
        const double cpu = cpuSeconds(server.processId());
        stop = true;
        desk1.join();
        desk2.join();
        server.terminate();
        server.waitForFinished();

        // The invariants, read back through the db code.
        Database db(u"rush-check"_s);
        db.DB_open(rush.target);
        int breaks = 0;
        int webBooked = 0;
        int notHerDonePage = 0; // answers to a stored page that did not show its booking
        for (const Told &t : figures.told) {
            const auto row = reservationInSlot(db, t.ydate, t.ytime, t.name);
            const Answer *done = t.done();
            if ((done != nullptr) != row.has_value() || (row && row->yno != done->yno)) {
                ++breaks; // told "booked" without its row, or "full" with one
            }
            webBooked += done != nullptr;
            // A page whose booking is stored answers every send with that booking's number and code.
            const QVariant stored = db.scalar(u"SELECT YNO FROM WEBYOYAKU WHERE NONCE = ?"_s, {t.nonce});
            for (const Answer &a : t.answers) {
                const bool herOwn =
                    a.status == 200 && a.yno == stored.toInt() && done && a.code == done->code && !a.code.isEmpty();
                notHerDonePage += stored.isNull() ? a.status == 200 : !herOwn;
            }
        }
        breaks += notHerDonePage;
        for (const QString &day : wanted) {
            const QString key = dateKey(QDate::fromString(day, Qt::ISODate));
            for (int s = 0; s < SlotCount; ++s) {
                // Rows in the order they were stored: a web booking never took a place beyond the capacity.
                const QStringList names = namesInSlot(db, key, slotKey(s));
                for (qsizetype i = o.places; i < names.size(); ++i) {
                    breaks += names.at(i).startsWith(u"Web客"_s);
                }
            }
        }
        const int rows = db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt();
        const int numbers = db.scalar(u"SELECT COUNT(DISTINCT YNO) FROM YOYAKU"_s).toInt();
        breaks += rows - numbers;

        // The floor: the same web bookings through the db code alone, one after the other.
        Scratch floor(o.pg, u"floor"_s, o.places);
        Database floorDb(u"rush-floor"_s);
        floorDb.DB_open(floor.target);
        prepareWebBooking(floorDb);
        QElapsedTimer floorTimer;
        floorTimer.start();
        int n = 0;
        for (const Told &t : figures.told) {
            if (!t.done()) {
                continue;
            }
            OnlineBooking b;
            b.first.knm = t.name;
            b.first.kknm = u"ｳｪﾌﾞ"_s;
            b.first.ydate = t.ydate;
            b.first.ytime = t.ytime;
            b.first.bflg = 0;
            b.first.birthday = u"1980年01月01日"_s;
            b.first.tel1 = u"090-0000-%1"_s.arg(++n, 4, 10, QChar(u'0'));
            b.first.rflg = 2;
            b.first.biko = u"Web予約"_s;
            b.first.sflg = 1;
            b.first.scnt = 1;
            b.phoneDigits = QString(b.first.tel1).remove(u'-');
            b.perPhone = 1000;
            b.today = QDate::currentDate();
            b.codeHash = QByteArray(64, 'a');
            b.nonce = QByteArray::number(n).rightJustified(32, '0');
            bookOnline(floorDb, b);
        }
        const double floorSeconds = floorTimer.nsecsElapsed() / 1e9;
        const double webRate = webBooked / seconds;
        const double floorRate = n / floorSeconds;

        int told = 0;
        for (const Told &t : figures.told) {
            told += !t.done();
        }
        run.requestsPerSecond = figures.requests / seconds;
        run.cpuMsPerRequest = cpu * 1000 / double(qMax<qint64>(1, figures.requests));
        run.seconds = seconds;
        run.serverCpu = cpu;
        run.generatorCpu = generator;
        run.breaks = breaks;
        out << "rush on " << engine << " with " << workers << (workers == 1 ? " worker: " : " workers: ") << o.clients
            << " clients, " << o.days << " days x " << SlotCount << " slots x " << o.places << " places, " << seconds
            << " s, load average " << load[0] << " " << load[1] << " " << load[2] << "\n";
        out << "  requests " << figures.requests << " (" << figures.requests / seconds << "/s), errors "
            << figures.errors << "; qrb-web used " << cpu << " s of processor time, " << run.cpuMsPerRequest
            << " ms a request; the browsers and desks " << generator << " s\n";
        out << "  web bookings " << webBooked << " (" << webRate << "/s), told full " << told << ", full at confirm "
            << figures.fullAtConfirm << "\n";
        out << "  re-sent pages: " << figures.doubleTaps << " double taps, " << figures.reloads
            << " reloads; answers to a stored page that were not its done page " << notHerDonePage << "\n";
        out << "  desks booked " << desks[0].booked + desks[1].booked << ", forced " << desks[1].forced << ", refused "
            << desks[0].refused + desks[1].refused << ", errors " << desks[0].errors + desks[1].errors << "\n";
        out << "  floor (db code alone) " << floorRate << " bookings/s; web/floor " << webRate / floorRate << "\n";
        for (const auto &[page, ms] : figures.latencies) {
            const double p50 = percentile(ms, 0.5);
            const double p99 = percentile(ms, 0.99);
            run.p99[page] = p99;
            out << "  " << page.leftJustified(8) << " n=" << ms.size() << " p50 " << p50 << " ms, p99 " << p99
                << " ms, max " << percentile(ms, 1.0) << " ms\n";
            operations.append(
                QJsonObject{{u"operation"_s, u"rush %1 page (%2, %3 workers)"_s.arg(page, engine).arg(workers)},
                            {u"rows"_s, qint64(ms.size())},
                            {u"median_ms"_s, p50},
                            {u"p99_ms"_s, p99},
                            {u"max_ms"_s, percentile(ms, 1.0)},
                            {u"floor_ms"_s, QJsonValue()},
                            {u"ratio"_s, QJsonValue()}});
        }
        operations.append(QJsonObject{{u"operation"_s, u"rush web booking (%1, %2 workers)"_s.arg(engine).arg(workers)},
                                      {u"rows"_s, webBooked},
                                      {u"median_ms"_s, 1000 / webRate},
                                      {u"max_ms"_s, QJsonValue()},
                                      {u"floor_ms"_s, 1000 / floorRate},
                                      {u"ratio"_s, floorRate / webRate}});
        out << "  invariant breaks " << breaks << Qt::endl;
        summaries.append(QJsonObject{{u"engine"_s, engine},
                                     {u"workers"_s, workers},
                                     {u"clients"_s, o.clients},
                                     {u"seconds"_s, seconds},
                                     {u"load_average_1min"_s, load[0]},
                                     {u"requests_per_s"_s, run.requestsPerSecond},
                                     {u"cpu_s"_s, cpu},
                                     {u"cpu_ms_per_request"_s, run.cpuMsPerRequest},
                                     {u"generator_cpu_s"_s, generator},
                                     {u"web_bookings"_s, webBooked},
                                     {u"web_bookings_per_s"_s, webRate},
                                     {u"floor_bookings_per_s"_s, floorRate},
                                     {u"told_full"_s, told},
                                     {u"double_taps"_s, figures.doubleTaps},
                                     {u"reloads"_s, figures.reloads},
                                     {u"not_her_done_page"_s, notHerDonePage},
                                     {u"desk_bookings"_s, desks[0].booked + desks[1].booked + desks[1].forced},
                                     {u"errors"_s, figures.errors + desks[0].errors + desks[1].errors},
                                     {u"invariant_breaks"_s, breaks}});
        return breaks;
    } catch (const DbError &error) {
        out << error.message() << Qt::endl;
        return -1;
    }
}

} // namespace

int runRush(const Options &o)
{
    // One worker, then one per core (the default), each on a database of its own: the same rush twice.
    QList<int> counts{1};
    if (o.workers > 1) {
        counts << o.workers;
    }
    QList<RunSummary> runs;
    QJsonArray operations;
    QJsonArray summaries;
    int breaks = 0;
    for (const int workers : counts) {
        RunSummary run;
        const int broken = rushWith(o, workers, run, operations, summaries);
        if (broken < 0) {
            return broken;
        }
        breaks += broken;
        runs << run;
    }
    // The runs side by side, as the README shows them.
    out << "\n| WORKERS | requests/s | CPU ms/request | wall s | qrb-web CPU s | browsers' CPU s |";
    for (const auto &[page, p99] : runs.first().p99) {
        out << " p99 " << page << " ms |";
    }
    out << " breaks |\n|---|---|---|---|---|---|" << QString(u"---|"_s).repeated(int(runs.first().p99.size()))
        << "---|\n";
    for (const RunSummary &run : runs) {
        out << "| " << run.workers << " | " << qRound(run.requestsPerSecond) << " | "
            << QString::number(run.cpuMsPerRequest, 'f', 2) << " | " << QString::number(run.seconds, 'f', 1) << " | "
            << QString::number(run.serverCpu, 'f', 1) << " | " << QString::number(run.generatorCpu, 'f', 1) << " |";
        for (const auto &[page, p99] : run.p99) {
            out << " " << qRound(p99) << " |";
        }
        out << " " << run.breaks << " |\n";
    }
    if (runs.size() > 1) {
        out << "requests/s " << QString::number(runs.last().requestsPerSecond / runs.first().requestsPerSecond, 'f', 2)
            << "x with " << runs.last().workers << " workers\n";
    }
    out.flush();
    if (!o.json.isEmpty()) {
        QFile json(o.json);
        if (!json.open(QIODevice::WriteOnly) ||
            json.write(QJsonDocument(QJsonObject{{u"operations"_s, operations}, {u"rush"_s, summaries}}).toJson()) <
                0) {
            out << "cannot write " << o.json << Qt::endl;
            return -1;
        }
    }
    return breaks;
}

} // namespace qrb::rush
