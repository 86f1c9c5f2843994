// setting.ini as the program reads it: the values of its keys, the folder it is read from, and the
// clinic's closed days.
#include "config/ClosedDays.h"
#include "config/IniFile.h"
#include "shared/Cp932.h"
#include "support/Common.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class IniFileTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    static QByteArray cp932(const QString &text) { return encodeCp932(text).bytes; }
    ClosedDays m_days; // as closedReasons read them last

    void writeIni(const QByteArray &bytes) { QVERIFY(test::writeFileBytes(m_dir.path() + u"/setting.ini"_s, bytes)); }
    // The reasons of the days from..to, one a day ("-" when open), with setting.ini holding `text`.
    QString closedReasons(const QString &text, QDate from, QDate to)
    {
        writeIni(cp932(text));
        m_days = ClosedDays::read(m_dir.path());
        QStringList texts;
        for (QDate day = from; day <= to; day = day.addDays(1)) {
            texts << m_days.closedReason(day).value_or(u"-"_s);
        }
        return texts.join(u' ');
    }

private slots:
    // Key K of section [A] unless the row names another section and key ("S/KEY" before the file).
    void profileSemantics_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected"); // "def": the default given
        QTest::addColumn<QString>("where");
        const auto add = [](const char *name, const QByteArray &file, const QString &expected,
                            const QString &where = u"A/K"_s) { QTest::newRow(name) << file << expected << where; };
        add("case of section and key", "[server]\r\nsvnm=D:\\data\r\n", u"D:\\data"_s, u"SERVER/SVNM"_s);
        add("blanks trimmed", "[A]\r\n  K  =  v a l  \t\r\n", u"v a l"_s);
        add("first key wins", "[A]\r\nK=1\r\nK=2\r\n", u"1"_s);
        add("first section wins", "[A]\r\nX=0\r\n[B]\r\nK=b\r\n[A]\r\nK=2\r\n", u"def"_s);
        add("key of another section", "[A]\r\nK=1\r\n[B]\r\nJ=2\r\n", u"def"_s, u"B/K"_s);
        add("missing section", "[A]\r\nK=1\r\n", u"def"_s, u"TEXTFILE/TXTPATH"_s);
        add("empty value is a value", "[A]\r\nK=\r\n", QString());
        add("LF only", "[A]\nK=lf\n", u"lf"_s);
        // 予 is 0x97 0x5C and 表 0x95 0x5C: a trail byte that is a backslash must not end anything.
        add("cp932 value", cp932(u"[A]\r\nK=C:\\予約表\\\r\n"_s), u"C:\\予約表\\"_s);
        add("utf-8 value", u"[A]\r\nK=/srv/予約表/\r\n"_s.toUtf8(), u"/srv/予約表/"_s);
        add("utf-8 with byte-order mark", "\xEF\xBB\xBF" + u"[A]\r\nK=予約\r\n"_s.toUtf8(), u"予約"_s);
        add("one pair of quotes dropped", "[A]\r\nK = \"\"C:\\my docs\\ \"\"\r\n", u"\"C:\\my docs\\ \""_s);
        add("single quotes dropped", "[A]\r\nK='a b'\r\n", u"a b"_s);
        add("unpaired quote kept", "[A]\r\nK=\"ab\r\n", u"\"ab"_s);
        add("comment is part of the value", "[A]\r\nK=x.db  ; the file\r\n", u"x.db  ; the file"_s);
        // A value is cut at 255 bytes of CP932; a double-byte character that would end at byte 256 goes whole.
        const QString a(255, u'a');
        add("255 whole", cp932(u"[A]\r\nK="_s + a + u"\r\n"_s), a);
        add("256 cut", cp932(u"[A]\r\nK="_s + a + u"b\r\n"_s), a);
        add("double-byte at the cut", cp932(u"[A]\r\nK="_s + a.left(254) + u"予約\r\n"_s), a.left(254));
        add("double-byte ends at 255", cp932(u"[A]\r\nK="_s + a.left(253) + u"予約\r\n"_s), a.left(253) + u"予"_s);
    }
    void profileSemantics()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QFETCH(QString, where);
        writeIni(file);
        QCOMPARE(ini_read(m_dir.path(), where.section(u'/', 0, 0), where.section(u'/', 1), u"def"_s), expected);
    }

    // Every key, from the folder the program starts in; a missing file gives the defaults, and start-up
    // names what is missing and where it looked, rather than the database that follows.
    void readAllTakesEveryKeyOfTheCurrentFolder()
    {
        QTemporaryDir empty;
        QCOMPARE(ini_read(empty.path(), u"A"_s, u"K"_s, u"def"_s), u"def"_s);
        const std::optional<QString> missing = missingSettingFile(empty.path());
        QVERIFY(missing && missing->contains(u"setting.ini"_s) && missing->contains(empty.path()));
        QCOMPARE(ini_read_all(empty.path()).SVNM + QString::number(ini_read_all(empty.path()).TAX), u"0"_s);

        writeIni(cp932(u"[PROJECT_NAME]\r\nPNM=インフル\r\n[DATABASE]\r\nSYS0=yoyaku.mdb\r\nSYS9=nine\r\n"
                       u"[SERVER]\r\nSVNM=/srv/qrb\r\n[TAX]\r\nTAX=8\r\n[TEXTFILE]\r\nTXTPATH=/srv/out/\r\n"_s));
        QVERIFY(!missingSettingFile(m_dir.path()));
        // Another folder with its own setting.ini: the program reads the one where it starts.
        QVERIFY(test::writeFileBytes(empty.path() + u"/setting.ini"_s,
                                     "[DATABASE]\r\nSYS0=other.mdb\r\n[TAX]\r\nTAX=abc\r\n"));
        const Config config = ini_read_all(m_dir.path());
        QCOMPARE(
            QStringList({config.PNM, config.SYS0, config.SYS9, QString::number(config.TAX), config.TXTPATH,
                         config.databasePath()}),
            QStringList({u"インフル"_s, u"yoyaku.mdb"_s, u"nine"_s, u"8"_s, u"/srv/out/"_s, u"/srv/qrb/yoyaku.mdb"_s}));
        const Config other = ini_read_all(empty.path());
        QCOMPARE(other.SYS0 + QString::number(other.TAX) + other.TXTPATH, u"other.mdb0"_s);
    }

    // A file of one encoding is read whole; one of two, or no text at all, is refused with the line that
    // breaks it, and gives nothing, so that no path is ever read wrong. An empty file names the keys
    // the database needs.
    void encodingIsOneForTheWholeFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem"); // empty: none; then TXTPATH is /srv/帳票/
        const QByteArray path = "[TEXTFILE]\r\nTXTPATH=/srv/\xE5\xB8\xB3\xE7\xA5\xA8/\r\n"; // 帳票 in UTF-8
        const QByteArray name = cp932(u"[PROJECT_NAME]\r\nPNM=インフル\r\n"_s);
        QTest::newRow("UTF-8") << path << QString();
        QTest::newRow("UTF-8 with byte-order mark") << "\xEF\xBB\xBF" + path << QString();
        QTest::newRow("Shift-JIS") << cp932(u"[TEXTFILE]\r\nTXTPATH=/srv/帳票/\r\n"_s) << QString();
        // ﾃｽ in Shift-JIS is also "ý" in UTF-8: a line that tells nothing about the file.
        QTest::newRow("Shift-JIS with half-width katakana")
            << cp932(u"[A]\r\nK=ﾃｽ\r\n[TEXTFILE]\r\nTXTPATH=/srv/帳票/\r\n"_s) << QString();
        QTest::newRow("UTF-8, then a Shift-JIS line")
            << path + name << u"4 行目は Shift-JIS(CP932) で、2 行目までの UTF-8 と文字コードが違います。\n4 行目: PNM=インフル"_s;
        QTest::newRow("Shift-JIS, then a UTF-8 line")
            << name + path << u"4 行目は UTF-8 で、2 行目までの Shift-JIS(CP932) と文字コードが違います。"_s;
        QTest::newRow("byte-order mark, then a Shift-JIS line")
            << "\xEF\xBB\xBF[A]\r\n" + name << u"3 行目は Shift-JIS(CP932) で、1 行目までの UTF-8"_s;
        QTest::newRow("UTF-16") << QByteArray("\xFF\xFE[\0A\0]\0\r\0\n\0", 12) << u"1 行目に、文字として読めないバイト"_s;
        QTest::newRow("neither") << path + "K=\x80\xFF\r\n" << u"3 行目に、文字として読めないバイト"_s;
    }
    void encodingIsOneForTheWholeFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        writeIni(file);
        const std::optional<QString> said = unreadableSettingFile(m_dir.path());
        QVERIFY2(problem.isEmpty() ? !said : said && said->contains(problem), qPrintable(said.value_or(QString())));
        QCOMPARE(ini_read_all(m_dir.path()).TXTPATH, problem.isEmpty() ? u"/srv/帳票/"_s : QString());
        writeIni({});
        QVERIFY(!unreadableSettingFile(m_dir.path()));
        const QString missing = test::messageOf([&] { ini_read_all(m_dir.path()).databaseTarget(); });
        QVERIFY2(missing.contains(u"[DATABASE] の SYS0"_s) && missing.contains(u"[SERVER] の SVNM"_s), qPrintable(missing));
    }

    // Every good line of [CLOSED] counts, each bad one is named and left out, and nothing else changes.
    void closedDaysFromSettingIni()
    {
        const QDate from(2026, 1, 11), to(2026, 1, 13);
        QCOMPARE(closedReasons(u"[SERVER]\r\nSVNM=/srv\r\n"_s, from, to), u"- 成人の日 -"_s);
        QCOMPARE(closedReasons(u"[closed]\r\nholidays = 0\r\nA=2026/01/13\r\n"_s, from, to), u"- - 休診日"_s);
        QVERIFY(m_days.problemsMessage().isEmpty());
        // The same key twice counts twice, the second [CLOSED] not at all, a bad HOLIDAYS keeps 元日.
        QCOMPARE(closedReasons(u"[CLOSED]\r\n; 年末年始は毎年書き足す\r\n"
                               u"年末年始 = 2026/12/29 - 2027/01/03 ; 今年の分\r\n"
                               u"学会=2026/12/25\r\n学会=2026/12/27\r\n2026/12/01\r\n夏休み=2026/08/40\r\n"
                               u"X=2026/08/20-2026/08/10\r\nY=2026-08-20\r\nHOLIDAYS=yes\r\n"
                               u"[CLOSED]\r\nZ=2026/12/26\r\n"_s,
                               QDate(2026, 12, 25), QDate(2027, 1, 4)),
                 u"休診日 - 休診日 - 休診日 休診日 休診日 元日 休診日 休診日 -"_s);
        const QString notADate = u"日付(2026/12/29)か期間(2026/12/29-2027/01/03)ではありません"_s;
        QCOMPARE(m_days.problems(),
                 QStringList({u"6 行目「2026/12/01」: 「名前=日付」の形ではありません"_s,
                              u"7 行目「夏休み=2026/08/40」: "_s + notADate,
                              u"8 行目「X=2026/08/20-2026/08/10」: 期間の終わりが始まりより前です"_s,
                              u"9 行目「Y=2026-08-20」: "_s + notADate,
                              u"10 行目「HOLIDAYS=yes」: HOLIDAYS は 1(祝日は休診)か 0(祝日も診療)です"_s}));
        QVERIFY(m_days.problemsMessage().contains(u"\r\n8 行目「X=2026/08/20-2026/08/10」"_s));
    }
};

QTEST_APPLESS_MAIN(IniFileTest)
#include "tst_ini.moc"
