#pragma once

#include <QString>

namespace qrb {

class Database;
struct DbTarget;

// Makes a new reservation database file: both tables, their indexes and the 70 SETTING rows, each
// offering `places`. Refuses a path that already exists. Only qrb-initdb and the tests make databases.
void createDatabaseFile(const QString &path, int places);

// A new reservation database on either engine, each slot offering `places`. A file is made as by
// createDatabaseFile. A PostgreSQL database must already exist (the server's administrator makes it)
// and must not hold the tables yet: an existing reservation database is refused, never emptied.
// Tables, indexes and rows are written in one transaction, so a failure leaves the database empty.
void createDatabase(const DbTarget &target, int places);

class Database;

// Refuses, with a DbError naming each table and the columns it lacks, a database in which a table of
// QRB's (YOYAKU, SETTING, RIREKI, WEBYOYAKU) lacks a column QRB reads or writes: a table of that name
// made by another program would let the database open and then fail every booking. Tables that are
// not there are left to the callers that make or require them; extra columns are left alone.
void checkTableShapes(Database &db);

// Gives an open reservation database the history table RIREKI and its indexes when it has none yet:
// the one change QRB makes to an existing database's schema by itself, so that a database made by an
// earlier version keeps working. Two workstations opening it at once do it once.
void ensureHistoryTable(Database &db);

// The indexes of the search list's order and of the telephone search (numbers compared without
// hyphens, spaces or full-width digits), added to a database made before the searches used them.
// Quick when they are there; the first time it reads every reservation once. Several programs opening
// such a database at once add them once, and none of them fails for it.
void addSearchIndexesIfMissing(Database &db);

} // namespace qrb
