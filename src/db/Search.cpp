#include "Search.h"

#include "Database.h"

#include "shared/Kana.h"

#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

const QString orderOfSearch = u" ORDER BY YDATE, YTIME, YNO"_s;

QList<Reservation> reservationsWhere(Database &db, const QString &condition, std::initializer_list<QVariant> values)
{
    QList<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns() + u" FROM YOYAKU WHERE "_s + condition + orderOfSearch, values,
                  [&](const QSqlQuery &q) { found.append(readReservation(q)); });
    return found;
}

} // namespace

QString likePattern(const QString &typed)
{
    QString pattern;
    pattern.reserve(typed.size() + 8);
    for (const QChar c : typed) {
        switch (c.unicode()) {
        case u'*':
            pattern += u'%';
            break;
        case u'?':
            pattern += u'_';
            break;
        case u'%':
        case u'_':
        case u'\\':
            pattern += u'\\';
            pattern += c;
            break;
        default:
            pattern += c;
        }
    }
    return pattern;
}

QList<Reservation> reservationsWithNameContaining(Database &db, const QString &typed)
{
    return reservationsWhere(db, u"UPPER(KNM) LIKE UPPER(?) ESCAPE '\\'"_s, {QString(u'%' + likePattern(typed) + u'%')});
}

QList<Reservation> reservationsWithKanaStartingWith(Database &db, const QString &typed)
{
    // Readings are normally stored in half-width katakana while the input method types hiragana by
    // default: the three written forms of the reading are all looked for.
    const QString half = likePattern(toHalfwidthKatakana(typed)) + u'%';
    const QString full = likePattern(toFullwidthKatakana(typed)) + u'%';
    const QString hiragana = likePattern(toHiragana(typed)) + u'%';
    return reservationsWhere(db,
                             u"(UPPER(KKNM) LIKE UPPER(?) ESCAPE '\\' OR UPPER(KKNM) LIKE UPPER(?) ESCAPE '\\'"
                             " OR UPPER(KKNM) LIKE UPPER(?) ESCAPE '\\')"_s,
                             {half, full, hiragana});
}

QList<Reservation> reservationsWithTelephoneStartingWith(Database &db, const QString &typed)
{
    const QString pattern = likePattern(typed) + u'%';
    return reservationsWhere(db,
                             u"(UPPER(TEL1) LIKE UPPER(?) ESCAPE '\\' OR UPPER(TEL2) LIKE UPPER(?) ESCAPE '\\')"_s,
                             {pattern, pattern});
}

QList<Reservation> reservationsWithPatientNumber(Database &db, const QString &typed)
{
    return reservationsWhere(db, u"UPPER(KNO) = UPPER(?)"_s, {typed});
}

std::optional<Reservation> reservationByNumber(Database &db, int yno)
{
    const QList<Reservation> found = reservationsWhere(db, u"YNO = ?"_s, {yno});
    if (found.isEmpty()) {
        return std::nullopt;
    }
    return found.first();
}

} // namespace qrb
