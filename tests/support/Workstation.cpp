#include "Workstation.h"

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

// One report line, on its way before the next step begins.
void report(const QStringList &fields)
{
    QStringList flat = fields;
    for (QString &field : flat) {
        field.replace(u'\t', u' ').replace(u"\r\n"_s, u" / "_s).replace(u'\n', u" / "_s);
    }
    const QByteArray line = flat.join(u'\t').toUtf8() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

class Job
{
public:
    explicit Job(const QStringList &arguments)
    {
        for (const QString &argument : arguments) {
            const qsizetype equals = argument.indexOf(u'=');
            if (equals > 0) {
                m_values.insert(argument.left(equals), argument.mid(equals + 1));
            }
        }
    }
    QString text(const QString &key) const
    {
        if (!m_values.contains(key)) {
            throw DbError(u"workstation: missing %1="_s.arg(key));
        }
        return m_values.value(key);
    }
    int number(const QString &key) const { return text(key).toInt(); }
    bool has(const QString &key) const { return m_values.contains(key); }

    DbTarget target() const
    {
        return has(u"pg"_s) ? DbTarget::server(PgServer::fromConnInfo(text(u"pg"_s)))
                            : DbTarget::sqlite(text(u"sqlite"_s));
    }

private:
    QHash<QString, QString> m_values;
};

// Everything a receptionist types for a patient, numbered so that each booking can be told apart.
BookingRecord patient(const QString &name, int number, const QString &date, const QString &hour, DoseCodes codes)
{
    BookingRecord r;
    r.kno = QString::number(100000 + number);
    r.knm = name;
    r.kknm = u"ﾃｽﾄ"_s;
    r.ydate = date;
    r.ytime = hour;
    r.bflg = 3;
    r.birthday = u"50年01月01日"_s;
    r.tel1 = u"03-1234-5678"_s;
    r.rflg = 1;
    r.kflg = 1;
    r.sflg = codes.sflg;
    r.scnt = codes.scnt;
    return r;
}

QDate dayOf(const QString &key)
{
    return QDate::fromString(key, u"yyyy/MM/dd"_s);
}

// What the entry screen does for one slot when the clerk presses 登録: it reads the slot's bookings and
// places for the over-booking question (which the clerk here always confirms), then books.
StoredBooking bookAsTheEntryScreen(Database &db, const BookingRecord &record)
{
    YOYAKU_cnt(db, record.ydate, record.ytime);
    placesInSlot(db, dayOf(record.ydate), record.ytime);
    return registerReservation(db, record);
}

QString ms(const QElapsedTimer &timer)
{
    return QString::number(timer.elapsed());
}

QString nameOf(const QString &prefix, int i)
{
    return prefix + u'-' + u"%1"_s.arg(i, 4, 10, QChar(u'0'));
}

void registerJob(Database &db, const Job &job)
{
    const QString prefix = job.text(u"prefix"_s);
    const QString date = job.text(u"date"_s);
    const QString hour = job.text(u"hour"_s);
    const int count = job.number(u"count"_s);
    for (int i = 0; i < count; ++i) {
        const QString name = nameOf(prefix, i);
        QElapsedTimer took;
        took.start();
        try {
            const StoredBooking stored = bookAsTheEntryScreen(db, patient(name, i, date, hour, doseCodesOfType(0)));
            report({u"ok"_s, name, QString::number(stored.yno), stored.added ? u"1"_s : u"0"_s, ms(took)});
        } catch (const DbError &error) {
            report({u"fail"_s, name, ms(took), error.message()});
        }
    }
}

void pairsJob(Database &db, const Job &job)
{
    const QString prefix = job.text(u"prefix"_s);
    const int count = job.number(u"count"_s);
    for (int i = 0; i < count; ++i) {
        const QString name = nameOf(prefix, i);
        // Each dose its own transaction, as on the entry screen: a failed second dose leaves the first.
        QElapsedTimer took;
        took.start();
        int first = 0;
        try {
            first = bookAsTheEntryScreen(db, patient(name, i, job.text(u"date"_s), job.text(u"hour"_s),
                                                     doseCodesOfType(1)))
                        .yno;
        } catch (const DbError &error) {
            report({u"fail1"_s, name, ms(took), error.message()});
            continue;
        }
        try {
            const int second =
                bookAsTheEntryScreen(db, patient(name, i, job.text(u"date2"_s), job.text(u"hour2"_s), SecondDoseCodes))
                    .yno;
            report({u"ok"_s, name, QString::number(first), QString::number(second), ms(took)});
        } catch (const DbError &error) {
            report({u"fail2"_s, name, QString::number(first), ms(took), error.message()});
        }
    }
}

void visitsJob(Database &db, const Job &job)
{
    const QString date = job.text(u"date"_s);
    QRandomGenerator random(static_cast<quint32>(job.number(u"seed"_s)));
    for (int move = 0; move < job.number(u"moves"_s); ++move) {
        // The refresh the visit record makes before the clerk picks a line of one list or the other.
        QList<VisitEntry> waiting;
        QList<VisitEntry> came;
        try {
            waiting = reservationsOfDayByVisit(db, date, 0);
            came = reservationsOfDayByVisit(db, date, 1);
        } catch (const DbError &error) {
            report({u"fail"_s, u"0"_s, u"-"_s, error.message()});
            continue;
        }
        const qsizetype total = waiting.size() + came.size();
        if (total == 0) {
            continue;
        }
        const qsizetype pick = static_cast<qsizetype>(random.bounded(static_cast<quint32>(total)));
        const bool arriving = pick < waiting.size();
        const VisitEntry entry = arriving ? waiting.at(pick) : came.at(pick - waiting.size());
        const int cflg = arriving ? 1 : 0;
        try {
            if (setVisitFlag(db, entry, date, cflg)) {
                report({u"set"_s, QString::number(entry.yno), QString::number(cflg)});
            } else {
                report({u"gone"_s, QString::number(entry.yno)});
            }
        } catch (const DbError &error) {
            report({u"fail"_s, QString::number(entry.yno), QString::number(cflg), error.message()});
        }
    }
}

void statusJob(Database &db, const Job &job)
{
    const QDate day = dayOf(job.text(u"date"_s));
    const QString until = job.text(u"until"_s);
    qint64 seen = 0;
    while (!QFileInfo::exists(until)) {
        try {
            const DayCounts counts = dayCounts(db, day);
            const QList<SlotName> waiting = namesOfDay(db, day, false);
            const QList<SlotName> all = namesOfDay(db, day, true);
            // Bookings are only added meanwhile, so each read finds at least what the one before it
            // did; and the counts are one statement, so they add up.
            if (counts.reserved != counts.visited + counts.notVisited) {
                report({u"bad"_s, u"counts do not add up"_s, QString::number(counts.reserved),
                        QString::number(counts.visited), QString::number(counts.notVisited)});
            }
            if (counts.reserved < seen || all.size() < counts.reserved) {
                report({u"bad"_s, u"bookings went missing"_s, QString::number(seen), QString::number(counts.reserved),
                        QString::number(all.size())});
            }
            if (waiting.size() > all.size()) {
                report({u"bad"_s, u"more waiting than booked"_s, QString::number(waiting.size()),
                        QString::number(all.size())});
            }
            seen = counts.reserved;
            report({u"read"_s, QString::number(counts.reserved), QString::number(counts.visited),
                    QString::number(counts.notVisited)});
        } catch (const DbError &error) {
            report({u"fail"_s, error.message()});
        }
    }
}

void settingsJob(Database &db, const Job &job)
{
    for (int save = 1; save <= job.number(u"count"_s); ++save) {
        CapacityTable table;
        for (int weekday = 1; weekday <= 7; ++weekday) {
            for (int slot = 0; slot < SlotCount; ++slot) {
                table.set_value(weekday, slotKey(slot), settingsCell(save, weekday, slot));
            }
        }
        try {
            saveCapacities(db, table);
            report({u"saved"_s, QString::number(save)});
        } catch (const DbError &error) {
            report({u"fail"_s, QString::number(save), error.message()});
        }
    }
}

// How long a writer waits for another's lock, shortened so that the failures a busy clinic could meet
// (a workstation kept waiting too long) happen within a test.
void shortenPatience(Database &db, int ms)
{
    if (db.isPostgres()) {
        db.write(u"SET lock_timeout = '%1ms'"_s.arg(ms));
    } else {
        db.scalar(u"PRAGMA busy_timeout = %1"_s.arg(ms));
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
    const QString kind = arguments.at(2);
    const Job job(arguments.mid(3));
    Database db(u"workstation"_s);
    try {
        db.DB_open(job.target());
        if (job.has(u"patience"_s)) {
            shortenPatience(db, job.number(u"patience"_s));
        }
    } catch (const DbError &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 2;
    }
    report({u"ready"_s});
    char line[16] = {};
    if (std::fgets(line, sizeof line, stdin) == nullptr || std::strncmp(line, "go", 2) != 0) {
        return 3;
    }
    const QHash<QString, void (*)(Database &, const Job &)> jobs = {
        {u"register"_s, registerJob}, {u"pairs"_s, pairsJob},       {u"visits"_s, visitsJob},
        {u"status"_s, statusJob},     {u"settings"_s, settingsJob},
    };
    const auto run = jobs.value(kind);
    if (run == nullptr) {
        std::fprintf(stderr, "workstation: no job %s\n", qPrintable(kind));
        return 2;
    }
    try {
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

Workstation::Workstation(const DbTarget &target, const QString &job, const QStringList &settings)
    : m_process(std::make_unique<QProcess>())
{
    QStringList arguments = {QString::fromLatin1(WorkstationSwitch), job};
    arguments << (target.isPostgres() ? u"pg="_s + target.postgres->connInfo() : u"sqlite="_s + target.sqlitePath);
    arguments << settings;
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(QCoreApplication::applicationFilePath(), arguments);
}

Workstation::~Workstation()
{
    if (isRunning()) {
        kill();
    }
}

bool Workstation::isReady()
{
    return !lines(u"ready"_s).isEmpty();
}

void Workstation::go()
{
    m_process->write("go\n");
    m_process->closeWriteChannel();
}

bool Workstation::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

bool Workstation::succeeded() const
{
    return !isRunning() && m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

void Workstation::kill()
{
    m_process->kill();
    m_process->waitForFinished(10000);
}

void Workstation::readAvailable()
{
    m_pending += m_process->readAllStandardOutput();
    qsizetype end = 0;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_pending.left(end)).split(u'\t'));
        m_pending.remove(0, end + 1);
    }
}

const QList<QStringList> &Workstation::lines()
{
    readAvailable();
    return m_lines;
}

QList<QStringList> Workstation::lines(const QString &kind)
{
    QList<QStringList> found;
    for (const QStringList &line : lines()) {
        if (line.value(0) == kind) {
            found.append(line);
        }
    }
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
    const auto allReady = [&] {
        return std::all_of(all.begin(), all.end(), [](const auto &w) { return w->isReady(); });
    };
    while (!allReady()) {
        if (waited.elapsed() > ms
            || std::any_of(all.begin(), all.end(), [](const auto &w) { return !w->isRunning(); })) {
            return false;
        }
        QTest::qWait(5);
    }
    for (const auto &w : all) {
        w->go();
    }
    return true;
}

bool waitAllFinished(const Workstations &all, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (std::any_of(all.begin(), all.end(), [](const auto &w) { return w->isRunning(); })) {
        if (waited.elapsed() > ms) {
            return false;
        }
        QTest::qWait(10);
    }
    for (const auto &w : all) {
        w->lines();
    }
    return true;
}

} // namespace qrb::test
