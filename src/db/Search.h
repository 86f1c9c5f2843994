#pragma once

#include "Reservation.h"

#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

namespace qrb {

class Database;

// The four ways the desk looks a reservation up. Each returns the reservations found over all dates, in
// the order of date, hour and reservation number. What the user typed is matched as a pattern in
// which "*" stands for any run of characters and "?" for one character; every other character,
// "%" and "_" included, stands for itself. ASCII letters match regardless of case.

// One line of the result list; the details are read by number when the line is chosen.
struct SearchHit {
    int yno = 0;
    QString knm;
    QString ydate;
    QString ytime;
};

// A part of the result list, so that a common name is read as far as the user scrolls and no further:
// at most `limit` reservations (0: every one) that come after `after` in the list's order. The order
// (YDATE, YTIME, YNO) is unique, so pages read one after the other lose no line and repeat none.
struct SearchPage {
    std::optional<SearchHit> after;
    int limit = 0;
};

// KNM holding the typed text anywhere.
QList<SearchHit> reservationsWithNameContaining(Database &db, const QString &typed, const SearchPage &page = {});
// KKNM beginning with the typed reading, written in hiragana, full-width or half-width katakana.
QList<SearchHit> reservationsWithKanaStartingWith(Database &db, const QString &typed, const SearchPage &page = {});
// TEL1 or TEL2 beginning with the typed text.
QList<SearchHit> reservationsWithTelephoneStartingWith(Database &db, const QString &typed,
                                                       const SearchPage &page = {});
// KNO equal to the typed text (no pattern).
QList<SearchHit> reservationsWithPatientNumber(Database &db, const QString &typed, const SearchPage &page = {});

// The statement one of the searches above runs, with its values in order: for timing the engine alone.
enum class SearchBox { Name, Kana, Telephone, PatientNumber };
struct SearchStatement {
    QString sql;
    QVariantList values;
};
SearchStatement searchStatement(const Database &db, SearchBox box, const QString &typed, const SearchPage &page = {});

// The reservation with this YNO, if it is still there.
std::optional<Reservation> reservationByNumber(Database &db, int yno);

// The typed text as a LIKE pattern with "\" as its escape character: "*" → "%", "?" → "_", and
// "%", "_" and "\" escaped so that they match themselves.
QString likePattern(const QString &typed);

} // namespace qrb
