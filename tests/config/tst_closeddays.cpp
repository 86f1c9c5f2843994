#include "config/ClosedDays.h"
#include "shared/Cp932.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class ClosedDaysTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    ClosedDays readIni(const QString &text)
    {
        QFile file(m_dir.path() + u"/setting.ini"_s);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(encodeCp932(text).bytes) < 0) {
            qFatal("cannot write setting.ini");
        }
        file.close();
        return ClosedDays::read(m_dir.path());
    }
    // The reasons of the days from..to, one a day ("-" when open).
    static QString reasons(const ClosedDays &days, QDate from, QDate to)
    {
        QStringList texts;
        for (QDate day = from; day <= to; day = day.addDays(1)) {
            texts << days.closedReason(day).value_or(u"-"_s);
        }
        return texts.join(u' ');
    }

private slots:
    // Every good line counts, each bad one is named and left out, and nothing else changes.
    void closedDaysFromSettingIni()
    {
        const QDate from(2026, 1, 11), to(2026, 1, 13);
        QCOMPARE(reasons(readIni(u"[SERVER]\r\nSVNM=/srv\r\n"_s), from, to), u"- 成人の日 -"_s);
        const ClosedDays open = readIni(u"[closed]\r\nholidays = 0\r\nA=2026/01/13\r\n"_s);
        QCOMPARE(reasons(open, from, to), u"- - 休診日"_s);
        QVERIFY(open.problemsMessage().isEmpty());

        const ClosedDays days = readIni(u"[CLOSED]\r\n; 年末年始は毎年書き足す\r\n"
                                        u"年末年始 = 2026/12/29 - 2027/01/03 ; 今年の分\r\n"
                                        u"学会=2026/12/25\r\n学会=2026/12/27\r\n2026/12/01\r\n夏休み=2026/08/40\r\n"
                                        u"X=2026/08/20-2026/08/10\r\nY=2026-08-20\r\nHOLIDAYS=yes\r\n"
                                        u"[CLOSED]\r\nZ=2026/12/26\r\n"_s);
        const QString notADate = u"日付(2026/12/29)か期間(2026/12/29-2027/01/03)ではありません"_s;
        QCOMPARE(days.problems(),
                 QStringList({u"6 行目「2026/12/01」: 「名前=日付」の形ではありません"_s,
                              u"7 行目「夏休み=2026/08/40」: "_s + notADate,
                              u"8 行目「X=2026/08/20-2026/08/10」: 期間の終わりが始まりより前です"_s,
                              u"9 行目「Y=2026-08-20」: "_s + notADate,
                              u"10 行目「HOLIDAYS=yes」: HOLIDAYS は 1(祝日は休診)か 0(祝日も診療)です"_s}));
        QVERIFY(days.problemsMessage().contains(u"\r\n8 行目「X=2026/08/20-2026/08/10」"_s));
        // The same key twice counts twice, the second [CLOSED] not at all, a bad HOLIDAYS keeps 元日.
        QCOMPARE(reasons(days, QDate(2026, 12, 25), QDate(2027, 1, 4)),
                 u"休診日 - 休診日 - 休診日 休診日 休診日 元日 休診日 休診日 -"_s);
    }
};

QTEST_APPLESS_MAIN(ClosedDaysTest)
#include "tst_closeddays.moc"
