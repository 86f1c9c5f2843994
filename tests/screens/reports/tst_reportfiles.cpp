// The three report files, compared whole and byte for byte with texts written out here line by line.
#include "support/Desk.h"
#include "support/Workspace.h"

#include "screens/reports/ReportScreen.h"
#include "screens/reports/ReportWriters.h"
#include "shared/Cp932.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
namespace {

// A whole YOYAKU row as a reception desk would have stored it; codes are QVariants so that a row can
// store Null. Defaults: a seasonal reservation of a non-member with no earlier visit, not yet come.
struct SeedRow {
    QString ydate = u"2009/10/09"_s;
    QString ytime = u"08"_s;
    QString knm = QString();
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

const QString NL = u"\r\n"_s;

QString sp(int n)
{
    return QString(n, u' ');
}

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

QByteArray cp932(const QString &text)
{
    return qrb::encodeCp932(text).bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// 佐藤花子, as the seed's defaults store her: line A, then line B of the daily report and of the list.
const QString SatoA = u"○佐藤花子"_s + sp(10) + u"03-1111-2222"_s + sp(2) + sp(14) + u" 西暦2000年01月01日"_s + sp(4);
const QString SeasonalB = u"季節性　　　　　来院歴なし　非組合員　"_s;
QString dailyEntry(const QString &lineA, const QString &visit = u"　未来院　"_s)
{
    return lineA + NL + visit + SeasonalB + NL;
}
QString listEntry(const QString &lineA)
{
    return lineA + NL + u"　"_s + SeasonalB + NL;
}
QString nameA(const QString &name)
{
    return u"○"_s + name + sp(14 - int(name.size())) + u"03-1111-2222"_s + sp(16) + u" 西暦2000年01月01日"_s + sp(4);
}

SeedRow row(const QString &name, const QString &hour, int cflg = 0)
{
    return {.ytime = hour, .knm = name, .cflg = cflg};
}

} // namespace

Q_DECLARE_METATYPE(SeedRow)

class ReportFilesTest : public QObject
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
                             .scnt = 1,
                             .rflg = 1,
                             .kno = u"123456"_s};
        const QString paddedA =
            u"○山田太郎左衛門之助"_s + sp(5) + u"090-1234-567"_s + sp(2) + sp(14) + u" 昭和45/01/01"_s + sp(7);
        const QString paddedB = u"新型1回目"_s + sp(4) + u"　来院歴あり　123456"_s + sp(4) + u"非組合員　"_s;
        const QString counts =
            u"■予約者数：6人    未来院者数：5人    摂取可能人数：4人　　◆予約率：150.0%    来院率：16.7%"_s;
        const HourTexts daily{
            {8, dailyEntry(SatoA)},
            {10, dailyEntry(nameA(u"高橋次郎"_s)) + NL + dailyEntry(nameA(u"鈴木一郎"_s), u"　来院　　"_s)},
            {11, paddedA + NL + u"　未来院　"_s + paddedB + NL},
            {12, dailyEntry(nameA(u"伊藤四郎"_s))},
            {17, dailyEntry(nameA(u"田中三郎"_s))}};
        const HourTexts list{{8, listEntry(SatoA)},
                             {10, listEntry(nameA(u"高橋次郎"_s))},
                             {11, paddedA + NL + u"　"_s + paddedB + NL},
                             {12, listEntry(nameA(u"伊藤四郎"_s))},
                             {17, listEntry(nameA(u"田中三郎"_s))}};

        qrb::test::Workspace ws(0);
        // The day is a Friday whose places are all in its first hour.
        ws.db.write(u"UPDATE SETTING SET NINZU = 4 WHERE SWEEKDAY = 5 AND STIME = '08'"_s);
        for (const SeedRow &r :
             {row(u"高橋次郎"_s, u"10"_s), row(u"佐藤花子"_s, u"08"_s), row(u"鈴木一郎"_s, u"10"_s, 1),
              row(u"田中三郎"_s, u"17"_s), row(u"伊藤四郎"_s, u"12"_s), padded}) {
            seed(ws.db, r);
        }
        qrb::ReportScreen screen(*ws.state);
        qrb::test::showActive(&screen);
        qrb::test::click(&screen, u"Command1(0)"_s);
        qrb::test::click(&screen, u"Command1(1)"_s);
        QVERIFY(ws.dialogs.messages.isEmpty());

        const QByteArray dailyBytes = readFile(ws.folder() + u"/reports/日報.txt"_s);
        QCOMPARE(dailyBytes, cp932(dayFile(u"インフルエンザ予防接種　日報    2009年10月09日"_s, counts, daily)));
        QCOMPARE(readFile(ws.folder() + u"/reports/未来院リスト.txt"_s),
                 cp932(dayFile(u"インフルエンザ予防接種　未来院リスト    2009年10月09日"_s, counts, list)));
        // The wave dash of the hour headers is Windows' 0x81 0x60, which a reader of the file expects.
        QVERIFY(dailyBytes.contains("***** 17\x8e\x9e \x81\x60 18\x8e\x9e *****\r\n"));
    }

    // Codes outside their tables write nothing, line end included, as the printed lists always did.
    void entriesOfUnusualRows_data()
    {
        QTest::addColumn<SeedRow>("row");
        QTest::addColumn<QString>("daily");
        QTest::addColumn<QString>("list");

        const QString satoNoEra = u"○佐藤花子"_s + sp(10) + u"03-1111-2222"_s + sp(16);
        const QString sato = u"佐藤花子"_s;
        QTest::newRow("no era: line B continues line A")
            << SeedRow{.knm = sato, .bflg = QVariant()} << satoNoEra + u"　未来院　"_s + SeasonalB + NL
            << satoNoEra + u"　"_s + SeasonalB + NL;

        const QString reiwaA = u"○佐藤花子"_s + sp(10) + u"03-1111-2222"_s + sp(16) + u" 令和01年05月01日"_s + sp(6);
        QTest::newRow("令和, first dose only, history not entered, member")
            << SeedRow{.knm = sato,
                       .bflg = 5,
                       .birthday = u"01年05月01日"_s,
                       .sflg = 3,
                       .rflg = 0,
                       .kflg = 1,
                       .kmno = u"M-77"_s}
            << reiwaA + NL + u"　未来院　新型1回目のみ　"_s + sp(6) + u"　　　組合員　　M-77"_s + sp(6) + NL
            << reiwaA + NL + u"　新型1回目のみ　"_s + sp(6) + u"　　　組合員　　M-77"_s + sp(6) + NL;

        QTest::newRow("membership outside its table: the file ends without a line end")
            << SeedRow{.knm = sato, .sflg = 0, .kflg = 7}
            << SatoA + NL + u"　未来院　"_s + sp(6) + u"　　　　　来院歴なし　"_s
            << SatoA + NL + u"　"_s + sp(6) + u"　　　　　来院歴なし　"_s;

        const QString longA = u"○長い名前の患者さんのお名前です"_s + sp(28) + u" 西暦"_s + sp(15);
        QTest::newRow("long name whole, empty fields as blanks, second dose")
            << SeedRow{.knm = u"長い名前の患者さんのお名前です"_s,
                       .tel1 = QString(),
                       .birthday = QString(),
                       .sflg = 2,
                       .scnt = 2}
            << longA + NL + u"　未来院　新型2回目"_s + sp(4) + u"　来院歴なし　非組合員　"_s + NL
            << longA + NL + u"　新型2回目"_s + sp(4) + u"　来院歴なし　非組合員　"_s + NL;
    }

    void entriesOfUnusualRows()
    {
        QFETCH(SeedRow, row);
        QFETCH(QString, daily);
        QFETCH(QString, list);

        qrb::test::Workspace ws(0);
        seed(ws.db, row);
        // The one entry stands in the last hour, so the entry is the end of the file.
        ws.db.write(u"UPDATE YOYAKU SET YTIME = '17'"_s);
        const QDate day(2009, 10, 9);
        const auto rows = qrb::reservationsOfDay(ws.db, day, false);
        const QString counts =
            u"■予約者数：1人    未来院者数：%1人    摂取可能人数：0人　　◆予約率：***%    来院率：***%"_s.arg(
                row.cflg.toInt() == 0 ? 1 : 0);
        QCOMPARE(qrb::dailyReport(day, qrb::dayCounts(ws.db, day), rows),
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
        const QString noPlaces =
            u"　□予約者数：0人    未来院者数：0人    摂取可能人数：0人　　◇予約率：***%    来院率：***%"_s;

        QTest::newRow("30 days of 10 places, neighbours not counted")
            << u"2009"_s << u"11"_s << 1 << 1 << QStringList{u"2009/11/03"_s, u"0"_s, u"2009/11/03"_s, u"1"_s,
                                                             u"2009/10/31"_s, u"0"_s, u"2009/12/01"_s, u"0"_s}
            << u"■予約者数：2人    未来院者数：1人    摂取可能人数：300人　　◆予約率：0.7%    来院率：50.0%"_s
            << HourTexts{
                   {3,
                    u"　□予約者数：2人    未来院者数：1人    摂取可能人数：10人　　◇予約率：20.0%    来院率：50.0%"_s}};
        QTest::newRow("leap February, Sundays without places")
            << u"2024"_s << u"02"_s << 1 << 0 << QStringList{u"2024/02/04"_s, u"0"_s}
            << u"■予約者数：1人    未来院者数：1人    摂取可能人数：250人　　◆予約率：0.4%    来院率：0.0%"_s
            << HourTexts{
                   {4, u"　□予約者数：1人    未来院者数：1人    摂取可能人数：0人　　◇予約率：***%    来院率：***%"_s},
                   {11, noPlaces},
                   {18, noPlaces},
                   {25, noPlaces}};
        // "2009/10/9" begins with the month but names none of its days: the month counts it, no day does.
        QTest::newRow("totals beyond 16 bits, a date without its zero")
            << u"2009"_s << u"10"_s << 200 << 200
            << QStringList{u"2009/10/9"_s, u"0"_s, u"2009/10/31"_s, u"0"_s, u"2009/10/31"_s, u"1"_s}
            << u"■予約者数：3人    未来院者数：2人    摂取可能人数：62000人　　◆予約率：0.0%    来院率：33.3%"_s
            << HourTexts{
                   {31,
                    u"　□予約者数：2人    未来院者数：1人    摂取可能人数：2000人　　◇予約率：0.1%    来院率：50.0%"_s}};
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

        qrb::test::Workspace ws(places);
        ws.db.write(u"UPDATE SETTING SET NINZU = ? WHERE SWEEKDAY = 7"_s, {sundayPlaces});
        for (qsizetype i = 0; i < reservations.size(); i += 2) {
            ws.addReservation(reservations.at(i), u"09"_s, u"患者"_s, reservations.at(i + 1).toInt());
        }
        qrb::ReportScreen screen(*ws.state);
        qrb::test::showActive(&screen);
        // The day plays no part, even when it names none; a second press rewrites the file, never appends.
        for (const auto &[picker, text] : {std::pair{0, year}, {1, month}, {2, u"xx"_s}}) {
            qrb::test::typeInto(qrb::test::control(&screen, u"Combo1(%1)"_s.arg(picker)), text);
        }
        for (int press = 0; press < 2; ++press) {
            qrb::test::click(&screen, u"Command2(0)"_s);
        }
        QVERIFY(ws.dialogs.messages.isEmpty());
        QCOMPARE(ws.viewer.shown.size(), 2);
        QVERIFY(ws.viewer.shown.last().endsWith(u"/reports/月報.txt"_s));

        const QStringList labels = {u"(月)"_s, u"(火)"_s, u"(水)"_s, u"(木)"_s, u"(金)"_s, u"(土)"_s, u"(日)"_s};
        QString expected = u"インフルエンザ予防接種　月報    %1年%2月分"_s.arg(year, month) + NL + monthLine + NL;
        const QDate first(year.toInt(), month.toInt(), 1);
        for (int d = 1; d <= first.daysInMonth(); ++d) {
            expected +=
                NL + QString::number(d) + u"日 "_s + labels.at(first.addDays(d - 1).dayOfWeek() - 1) +
                QString(72, u'-') + NL +
                dayLines.value(
                    d,
                    u"　□予約者数：0人    未来院者数：0人    摂取可能人数：%1人　　◇予約率：0.0%    来院率：***%"_s.arg(
                        10 * places)) +
                NL;
        }
        QCOMPARE(readFile(ws.folder() + u"/reports/月報.txt"_s), cp932(expected));
    }
};

QTEST_MAIN(ReportFilesTest)
#include "tst_reportfiles.moc"
