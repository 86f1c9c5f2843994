#include "db/Search.h"

#include "support/Workspace.h"

#include <QTest>

using namespace Qt::StringLiterals;
using qrb::test::Workspace;

namespace {

enum Box { Name, Kana, Telephone, PatientNumber };

// Rows chosen so that each case below tells a right answer from a near miss.
void seed(Workspace &ws)
{
    // Fields left out are NULL: every search passes over them.
    const QList<QVariantList> rows = {
        {1, u"山田太郎"_s, u"ﾔﾏﾀﾞﾀﾛｳ"_s, u"0312345678"_s, {}, u"1001"_s, u"2009/10/10"_s, u"09"_s},
        {2, u"田中山子"_s, u"ﾀﾅｶﾔﾏｺ"_s, {}, u"0312999999"_s, u"1002"_s, u"2009/10/09"_s, u"10"_s},
        {3, u"山田太郎"_s, u"ﾔﾏﾀﾞﾀﾛｳ"_s, {}, {}, u"1001"_s, u"2009/10/09"_s, u"10"_s},
        {4, u"O'Brien"_s, u"ｵﾌﾞﾗｲｴﾝ"_s, {}, {}, u"A7"_s, u"2009/10/11"_s, u"08"_s},
        {5, u"100%_Test"_s, u"abc"_s, u"090-1"_s, {}, {}, u"2009/10/11"_s, u"08"_s},
        {6, u"100xxTest"_s, u"abd"_s, u"090x1"_s, {}, {}, u"2009/10/11"_s, u"08"_s},
        {7, u"山田＊花子"_s, u"ヤマダハナコ"_s, {}, {}, {}, u"2009/10/09"_s, u"10"_s},
        {8, u"山田次郎"_s, u"やまだじろう"_s, {}, {}, {}, u"2009/10/09"_s, u"08"_s},
        {9, u"back\\slash"_s, {}, {}, {}, {}, u"2009/10/12"_s, u"08"_s},
        {10, u"佐藤花"_s, u"ｻﾄｳﾊﾅ"_s, {}, u"０３－１２ ３４"_s, {}, u"2009/10/13"_s, u"08"_s},
        {11, u"鈴木"_s, u"ｽｽﾞｷ"_s, u"０５６７－８９"_s, {}, {}, u"2009/10/13"_s, u"09"_s},
        {12, u"伊藤"_s, u"ｲﾄｳ"_s, u"0567-8801"_s, {}, {}, u"2009/10/13"_s, u"10"_s},
    };
    for (const QVariantList &row : rows) {
        ws.db.write(
            u"INSERT INTO YOYAKU (YNO, KNM, KKNM, TEL1, TEL2, KNO, YDATE, YTIME) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"_s,
            row);
    }
}

using Finder = QList<qrb::SearchHit> (*)(qrb::Database &, const QString &, const qrb::SearchPage &);

// The reservation numbers found, read in pages of `limit` lines (0: all at once), each page starting
// after the line read last.
QList<int> found(Finder find, Workspace &ws, const QString &typed, int limit)
{
    QList<int> numbers;
    for (QList<qrb::SearchHit> page = find(ws.db, typed, {std::nullopt, limit}); !page.isEmpty();
         page = limit ? find(ws.db, typed, {page.constLast(), limit}) : QList<qrb::SearchHit>{}) {
        for (const qrb::SearchHit &hit : page) {
            numbers << hit.yno;
        }
    }
    return numbers;
}

} // namespace

class SearchTest final : public QObject
{
    Q_OBJECT

private slots:
    void findsWhatEachBoxPromises_data()
    {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("expected");

        // Ordered by date, hour and reservation number, over all dates.
        QTest::newRow("name contains, in date hour number order") << int(Name) << u"山田"_s << QList<int>{8, 3, 7, 1};
        QTest::newRow("name contains in the middle") << int(Name) << u"太郎"_s << QList<int>{3, 1};
        QTest::newRow("name star is any run") << int(Name) << u"山*郎"_s << QList<int>{8, 3, 1};
        QTest::newRow("name question is one character") << int(Name) << u"山田?郎"_s << QList<int>{8, 3, 1};
        QTest::newRow("name question is exactly one") << int(Name) << u"山?郎"_s << QList<int>{};
        QTest::newRow("name percent is literal") << int(Name) << u"%"_s << QList<int>{5};
        QTest::newRow("name underscore is literal") << int(Name) << u"0%_"_s << QList<int>{5};
        QTest::newRow("name backslash is literal") << int(Name) << u"\\"_s << QList<int>{9};
        QTest::newRow("name quote, any case") << int(Name) << u"o'brien"_s << QList<int>{4};
        QTest::newRow("name full-width asterisk") << int(Name) << u"＊"_s << QList<int>{7};
        QTest::newRow("kana half-width finds all three forms") << int(Kana) << u"ﾔﾏﾀﾞ"_s << QList<int>{8, 3, 7, 1};
        QTest::newRow("kana hiragana") << int(Kana) << u"やまだ"_s << QList<int>{8, 3, 7, 1};
        QTest::newRow("kana full-width") << int(Kana) << u"ヤマダ"_s << QList<int>{8, 3, 7, 1};
        QTest::newRow("kana voiced in the middle") << int(Kana) << u"ﾔﾏﾀﾞｼﾞ"_s << QList<int>{8};
        QTest::newRow("kana begins, not contains") << int(Kana) << u"ﾏﾀﾞ"_s << QList<int>{};
        QTest::newRow("kana ASCII any case") << int(Kana) << u"AB"_s << QList<int>{5, 6};
        QTest::newRow("kana underscore is literal") << int(Kana) << u"a_"_s << QList<int>{};
        QTest::newRow("telephone either number") << int(Telephone) << u"0312"_s << QList<int>{2, 1, 10};
        QTest::newRow("telephone begins, not contains") << int(Telephone) << u"1234"_s << QList<int>{};
        QTest::newRow("telephone hyphens and spaces left out") << int(Telephone) << u"03-1234"_s << QList<int>{1, 10};
        QTest::newRow("telephone full-width digits") << int(Telephone) << u"０３１２３４"_s << QList<int>{1, 10};
        QTest::newRow("telephone full-width five to nine typed")
            << int(Telephone) << u"０５６７８"_s << QList<int>{11, 12};
        QTest::newRow("telephone full-width five to nine stored") << int(Telephone) << u"056789"_s << QList<int>{11};
        QTest::newRow("telephone hyphen typed or not") << int(Telephone) << u"090-"_s << QList<int>{5, 6};
        QTest::newRow("telephone question wildcard") << int(Telephone) << u"090?1"_s << QList<int>{6};
        QTest::newRow("telephone star, letters any case") << int(Telephone) << u"*x1"_s << QList<int>{6};
        QTest::newRow("patient number exact") << int(PatientNumber) << u"1001"_s << QList<int>{3, 1};
        QTest::newRow("patient number not a prefix") << int(PatientNumber) << u"100"_s << QList<int>{};
        QTest::newRow("patient number no wildcard") << int(PatientNumber) << u"100*"_s << QList<int>{};
        QTest::newRow("patient number any case") << int(PatientNumber) << u"a7"_s << QList<int>{4};
    }

    // Read whole, or one line at a time, the same lines come.
    void findsWhatEachBoxPromises()
    {
        QFETCH(int, box);
        QFETCH(QString, typed);
        QFETCH(QList<int>, expected);
        Workspace ws;
        seed(ws);
        const Finder finders[] = {qrb::reservationsWithNameContaining, qrb::reservationsWithKanaStartingWith,
                                  qrb::reservationsWithTelephoneStartingWith, qrb::reservationsWithPatientNumber};
        QCOMPARE(found(finders[box], ws, typed, 0), expected);
        QCOMPARE(found(finders[box], ws, typed, 1), expected);
    }
};

QTEST_GUILESS_MAIN(SearchTest)
#include "tst_search.moc"
