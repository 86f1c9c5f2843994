#include "Maintenance.h"

#include "Database.h"

using namespace Qt::StringLiterals;

namespace qrb {

int deleteAllReservations(Database &db)
{
    Database::WriteTransaction transaction(db);
    const int deleted = db.write(u"DELETE FROM YOYAKU"_s);
    transaction.commit();
    return deleted;
}

int deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate)
{
    Database::WriteTransaction transaction(db);
    const int deleted = db.write(u"DELETE FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ?"_s, {firstDate, lastDate});
    transaction.commit();
    return deleted;
}

} // namespace qrb
