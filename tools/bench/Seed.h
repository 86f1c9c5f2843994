#pragma once

#include <QDate>
#include <QString>

namespace qrb {
class Database;
}

namespace qrb::bench {

// The span the seeded reservations cover: several seasons of a clinic's weekdays and slots.
inline const QDate SeedFirstDay(2021, 1, 4);
inline const QDate SeedLastDay(2026, 12, 26);

// Adds `rows` reservations with realistic names, readings, telephone numbers, kinds and visit flags,
// in one transaction. The places of every slot are set to 20.
void seed(Database &db, qint64 rows);

// Adds `rows` rows to the history of changes, in one transaction: registrations of the seeded
// reservations with all their fields, as the desk writes them, spread over the seeded span.
void seedHistory(Database &db, qint64 rows);

// A name as the seeder writes it, so that searches can look for one that exists.
QString seededName(int surname, int given);
QString seededKana(int surname);

} // namespace qrb::bench
