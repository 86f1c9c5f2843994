#include "Maintenance.h"

#include "Database.h"
#include "History.h"

using namespace Qt::StringLiterals;

namespace qrb {

int deleteAllReservations(Database &db)
{
    Database::WriteTransaction transaction(db);
    const int deleted = db.write(u"DELETE FROM YOYAKU"_s);
    recordDeletion(db, HistoryKind::AllDeleted, deleted);
    transaction.commit();
    return deleted;
}

int deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate)
{
    Database::WriteTransaction transaction(db);
    const int deleted = db.write(u"DELETE FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ?"_s, {firstDate, lastDate});
    recordDeletion(db, HistoryKind::PeriodDeleted, deleted, firstDate, lastDate);
    transaction.commit();
    return deleted;
}

} // namespace qrb
