#include "Search.h"

#include "Database.h"

#include "shared/Kana.h"

#include <QSqlQuery>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// Sorted by an expression on purpose: ordered by the bare YDATE, SQLite walks the whole date index
// and fetches every row by its key to test it (ten times slower than reading the table once and
// sorting the few rows found).
const QString orderOfSearch = u" ORDER BY YDATE || '', YTIME, YNO"_s;

QList<SearchHit> hitsWhere(Database &db, const QString &condition, std::initializer_list<QVariant> values)
{
    QList<SearchHit> found;
    db.forEachRow(u"SELECT YNO, KNM, YDATE, YTIME FROM YOYAKU WHERE "_s + condition + orderOfSearch, values,
                  [&](const QSqlQuery &q) {
                      found.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(),
                                    q.value(3).toString()});
                  });
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

QList<SearchHit> reservationsWithNameContaining(Database &db, const QString &typed)
{
    // A name inside the text cannot be looked up in an index, but the narrow (KNM, YNO) index can be
    // read instead of the whole table, and only the reservations found are then fetched. A plain
    // text without wildcards or ASCII letters (where case cannot matter) is found by a literal
    // search, twice as fast as the pattern match on every name.
    const bool literal = std::none_of(typed.cbegin(), typed.cend(), [](QChar c) {
        return c == u'*' || c == u'?' || (c.unicode() < 128 && c.isLetter());
    });
    if (literal) {
        return hitsWhere(db, u"YNO IN (SELECT YNO FROM YOYAKU WHERE "_s + db.containsText(u"KNM"_s) + u')', {typed});
    }
    return hitsWhere(db, u"YNO IN (SELECT YNO FROM YOYAKU WHERE "_s + db.likeIgnoringCase(u"KNM"_s) + u')',
                     {QString(u'%' + likePattern(typed) + u'%')});
}

QList<SearchHit> reservationsWithKanaStartingWith(Database &db, const QString &typed)
{
    // Readings are normally stored in half-width katakana while the input method types hiragana by
    // default: the three written forms of the reading are all looked for.
    const QString half = likePattern(toHalfwidthKatakana(typed)) + u'%';
    const QString full = likePattern(toFullwidthKatakana(typed)) + u'%';
    const QString hiragana = likePattern(toHiragana(typed)) + u'%';
    const QString kana = db.likeIgnoringCase(u"KKNM"_s);
    return hitsWhere(db, u'(' + kana + u" OR "_s + kana + u" OR "_s + kana + u')', {half, full, hiragana});
}

QList<SearchHit> reservationsWithTelephoneStartingWith(Database &db, const QString &typed)
{
    const QString pattern = likePattern(typed) + u'%';
    return hitsWhere(
        db, u'(' + db.likeIgnoringCase(u"TEL1"_s) + u" OR "_s + db.likeIgnoringCase(u"TEL2"_s) + u')', {pattern, pattern});
}

QList<SearchHit> reservationsWithPatientNumber(Database &db, const QString &typed)
{
    return hitsWhere(db, db.equalsIgnoringCase(u"KNO"_s), {typed});
}

std::optional<Reservation> reservationByNumber(Database &db, int yno)
{
    std::optional<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns() + u" FROM YOYAKU WHERE YNO = ?"_s, {yno},
                  [&](const QSqlQuery &q) { found = readReservation(q); });
    return found;
}

} // namespace qrb
