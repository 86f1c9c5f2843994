#pragma once

#include <QString>

namespace qrb {

class Database;

// Makes a new reservation database file: both tables, their indexes and the 70 SETTING rows, each
// offering `places`. Refuses a path that already exists. Only qrb-initdb and the tests make databases.
void createDatabaseFile(const QString &path, int places);

// The tables and indexes, in an open but empty database.
void createSchema(Database &db);
// One SETTING row per weekday (1 … 7) and slot ("08" … "17").
void insertAllCapacities(Database &db, int places);

} // namespace qrb
