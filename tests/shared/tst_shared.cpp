#include "shared/Cp932.h"
#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Kana.h"
#include "shared/Text.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class SharedHelpersTest : public QObject
{
    Q_OBJECT

private slots:
    void percentageRoundsHalfAwayFromZero_data()
    {
        QTest::addColumn<qint64>("numerator");
        QTest::addColumn<qint64>("denominator");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two thirds") << qint64(2) << qint64(3) << u"66.7%"_s;
        QTest::newRow("over full") << qint64(5) << qint64(4) << u"125.0%"_s;
        QTest::newRow("6.25 up") << qint64(1) << qint64(16) << u"6.3%"_s;
        QTest::newRow("1.25 up") << qint64(1) << qint64(80) << u"1.3%"_s;
        QTest::newRow("nothing yet") << qint64(0) << qint64(7) << u"0.0%"_s;
        QTest::newRow("no places") << qint64(3) << qint64(0) << u"***%"_s;
        QTest::newRow("beyond 16 bits") << qint64(40000) << qint64(80000) << u"50.0%"_s;
        QTest::newRow("whole") << qint64(3) << qint64(4) << u"75.0%"_s;
    }
    void percentageRoundsHalfAwayFromZero()
    {
        QFETCH(qint64, numerator);
        QFETCH(qint64, denominator);
        QFETCH(QString, expected);
        QCOMPARE(pct(numerator, denominator), expected);
    }

    void weekdaysStartOnMonday()
    {
        QCOMPARE(weekdayNumber(QDate(2009, 10, 5)), 1);
        QCOMPARE(weekdayNumber(QDate(2009, 10, 9)), 5);
        QCOMPARE(weekdayNumber(QDate(2009, 10, 11)), 7);
        QCOMPARE(weekdayLabel(5), u"(金)"_s);
        QCOMPARE(weekdayLabel(7), u"(日)"_s);
        QCOMPARE(weekdayName(6), u"土"_s);
        QCOMPARE(weekdayLabel(0), QString());
        QCOMPARE(weekdayLabel(8), QString());
    }

    void dateTextsThatAreNoDate_data()
    {
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("month");
        QTest::addColumn<QString>("day");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ordinary") << u"2009"_s << u"10"_s << u"09"_s << true;
        QTest::newRow("leap day") << u"2008"_s << u"02"_s << u"29"_s << true;
        QTest::newRow("no leap day") << u"2009"_s << u"02"_s << u"29"_s << false;
        QTest::newRow("31 April") << u"2009"_s << u"04"_s << u"31"_s << false;
        QTest::newRow("month 13") << u"2009"_s << u"13"_s << u"01"_s << false;
        QTest::newRow("typed year") << u"20x6"_s << u"01"_s << u"01"_s << false;
        QTest::newRow("empty") << QString() << u"01"_s << u"01"_s << false;
    }
    void dateTextsThatAreNoDate()
    {
        QFETCH(QString, year);
        QFETCH(QString, month);
        QFETCH(QString, day);
        QFETCH(bool, valid);
        QCOMPARE(dateFromTexts(year, month, day).has_value(), valid);
    }

    void dateKeysAndMonths()
    {
        QCOMPARE(dateKey(u"2009"_s, u"10"_s, u"09"_s), u"2009/10/09"_s);
        QCOMPARE(dateFromKey(u"2009/12/31"_s), std::optional<QDate>(QDate(2009, 12, 31)));
        QVERIFY(!dateFromKey(u"2009/1/1"_s));
        QVERIFY(!dateFromKey(u"2009-01-01"_s));
        QVERIFY(!dateFromKey(u"2009/02/30"_s));
        QCOMPARE(daysInMonth(u"2009"_s, u"02"_s), std::optional<int>(28));
        QCOMPARE(daysInMonth(u"2008"_s, u"02"_s), std::optional<int>(29));
        QCOMPARE(daysInMonth(u"2009"_s, u"12"_s), std::optional<int>(31));
        QVERIFY(!daysInMonth(u"2009"_s, u"13"_s));
    }

    void slotsAreHeldWithinOpeningHours_data()
    {
        QTest::addColumn<QTime>("now");
        QTest::addColumn<QString>("slot");
        QTest::newRow("before opening") << QTime(6, 30) << u"08"_s;
        QTest::newRow("after closing") << QTime(20, 10) << u"17"_s;
        QTest::newRow("last minute of 11") << QTime(11, 59) << u"11"_s;
        QTest::newRow("midnight") << QTime(0, 0) << u"08"_s;
    }
    void slotsAreHeldWithinOpeningHours()
    {
        QFETCH(QTime, now);
        QFETCH(QString, slot);
        QCOMPARE(clampedSlot(now), slot);
    }

    void erasConvertToWesternYears()
    {
        QCOMPARE(westernYear(Heisei, 19), std::optional<int>(2007));
        QCOMPARE(westernYear(Reiwa, 1), std::optional<int>(2019));
        QCOMPARE(westernYear(Showa, 64), std::optional<int>(1989));
        QCOMPARE(westernYear(Seireki, 2002), std::optional<int>(2002));
        QVERIFY(!westernYear(9, 1));
        QCOMPARE(eraCode(u"令和"_s), std::optional<int>(Reiwa));
        QCOMPARE(eraName(Meiji), std::optional<QString>(u"明治"_s));
        QVERIFY(!eraCode(QString()));
        QCOMPARE(eraPickerTexts().first(), u"西暦"_s);
        QCOMPARE(eraPickerTexts().at(1), u"令和"_s);
    }

    void ageCountsCompletedYears()
    {
        QCOMPARE(ageOn(QDate(1979, 12, 15), QDate(2009, 10, 15)), 29);
        QCOMPARE(ageOn(QDate(1979, 12, 15), QDate(2009, 12, 15)), 30);
        QCOMPARE(ageOn(QDate(2002, 1, 1), QDate(2009, 12, 1)), 7);
        QCOMPARE(ageOn(QDate(2008, 2, 29), QDate(2009, 2, 28)), 0);
    }

    void nvlStrFallsBackOnNullAndEmpty()
    {
        QCOMPARE(nvl_str(QVariant(), u"未入力"_s), u"未入力"_s);
        QCOMPARE(nvl_str(QVariant(QString()), u"-"_s), u"-"_s);
        QCOMPARE(nvl_str(QVariant(u""_s), u"-"_s), u"-"_s);
        QCOMPARE(nvl_str(QVariant(0), u"-"_s), u"0"_s);
        QCOMPARE(nvl_str(QVariant(u"山田"_s), u"-"_s), u"山田"_s);
    }

    void paddingCountsCharactersAndKeepsLongTexts()
    {
        QCOMPARE(padRight(u"山田"_s, 5), u"山田   "_s);
        QCOMPARE(padRight(u"長い名前です"_s, 3), u"長い名前です"_s);
        QCOMPARE(padRight(u"a"_s, 3, u'　'), u"a　　"_s);
    }

    void cp932UsesTheWindowsTable()
    {
        QCOMPARE(encodeCp932(u"～"_s).bytes, QByteArray("\x81\x60"));
        QCOMPARE(encodeCp932(u"予"_s).bytes, QByteArray("\x97\x5C"));
        QCOMPARE(encodeCp932(u"ｽﾃｰﾀｽ"_s).bytes, QByteArray("\xBD\xC3\xB0\xC0\xBD"));
        QCOMPARE(decodeCp932(QByteArray("\x97\x5C\x96\xF1")), u"予約"_s);
        QCOMPARE(decodeCp932(QByteArray("\x81\x60")), u"～"_s);
    }

    void cp932ReplacesWhatItCannotHold()
    {
        const Cp932Bytes out = encodeCp932(u"a𠮷b😀c"_s);
        QCOMPARE(out.replaced, 2);
        QCOMPARE(out.bytes, QByteArray("a\x81\xAC" "b\x81\xAC" "c"));
        QCOMPARE(decodeCp932(QByteArray("ok\x81")), u"ok\uFFFD"_s);
    }

    void kanaFoldsAllThreeForms_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("half");
        QTest::addColumn<QString>("full");
        QTest::addColumn<QString>("hiragana");
        QTest::newRow("hiragana voiced") << u"やまだ"_s << u"ﾔﾏﾀﾞ"_s << u"ヤマダ"_s << u"やまだ"_s;
        QTest::newRow("full katakana") << u"ヤマダ"_s << u"ﾔﾏﾀﾞ"_s << u"ヤマダ"_s << u"やまだ"_s;
        QTest::newRow("half katakana") << u"ﾔﾏﾀﾞ"_s << u"ﾔﾏﾀﾞ"_s << u"ヤマダ"_s << u"やまだ"_s;
        QTest::newRow("semi-voiced and long") << u"ぱーてぃー"_s << u"ﾊﾟｰﾃｨｰ"_s << u"パーティー"_s << u"ぱーてぃー"_s;
        QTest::newRow("vu") << u"ヴ"_s << u"ｳﾞ"_s << u"ヴ"_s << u"ゔ"_s;
        QTest::newRow("kanji untouched") << u"山田 a"_s << u"山田 a"_s << u"山田 a"_s << u"山田 a"_s;
    }
    void kanaFoldsAllThreeForms()
    {
        QFETCH(QString, input);
        QFETCH(QString, half);
        QFETCH(QString, full);
        QFETCH(QString, hiragana);
        QCOMPARE(toHalfwidthKatakana(input), half);
        QCOMPARE(toFullwidthKatakana(input), full);
        QCOMPARE(toHiragana(input), hiragana);
    }

    void compatibilityIdeographsStayAsTyped()
    {
        const QString name = QString(QChar(0xFA19)); // 神 as some clinics' records write it
        QCOMPARE(toHalfwidthKatakana(name), name);
        QCOMPARE(toFullwidthKatakana(name), name);
        QVERIFY(isAllKana(u"やまだ"_s));
        QVERIFY(isAllKana(u"ﾔﾏﾀﾞ"_s));
        QVERIFY(!isAllKana(u"山田"_s));
        QVERIFY(!isAllKana(QString()));
    }
};

QTEST_APPLESS_MAIN(SharedHelpersTest)
#include "tst_shared.moc"
