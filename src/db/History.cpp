#include "History.h"

#include "Capacities.h"
#include "Database.h"
#include "Search.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSysInfo>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

QJsonValue jsonText(const QString &text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

QJsonValue jsonCode(std::optional<int> code)
{
    return code ? QJsonValue(*code) : QJsonValue();
}

QString json(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// Every field of the reservation under its column name, Null kept apart from empty.
QString reservationJson(const Reservation &r)
{
    return json({{u"YNO"_s, r.yno},
                 {u"KNO"_s, jsonText(r.kno)},
                 {u"KNM"_s, jsonText(r.knm)},
                 {u"KKNM"_s, jsonText(r.kknm)},
                 {u"YDATE"_s, jsonText(r.ydate)},
                 {u"YTIME"_s, jsonText(r.ytime)},
                 {u"BFLG"_s, jsonCode(r.bflg)},
                 {u"BIRTHDAY"_s, jsonText(r.birthday)},
                 {u"TEL1"_s, jsonText(r.tel1)},
                 {u"TEL2"_s, jsonText(r.tel2)},
                 {u"RFLG"_s, jsonCode(r.rflg)},
                 {u"KFLG"_s, jsonCode(r.kflg)},
                 {u"KMNO"_s, jsonText(r.kmno)},
                 {u"BIKO"_s, jsonText(r.biko)},
                 {u"SFLG"_s, jsonCode(r.sflg)},
                 {u"SCNT"_s, jsonCode(r.scnt)},
                 {u"CFLG"_s, jsonCode(r.cflg)},
                 {u"Category"_s, jsonCode(r.category)}});
}

HistoryEntry stamped(const QString &where, HistoryKind kind)
{
    HistoryEntry entry;
    entry.when = QDateTime::currentDateTime().toString(u"yyyy/MM/dd HH:mm:ss"_s);
    entry.where = where;
    entry.kind = kind;
    return entry;
}

void insert(Database &db, const HistoryEntry &entry)
{
    const QVariantList v = historyValues(entry);
    db.write(historyInsertStatement(),
             {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12]});
}

QVariant nullableInt(std::optional<int> value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<int>());
}

std::optional<int> optionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<int>(value.toInt());
}

QString text(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

} // namespace

QString historyKindName(HistoryKind kind)
{
    switch (kind) {
    case HistoryKind::Registered:
        return u"登録"_s;
    case HistoryKind::Overwritten:
        return u"上書き"_s;
    case HistoryKind::SecondDose:
        return u"2回目登録"_s;
    case HistoryKind::Cancelled:
        return u"取消"_s;
    case HistoryKind::Arrived:
        return u"来院"_s;
    case HistoryKind::NotArrived:
        return u"来院取消"_s;
    case HistoryKind::CapacitiesSaved:
        return u"人数設定"_s;
    case HistoryKind::AllDeleted:
        return u"全件削除"_s;
    case HistoryKind::PeriodDeleted:
        return u"期間削除"_s;
    case HistoryKind::Compacted:
        return u"最適化"_s;
    case HistoryKind::Restored:
        return u"復元"_s;
    }
    return u"不明(%1)"_s.arg(int(kind));
}

void recordReservationChange(Database &db, HistoryKind kind, const std::optional<Reservation> &before,
                             const std::optional<Reservation> &after)
{
    const Reservation &r = after ? *after : *before;
    HistoryEntry entry = stamped(db.actor(), kind);
    entry.yno = r.yno;
    entry.kno = r.kno;
    entry.knm = r.knm;
    entry.ydate = r.ydate;
    entry.ytime = r.ytime;
    entry.before = before ? reservationJson(*before) : QString();
    entry.after = after ? reservationJson(*after) : QString();
    insert(db, entry);
}

void recordCapacitiesSaved(Database &db, const CapacityTable &before, const CapacityTable &after)
{
    QJsonObject was;
    QJsonObject now;
    after.forEach([&](int weekday, const QString &slot, int places) {
        const int old = before.get_value(weekday, slot);
        if (old != places) {
            const QString cell = QString::number(weekday) + u'-' + slot;
            was.insert(cell, old);
            now.insert(cell, places);
        }
    });
    HistoryEntry entry = stamped(db.actor(), HistoryKind::CapacitiesSaved);
    entry.before = json(was);
    entry.after = json(now);
    insert(db, entry);
}

void recordDeletion(Database &db, HistoryKind kind, int count, const QString &first, const QString &last)
{
    HistoryEntry entry = stamped(db.actor(), kind);
    entry.count = count;
    entry.first = first;
    entry.last = last;
    insert(db, entry);
}

void recordRestored(Database &db, const QString &source, int count)
{
    HistoryEntry entry = stamped(db.actor(), HistoryKind::Restored);
    entry.count = count;
    entry.after = json({{u"SOURCE"_s, source}});
    insert(db, entry);
}

HistoryEntry compactionEntry(const QString &where)
{
    return stamped(where, HistoryKind::Compacted);
}

QString historyInsertStatement()
{
    return u"INSERT INTO RIREKI (HWHEN, HWHERE, HWHAT, YNO, KNO, KNM, YDATE, YTIME, HCOUNT, HFIRST, HLAST, "
           "HBEFORE, HAFTER) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s;
}

QVariantList historyValues(const HistoryEntry &e)
{
    return {e.when,  e.where, int(e.kind), nullableInt(e.yno), e.kno,   e.knm,   e.ydate,
            e.ytime, nullableInt(e.count), e.first,            e.last,  e.before, e.after};
}

QString workstationName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        user = qEnvironmentVariable("USERNAME");
    }
    const QString host = QSysInfo::machineHostName();
    return user.isEmpty() ? host : host + u' ' + user;
}

QList<HistoryEntry> historyOf(Database &db, HistoryKey key, const QString &value)
{
    QString condition;
    QVariant first = value;
    QVariant second;
    switch (key) {
    case HistoryKey::Day:
        condition = u"HWHEN >= ? AND HWHEN <= ?"_s;
        first = QString(value + u" 00:00:00"_s);
        second = QString(value + u" 23:59:59"_s);
        break;
    case HistoryKey::ReservationNumber: {
        bool ok = false;
        first = value.trimmed().toInt(&ok);
        if (!ok) {
            return {};
        }
        condition = u"YNO = ?"_s;
        break;
    }
    case HistoryKey::PatientNumber:
        condition = db.equalsIgnoringCase(u"KNO"_s);
        break;
    case HistoryKey::Name:
        condition = db.likeIgnoringCase(u"KNM"_s);
        first = QString(likePattern(value) + u'%');
        break;
    }
    const QString sql = u"SELECT HNO, HWHEN, HWHERE, HWHAT, YNO, KNO, KNM, YDATE, YTIME, HCOUNT, HFIRST, HLAST, "
                        "HBEFORE, HAFTER FROM RIREKI WHERE "_s
                        + condition + u" ORDER BY HNO DESC"_s;
    QList<HistoryEntry> entries;
    const auto read = [&](const QSqlQuery &q) {
        HistoryEntry e;
        e.hno = q.value(0).toLongLong();
        e.when = text(q.value(1));
        e.where = text(q.value(2));
        e.kind = HistoryKind(q.value(3).toInt());
        e.yno = optionalInt(q.value(4));
        e.kno = text(q.value(5));
        e.knm = text(q.value(6));
        e.ydate = text(q.value(7));
        e.ytime = text(q.value(8));
        e.count = optionalInt(q.value(9));
        e.first = text(q.value(10));
        e.last = text(q.value(11));
        e.before = text(q.value(12));
        e.after = text(q.value(13));
        entries.append(e);
    };
    if (second.isValid()) {
        db.forEachRow(sql, {first, second}, read);
    } else {
        db.forEachRow(sql, {first}, read);
    }
    return entries;
}

} // namespace qrb
