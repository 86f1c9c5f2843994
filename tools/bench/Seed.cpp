#include "Seed.h"

#include "db/Database.h"
#include "db/History.h"
#include "db/Search.h"
#include "shared/Dates.h"

#include <QStringList>

#include <functional>
#include <libpq-fe.h>
#include <random>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;

namespace qrb::bench {

namespace {

const QStringList surnames = {u"佐藤"_s, u"鈴木"_s, u"高橋"_s, u"田中"_s, u"伊藤"_s, u"渡辺"_s, u"山本"_s,
                              u"中村"_s, u"小林"_s, u"加藤"_s, u"吉田"_s, u"山田"_s, u"佐々木"_s, u"山口"_s,
                              u"松本"_s, u"井上"_s, u"木村"_s, u"林"_s, u"斎藤"_s, u"清水"_s,
                              u"山崎"_s, u"森"_s, u"池田"_s, u"橋本"_s, u"阿部"_s, u"石川"_s, u"山下"_s,
                              u"中島"_s, u"石井"_s, u"小川"_s, u"前田"_s, u"岡田"_s, u"長谷川"_s, u"藤田"_s,
                              u"後藤"_s, u"近藤"_s, u"村上"_s, u"遠藤"_s, u"青木"_s, u"坂本"_s};
const QStringList surnameKana = {u"ｻﾄｳ"_s, u"ｽｽﾞｷ"_s, u"ﾀｶﾊｼ"_s, u"ﾀﾅｶ"_s, u"ｲﾄｳ"_s, u"ﾜﾀﾅﾍﾞ"_s, u"ﾔﾏﾓﾄ"_s,
                                 u"ﾅｶﾑﾗ"_s, u"ｺﾊﾞﾔｼ"_s, u"ｶﾄｳ"_s, u"ﾖｼﾀﾞ"_s, u"ﾔﾏﾀﾞ"_s, u"ｻｻｷ"_s, u"ﾔﾏｸﾞﾁ"_s,
                                 u"ﾏﾂﾓﾄ"_s, u"ｲﾉｳｴ"_s, u"ｷﾑﾗ"_s, u"ﾊﾔｼ"_s, u"ｻｲﾄｳ"_s, u"ｼﾐｽﾞ"_s,
                                 u"ﾔﾏｻﾞｷ"_s, u"ﾓﾘ"_s, u"ｲｹﾀﾞ"_s, u"ﾊｼﾓﾄ"_s, u"ｱﾍﾞ"_s, u"ｲｼｶﾜ"_s, u"ﾔﾏｼﾀ"_s,
                                 u"ﾅｶｼﾏ"_s, u"ｲｼｲ"_s, u"ｵｶﾞﾜ"_s, u"ﾏｴﾀﾞ"_s, u"ｵｶﾀﾞ"_s, u"ﾊｾｶﾞﾜ"_s, u"ﾌｼﾞﾀ"_s,
                                 u"ｺﾞﾄｳ"_s, u"ｺﾝﾄﾞｳ"_s, u"ﾑﾗｶﾐ"_s, u"ｴﾝﾄﾞｳ"_s, u"ｱｵｷ"_s, u"ｻｶﾓﾄ"_s};
const QStringList givenNames = {u"太郎"_s, u"花子"_s, u"一郎"_s, u"陽子"_s, u"健"_s, u"美咲"_s, u"翔太"_s,
                                u"さくら"_s, u"大輔"_s, u"恵"_s, u"誠"_s, u"愛"_s, u"蓮"_s, u"結衣"_s,
                                u"悠真"_s, u"陽菜"_s, u"浩"_s, u"明美"_s, u"隆"_s, u"裕子"_s, u"修"_s, u"直子"_s,
                                u"大翔"_s, u"芽依"_s};
const QStringList givenKana = {u"ﾀﾛｳ"_s, u"ﾊﾅｺ"_s, u"ｲﾁﾛｳ"_s, u"ﾖｳｺ"_s, u"ｹﾝ"_s, u"ﾐｻｷ"_s, u"ｼｮｳﾀ"_s,
                               u"ｻｸﾗ"_s, u"ﾀﾞｲｽｹ"_s, u"ﾒｸﾞﾐ"_s, u"ﾏｺﾄ"_s, u"ｱｲ"_s, u"ﾚﾝ"_s, u"ﾕｲ"_s,
                               u"ﾕｳﾏ"_s, u"ﾋﾅ"_s, u"ﾋﾛｼ"_s, u"ｱｹﾐ"_s, u"ﾀｶｼ"_s, u"ﾕｳｺ"_s, u"ｵｻﾑ"_s, u"ﾅｵｺ"_s,
                               u"ﾋﾛﾄ"_s, u"ﾒｲ"_s};

} // namespace

QString seededName(int surname, int given)
{
    return surnames.at(surname % surnames.size()) + u'　' + givenNames.at(given % givenNames.size());
}

QString seededKana(int surname)
{
    return surnameKana.at(surname % surnameKana.size());
}

namespace {

// One reservation as the seeder makes it; a Null QString is a Null field.
struct SeedRow {
    qint64 yno = 0;
    QString kno, knm, kknm, ydate, ytime;
    int bflg = 0;
    QString birthday, tel1, tel2;
    int rflg = 0, kflg = 0;
    QString kmno, biko;
    int sflg = 0, scnt = 0, cflg = 0;
};

// The same reservations for either engine, from a fixed random seed.
void generate(qint64 rows, const std::function<void(const SeedRow &)> &row)
{
    std::mt19937_64 random(20091009);
    std::vector<QString> days;
    for (QDate d = SeedFirstDay; d <= SeedLastDay; d = d.addDays(1)) {
        if (d.dayOfWeek() != 7) { // the clinic is closed on Sundays
            days.push_back(dateKey(d));
        }
    }
    std::uniform_int_distribution<size_t> dayOf(0, days.size() - 1);
    std::uniform_int_distribution<int> slotOf(0, SlotCount - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> digits(0, 9999);
    const QString today = dateKey(QDate::currentDate());
    for (qint64 i = 0; i < rows; ++i) {
        SeedRow r;
        const int s = int(random() % quint64(surnames.size()));
        const int g = int(random() % quint64(givenNames.size()));
        r.ydate = days[dayOf(random)];
        const int kind = percent(random);
        r.sflg = kind < 70 ? 1 : kind < 85 ? 2 : kind < 93 ? 3 : 4;
        r.scnt = r.sflg == 4 || (r.sflg == 2 && kind % 2 == 1) ? 2 : 1;
        r.cflg = (r.ydate < today && percent(random) < 85) ? 1 : 0;
        r.tel1 = u"090-%1-%2"_s.arg(digits(random), 4, 10, QChar(u'0')).arg(digits(random), 4, 10, QChar(u'0'));
        r.yno = i + 1;
        r.kno = QString::number(100000 + i % 400000);
        r.knm = seededName(s, g);
        r.kknm = seededKana(s) + u' ' + givenKana.at(g);
        r.ytime = slotKey(slotOf(random));
        r.bflg = 3;
        r.birthday = u"%1年%2月%3日"_s.arg(30 + percent(random) % 34)
                         .arg(twoDigits(1 + percent(random) % 12), twoDigits(1 + percent(random) % 28));
        r.tel2 = percent(random) < 30 ? u"03-1234-5678"_s : QString();
        r.rflg = 1 + percent(random) % 2;
        r.kflg = 1 + percent(random) % 2;
        r.biko = percent(random) < 5 ? u"アレルギーあり"_s : QString();
        row(r);
    }
}

const char *const SeedColumns = "YNO, KNO, KNM, KKNM, YDATE, YTIME, BFLG, BIRTHDAY, TEL1, TEL2, RFLG, KFLG, KMNO, BIKO, "
                                "SFLG, SCNT, CFLG, Category";

void seedFile(Database &db, qint64 rows)
{
    // Seeding only: a large page cache keeps the indexes' random inserts off the disk. The program's
    // own page cache is set back afterwards, so that what is timed is what the desk gets.
    const QVariant ownCache = db.scalar(u"PRAGMA cache_size"_s);
    db.scalar(u"PRAGMA cache_size = -524288"_s);
    Database::WriteTransaction transaction(db);
    db.write(u"UPDATE SETTING SET NINZU = 20"_s);
    const QString insert = u"INSERT INTO YOYAKU ("_s + QLatin1StringView(SeedColumns)
                           + u") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0)"_s;
    generate(rows, [&](const SeedRow &r) {
        db.write(insert, {r.yno, r.kno, r.knm, r.kknm, r.ydate, r.ytime, r.bflg, r.birthday, r.tel1, r.tel2, r.rflg,
                          r.kflg, r.kmno, r.biko, r.sflg, r.scnt, r.cflg});
    });
    transaction.commit();
    db.scalar(u"PRAGMA cache_size = "_s + QString::number(ownCache.toInt()));
}

// On the server the rows go in through COPY, as a clinic would load an export: a million single
// INSERTs would take the better part of an hour with every commit flushed.
void seedServer(Database &db, qint64 rows)
{
    db.write(u"UPDATE SETTING SET NINZU = 20"_s);
    PGconn *conn = PQconnectdb(db.target().postgres->connInfo().toUtf8().constData());
    const auto fail = [&](const char *doing) {
        const std::string reason = std::string(doing) + ": " + PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error(reason);
    };
    if (PQstatus(conn) != CONNECTION_OK) {
        fail("connect");
    }
    PGresult *begin = PQexec(conn, ("COPY YOYAKU (" + std::string(SeedColumns) + ") FROM STDIN").c_str());
    const bool copying = PQresultStatus(begin) == PGRES_COPY_IN;
    PQclear(begin);
    if (!copying) {
        fail("COPY");
    }
    QByteArray chunk;
    const auto field = [&](const QString &text) {
        chunk += text.isNull() ? QByteArray("\\N") : text.toUtf8();
    };
    generate(rows, [&](const SeedRow &r) {
        chunk += QByteArray::number(r.yno) + '\t';
        for (const QString *text : {&r.kno, &r.knm, &r.kknm, &r.ydate, &r.ytime}) {
            field(*text);
            chunk += '\t';
        }
        chunk += QByteArray::number(r.bflg) + '\t';
        for (const QString *text : {&r.birthday, &r.tel1, &r.tel2}) {
            field(*text);
            chunk += '\t';
        }
        chunk += QByteArray::number(r.rflg) + '\t' + QByteArray::number(r.kflg) + '\t';
        field(r.kmno);
        chunk += '\t';
        field(r.biko);
        chunk += '\t' + QByteArray::number(r.sflg) + '\t' + QByteArray::number(r.scnt) + '\t'
                 + QByteArray::number(r.cflg) + "\t0\n";
        if (chunk.size() > (1 << 20)) {
            if (PQputCopyData(conn, chunk.constData(), int(chunk.size())) != 1) {
                fail("COPY data");
            }
            chunk.clear();
        }
    });
    if (PQputCopyData(conn, chunk.constData(), int(chunk.size())) != 1 || PQputCopyEnd(conn, nullptr) != 1) {
        fail("COPY data");
    }
    PGresult *end = PQgetResult(conn);
    const bool copied = PQresultStatus(end) == PGRES_COMMAND_OK;
    PQclear(end);
    while (PGresult *rest = PQgetResult(conn)) {
        PQclear(rest);
    }
    if (!copied) {
        fail("COPY end");
    }
    PQfinish(conn);
    // What the server's autovacuum does soon after a load: statistics for the planner, and the pages
    // marked all-visible so that an index alone answers the search list.
    db.write(u"VACUUM (ANALYZE) YOYAKU, SETTING"_s);
}

} // namespace

void seed(Database &db, qint64 rows)
{
    if (db.isPostgres()) {
        seedServer(db, rows);
    } else {
        seedFile(db, rows);
    }
}

void seedHistory(Database &db, qint64 rows)
{
    const bool file = !db.isPostgres();
    const QVariant ownCache = file ? db.scalar(u"PRAGMA cache_size"_s) : QVariant();
    if (file) {
        db.scalar(u"PRAGMA cache_size = -524288"_s);
    }
    const qint64 reservations = db.scalar(u"SELECT MAX(YNO) FROM YOYAKU"_s).toLongLong();
    const qint64 span = SeedFirstDay.daysTo(SeedLastDay) * 86400;
    Database::WriteTransaction transaction(db);
    for (qint64 i = 0; i < rows; ++i) {
        const int yno = int(1 + i % std::max<qint64>(reservations, 1));
        const std::optional<Reservation> r = reservationByNumber(db, yno);
        HistoryEntry e;
        e.when = QDateTime(SeedFirstDay, QTime(8, 0)).addSecs(span * i / std::max<qint64>(rows, 1)).toString(
            u"yyyy/MM/dd HH:mm:ss"_s);
        e.where = u"受付%1 clerk"_s.arg(1 + i % 3);
        e.kind = HistoryKind::Registered;
        if (r) {
            e.yno = r->yno;
            e.kno = r->kno;
            e.knm = r->knm;
            e.ydate = r->ydate;
            e.ytime = r->ytime;
            e.after = u"{\"KNO\":\"%1\",\"KNM\":\"%2\",\"YDATE\":\"%3\",\"YTIME\":\"%4\",\"TEL1\":\"%5\"}"_s.arg(
                r->kno, r->knm, r->ydate, r->ytime, r->tel1);
        }
        db.write(historyInsertStatement(), historyValues(e));
    }
    transaction.commit();
    if (file) {
        db.scalar(u"PRAGMA cache_size = "_s + QString::number(ownCache.toInt()));
    }
}

} // namespace qrb::bench
