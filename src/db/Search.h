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
// TEL1 or TEL2 beginning with the typed text, numbers written in any of the desk's ways: hyphens and
// spaces are left out and digits read alike in either width, in the typed text and in the stored
// numbers (which stay as they were typed). "031234" finds "03-1234-5678" and "０３ １２３４".
QList<SearchHit> reservationsWithTelephoneStartingWith(Database &db, const QString &typed, const SearchPage &page = {});
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
// The reservation a line of the result list stands for, while it still has the line's number, day,
// hour and name; nothing when it was cancelled or changed meanwhile.
std::optional<Reservation> reservationOfHit(Database &db, const SearchHit &hit);

// The typed text as a LIKE pattern with "\" as its escape character: "*" → "%", "?" → "_", and
// "%", "_" and "\" escaped so that they match themselves.
QString likePattern(const QString &typed);

// A telephone number as the search compares it: without hyphens and spaces (ASCII, full-width and
// the long vowel mark typed for a hyphen), digits half-width, ASCII letters in upper case.
QString foldTelephone(const QString &number);
// The same folding as an SQL expression over a column, the expression the telephone indexes hold.
QString foldedTelephoneSql(const QString &column, bool postgres);

// What the telephone search binds: the folded text as a LIKE pattern, and the range of folded numbers
// that begin with its fixed start, which is what the index is searched by (empty bounds when the
// pattern begins with a wildcard).
struct TelephonePrefix {
    QString pattern;
    QString from;
    QString below;
};
TelephonePrefix telephonePrefix(const QString &typed);

} // namespace qrb
