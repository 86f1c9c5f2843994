#pragma once

#include <QString>

#include <optional>

class QSqlQuery;

namespace qrb {

class Database;

// One row of YOYAKU. Text fields that are Null in the table read as null QStrings (isNull()), code
// fields that are Null as an empty optional: a report or a detail line shows the two differently
// from an empty text or a 0.
struct Reservation {
    int yno = 0;
    QString kno;      // patient number
    QString knm;      // name
    QString kknm;     // name in kana
    QString ydate;    // "YYYY/MM/DD"
    QString ytime;    // "08" … "17"
    std::optional<int> bflg; // calendar of the birth date (EraCode)
    QString birthday;
    QString tel1;
    QString tel2;
    std::optional<int> rflg; // visited before: 1 yes, 2 no, 0 not entered
    std::optional<int> kflg; // member: 1 yes, 2 no, 0 not entered
    QString kmno;     // member number
    QString biko;     // remarks
    std::optional<int> sflg; // kind of vaccination
    std::optional<int> scnt; // which dose
    std::optional<int> cflg; // 1 came, 0 not yet
    std::optional<int> category;
};

// The column list every reading of whole reservations selects, in the order readReservation expects.
QString reservationColumns();
Reservation readReservation(const QSqlQuery &query);

// Reservations in one slot of one day, whether the patient came or not.
int YOYAKU_cnt(Database &db, const QString &dateKey, const QString &slot);
// Places offered on a weekday (Monday 1 … Sunday 7) in a slot; 0 where no SETTING row exists.
int NINZU_cnt(Database &db, int weekday, const QString &slot);

} // namespace qrb
