#include "Workstation.h"
#include "Workspace.h"

#include "db/Booking.h"
#include "db/Capacities.h"
#include "db/DayStatus.h"
#include "db/Reservation.h"
#include "db/Visits.h"
#include "screens/entry/EntryRules.h"
#include "shared/Dates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <cstdio>
#include <cstring>

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
// otherwise): OK books anyway, Cancel leaves it. Asked questions are reported: asked NAME.
std::optional<StoredBooking> bookAsTheEntryScreen(Database &db, const Job &job, const QString &name, int i,
                                                  const QString &date, const QString &hour, DoseCodes codes)
{
    YOYAKU_cnt(db, date, hour);
    placesInSlot(db, dayOf(date), hour);
    BookingRecord r = bookingOf(name, date, hour, number(100000 + i));
    r.tel1 = u"03-1234-5678"_s;
    r.sflg = codes.sflg;
    r.scnt = codes.scnt;
    const StoredBooking first = registerReservation(db, r, WhenFull::Refuse);
    if (!first.slotFull) {
        return first;
    }
    report({u"asked"_s, name});
    if (job.value(u"answer"_s, u"ok"_s) != u"ok"_s) {
        return std::nullopt;
    }
    return registerReservation(db, r, WhenFull::Overbook);
}

void registerJob(Database &db, const Job &job)
{
    const bool pairs = job.contains(u"date2"_s);
    // spread: booking i goes to slot i % 10 of the (i / 10)-th day from date, instead of date and hour.
    const bool spread = job.contains(u"spread"_s);
    for (int i = 0; i < job.value(u"count"_s).toInt(); ++i) {
        const QString name = patientName(job.value(u"prefix"_s), i);
        QStringList stored{name};
        QElapsedTimer took;
        took.start();
        try {
            bool booked = true;
            const auto book = [&](const QString &date, const QString &hour, DoseCodes codes) {
                const auto b = bookAsTheEntryScreen(db, job, name, i, date, hour, codes);
                booked = booked && b.has_value();
                if (b) {
                    stored << number(b->yno) << (b->added ? u"1"_s : u"0"_s);
                }
            };
            if (spread) {
                book(dayOf(job.value(u"date"_s)).addDays(i / SlotCount).toString(u"yyyy/MM/dd"_s),
                     slotKey(i % SlotCount), doseCodesOfType(0));
            } else {
                book(job.value(u"date"_s), job.value(u"hour"_s), doseCodesOfType(pairs ? 1 : 0));
            }
            if (pairs && booked) {
                book(job.value(u"date2"_s), job.value(u"hour2"_s), SecondDoseCodes);
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
        VisitEntry entry;
        int cflg = 0;
        try {
            const QList<VisitEntry> waiting = reservationsOfDayByVisit(db, date, 0);
            const QList<VisitEntry> all = waiting + reservationsOfDayByVisit(db, date, 1);
            if (all.isEmpty()) {
                continue;
            }
            const auto pick = static_cast<qsizetype>(random.bounded(static_cast<quint32>(all.size())));
            entry = all.at(pick);
            cflg = pick < waiting.size() ? 1 : 0;
            report(setVisitFlag(db, entry, date, cflg) ? QStringList{u"set"_s, number(entry.yno), number(cflg)}
                                                       : QStringList{u"gone"_s, number(entry.yno)});
        } catch (const DbError &error) {
            report({u"fail"_s, number(entry.yno), number(cflg), error.message()});
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
    const QStringList arguments = app.arguments();
    Job job;
    for (const QString &argument : arguments.mid(3)) {
        job.insert(argument.section(u'=', 0, 0), argument.section(u'=', 1));
    }
    const QHash<QString, void (*)(Database &, const Job &)> jobs = {
        {u"register"_s, registerJob}, {u"visits"_s, visitsJob}, {u"status"_s, statusJob}, {u"settings"_s, settingsJob}};
    const auto run = jobs.value(arguments.at(2));
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
    : m_process(std::make_unique<QProcess>())
{
    const QString database =
        target.isPostgres() ? u"pg="_s + target.postgres->connInfo() : u"sqlite="_s + target.sqlitePath;
    m_process->start(QCoreApplication::applicationFilePath(),
                     QStringList{QString::fromLatin1(WorkstationSwitch), job, database} + settings);
}

QList<QStringList> Workstation::lines(const QString &kind)
{
    m_pending += m_process->readAllStandardOutput();
    for (qsizetype end = 0; (end = m_pending.indexOf('\n')) >= 0; m_pending.remove(0, end + 1)) {
        m_lines.append(QString::fromUtf8(m_pending.left(end)).split(u'\t'));
    }
    QList<QStringList> found;
    std::copy_if(m_lines.cbegin(), m_lines.cend(), std::back_inserter(found),
                 [&](const QStringList &line) { return kind.isEmpty() || line.value(0) == kind; });
    return found;
}

QString Workstation::diagnosis()
{
    return u"state %1, exit status %2, exit code %3, stderr: %4"_s.arg(int(m_process->state()))
        .arg(int(m_process->exitStatus()))
        .arg(m_process->exitCode())
        .arg(QString::fromUtf8(m_process->readAllStandardError()));
}

bool startTogether(const Workstations &all, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!std::all_of(all.begin(), all.end(), [](const auto &w) { return !w->lines(u"ready"_s).isEmpty(); })) {
        if (waited.elapsed() > ms ||
            std::any_of(all.begin(), all.end(), [](const auto &w) { return !w->isRunning(); })) {
            return false;
        }
        QTest::qWait(5);
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
