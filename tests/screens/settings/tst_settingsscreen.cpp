#include "screens/settings/SettingsScreen.h"
#include "support/Workspace.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::SettingsScreen;
using qrb::test::Workspace;

class SettingsScreenTest : public QObject
{
    Q_OBJECT

private:
    static QLineEdit *cell(SettingsScreen &screen, int index)
    {
        return screen.findChild<QLineEdit *>(u"Text1(%1)"_s.arg(index));
    }
    static void fill(SettingsScreen &screen, const QString &text)
    {
        for (int i = 0; i < SettingsScreen::CellCount; ++i) {
            cell(screen, i)->setText(text);
        }
    }
    static int sum(Workspace &ws) { return ws.db.scalar(u"SELECT SUM(NINZU) FROM SETTING"_s).toInt(); }
    static int rows(Workspace &ws) { return ws.db.scalar(u"SELECT COUNT(*) FROM SETTING"_s).toInt(); }

private slots:
    void emptyTableOpensWithZerosAndOneSaveCreatesAllRows()
    {
        Workspace ws(4);
        ws.db.write(u"DELETE FROM SETTING"_s);
        SettingsScreen screen(*ws.state);
        QCOMPARE(screen.windowTitle(), u"設定"_s);
        QStringList headings;
        for (const QString &name : {u"Label1"_s, u"Label3(0)"_s, u"Label3(6)"_s, u"Label2(0)"_s, u"Label2(9)"_s}) {
            headings << screen.findChild<QLabel *>(name)->text();
        }
        QCOMPARE(headings, (QStringList{u"予約可能人数　設定"_s, u"月"_s, u"日"_s, u"08:00～09:00"_s, u"17:00～18:00"_s}));
        // Along a slot from Monday to Sunday, then on to Monday of the next slot.
        QCOMPARE(cell(screen, 5)->nextInFocusChain(), cell(screen, 6));
        QCOMPARE(cell(screen, 6)->nextInFocusChain(), cell(screen, 7));
        QCOMPARE(cell(screen, 69)->nextInFocusChain(), screen.findChild<QPushButton *>(u"Command1"_s));
        for (int i = 0; i < SettingsScreen::CellCount; ++i) {
            QCOMPARE(cell(screen, i)->text(), u"0"_s);
        }
        screen.findChild<QPushButton *>(u"Command1"_s)->click();
        QCOMPARE(rows(ws), 70);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(DISTINCT SWEEKDAY) FROM SETTING WHERE SWEEKDAY BETWEEN 1 AND 7"_s).toInt(),
                 7);
        QCOMPARE(ws.db.scalar(u"SELECT COUNT(*) FROM SETTING WHERE STIME = '08' OR STIME = '17'"_s).toInt(), 14);
        QCOMPARE(sum(ws), 0);
        QVERIFY(ws.dialogs.messages.isEmpty());
    }

    void cellStandsForWeekdayAndSlot_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("weekday");
        QTest::addColumn<QString>("slot");
        QTest::newRow("Monday 08") << 0 << 1 << u"08"_s;
        QTest::newRow("Sunday 08") << 6 << 7 << u"08"_s;
        QTest::newRow("Monday 09") << 7 << 1 << u"09"_s;
        QTest::newRow("Wednesday 12") << 30 << 3 << u"12"_s;
        QTest::newRow("Sunday 17") << 69 << 7 << u"17"_s;
    }

    // Loading shows the row in its cell; saving a change there changes that row alone.
    void cellStandsForWeekdayAndSlot()
    {
        QFETCH(int, index);
        QFETCH(int, weekday);
        QFETCH(QString, slot);
        Workspace ws(2);
        ws.db.write(u"UPDATE SETTING SET NINZU = 5 WHERE SWEEKDAY = ? AND STIME = ?"_s, {weekday, slot});
        SettingsScreen screen(*ws.state);
        QCOMPARE(cell(screen, index)->text(), u"5"_s);
        QCOMPARE(cell(screen, index == 0 ? 1 : index - 1)->text(), u"2"_s);

        // Typed with the input method on: full-width digits, a blank around them.
        cell(screen, index)->setText(u" ９"_s);
        QVERIFY(screen.grid_save());
        const QString stored = u"SELECT NINZU FROM SETTING WHERE SWEEKDAY = ? AND STIME = ?"_s;
        QCOMPARE(ws.db.scalar(stored, {weekday, slot}).toInt(), 9);
        QCOMPARE(sum(ws), 69 * 2 + 9);
        QCOMPARE(rows(ws), 70);
    }

    void badCellSavesNothing_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named");
        QTest::newRow("empty") << 30 << QString() << u"水曜日 12:00～13:00"_s;
        QTest::newRow("letters") << 69 << u"abc"_s << u"日曜日 17:00～18:00"_s;
        QTest::newRow("negative") << 0 << u"-1"_s << u"月曜日 08:00～09:00"_s;
        QTest::newRow("too many") << 7 << u"10000"_s << u"月曜日 09:00～10:00"_s;
        QTest::newRow("fraction") << 13 << u"1.5"_s << u"日曜日 09:00～10:00"_s;
        QTest::newRow("beyond 16 bits") << 40 << u"70000"_s << u"土曜日 13:00～14:00"_s;
    }

    void badCellSavesNothing()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QString, named);
        Workspace ws(3);
        SettingsScreen screen(*ws.state);
        // Cells before the bad one are changed too: they must not be written either.
        fill(screen, u"7"_s);
        cell(screen, index)->setText(text);
        QVERIFY(!screen.grid_save());
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY2(ws.dialogs.messages.first().text.contains(named), qPrintable(ws.dialogs.messages.first().text));
        QCOMPARE(sum(ws), 70 * 3);
    }

    void failedSaveLeavesTableAsItWas()
    {
        Workspace ws(1);
        SettingsScreen screen(*ws.state);
        fill(screen, u"6"_s);
        // The last row of the save fails, as a full disk or a lost server would, after the others were written.
        if (ws.onPostgres()) {
            ws.db.write(u"CREATE FUNCTION refuse_sunday() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN RAISE EXCEPTION 'disk full'; END $$"_s);
            ws.db.write(u"CREATE TRIGGER refuse_sunday BEFORE UPDATE ON SETTING FOR EACH ROW "
                        "WHEN (NEW.SWEEKDAY = 7 AND NEW.STIME = '17') EXECUTE FUNCTION refuse_sunday()"_s);
        } else {
            ws.db.write(u"CREATE TRIGGER refuse_sunday BEFORE UPDATE ON SETTING WHEN NEW.SWEEKDAY = 7 AND NEW.STIME = '17' "
                        "BEGIN SELECT RAISE(ABORT, 'disk full'); END"_s);
        }
        QVERIFY(!screen.grid_save());
        QCOMPARE(ws.dialogs.messages.size(), 1);
        QVERIFY(ws.dialogs.messages.first().text.startsWith(u"予約可能人数を登録できませんでした。"_s));
        QVERIFY2(ws.dialogs.messages.first().text.contains(u"disk full"_s), qPrintable(ws.dialogs.messages.first().text));
        QCOMPARE(sum(ws), 70);
    }
};

QTEST_MAIN(SettingsScreenTest)
#include "tst_settingsscreen.moc"
