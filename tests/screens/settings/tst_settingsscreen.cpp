#include "screens/settings/SettingsScreen.h"
#include "support/Common.h"
#include "support/Desk.h"
#include "support/Workspace.h"

#include <QApplication>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb::test;
using qrb::SettingsScreen;

class SettingsScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void emptyTableOpensWithZerosAndOneSaveCreatesAllRows()
    {
        Workspace ws(4);
        ws.db.write(u"DELETE FROM SETTING"_s);
        SettingsScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(shows(&screen, {u"Text1(69)"_s}), QStringList{u"0"_s});
        click(&screen, u"Command1"_s);
        QCOMPARE(
            rowsOf(ws.db, u"SELECT COUNT(DISTINCT SWEEKDAY * 100 + CAST(STIME AS INTEGER)), SUM(NINZU) FROM SETTING"_s),
            QStringList{u"70 0"_s});
        QVERIFY(ws.dialogs.messages.isEmpty());
    }

    // Loading shows a row in its cell; a change typed there (full-width, with a blank) saves that row
    // alone, and Tab runs on along the slot from Monday to Sunday, then to the next slot. A bad cell is
    // named, gets the cursor, and saves nothing, not even a good change typed before it.
    void typedCellsSaveOrSaveNothing_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("row"); // weekday and slot of the cell, or the refusal's name for it
        QTest::newRow("Sunday 08") << 6 << u" ９"_s << u"7 08"_s;
        QTest::newRow("Monday 09") << 7 << u" ９"_s << u"1 09"_s;
        QTest::newRow("empty") << 30 << QString() << u"水曜日 12:00～13:00"_s;
        QTest::newRow("negative") << 0 << u"-1"_s << u"月曜日 08:00～09:00"_s;
        QTest::newRow("too many") << 69 << u"10000"_s << u"日曜日 17:00～18:00"_s;
        QTest::newRow("fraction") << 13 << u"1.5"_s << u"日曜日 09:00～10:00"_s;
    }

    void typedCellsSaveOrSaveNothing()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QString, row);
        const bool good = row.size() == 4;
        Workspace ws(2);
        ws.db.write(u"UPDATE SETTING SET NINZU = 5 WHERE SWEEKDAY = ? AND STIME = ?"_s,
                    {row.left(1).toInt(), row.right(2)});
        SettingsScreen screen(*ws.state);
        showActive(&screen);
        if (good) {
            QCOMPARE(shows(&screen, {u"Text1(%1)"_s.arg(index), u"Text1(%1)"_s.arg(index - 1)}),
                     (QStringList{u"5"_s, u"2"_s}));
        } else {
            typeInto(control(&screen, u"Text1(%1)"_s.arg(index == 0 ? 1 : 0)), u"7"_s);
        }
        typeInto(control(&screen, u"Text1(%1)"_s.arg(index)), text);
        QWidget *const left = QApplication::focusWidget();
        click(&screen, u"Command1"_s);
        // Where the cursor went with Tab, or where the refusal put it.
        QCOMPARE(good ? left : QApplication::focusWidget(), control(&screen, u"Text1(%1)"_s.arg(index + int(good))));
        QCOMPARE(rowsOf(ws.db, u"SELECT SWEEKDAY, STIME, NINZU FROM SETTING WHERE NINZU <> 2"_s),
                 good ? QStringList{row + u" 9"_s} : QStringList());
        QCOMPARE(ws.dialogs.texts().size(), int(!good));
        QVERIFY2(good || ws.dialogs.texts().constFirst().contains(row), qPrintable(ws.dialogs.texts().join(u'\n')));
    }

    // A failed load leaves "登録・修正" off, so that the zeros shown never replace the real places; a
    // failed save (a row refused after another was written) leaves the table as it was.
    void aFailedLoadOrSaveChangesNothing()
    {
        Workspace ws(1);
        ws.db.DB_close();
        SettingsScreen screen(*ws.state);
        showActive(&screen);
        QCOMPARE(ws.dialogs.messages.size(), 1);
        ws.db.DB_open(ws.target());
        QVERIFY(!control(&screen, u"Command1"_s)->isEnabled());
        click(&screen, u"Command1"_s);
        QCOMPARE(ws.db.scalar(u"SELECT SUM(NINZU) FROM SETTING"_s).toInt(), 70);

        QVERIFY(screen.grid_load());
        typeInto(control(&screen, u"Text1(0)"_s), u"6"_s);
        typeInto(control(&screen, u"Text1(69)"_s), u"6"_s);
        // The rows are written in no fixed order: whichever changed row comes first is written, and the
        // next write is refused.
        if (ws.onPostgres()) {
            ws.db.write(u"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF EXISTS "
                        "(SELECT 1 FROM SETTING WHERE NINZU = 6) THEN RAISE EXCEPTION 'disk full'; END IF; "
                        "RETURN NEW; END $$"_s);
            ws.db.write(u"CREATE TRIGGER refuse BEFORE UPDATE ON SETTING FOR EACH ROW EXECUTE FUNCTION refuse()"_s);
        } else {
            ws.db.write(u"CREATE TRIGGER refuse BEFORE UPDATE ON SETTING WHEN EXISTS (SELECT 1 FROM SETTING WHERE "
                        "NINZU = 6) BEGIN SELECT RAISE(ABORT, 'disk full'); END"_s);
        }
        click(&screen, u"Command1"_s);
        QCOMPARE(ws.dialogs.messages.size(), 2);
        QVERIFY(ws.dialogs.texts().constLast().startsWith(u"予約可能人数を登録できませんでした。"_s) &&
                ws.dialogs.texts().constLast().contains(u"disk full"_s));
        QCOMPARE(ws.db.scalar(u"SELECT SUM(NINZU) FROM SETTING"_s).toInt(), 70);
    }
};

QTEST_MAIN(SettingsScreenTest)
#include "tst_settingsscreen.moc"
