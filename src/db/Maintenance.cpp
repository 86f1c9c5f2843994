#include "Maintenance.h"

#include "Backup.h"
#include "Database.h"
#include "History.h"

using namespace Qt::StringLiterals;

namespace qrb {

Deletion deleteAllReservations(Database &db, const QDateTime &now)
{
    Database::WriteTransaction transaction(db);
    Deletion done;
    done.backup = backupDatabase(db, now);
    done.count = db.write(u"DELETE FROM YOYAKU"_s);
    recordDeletion(db, HistoryKind::AllDeleted, done.count);
    transaction.commit();
    return done;
}

Deletion deleteReservationsBetween(Database &db, const QString &firstDate, const QString &lastDate,
                                   const QDateTime &now)
{
    Database::WriteTransaction transaction(db);
    Deletion done;
    done.backup = backupDatabase(db, now);
    done.count = db.write(u"DELETE FROM YOYAKU WHERE YDATE >= ? AND YDATE <= ?"_s, {firstDate, lastDate});
    recordDeletion(db, HistoryKind::PeriodDeleted, done.count, firstDate, lastDate);
    transaction.commit();
    return done;
}

} // namespace qrb
