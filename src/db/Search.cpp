#include "Search.h"

#include "Database.h"

#include "shared/Kana.h"

#include <QSqlQuery>

#include <QRegularExpression>

#include <algorithm>
#include <string_view>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// Sorted by an expression on purpose: ordered by the bare YDATE, SQLite walks the whole date index
// and fetches every row by its key to test it (ten times slower than reading the table once and
// sorting the few rows found).
const QString orderOfSearch = u" ORDER BY YDATE || '', YTIME, YNO"_s;

// Hyphens and spaces a number may be written with: ASCII, full-width, the hyphen and minus signs, and
// the long vowel mark that a Japanese input method often types for a hyphen.
constexpr char16_t telephoneSeparators[] = u"- －‐−ーｰ　";

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

QString foldTelephone(const QString &number)
{
    QString folded;
    folded.reserve(number.size());
    for (const QChar c : number) {
        if (std::u16string_view(telephoneSeparators).find(c.unicode()) != std::u16string_view::npos) {
            continue;
        }
        if (c >= u'０' && c <= u'９') {
            folded += QChar(u'0' + (c.unicode() - u'０'));
        } else if (c >= u'a' && c <= u'z') {
            folded += c.toUpper();
        } else {
            folded += c;
        }
    }
    return folded;
}

QString foldedTelephoneSql(const QString &column, bool postgres)
{
    QString sql = column;
    for (const char16_t separator : std::u16string_view(telephoneSeparators)) {
        sql = u"REPLACE(%1, '%2', '')"_s.arg(sql, QChar(separator));
    }
    for (char16_t digit = 0; digit < 10; ++digit) {
        sql = u"REPLACE(%1, '%2', '%3')"_s.arg(sql, QChar(char16_t(u'０' + digit)), QChar(char16_t(u'0' + digit)));
    }
    // Compared by code point on both engines, so that the range of a prefix is the same everywhere.
    return postgres ? u"(UPPER(%1) COLLATE \"C\")"_s.arg(sql) : u"UPPER(%1)"_s.arg(sql);
}

TelephonePrefix telephonePrefix(const QString &typed)
{
    const QString folded = foldTelephone(typed);
    TelephonePrefix prefix{likePattern(folded) + u'%', folded.left(folded.indexOf(QRegularExpression(u"[*?]"_s))), {}};
    if (!prefix.from.isEmpty() && prefix.from.back().unicode() < 0xFFFF) {
        prefix.below = prefix.from.chopped(1) + QChar(char16_t(prefix.from.back().unicode() + 1));
    } else {
        prefix.from.clear();
    }
    return prefix;
}

QList<SearchHit> reservationsWithTelephoneStartingWith(Database &db, const QString &typed)
{
    // Each number is found through its folded index: the range of the fixed start narrows the rows,
    // and the pattern, wildcards and all, decides.
    const TelephonePrefix prefix = telephonePrefix(typed);
    const auto condition = [&](const QString &column) -> QString {
        const QString folded = foldedTelephoneSql(column, db.isPostgres());
        const QString range = prefix.from.isEmpty() ? QString() : u"%1 >= ? AND %1 < ? AND "_s.arg(folded);
        return u'(' + range + folded + u" LIKE ? ESCAPE '\\')"_s;
    };
    if (prefix.from.isEmpty()) {
        return hitsWhere(db, condition(u"TEL1"_s) + u" OR "_s + condition(u"TEL2"_s), {prefix.pattern, prefix.pattern});
    }
    return hitsWhere(db, condition(u"TEL1"_s) + u" OR "_s + condition(u"TEL2"_s),
                     {prefix.from, prefix.below, prefix.pattern, prefix.from, prefix.below, prefix.pattern});
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
