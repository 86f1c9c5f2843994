#include "Schema.h"

#include "Database.h"
#include "Search.h"
#include "shared/Dates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

void writeSchema(Database &db)
{
    // Codes are whole numbers (YNO 32-bit: a clinic passes 32767 reservations within a season or two);
    // every other field is text, compared and sorted as text ("2009/10/09", "08").
    const QStringList statements = {
        u"CREATE TABLE YOYAKU ("
        "YNO INTEGER NOT NULL, KNO TEXT, KNM TEXT, KKNM TEXT, YDATE TEXT, YTIME TEXT, BFLG INTEGER, "
        "BIRTHDAY TEXT, TEL1 TEXT, TEL2 TEXT, RFLG INTEGER, KFLG INTEGER, KMNO TEXT, BIKO TEXT, "
        "SFLG INTEGER, SCNT INTEGER, CFLG INTEGER, Category INTEGER)"_s,
        u"CREATE UNIQUE INDEX YOYAKU_YNO ON YOYAKU (YNO)"_s,
        // With the visit flag in it, the index alone answers every count of a day or a month.
        u"CREATE INDEX YOYAKU_YDATE_YTIME ON YOYAKU (YDATE, YTIME, CFLG)"_s,
        u"CREATE TABLE SETTING (SWEEKDAY INTEGER NOT NULL, STIME TEXT NOT NULL, NINZU INTEGER)"_s,
        u"CREATE UNIQUE INDEX SETTING_SWEEKDAY_STIME ON SETTING (SWEEKDAY, STIME)"_s,
    };
    for (const QString &sql : statements) {
        db.write(sql);
    }
    // The indexes of the look-ups, which ignore the case of ASCII letters: by patient number, name
    // (read instead of the table for a search inside the name) and kana (prefixes).
    const QStringList searchIndexes =
        db.isPostgres()
            ? QStringList{u"CREATE INDEX YOYAKU_KNO ON YOYAKU (UPPER(KNO))"_s,
                          u"CREATE INDEX YOYAKU_KNM ON YOYAKU (KNM, YNO)"_s,
                          u"CREATE INDEX YOYAKU_KKNM ON YOYAKU (UPPER(KKNM) text_pattern_ops)"_s}
            : QStringList{u"CREATE INDEX YOYAKU_KNO ON YOYAKU (KNO COLLATE NOCASE)"_s,
                          u"CREATE INDEX YOYAKU_KNM ON YOYAKU (KNM, YNO)"_s,
                          u"CREATE INDEX YOYAKU_KKNM ON YOYAKU (KKNM COLLATE NOCASE)"_s};
    for (const QString &sql : searchIndexes) {
        db.write(sql);
    }
    addTelephoneIndexesIfMissing(db);
}

void writeCapacities(Database &db, int places)
{
    for (int weekday = 1; weekday <= 7; ++weekday) {
        for (int slot = 0; slot < SlotCount; ++slot) {
            db.write(u"INSERT INTO SETTING (SWEEKDAY, STIME, NINZU) VALUES (?, ?, ?)"_s,
                     {weekday, slotKey(slot), places});
        }
    }
}

} // namespace

void addTelephoneIndexesIfMissing(Database &db)
{
    // Looked up first rather than CREATE INDEX IF NOT EXISTS: on a server that statement locks the
    // table against other desks' bookings even when the index is there.
    const QString exists = db.isPostgres() ? u"SELECT COUNT(*) FROM pg_indexes WHERE indexname = LOWER(?)"_s
                                           : u"SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name = ?"_s;
    for (const QString &column : {u"TEL1"_s, u"TEL2"_s}) {
        const QString index = u"YOYAKU_%1_FOLDED"_s.arg(column);
        if (db.scalar(exists, {index}).toInt() == 0) {
            db.write(u"CREATE INDEX %1 ON YOYAKU ((%2))"_s.arg(index, foldedTelephoneSql(column, db.isPostgres())));
        }
    }
}

void createDatabase(const DbTarget &target, int places)
{
    if (!target.postgres) {
        createDatabaseFile(target.sqlitePath, places);
        return;
    }
    Database db(u"qrb-create"_s);
    db.openEmpty(target);
    Database::WriteTransaction transaction(db, Database::WriteTransaction::Lock::NoTables);
    // Asked inside the transaction: a second qrb-initdb at the same moment fails on the server's own
    // catalogue when it creates the same table, and its transaction leaves nothing behind.
    const bool hasTables = db.scalar(u"SELECT COUNT(*) FROM pg_class "
                                     "WHERE oid IN (to_regclass('yoyaku'), to_regclass('setting'))"_s)
                               .toInt()
                           > 0;
    if (hasTables) {
        throw DbError(u"このデータベースにはすでにテーブル YOYAKU または SETTING があります。上書きはしません。\n%1"_s.arg(
            target.displayName()));
    }
    writeSchema(db);
    writeCapacities(db, places);
    transaction.commit();
    db.DB_close();
}

void createDatabaseFile(const QString &path, int places)
{
    if (QFileInfo::exists(path)) {
        throw DbError(u"すでにファイルがあります。上書きはしません。\n%1"_s.arg(QDir::toNativeSeparators(path)));
    }
    // Claiming the name first means two callers can never both believe they made the file.
    QFile claim(path);
    if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        throw DbError(u"ファイルを作成できません。\n%1\n理由: %2"_s.arg(QDir::toNativeSeparators(path),
                                                                   claim.errorString()));
    }
    claim.close();
    try {
        Database db(u"qrb-create"_s);
        db.openEmpty(DbTarget::sqlite(path));
        // Write-ahead logging: a booking costs one flush of the disk instead of three, and readers
        // never wait for a writer. It needs the file on this machine's own disk, as SQLite does anyway.
        db.scalar(u"PRAGMA journal_mode = WAL"_s);
        Database::WriteTransaction transaction(db, Database::WriteTransaction::Lock::NoTables);
        writeSchema(db);
        writeCapacities(db, places);
        transaction.commit();
        db.DB_close();
    } catch (const DbError &) {
        QFile::remove(path);
        throw;
    }
}

} // namespace qrb
