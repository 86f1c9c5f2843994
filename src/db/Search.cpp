#include "Search.h"

#include "Database.h"
#include "Visits.h"

#include "shared/Kana.h"

#include <QSqlQuery>

#include <QRegularExpression>

#include <algorithm>
#include <string_view>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// How the engine is to find a search's reservations in the list's order.
enum class Walk {
    // Along the index of the list's order (date, hour, number), which also holds the name and the
    // reading, testing each entry: a page of a common name or reading is found after a few thousand
    // entries and a rare one within one pass over the index, never by reading and sorting every
    // match before the first line can be shown.
    InOrder,
    // Through the index of the searched field, the few matches then sorted: for telephone and
    // patient numbers, which find a handful of reservations.
    Sorted,
};

// Hyphens and spaces a number may be written with: ASCII, full-width, the hyphen and minus signs, and
// the long vowel mark that a Japanese input method often types for a hyphen.
constexpr char16_t telephoneSeparators[] = u"- －‐−ーｰ　";

struct Condition {
    QString sql;
    QVariantList values;
    Walk walk;
};

Condition nameCondition(const Database &db, const QString &typed)
{
    const bool caseless = std::none_of(typed.cbegin(), typed.cend(), [](QChar c) {
        return c.unicode() < 128 && c.isLetter();
    });
    const QString contained = u'%' + likePattern(typed) + u'%';
    if (caseless && db.isPostgres()) {
        // Where case cannot matter, the bare LIKE: PostgreSQL then judges from its statistics how
        // many names match and so whether to walk the list's order or scan and sort (a name that
        // matches nothing would otherwise walk the whole index), and no name is upper-cased.
        return {u"KNM LIKE ? ESCAPE '\\'"_s, {contained}, Walk::InOrder};
    }
    // A plain text without wildcards or ASCII letters is found by a literal search, twice as fast as
    // the pattern match on every name.
    if (caseless && std::none_of(typed.cbegin(), typed.cend(), [](QChar c) { return c == u'*' || c == u'?'; })) {
        return {db.containsText(u"KNM"_s), {typed}, Walk::InOrder};
    }
    return {db.likeIgnoringCase(u"KNM"_s), {contained}, Walk::InOrder};
}

Condition kanaCondition(const Database &db, const QString &typed)
{
    // Readings are normally stored in half-width katakana while the input method types hiragana by
    // default: the three written forms of the reading are all looked for. On SQLite the reading's own
    // index is kept out of it ("+"): without statistics SQLite would take it for a rare reading, and a
    // common one (たなか) would then be read whole and sorted.
    const QString half = likePattern(toHalfwidthKatakana(typed)) + u'%';
    const QString full = likePattern(toFullwidthKatakana(typed)) + u'%';
    const QString hiragana = likePattern(toHiragana(typed)) + u'%';
    const QString kana = db.likeIgnoringCase(db.isPostgres() ? u"KKNM"_s : u"+KKNM"_s);
    return {u'(' + kana + u" OR "_s + kana + u" OR "_s + kana + u')', {half, full, hiragana}, Walk::InOrder};
}

Condition telephoneCondition(const Database &db, const QString &typed)
{
    // Each number is found through its folded index: the range of the fixed start narrows the rows,
    // and the pattern, wildcards and all, decides.
    const TelephonePrefix prefix = telephonePrefix(typed);
    const auto condition = [&](const QString &column) -> QString {
        const QString folded = foldedTelephoneSql(column, db.isPostgres());
        const QString range = prefix.from.isEmpty() ? QString() : u"%1 >= ? AND %1 < ? AND "_s.arg(folded);
        return u'(' + range + folded + u" LIKE ? ESCAPE '\\')"_s;
    };
    const QVariantList values = prefix.from.isEmpty()
                                    ? QVariantList{prefix.pattern, prefix.pattern}
                                    : QVariantList{prefix.from, prefix.below, prefix.pattern,
                                                   prefix.from, prefix.below, prefix.pattern};
    return {u'(' + condition(u"TEL1"_s) + u" OR "_s + condition(u"TEL2"_s) + u')', values, Walk::Sorted};
}

Condition patientNumberCondition(const Database &db, const QString &typed)
{
    return {db.equalsIgnoringCase(u"KNO"_s), {typed}, Walk::Sorted};
}

QList<SearchHit> hitsOf(Database &db, const SearchStatement &statement)
{
    QList<SearchHit> found;
    db.forEachRow(statement.sql, statement.values, [&](const QSqlQuery &q) {
        found.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    });
    return found;
}

} // namespace

SearchStatement searchStatement(const Database &db, SearchBox box, const QString &typed, const SearchPage &page)
{
    Condition c;
    switch (box) {
    case SearchBox::Name:
        c = nameCondition(db, typed);
        break;
    case SearchBox::Kana:
        c = kanaCondition(db, typed);
        break;
    case SearchBox::Telephone:
        c = telephoneCondition(db, typed);
        break;
    case SearchBox::PatientNumber:
        c = patientNumberCondition(db, typed);
        break;
    }
    SearchStatement s{u"SELECT YNO, KNM, YDATE, YTIME FROM YOYAKU WHERE "_s + c.sql, c.values};
    if (page.after) {
        s.sql += u" AND (YDATE, YTIME, YNO) > (?, ?, ?)"_s;
        s.values << page.after->ydate << page.after->ytime << page.after->yno;
    }
    // Sorted by an expression, SQLite cannot take the date index for the order and so uses the
    // searched field's index; PostgreSQL weighs both by its statistics.
    s.sql += c.walk == Walk::Sorted && !db.isPostgres() ? u" ORDER BY YDATE || '', YTIME, YNO"_s
                                                         : u" ORDER BY YDATE, YTIME, YNO"_s;
    // The page size is the program's own number, written into the statement so that the server plans
    // for a few rows rather than for an unknown share of the table.
    if (page.limit > 0) {
        s.sql += u" LIMIT "_s + QString::number(page.limit);
    }
    return s;
}

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

QList<SearchHit> reservationsWithNameContaining(Database &db, const QString &typed, const SearchPage &page)
{
    return hitsOf(db, searchStatement(db, SearchBox::Name, typed, page));
}

QList<SearchHit> reservationsWithKanaStartingWith(Database &db, const QString &typed, const SearchPage &page)
{
    return hitsOf(db, searchStatement(db, SearchBox::Kana, typed, page));
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

QList<SearchHit> reservationsWithTelephoneStartingWith(Database &db, const QString &typed, const SearchPage &page)
{
    return hitsOf(db, searchStatement(db, SearchBox::Telephone, typed, page));
}

QList<SearchHit> reservationsWithPatientNumber(Database &db, const QString &typed, const SearchPage &page)
{
    return hitsOf(db, searchStatement(db, SearchBox::PatientNumber, typed, page));
}

std::optional<Reservation> reservationByNumber(Database &db, int yno)
{
    std::optional<Reservation> found;
    db.forEachRow(u"SELECT "_s + reservationColumns() + u" FROM YOYAKU WHERE YNO = ?"_s, {yno},
                  [&](const QSqlQuery &q) { found = readReservation(q); });
    return found;
}

std::optional<Reservation> reservationOfHit(Database &db, const SearchHit &hit)
{
    return reservationOfEntry(db, {hit.yno, hit.ytime, hit.knm}, hit.ydate);
}

} // namespace qrb
