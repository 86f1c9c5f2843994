#include "shared/Cp932.h"
#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Holidays.h"
#include "shared/Kana.h"
#include "shared/Text.h"
#include "shared/WholeFile.h"
#include "support/Common.h"

#include <QDir>
#include <QTemporaryDir>

#include <QTest>

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace qrb;

static int failingFsyncs = 0;

// The flushes of this program, failing as a disk's write-back error reaches it: once, at the first
// flush that looks (the next one finds nothing to report).
extern "C" int fsync(int fd)
{
    if (failingFsyncs > 0) {
        --failingFsyncs;
        errno = EIO;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}

class SharedHelpersTest : public QObject
{
    Q_OBJECT

private slots:
    // Rates, texts padded to a width, and date texts as the pickers and the database hold them ("-": none).
    void textsOfNumbersAndDates()
    {
        QCOMPARE(QStringList({pct(2, 3), pct(5, 4), pct(1, 16), pct(1, 80), pct(3, 0), pct(40000, 80000)}).join(u' '),
                 u"66.7% 125.0% 6.3% 1.3% ***% 50.0%"_s);
        QCOMPARE(QStringList({padRight(u"山田"_s, 4, u'＿'), padRight(u"山田花子様"_s, 4), padRight(u"𠮷野"_s, 4)}),
                 QStringList({u"山田＿＿"_s, u"山田花子様"_s, u"𠮷野  "_s}));
        // Pasted from a spreadsheet, or written by another program: one line, inner runs as one blank.
        QCOMPARE(QStringList({oneLine(u"改行\n太郎\r\n"_s), oneLine(u"\t山田\u2028\u0085花子"_s), oneLine(u"O'Brien  様"_s)}),
                 QStringList({u"改行 太郎"_s, u"山田 花子"_s, u"O'Brien  様"_s}));
        const auto key = [](std::optional<QDate> day) { return day ? dateKey(*day) : u"-"_s; };
        QCOMPARE(QStringList(
                     {key(dateFromTexts(u"2008"_s, u"02"_s, u"29"_s)), key(dateFromTexts(u"2009"_s, u"02"_s, u"29"_s)),
                      key(dateFromTexts(u"2009"_s, u"04"_s, u"31"_s)), key(dateFromTexts(u"20x6"_s, u"01"_s, u"01"_s)),
                      key(dateFromKey(u"2009/12/31"_s)), key(dateFromKey(u"2009/1/1"_s)),
                      key(dateFromKey(u"2009-01-01"_s)), key(dateFromKey(u"2009/02/30"_s))})
                     .join(u' '),
                 u"2008/02/29 - - - 2009/12/31 - - -"_s);
    }

    // A write the disk reports as failed when it is flushed leaves the earlier file as it was, and
    // nothing of the attempt beside it.
    void wholeFileFailingAtTheFlushKeepsTheEarlier()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"日報.txt"_s);
        QCOMPARE(writeWholeFile(path, "earlier"), QString());
        failingFsyncs = 1;
        QVERIFY(!writeWholeFile(path, "later").isEmpty());
        QCOMPARE(failingFsyncs, 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"日報.txt"_s});
        QCOMPARE(test::fileBytes(path), QByteArray("earlier"));
    }

    // The days off as the Cabinet Office published them, one year a row (the row's name is the year).
    void holidaysOfWholeYears_data()
    {
        QTest::addColumn<QString>("days");
        QTest::newRow("1989")
            << u"0101 0102 0115 0116 0211 0224 0321 0429 0503 0504 0505 0915 0923 1010 1103 1123 1223"_s;
        // 5/4 falls between two holidays on a Saturday: a 国民の休日 all the same (only a Sunday is not).
        QTest::newRow("1991") << u"0101 0115 0211 0321 0429 0503 0504 0505 0506 0915 0916 0923 1010 1103 1104 1123 "
                                 u"1223"_s;
        QTest::newRow("1993") << u"0101 0115 0211 0320 0429 0503 0504 0505 0609 0915 0923 1010 1011 1103 1123 1223"_s;
        QTest::newRow("2007") << u"0101 0108 0211 0212 0321 0429 0430 0503 0504 0505 0716 0917 0923 0924 1008 1103 "
                                 u"1123 1223 1224"_s;
        QTest::newRow("2019") << u"0101 0114 0211 0321 0429 0430 0501 0502 0503 0504 0505 0506 0715 0811 0812 0916 "
                                 u"0923 1014 1022 1103 1104 1123"_s;
        QTest::newRow("2020") << u"0101 0113 0211 0223 0224 0320 0429 0503 0504 0505 0506 0723 0724 0810 0921 0922 "
                                 u"1103 1123"_s;
        QTest::newRow("2021")
            << u"0101 0111 0211 0223 0320 0429 0503 0504 0505 0722 0723 0808 0809 0920 0923 1103 1123"_s;
        QTest::newRow("2026") << u"0101 0112 0211 0223 0320 0429 0503 0504 0505 0506 0720 0811 0921 0922 0923 1012 "
                                 u"1103 1123"_s;
    }
    void holidaysOfWholeYears()
    {
        QFETCH(QString, days);
        QStringList computed;
        for (const Holiday &holiday : nationalHolidays(QString::fromLatin1(QTest::currentDataTag()).toInt())) {
            computed << holiday.date.toString(u"MMdd"_s);
        }
        QCOMPARE(computed.join(u' '), days);
    }

    // Days whose name changed with the law, or that were no holiday yet ("-").
    void holidayNamesFollowTheLawOfTheirYear()
    {
        const QStringList expected = QString(u"19850504 - 19870504 振替休日 19880504 国民の休日 19880429 天皇誕生日 "
                                             u"19890429 みどりの日 20070429 昭和の日 19890224 昭和天皇の大喪の礼 "
                                             u"19901112 即位礼正殿の儀 19930609 皇太子徳仁親王の結婚の儀 19950720 - "
                                             u"19960720 海の日 20150811 - 20160811 山の日 20190501 即位の日 "
                                             u"20190502 国民の休日 20191014 体育の日 20191223 - 20200724 スポーツの日 "
                                             u"20201012 - 20221010 スポーツの日 20260223 天皇誕生日"_s)
                                         .split(u' ');
        for (qsizetype i = 0; i + 1 < expected.size(); i += 2) {
            const QDate date = QDate::fromString(expected[i], u"yyyyMMdd"_s);
            QCOMPARE(expected[i] + nationalHoliday(date).value_or(u"-"_s), expected[i] + expected[i + 1]);
        }
    }

    void erasAgesKanaAndNvl()
    {
        QCOMPARE(QList<std::optional<int>>({westernYear(Reiwa, 1), westernYear(Showa, 64), westernYear(9, 1)}),
                 QList<std::optional<int>>({2019, 1989, std::nullopt}));
        QCOMPARE(ageOn(QDate(2008, 2, 29), QDate(2009, 2, 28)), 0);
        // Only what holds no value at all is shown as the default: 0 is a value.
        QCOMPARE(nvl_str(QVariant(), u"未入力"_s) + nvl_str(QVariant(QString()), u"-"_s) + nvl_str(QVariant(0), u"-"_s),
                 u"未入力-0"_s);
        QVERIFY(isAllKana(u"やまだ"_s) && !isAllKana(u"山田"_s) && !isAllKana(QString()));
    }

    // The Windows table (～ is 81 60, 予 97 5C with a backslash as its trail byte), and 〓 for what it
    // cannot hold.
    void cp932UsesTheWindowsTable()
    {
        QCOMPARE(encodeCp932(u"～予ｽﾃｰﾀｽ"_s).bytes, QByteArray("\x81\x60\x97\x5C\xBD\xC3\xB0\xC0\xBD"));
        QCOMPARE(decodeCp932(QByteArray("\x97\x5C\x96\xF1\x81\x60")), u"予約～"_s);
        const Cp932Bytes out = encodeCp932(u"a𠮷b😀c"_s);
        QCOMPARE(out.replaced, 2);
        QCOMPARE(out.bytes, QByteArray::fromHex("6181ac6281ac63")); // a〓b〓c
        QCOMPARE(decodeCp932(QByteArray("ok\x81")), u"ok\uFFFD"_s);
    }

    // Each row: the input, then its half-width katakana, full-width katakana and hiragana.
    void kanaFoldsAllThreeForms_data()
    {
        QTest::addColumn<QString>("forms");
        QTest::newRow("hiragana voiced") << u"やまだ ﾔﾏﾀﾞ ヤマダ やまだ"_s;
        QTest::newRow("full katakana") << u"ヤマダ ﾔﾏﾀﾞ ヤマダ やまだ"_s;
        QTest::newRow("half katakana") << u"ﾔﾏﾀﾞ ﾔﾏﾀﾞ ヤマダ やまだ"_s;
        QTest::newRow("semi-voiced and long") << u"ぱーてぃー ﾊﾟｰﾃｨｰ パーティー ぱーてぃー"_s;
        QTest::newRow("vu") << u"ヴ ｳﾞ ヴ ゔ"_s;
        QTest::newRow("kanji and latin untouched") << u"山田a 山田a 山田a 山田a"_s;
        // 神 as some clinics' records write it: a compatibility ideograph, kept as typed.
        QTest::newRow("compatibility ideograph") << u"%1 %1 %1 %1"_s.arg(QChar(0xFA19));
    }
    void kanaFoldsAllThreeForms()
    {
        QFETCH(QString, forms);
        const QString input = forms.section(u' ', 0, 0);
        QCOMPARE(
            QStringList({input, toHalfwidthKatakana(input), toFullwidthKatakana(input), toHiragana(input)}).join(u' '),
            forms);
    }
};

QTEST_APPLESS_MAIN(SharedHelpersTest)
#include "tst_shared.moc"
