#include "Capacities.h"

#include "Database.h"
#include "History.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb {

int CapacityTable::get_value(int weekday, const QString &slot) const
{
    return m_places.value({weekday, slot}, 0);
}

void CapacityTable::set_value(int weekday, const QString &slot, int places)
{
    m_places.insert({weekday, slot}, places);
}

CapacityTable loadCapacities(Database &db)
{
    CapacityTable table;
    db.forEachRow(u"SELECT SWEEKDAY, STIME, COALESCE(NINZU, 0) FROM SETTING"_s, {}, [&](const QSqlQuery &q) {
        table.set_value(q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt());
    });
    return table;
}

void saveCapacities(Database &db, const CapacityTable &table)
{
    Database::WriteTransaction transaction(db);
    const CapacityTable before = loadCapacities(db);
    // Update first and add the row only where none was touched: the same two statements on every engine.
    table.forEach([&](int weekday, const QString &slot, int places) {
        const int touched =
            db.write(u"UPDATE SETTING SET NINZU = ? WHERE SWEEKDAY = ? AND STIME = ?"_s, {places, weekday, slot});
        if (touched == 0) {
            db.write(u"INSERT INTO SETTING (SWEEKDAY, STIME, NINZU) VALUES (?, ?, ?)"_s, {weekday, slot, places});
        }
    });
    recordCapacitiesSaved(db, before, table);
    transaction.commit();
}

} // namespace qrb
