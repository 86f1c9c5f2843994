// The reports: the three files, compared whole and byte for byte with texts written out here line by
// line; what a press does when the day, the folder or the database is not as expected; the window
// that shows a written report; and qrb-report, run as a scheduled job would run it.
#include "support/Common.h"
#include "support/Desk.h"
#include "support/FullDisk.h"
#include "support/Workspace.h"

#include "screens/common/Dialogs.h"
#include "screens/reports/ReportScreen.h"
#include "screens/reports/ReportViewerWindow.h"
#include "screens/reports/ReportWriters.h"
#include "shared/Cp932.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace qrb::test;

namespace {

// A whole YOYAKU row as a reception desk would have stored it; codes are QVariants so that a row can
// store Null. Defaults: a seasonal reservation of a non-member with no earlier visit, not yet come.
struct SeedRow {
    QString ydate = u"2009/10/09"_s;
    QString ytime = u"08"_s;
    QString knm = u"佐藤花子"_s;
    QString tel1 = u"03-1111-2222"_s;
    QVariant bflg = 0;
    QString birthday = u"2000年01月01日"_s;
    QVariant cflg = 0, sflg = 1, scnt = 1, rflg = 2;
    QString kno = QString();
    QVariant kflg = 2;
    QString kmno = QString();
};

void seed(qrb::Database &db, const SeedRow &r)
{
    const int yno = db.scalar(u"SELECT COALESCE(MAX(YNO), 0) + 1 FROM YOYAKU"_s).toInt();
    db.write(u"INSERT INTO YOYAKU (YNO, KNO, KNM, KKNM, YDATE, YTIME, BFLG, BIRTHDAY, TEL1, TEL2, RFLG, KFLG, KMNO, "
             "SFLG, SCNT, CFLG, Category) VALUES (?, ?, ?, '', ?, ?, ?, ?, ?, NULL, ?, ?, ?, ?, ?, ?, 0)"_s,
             {yno, r.kno, r.knm, r.ydate, r.ytime, r.bflg, r.birthday, r.tel1, r.rflg, r.kflg, r.kmno, r.sflg, r.scnt,
              r.cflg});
}

using HourTexts = QMap<int, QString>; // hour (or day) → its text

// A day's line of the month report.
QString dayLine(int booked, int waiting, int places, const QString &rate, const QString &came)
{
    return u"　□予約者数：%1人    未来院者数：%2人    摂取可能人数：%3人　　◇予約率：%4%    来院率：%5%"_s.arg(
        QString::number(booked), QString::number(waiting), QString::number(places), rate, came);
}

const QString NL = u"\r\n"_s;

const auto sp = [](int n) { return QString(n, u' '); };

// The frame of a day's report: title, counts line, then the ten hour sections with what each holds.
QString dayFile(const QString &title, const QString &counts, const HourTexts &hours)
{
    QString text = title + NL + counts + NL;
    for (int h = 8; h <= 17; ++h) {
        text += NL + QString(72, u'-') + NL +
                u"***** %1時 ～ %2時 *****"_s.arg(h, 2, 10, QChar(u'0')).arg(h + 1, 2, 10, QChar(u'0')) + NL +
                hours.value(h);
    }
    return text;
}

const auto cp932 = [](const QString &text) { return qrb::encodeCp932(text).bytes; };

// A patient as the seed's defaults store her: line B of the daily report (or of the list, without the
// visit column) after her line A.
const QString SeasonalB = u"季節性　　　　　来院歴なし　非組合員　"_s;
QString entry(const QString &lineA, const QString &visit = u"　未来院　"_s)
{
    return lineA + NL + visit + SeasonalB + NL;
}
QString nameA(const QString &name)
{
    return u"○"_s + name + sp(14 - int(name.size())) + u"03-1111-2222"_s + sp(16) + u" 西暦2000年01月01日"_s + sp(4);
}

SeedRow row(const QString &name, const QString &hour, int cflg = 0)
{
    return {.ytime = hour, .knm = name, .cflg = cflg};
}

// 予 holds the byte 0x5C: it must come back as 予, not as a backslash.
QString writeReport(const QString &folder)
{
    const QString path = folder + u"/日報.txt"_s;
    return writeFileBytes(path, qrb::encodeCp932(u"予約 08時 ～ 09時\r\n○山田\r\n"_s).bytes) ? path : QString();
}

const auto runTool = [](const QString &folder, const QStringList &args) {
    return runProgram(binDir() + u"/tools/qrb-report"_s, args, folder);
};

// A setting.ini naming the workspace's database, or, when `present` is false, one beside it that does
// not exist: a file of another name, or another database on the same server.
void writeSettings(const Workspace &ws, bool present, const QString &txtPath = u"./tool/"_s)
{
    QByteArray text = "[DATABASE]\r\nSYS0=" + QByteArray(present ? "yoyaku.db" : "gone.db") +
                      "\r\n[SERVER]\r\nSVNM=.\r\n[TEXTFILE]\r\nTXTPATH=" + txtPath.toUtf8() + "\r\n";
    if (const auto &server = ws.target().postgres) {
        text += "[POSTGRESQL]\r\nHOST=" + server->host.toUtf8() +
                "\r\nPORT=" + (server->port > 0 ? QByteArray::number(server->port) : QByteArray()) +
                "\r\nDBNAME=" + server->dbname.toUtf8() + (present ? "" : "_gone") +
                "\r\nUSER=" + server->user.toUtf8() + "\r\n";
    }
    QVERIFY(writeFileBytes(ws.folder() + u"/setting.ini"_s, text));
}

} // namespace

Q_DECLARE_METATYPE(SeedRow)

class ReportsTest : public QObject
{
    Q_OBJECT

private slots:
    // Entered out of order: within an hour the list follows the reservation number.
    void dayReportsAreByteExact()
    {
        const SeedRow padded{.ytime = u"11"_s,
                             .knm = u"山田太郎左衛門之助"_s,
                             .tel1 = u"090-1234-567"_s,
                             .bflg = 3,
                             .birthday = u"45/01/01"_s,
                             .sflg = 2,
                             .rflg = 1,
                             .kno = u"123456"_s};
        const QString paddedA =
            u"○山田太郎左衛門之助"_s + sp(5) + u"090-1234-567"_s + sp(2) + sp(14) + u" 昭和45/01/01"_s + sp(7);
        const QString paddedB = u"新型1回目"_s + sp(4) + u"　来院歴あり　123456"_s + sp(4) + u"非組合員　"_s;
        const QString counts =
            u"■予約者数：6人    未来院者数：5人    摂取可能人数：4人　　◆予約率：150.0%    来院率：16.7%"_s;
        const HourTexts daily{{8, entry(nameA(u"佐藤花子"_s))},
                              {10, entry(nameA(u"高橋次郎"_s)) + NL + entry(nameA(u"鈴木一郎"_s), u"　来院　　"_s)},
                              {11, paddedA + NL + u"　未来院　"_s + paddedB + NL},
                              {12, entry(nameA(u"伊藤四郎"_s))},
                              {17, entry(nameA(u"田中三郎"_s))}};
        const HourTexts list{{8, entry(nameA(u"佐藤花子"_s), u"　"_s)},
                             {10, entry(nameA(u"高橋次郎"_s), u"　"_s)},
                             {11, paddedA + NL + u"　"_s + paddedB + NL},
                             {12, entry(nameA(u"伊藤四郎"_s), u"　"_s)},
                             {17, entry(nameA(u"田中三郎"_s), u"　"_s)}};

        Workspace ws(0);
        // The day is a Friday whose places are all in its first hour.
        ws.db.write(u"UPDATE SETTING SET NINZU = 4 WHERE SWEEKDAY = 5 AND STIME = '08'"_s);
        for (const SeedRow &r :
             {row(u"高橋次郎"_s, u"10"_s), row(u"佐藤花子"_s, u"08"_s), row(u"鈴木一郎"_s, u"10"_s, 1),
              row(u"田中三郎"_s, u"17"_s), row(u"伊藤四郎"_s, u"12"_s), padded}) {
            seed(ws.db, r);
        }
        qrb::ReportScreen screen(*ws.state);
        showActive(&screen);
        click(&screen, u"Command1(0)"_s);
        click(&screen, u"Command1(1)"_s);
        QVERIFY(ws.dialogs.messages.isEmpty());

        const QByteArray dailyBytes = fileBytes(ws.folder() + u"/reports/日報.txt"_s);
        QCOMPARE(dailyBytes, cp932(dayFile(u"インフルエンザ予防接種　日報    2009年10月09日"_s, counts, daily)));
        QCOMPARE(fileBytes(ws.folder() + u"/reports/未来院リスト.txt"_s),
                 cp932(dayFile(u"インフルエンザ予防接種　未来院リスト    2009年10月09日"_s, counts, list)));
        // The wave dash of the hour headers is Windows' 0x81 0x60, which a reader of the file expects.
        QVERIFY(dailyBytes.contains("***** 17\x8e\x9e \x81\x60 18\x8e\x9e *****\r\n"));
    }

    // Codes outside their tables write nothing, line end included, as the printed lists always did.
    void entriesOfUnusualRows_data()
    {
        QTest::addColumn<SeedRow>("row");
        QTest::addColumn<QString>("daily"); // the list's entry is the same without the visit column

        const QString satoNoEra = u"○佐藤花子"_s + sp(10) + u"03-1111-2222"_s + sp(16); // her line A before the era
        QTest::newRow("no era: line B continues line A")
            << SeedRow{.bflg = QVariant()} << satoNoEra + u"　未来院　"_s + SeasonalB + NL;

        QTest::newRow("令和, first dose only, history not entered, member")
            << SeedRow{.bflg = 5, .birthday = u"01年05月01日"_s, .sflg = 3, .rflg = 0, .kflg = 1, .kmno = u"M-77"_s}
            << satoNoEra + u" 令和01年05月01日"_s + sp(6) + NL + u"　未来院　新型1回目のみ　"_s + sp(6) +
                   u"　　　組合員　　M-77"_s + sp(6) + NL;

        QTest::newRow("membership outside its table: the file ends without a line end")
            << SeedRow{.sflg = 0, .kflg = 7}
            << nameA(u"佐藤花子"_s) + NL + u"　未来院　"_s + sp(6) + u"　　　　　来院歴なし　"_s;

        // Written by another program: no line breaks but the report's own.
        QTest::newRow("line breaks and tabs stored by another program")
            << SeedRow{.knm = u"改行\n太郎\r\n"_s, .tel1 = u"03\t1111\u2028"_s, .birthday = u"2000年\r01月01日"_s}
            << u"○改行 太郎"_s + sp(9) + u"03 1111"_s + sp(7) + sp(14) + u" 西暦2000年 01月01日"_s + sp(3) + NL
                   + u"　未来院　"_s + SeasonalB + NL;

        const QString longA = u"○長い名前の患者さんのお名前です"_s + sp(28) + u" 西暦"_s + sp(15);
        QTest::newRow("long name whole, empty fields as blanks, second dose")
            << SeedRow{.knm = u"長い名前の患者さんのお名前です"_s,
                       .tel1 = QString(),
                       .birthday = QString(),
                       .sflg = 2,
                       .scnt = 2}
            << longA + NL + u"　未来院　新型2回目"_s + sp(4) + u"　来院歴なし　非組合員　"_s + NL;
    }

    void entriesOfUnusualRows()
    {
        QFETCH(SeedRow, row);
        QFETCH(QString, daily);
        const QString list = QString(daily).replace(u"　未来院　"_s, u"　"_s);

        Workspace ws(0);
        seed(ws.db, row);
        // The one entry stands in the last hour, so the entry is the end of the file.
        ws.db.write(u"UPDATE YOYAKU SET YTIME = '17'"_s);
        const QDate day(2009, 10, 9);
        const QString counts =
            u"■予約者数：1人    未来院者数：1人    摂取可能人数：0人　　◆予約率：***%    来院率：***%"_s;
        QCOMPARE(qrb::dailyReport(day, qrb::dayCounts(ws.db, day), qrb::reservationsOfDay(ws.db, day, false)),
                 dayFile(u"インフルエンザ予防接種　日報    2009年10月09日"_s, counts, {{17, daily}}));
        QCOMPARE(qrb::notVisitedReport(day, qrb::dayCounts(ws.db, day), qrb::reservationsOfDay(ws.db, day, true)),
                 dayFile(u"インフルエンザ予防接種　未来院リスト    2009年10月09日"_s, counts, {{17, list}}));
    }

    void monthlyReportIsByteExact_data()
    {
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("month");
        QTest::addColumn<int>("places"); // in every hour of every weekday
        QTest::addColumn<int>("sundayPlaces");
        QTest::addColumn<QStringList>("reservations"); // date, then 0 or 1 for come
        QTest::addColumn<QString>("monthLine");
        QTest::addColumn<HourTexts>("dayLines"); // days whose line is not the plain one
        const QString noPlaces = dayLine(0, 0, 0, u"***"_s, u"***"_s);
        QTest::newRow("30 days of 10 places, neighbours not counted")
            << u"2009"_s << u"11"_s << 1 << 1 << QStringList{u"2009/11/03"_s, u"0"_s, u"2009/11/03"_s, u"1"_s,
                                                             u"2009/10/31"_s, u"0"_s, u"2009/12/01"_s, u"0"_s}
            << u"■予約者数：2人    未来院者数：1人    摂取可能人数：300人　　◆予約率：0.7%    来院率：50.0%"_s
            << HourTexts{{3, dayLine(2, 1, 10, u"20.0"_s, u"50.0"_s)}};
        QTest::newRow("leap February, Sundays without places")
            << u"2024"_s << u"02"_s << 1 << 0 << QStringList{u"2024/02/04"_s, u"0"_s}
            << u"■予約者数：1人    未来院者数：1人    摂取可能人数：250人　　◆予約率：0.4%    来院率：0.0%"_s
            << HourTexts{{4, dayLine(1, 1, 0, u"***"_s, u"***"_s)}, {11, noPlaces}, {18, noPlaces}, {25, noPlaces}};
        // "2009/10/9" begins with the month but names none of its days: the month counts it, no day does.
        QTest::newRow("totals beyond 16 bits, a date without its zero")
            << u"2009"_s << u"10"_s << 200 << 200
            << QStringList{u"2009/10/9"_s, u"0"_s, u"2009/10/31"_s, u"0"_s, u"2009/10/31"_s, u"1"_s}
            << u"■予約者数：3人    未来院者数：2人    摂取可能人数：62000人　　◆予約率：0.0%    来院率：33.3%"_s
            << HourTexts{{31, dayLine(2, 1, 2000, u"0.1"_s, u"50.0"_s)}};
    }

    void monthlyReportIsByteExact()
    {
        QFETCH(QString, year);
        QFETCH(QString, month);
        QFETCH(int, places);
        QFETCH(int, sundayPlaces);
        QFETCH(QStringList, reservations);
        QFETCH(QString, monthLine);
        QFETCH(HourTexts, dayLines);

        Workspace ws(places);
        ws.db.write(u"UPDATE SETTING SET NINZU = ? WHERE SWEEKDAY = 7"_s, {sundayPlaces});
        for (qsizetype i = 0; i < reservations.size(); i += 2) {
            ws.addReservation(reservations.at(i), u"09"_s, u"患者"_s, reservations.at(i + 1).toInt());
        }
        qrb::ReportScreen screen(*ws.state);
        showActive(&screen);
        // The day plays no part, even when it names none; a second press rewrites the file, never appends.
        for (const auto &[picker, text] : {std::pair{0, year}, {1, month}, {2, u"xx"_s}}) {
            typeInto(control(&screen, u"Combo1(%1)"_s.arg(picker)), text);
        }
        for (int press = 0; press < 2; ++press) {
            click(&screen, u"Command2(0)"_s);
        }
        QVERIFY(ws.dialogs.messages.isEmpty());
        QCOMPARE(ws.viewer.shown.size(), 2);
        QVERIFY(ws.viewer.shown.last().endsWith(u"/reports/月報.txt"_s));

        const QStringList labels = {u"(月)"_s, u"(火)"_s, u"(水)"_s, u"(木)"_s, u"(金)"_s, u"(土)"_s, u"(日)"_s};
        QString expected = u"インフルエンザ予防接種　月報    %1年%2月分"_s.arg(year, month) + NL + monthLine + NL;
        const QDate first(year.toInt(), month.toInt(), 1);
        for (int d = 1; d <= first.daysInMonth(); ++d) {
            expected += NL + QString::number(d) + u"日 "_s + labels.at(first.addDays(d - 1).dayOfWeek() - 1) +
                        QString(72, u'-') + NL + dayLines.value(d, dayLine(0, 0, 10 * places, u"0.0"_s, u"***"_s)) + NL;
        }
        QCOMPARE(fileBytes(ws.folder() + u"/reports/月報.txt"_s), cp932(expected));
    }

    // A month and day typed without their zeros still name the stored day. What Shift-JIS cannot hold
    // is written as 〓, counted in the message, and a character outside the Basic Multilingual Plane is
    // one character of the padded column, so that every later column keeps its place.
    void unpaddedDayAndCharactersOutsideShiftJis()
    {
        Workspace ws(3);
        ws.addReservation(u"2009/04/05"_s, u"09"_s, u"𠮷田🙂"_s);
        qrb::ReportScreen screen(*ws.state);
        showActive(&screen);
        for (const auto &[picker, text] : {std::pair{1, u"4"_s}, {2, u"5"_s}}) {
            typeInto(control(&screen, u"Combo1(%1)"_s.arg(picker)), text);
        }
        click(&screen, u"Command1(0)"_s);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.contains(u" 2 文字"_s));
        QCOMPARE(ws.viewer.shown.size(), 1);
        const QByteArray bytes = fileBytes(ws.viewer.shown.first());
        QVERIFY(bytes.startsWith(cp932(u"インフルエンザ予防接種　日報    2009年04月05日\r\n"_s)));
        // Name, both telephones: three columns of 14, then line B at once (no era stored).
        const QByteArray lineA = "\x81\x9b\x81\xac\x93\x63\x81\xac" + QByteArray(11 + 28, ' ') + cp932(u"　未来院　"_s);
        QVERIFY(bytes.contains(lineA));
    }

    // A date that names no day, a folder that cannot be made, a database gone: one message, no file.
    void aPressThatCannotWriteWritesNothing_data()
    {
        QTest::addColumn<QString>("typed");  // year, month, day
        QTest::addColumn<QString>("broken"); // TXTPATH, or "db"
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("told");
        const QString wrongDate = u"日付が正しくありません。見直してください。"_s;
        const QString noList = u"未来院予約者一覧を作成できませんでした。"_s;
        QTest::newRow("month 13") << u"2009 13 01"_s << QString() << u"Command1(1)"_s << wrongDate;
        QTest::newRow("two-digit year") << u"09 10 09"_s << QString() << u"Command1(0)"_s << wrongDate;
        QTest::newRow("full-width month 13, monthly") << u"2009 １３ 09"_s << QString() << u"Command2(0)"_s << wrongDate;
        QTest::newRow("folder name taken by a file") << QString() << u"taken/"_s << u"Command1(1)"_s << noList;
        QTest::newRow("two missing levels") << QString() << u"missing/reports/"_s << u"Command1(1)"_s << noList;
        QTest::newRow("database gone") << QString() << u"db"_s << u"Command1(1)"_s << noList;
    }

    void aPressThatCannotWriteWritesNothing()
    {
        QFETCH(QString, typed);
        QFETCH(QString, broken);
        QFETCH(QString, button);
        QFETCH(QString, told);
        Workspace ws(3);
        QVERIFY(writeFileBytes(ws.folder() + u"/taken"_s, {}));
        qrb::ReportScreen screen(*ws.state);
        if (broken == u"db"_s) {
            ws.db.DB_close();
        } else if (!broken.isEmpty()) {
            ws.state->config.TXTPATH = broken;
        }
        showActive(&screen);
        const QStringList parts = typed.split(u' ', Qt::SkipEmptyParts);
        for (int i = 0; i < parts.size(); ++i) {
            typeInto(control(&screen, u"Combo1(%1)"_s.arg(i)), parts.at(i));
        }
        click(&screen, button);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(told));
        QVERIFY(ws.viewer.shown.isEmpty() && !QFileInfo::exists(ws.folder() + u"/missing"_s));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/reports/未来院リスト.txt"_s));
        QVERIFY(parts.isEmpty() || !QFileInfo::exists(ws.folder() + u"/reports"_s));
        QCOMPARE(QFileInfo(ws.folder() + u"/taken"_s).size(), 0);
    }

    // The viewer: opened from the main window it covers that window's middle, not the report buttons in its corner,
    // also the first time and right after a message box (the report screen's note of characters
    // Shift-JIS cannot hold) took the focus away; it shows the file decoded, read-only, in a font where a
    // full-width character takes exactly two half-width ones (columns are padded by characters); Escape
    // closes it, and its PDF is named after the day, so the next day's does not overwrite it.
    void showsTheDecodedFileOverTheMainWindow()
    {
        Workspace ws;
        QMainWindow desk;
        desk.setGeometry(20, 20, 760, 760); // the offscreen screen is 800 × 800
        desk.show();
        QVERIFY(QTest::qWaitForWindowActive(&desk));
        QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
        qrb::MessageBoxDialogs().tell(u"2 文字を 〓 にしました。"_s);
        qrb::ReportViewerWindow viewer(ws.dialogs);
        viewer.showReport(writeReport(ws.folder()), u"2009-10-09"_s);
        QVERIFY(QTest::qWaitForWindowActive(&viewer));
        QCOMPARE(viewer.text(), u"予約 08時 ～ 09時\n○山田\n"_s);
        QVERIFY(viewer.windowTitle().startsWith(u"日報.txt"_s));
        auto *text = viewer.findChild<QPlainTextEdit *>(u"ReportText"_s);
        QVERIFY(text->isReadOnly());
        const QFontMetricsF metrics(text->font());
        QCOMPARE(metrics.horizontalAdvance(u"i"_s), metrics.horizontalAdvance(u"W"_s));
        QCOMPARE(metrics.horizontalAdvance(u"予　"_s), 4 * metrics.horizontalAdvance(u"-"_s));
        // Within the window frame's few pixels, which are known only once it is shown.
        QVERIFY((viewer.frameGeometry().center() - desk.frameGeometry().center()).manhattanLength() <= 8);
        QCOMPARE(viewer.suggestedPdfName(), u"日報_2009-10-09.pdf"_s);
        QTest::keyClick(&viewer, Qt::Key_Escape);
        QVERIFY(!viewer.isVisible());
        QVERIFY(ws.dialogs.messages.isEmpty());

        // A missing file, or a PDF that cannot be written, is told.
        viewer.showReport(ws.folder() + u"/none.txt"_s, u"2009-10-09"_s);
        QVERIFY(!viewer.isVisible());
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"帳票ファイルを開けません。"_s));

        ws.dialogs.clear();
        QVERIFY(viewer.load(writeReport(ws.folder())));
        QVERIFY(viewer.saveAsPdf(ws.folder() + u"/日報.pdf"_s));
        QFile pdf(ws.folder() + u"/日報.pdf"_s);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.read(5), QByteArray("%PDF-"));
        QVERIFY(ws.dialogs.messages.isEmpty());

        QVERIFY(!viewer.saveAsPdf(ws.folder() + u"/missing/日報.pdf"_s));
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"PDF ファイルを書き込めません。"_s));
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/missing"_s));
    }

    // The tool writes, for a day, the bytes each of the screen's buttons writes.
    void writesTheBytesOfTheButtons()
    {
        Workspace ws(2);
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"O'Brien"_s);
        ws.addReservation(u"2009/10/09"_s, u"16"_s, u"山田太郎"_s, 1);
        ws.addReservation(u"2009/10/20"_s, u"10"_s, u"佐藤花子"_s);
        writeSettings(ws, true);
        qrb::ReportScreen screen(*ws.state);
        screen.Command1_Click(0);
        screen.Command1_Click(1);
        screen.Command2_Click(0);
        for (const auto &[kind, file] : {std::pair{u"daily"_s, u"日報.txt"_s},
                                         {u"unvisited"_s, u"未来院リスト.txt"_s},
                                         {u"monthly"_s, u"月報.txt"_s}}) {
            const Run run = runTool(ws.folder(), {kind, u"2009/10/09"_s});
            QCOMPARE(run.code, 0);
            QCOMPARE(QFileInfo(run.out).canonicalFilePath(),
                     QFileInfo(ws.folder() + u"/tool/"_s + file).canonicalFilePath());
            const QByteArray bytes = fileBytes(ws.folder() + u"/reports/"_s + file);
            QVERIFY(!bytes.isEmpty());
            QCOMPARE(fileBytes(run.out), bytes);
        }
    }

    // A name or patient number a spreadsheet would run as a formula (a booking made on the web page,
    // say) reaches the history's CSV as text.
    void historyCsvKeepsFormulasAsText()
    {
        Workspace ws(2);
        writeSettings(ws, true);
        const QStringList names = {u"=HYPERLINK(\"http://example.com\",\"開く\")"_s, u"+81"_s, u"@SUM(A1)"_s,
                                   u"\t=1+1"_s, u"\r=1"_s, u"田中-2"_s};
        for (qsizetype i = 0; i < names.size(); ++i) {
            qrb::registerReservation(ws.db, bookingOf(names[i], u"2009/10/09"_s, qrb::slotKey(int(i)), u"-2-3"_s),
                                     qrb::WhenFull::Refuse);
        }
        const Run run =
            runTool(ws.folder(), {u"history"_s, u"day"_s, QDate::currentDate().toString(u"yyyy/MM/dd"_s), u"--csv"_s});
        QCOMPARE(run.code, 0);
        const QString csv = QString::fromUtf8(fileBytes(run.out).mid(3));
        for (const QString &fields :
             {u",'-2-3,\"'=HYPERLINK(\"\"http://example.com\"\",\"\"開く\"\")\","_s, u",'-2-3,'+81,"_s,
              u",'-2-3,'@SUM(A1),"_s, u",'-2-3,'\t=1+1,"_s, u",'-2-3,\"'\r=1\","_s, u",'-2-3,田中-2,"_s}) {
            QVERIFY2(csv.contains(fields), qPrintable(csv));
        }
    }

    // A setting.ini that cannot be read says which line breaks it, or which keys it lacks, and no
    // folder is made from a path read wrong.
    void failuresSayWhyAndExitNonZero_data()
    {
        QTest::addColumn<QString>("settings"); // none, the database present or gone, or a file read wrong
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("said");
        const QStringList daily{u"daily"_s, u"2009/10/09"_s};
        QTest::newRow("no setting.ini") << u"none"_s << daily << u"setting.ini"_s;
        QTest::newRow("missing database") << u"gone"_s << daily << u"gone"_s;
        QTest::newRow("no such day") << u"present"_s << QStringList{u"daily"_s, u"2009/02/30"_s} << u"日付"_s;
        QTest::newRow("unknown report") << u"present"_s << QStringList{u"weekly"_s, u"2009/10/09"_s} << u"種類"_s;
        QTest::newRow("UTF-8 with a Shift-JIS line added")
            << u"mixed"_s << daily << u"Shift-JIS(CP932) で、6 行目までの UTF-8 と"_s;
        QTest::newRow("empty setting.ini") << u"empty"_s << daily << u"[DATABASE] の SYS0"_s;
        QTest::newRow("saved as UTF-16") << u"utf-16"_s << daily << u"1 行目に、文字として読めないバイト"_s;
    }
    void failuresSayWhyAndExitNonZero()
    {
        QFETCH(QString, settings);
        QFETCH(QStringList, args);
        QFETCH(QString, said);
        Workspace ws(2);
        const QString ini = ws.folder() + u"/setting.ini"_s;
        if (settings != u"none"_s) {
            writeSettings(ws, settings != u"gone"_s, u"./帳票/"_s);
        }
        if (settings == u"mixed"_s) {
            QVERIFY(writeFileBytes(ini, fileBytes(ini) + cp932(u"[PROJECT_NAME]\r\nPNM=インフル\r\n"_s)));
        } else if (settings == u"empty"_s) {
            QVERIFY(writeFileBytes(ini, {}));
        } else if (settings == u"utf-16"_s) {
            const QString text = QString::fromUtf8(fileBytes(ini));
            QVERIFY(writeFileBytes(ini, "\xFF\xFE" + QByteArray(reinterpret_cast<const char *>(text.utf16()),
                                                                 text.size() * 2)));
        }
        const Run run = runTool(ws.folder(), args);
        QVERIFY(run.code > 0 && run.out.isEmpty());
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QCOMPARE(QDir(ws.folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{});
        QVERIFY(!QFileInfo::exists(ws.folder() + u"/gone.db"_s));
    }

    // A report that does not fit on the disk is reported as not written, and the earlier one stays.
    void fullDiskKeepsTheEarlierReport()
    {
        FullDisk disk;
        QRB_REQUIRE_MOUNTED(disk);
        Workspace ws(2);
        ws.addReservation(u"2009/10/09"_s, u"08"_s, u"山田太郎"_s);
        writeSettings(ws, true, disk.path() + u'/');
        QCOMPARE(runTool(ws.folder(), {u"daily"_s, u"2009/10/09"_s}).code, 0);
        const QString report = disk.path() + u"/日報.txt"_s;
        const QByteArray earlier = fileBytes(report);
        QVERIFY(!earlier.isEmpty());

        ws.addReservation(u"2009/10/09"_s, u"09"_s, u"佐藤花子"_s);
        disk.fill();
        const Run run = runTool(ws.folder(), {u"daily"_s, u"2009/10/09"_s});
        QVERIFY2(run.code > 0 && run.out.isEmpty(), qPrintable(run.out));
        QVERIFY2(run.err.contains(u"日報.txt"_s), qPrintable(run.err));
        QCOMPARE(fileBytes(report), earlier);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList{u"日報.txt"_s});
    }
};

QTEST_MAIN(ReportsTest)
#include "tst_reports.moc"
