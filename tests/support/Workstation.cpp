#include "Workstation.h"
#include "Workspace.h"

#include "db/Booking.h"
#include "db/Capacities.h"
#include "db/DayStatus.h"
#include "db/Reservation.h"
#include "db/Visits.h"
#include "db/WebBooking.h"
#include "screens/entry/EntryRules.h"
#include "shared/Dates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <cstdio>
#include <cstring>
#include <tuple>

using namespace Qt::StringLiterals;

namespace qrb::test {

namespace {

constexpr const char *WorkstationSwitch = "--workstation";

// The key=value settings of the job.
using Job = QHash<QString, QString>;

// One report line, on its way before the next step begins.
void report(QStringList fields)
{
    for (QString &field : fields) {
        field.replace(u'\t', u' ').replace(u"\r\n"_s, u" / "_s).replace(u'\n', u" / "_s);
    }
    const QByteArray line = fields.join(u'\t').toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

const auto number = [](qint64 n) { return QString::number(n); };
const auto dayOf = [](const QString &key) { return QDate::fromString(key, u"yyyy/MM/dd"_s); };

// What the entry screen does for one slot when the clerk presses 登録: it reads the slot's bookings and
// places, books the patient (numbered so that each booking can be told apart) unless the slot has
// filled meanwhile, and then asks the over-booking question, answered with `answer` ("ok" unless told
// otherwise): OK books anyway, Cancel leaves it. Asked questions are reported: asked NAME. What is
// stored joins `stored` (whose first field is the patient's name) as YNO ADDED.
bool bookAsTheEntryScreen(Database &db, const Job &job, int i, const QString &date, const QString &hour,
                          DoseCodes codes, QStringList &stored)
{
    YOYAKU_cnt(db, date, hour);
    placesInSlot(db, dayOf(date), hour);
    BookingRecord r = bookingOf(stored.first(), date, hour, number(100000 + i));
    r.tel1 = u"03-1234-5678"_s;
    std::tie(r.sflg, r.scnt) = std::tie(codes.sflg, codes.scnt);
    StoredBooking b = registerReservation(db, r, WhenFull::Refuse);
    if (b.slotFull) {
        report({u"asked"_s, r.knm});
        if (job.value(u"answer"_s, u"ok"_s) != u"ok"_s) {
            return false;
        }
        b = registerReservation(db, r, WhenFull::Overbook);
    }
    stored << number(b.yno) << (b.added ? u"1"_s : u"0"_s);
    return true;
}

// What qrb-web does for a patient's booking of one slot: ok NAME YNO 1, or full when the slot has no place.
bool bookOnTheWeb(Database &db, int i, const QString &date, const QString &hour, QStringList &stored)
{
    OnlineBooking b;
    b.first = bookingOf(stored.first(), date, hour);
    b.first.tel1 = u"090-0000-%1"_s.arg(i, 4, 10, QChar(u'0'));
    b.phoneDigits = QString(b.first.tel1).remove(u'-');
    b.today = dayOf(date);
    b.codeHash = QByteArray(64, 'a');
    b.nonce = (stored.first() + u'-' + QString::number(i)).toUtf8().toHex();
    const OnlineResult result = bookOnline(db, b);
    if (result.outcome != OnlineOutcome::Booked) {
        return false;
    }
    stored << number(result.yno) << u"1"_s;
    return true;
}

void registerJob(Database &db, const Job &job)
{
    // spread: booking i goes to slot i % 10 of the (i / 10)-th day from date, instead of date and hour.
    const bool pairs = job.contains(u"date2"_s), spread = job.contains(u"spread"_s);
    for (int i = 0; i < job.value(u"count"_s).toInt(); ++i) {
        const QDate day = dayOf(job.value(u"date"_s)).addDays(spread ? i / SlotCount : 0);
        const QString hour = spread ? slotKey(i % SlotCount) : job.value(u"hour"_s);
        QStringList stored{patientName(job.value(u"prefix"_s), i)};
        QElapsedTimer took;
        took.start();
        try {
            // The second dose of a pair is a transaction of its own, booked once the first is.
            const bool web = job.value(u"via"_s) == u"web"_s;
            const bool booked =
                web ? bookOnTheWeb(db, i, dateKey(day), hour, stored)
                    : bookAsTheEntryScreen(db, job, i, dateKey(day), hour, doseCodesOfType(pairs ? 1 : 0), stored) &&
                          (!pairs || bookAsTheEntryScreen(db, job, i, job.value(u"date2"_s), job.value(u"hour2"_s),
                                                          SecondDoseCodes, stored));
            // Cancelled at once, the newest reservation of all as often as not: the patient's own cancel
            // page, or 予約取消 at the desk.
            if (booked && job.value(u"then"_s) == u"cancel"_s) {
                const bool cancelled = web ? cancelOnline(db, stored.at(1).toInt()) > 0
                                           : cancelReservation(db, dateKey(day), hour, stored.first()).has_value();
                if (!cancelled) {
                    throw DbError(u"取り消す予約がありません"_s);
                }
            }
            report(QStringList{booked ? u"ok"_s : u"full"_s} + stored + QStringList{number(took.elapsed())});
        } catch (const DbError &error) {
            report(QStringList{u"fail"_s} + stored + QStringList{number(took.elapsed()), error.message()});
        }
    }
}

void visitsJob(Database &db, const Job &job)
{
    const QString date = job.value(u"date"_s);
    QRandomGenerator random(job.value(u"seed"_s).toUInt());
    for (int move = 0; move < job.value(u"moves"_s).toInt(); ++move) {
        // The refresh the visit record makes before the clerk picks a line of one list (not come yet:
        // marked come) or the other (come: cleared).
        try {
            const QList<VisitEntry> waiting = reservationsOfDayByVisit(db, date, 0);
            const QList<VisitEntry> all = waiting + reservationsOfDayByVisit(db, date, 1);
            const auto pick = static_cast<qsizetype>(random.bounded(static_cast<quint32>(all.size())));
            const VisitEntry entry = all.value(pick); // none on a day without reservations: reported gone
            const int cflg = pick < waiting.size() ? 1 : 0;
            report(setVisitFlag(db, entry, date, cflg) ? QStringList{u"set"_s, number(entry.yno), number(cflg)}
                                                       : QStringList{u"gone"_s, number(entry.yno)});
        } catch (const DbError &error) {
            report({u"fail"_s, error.message()});
        }
    }
}

void statusJob(Database &db, const Job &job)
{
    const QDate day = dayOf(job.value(u"date"_s));
    qint64 seen = 0;
    while (!QFileInfo::exists(job.value(u"until"_s))) {
        try {
            const DayCounts counts = dayCounts(db, day);
            const qsizetype waiting = namesOfDay(db, day, false).size();
            const qsizetype all = namesOfDay(db, day, true).size();
            const QStringList read{number(counts.reserved), number(counts.visited), number(counts.notVisited)};
            // Bookings are only added meanwhile, so each read finds at least what the one before it did;
            // the counts are one statement, so they add up; and no more wait than are booked.
            if (counts.reserved != counts.visited + counts.notVisited || counts.reserved < seen ||
                all < counts.reserved || waiting > all) {
                report(QStringList{u"bad"_s, number(seen), number(all), number(waiting)} + read);
            }
            seen = counts.reserved;
            report(QStringList{u"read"_s} + read);
        } catch (const DbError &error) {
            report({u"fail"_s, error.message()});
        }
    }
}

void settingsJob(Database &db, const Job &job)
{
    for (int save = 1; save <= job.value(u"count"_s).toInt(); ++save) {
        CapacityTable table;
        for (int cell = 0; cell < 7 * SlotCount; ++cell) {
            table.set_value(1 + cell / SlotCount, slotKey(cell % SlotCount),
                            settingsCell(save, 1 + cell / SlotCount, cell % SlotCount));
        }
        try {
            saveCapacities(db, table);
            report({u"saved"_s, number(save)});
        } catch (const DbError &error) {
            report({u"fail"_s, number(save), error.message()});
        }
    }
}

} // namespace

bool isWorkstationCall(int argc, char **argv)
{
    return argc >= 3 && std::strcmp(argv[1], WorkstationSwitch) == 0;
}

int runWorkstation(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Job job;
    for (const QString &argument : app.arguments().mid(3)) {
        job.insert(argument.section(u'=', 0, 0), argument.section(u'=', 1));
    }
    const QHash<QString, void (*)(Database &, const Job &)> jobs = {
        {u"register"_s, registerJob}, {u"visits"_s, visitsJob}, {u"status"_s, statusJob}, {u"settings"_s, settingsJob}};
    const auto run = jobs.value(app.arguments().at(2));
    Database db(u"workstation"_s);
    try {
        db.DB_open(job.contains(u"pg"_s) ? DbTarget::server(PgServer::fromConnInfo(job.value(u"pg"_s)))
                                         : DbTarget::sqlite(job.value(u"sqlite"_s)));
        // How long a writer waits for another's lock, shortened so that the failures a busy clinic could
        // meet (a workstation kept waiting too long) happen within a test.
        if (const int patience = job.value(u"patience"_s).toInt(); patience > 0) {
            db.run(db.isPostgres() ? u"SET lock_timeout = '%1ms'"_s.arg(patience)
                                   : u"PRAGMA busy_timeout = %1"_s.arg(patience))
                .finish();
        }
        report({u"ready"_s});
        char line[16] = {};
        if (run == nullptr || std::fgets(line, sizeof line, stdin) == nullptr || std::strncmp(line, "go", 2) != 0) {
            return 3;
        }
        run(db, job);
    } catch (const DbError &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 2;
    }
    report({u"done"_s});
    return 0;
}

int settingsCell(int save, int weekday, int slot)
{
    return save * 100 + weekday * 10 + slot;
}

QString patientName(const QString &prefix, qsizetype i)
{
    return prefix + u'-' + u"%1"_s.arg(i, 4, 10, QChar(u'0'));
}

Workstation::Workstation(const DbTarget &target, const QString &job, const QStringList &settings)
{
    const QString database =
        target.isPostgres() ? u"pg="_s + target.postgres->connInfo() : u"sqlite="_s + target.sqlitePath;
    m_process->start(QCoreApplication::applicationFilePath(),
                     QStringList{QString::fromLatin1(WorkstationSwitch), job, database} + settings);
}

QList<QStringList> Workstation::lines(const QString &kind)
{
    while (m_process->canReadLine()) {
        m_lines.append(QString::fromUtf8(m_process->readLine()).chopped(1).split(u'\t'));
    }
    QList<QStringList> found;
    std::copy_if(m_lines.cbegin(), m_lines.cend(), std::back_inserter(found),
                 [&](const QStringList &line) { return kind.isEmpty() || line.value(0) == kind; });
    return found;
}

QString Workstation::diagnosis()
{
    const QProcess &p = *m_process;
    return u"state %1, exit status %2, exit code %3, stderr: "_s.arg(p.state()).arg(p.exitStatus()).arg(p.exitCode()) +
           QString::fromUtf8(m_process->readAllStandardError());
}

bool startTogether(const Workstations &all, int ms)
{
    const auto allReady = [&] {
        return std::all_of(all.begin(), all.end(), [](const auto &w) { return !w->lines(u"ready"_s).isEmpty(); });
    };
    // One that ended before it said it was ready never will.
    const auto oneEnded = [&] {
        return std::any_of(all.begin(), all.end(), [](const auto &w) { return !w->isRunning(); });
    };
    if (!QTest::qWaitFor([&] { return allReady() || oneEnded(); }, ms) || !allReady()) {
        return false;
    }
    for (const auto &w : all) {
        w->m_process->write("go\n");
        w->m_process->closeWriteChannel();
    }
    return true;
}

bool allFinished(const Workstations &all)
{
    return std::none_of(all.begin(), all.end(), [](const auto &w) { return w->isRunning(); });
}

} // namespace qrb::test
