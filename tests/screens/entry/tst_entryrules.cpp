#include "screens/entry/EntryRules.h"
#include "screens/entry/KanaCaptureEdit.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

void preedit(QWidget *box, const QString &text)
{
    QInputMethodEvent event(text, {});
    QApplication::sendEvent(box, &event);
}

void commit(QWidget *box, const QString &text, const QString &nextPreedit = QString())
{
    QInputMethodEvent event(nextPreedit, {});
    event.setCommitString(text);
    QApplication::sendEvent(box, &event);
}

} // namespace

class TestEntryRules : public QObject
{
    Q_OBJECT

private slots:
    void slotLineShowsPlacesLeft_data()
    {
        QTest::addColumn<int>("booked");
        QTest::addColumn<int>("places");
        QTest::addColumn<QString>("line");
        QTest::newRow("room left") << 2 << 5 << u"現在の予約人数：2人    予約可能人数：あと3人"_s;
        QTest::newRow("full") << 3 << 3 << u"現在の予約人数：3人    予約可能人数：あと0人"_s;
        QTest::newRow("one over") << 4 << 3 << u"現在の予約人数：4人    予約可能人数：あと-1人"_s;
        QTest::newRow("two over") << 5 << 3 << u"現在の予約人数：5人    予約可能人数：あと-2人"_s;
    }

    void slotLineShowsPlacesLeft()
    {
        QFETCH(int, booked);
        QFETCH(int, places);
        QFETCH(QString, line);
        QCOMPARE(slotLine(booked, places), line);
    }

    void onlyARealDayAndSlotIsASlot_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("valid");
        QTest::newRow("chosen from the lists") << QStringList{u"2009"_s, u"10"_s, u"09"_s, u"08"_s} << true;
        QTest::newRow("year not a number") << QStringList{u"20x6"_s, u"10"_s, u"09"_s, u"08"_s} << false;
        QTest::newRow("month 13") << QStringList{u"2009"_s, u"13"_s, u"09"_s, u"08"_s} << false;
        QTest::newRow("31 April") << QStringList{u"2009"_s, u"04"_s, u"31"_s, u"08"_s} << false;
        QTest::newRow("one-digit month") << QStringList{u"2009"_s, u"4"_s, u"09"_s, u"08"_s} << false;
        QTest::newRow("before the first slot") << QStringList{u"2009"_s, u"10"_s, u"09"_s, u"07"_s} << false;
        QTest::newRow("after the last slot") << QStringList{u"2009"_s, u"10"_s, u"09"_s, u"18"_s} << false;
        QTest::newRow("last slot") << QStringList{u"2009"_s, u"10"_s, u"09"_s, u"17"_s} << true;
    }

    void onlyARealDayAndSlotIsASlot()
    {
        QFETCH(QStringList, texts);
        QFETCH(bool, valid);
        const auto slot = slotFromTexts(texts[0], texts[1], texts[2], texts[3]);
        QCOMPARE(slot.has_value(), valid);
        if (valid) {
            QCOMPARE(slot->dateKey, texts[0] + u'/' + texts[1] + u'/' + texts[2]);
        }
    }

    void birthDateRewriteAndAge_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("era");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("shown"); // empty: left as typed
        QTest::addColumn<int>("age");       // -1: no age
        QTest::newRow("western") << u"20020101"_s << u"西暦"_s << QDate(2009, 12, 1) << u"2002年01月01日"_s << 7;
        QTest::newRow("heisei") << u"190101"_s << u"平成"_s << QDate(2009, 10, 9) << u"19年01月01日"_s << 2;
        QTest::newRow("day before the birthday")
            << u"19791215"_s << u"西暦"_s << QDate(2009, 10, 15) << u"1979年12月15日"_s << 29;
        QTest::newRow("on the birthday") << u"19791215"_s << u"西暦"_s << QDate(2009, 12, 15) << u"1979年12月15日"_s
                                         << 30;
        QTest::newRow("reiwa 1") << u"010501"_s << u"令和"_s << QDate(2025, 5, 1) << u"01年05月01日"_s << 6;
        QTest::newRow("showa") << u"540101"_s << u"昭和"_s << QDate(2009, 1, 1) << u"54年01月01日"_s << 30;
        QTest::newRow("eight digits read western whatever the era")
            << u"20020101"_s << u"平成"_s << QDate(2009, 12, 1) << u"2002年01月01日"_s << 7;
        QTest::newRow("month 13") << u"20021301"_s << u"西暦"_s << QDate(2009, 12, 1) << u"2002年13月01日"_s << -1;
        QTest::newRow("six digits with western era")
            << u"190101"_s << u"西暦"_s << QDate(2009, 12, 1) << u"19年01月01日"_s << -1;
        QTest::newRow("letters") << u"2002ab01"_s << u"西暦"_s << QDate(2009, 12, 1) << u"2002年ab月01日"_s << -1;
        QTest::newRow("born after today")
            << u"20100101"_s << u"西暦"_s << QDate(2009, 12, 1) << u"2010年01月01日"_s << -1;
        QTest::newRow("seven digits") << u"2002010"_s << u"西暦"_s << QDate(2009, 12, 1) << QString() << -1;
        QTest::newRow("already rewritten") << u"2002年01月01日"_s << u"西暦"_s << QDate(2009, 12, 1) << QString() << -1;
    }

    void birthDateRewriteAndAge()
    {
        QFETCH(QString, typed);
        QFETCH(QString, era);
        QFETCH(QDate, today);
        QFETCH(QString, shown);
        QFETCH(int, age);
        const auto rewritten = rewriteBirthDate(typed);
        QCOMPARE(rewritten.has_value(), !shown.isEmpty());
        if (!rewritten) {
            return;
        }
        QCOMPARE(rewritten->text, shown);
        QCOMPARE(get_age(rewritten->ageMode, era, rewritten->text, today).value_or(-1), age);
    }

    void typeOptionsAndCodes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sflg");
        QTest::addColumn<int>("scnt");
        QTest::newRow("none") << -1 << 0 << 0;
        QTest::newRow("季節性") << 0 << 1 << 1;
        QTest::newRow("新型") << 1 << 2 << 1;
        QTest::newRow("新型　１回目") << 2 << 3 << 1;
        QTest::newRow("新型  ２回目") << 3 << 4 << 2;
    }

    void typeOptionsAndCodes()
    {
        QFETCH(int, type);
        QFETCH(int, sflg);
        QFETCH(int, scnt);
        QCOMPARE(doseCodesOfType(type).sflg, sflg);
        QCOMPARE(doseCodesOfType(type).scnt, scnt);
        if (type != 1) { // a stored 新型 row shows the dose it is, not the pair
            QCOMPARE(typeOfCodes(sflg, scnt), type);
        }
    }

    void storedPairRowsSelectTheirDose()
    {
        QCOMPARE(typeOfCodes(2, 1), 2);
        QCOMPARE(typeOfCodes(2, 2), 3);
        QCOMPARE(typeOfCodes(2, 0), std::nullopt);
        QCOMPARE(typeOfCodes(std::nullopt, 1), -1);
    }

    void secondDoseIsProposedThreeWeeksLater()
    {
        QCOMPARE(proposedSecondDose(QDate(2009, 12, 24)), QDate(2010, 1, 14));
        QCOMPARE(proposedSecondDose(QDate(2009, 2, 10)), QDate(2009, 3, 3));
    }

    void kanaCaptureKeepsReadingsInTypingOrder()
    {
        KanaCaptureEdit box;
        box.startCapture();
        preedit(&box, u"やまだ"_s);
        preedit(&box, u"山田"_s);
        commit(&box, u"山田"_s);
        QVERIFY(box.text() == u"山田"_s);
        preedit(&box, u"はなこ"_s);
        preedit(&box, u"花子"_s);
        commit(&box, u"花子"_s);
        QCOMPARE(box.text(), u"山田花子"_s);
        QCOMPARE(box.takeCapturedReadings(), u"ﾔﾏﾀﾞﾊﾅｺ"_s);
        QCOMPARE(box.takeCapturedReadings(), QString());
    }

    void kanaCaptureCases_data()
    {
        QTest::addColumn<QStringList>("events"); // "p:" preedit, "c:" commit, "c:x|y" commit x then preedit y
        QTest::addColumn<QString>("readings");
        QTest::newRow("kana committed as typed") << QStringList{u"p:たろう"_s, u"c:たろう"_s} << u"ﾀﾛｳ"_s;
        QTest::newRow("katakana committed") << QStringList{u"p:じょん"_s, u"c:ジョン"_s} << u"ｼﾞｮﾝ"_s;
        QTest::newRow("commit starts the next conversion")
            << QStringList{u"p:さとう"_s, u"p:佐藤"_s, u"c:佐藤|じろう"_s, u"p:次郎"_s, u"c:次郎"_s} << u"ｻﾄｳｼﾞﾛｳ"_s;
        QTest::newRow("reading used once") << QStringList{u"p:やまだ"_s, u"c:山田"_s, u"c:ABC"_s} << u"ﾔﾏﾀﾞ"_s;
        QTest::newRow("preedit only, nothing committed") << QStringList{u"p:やまだ"_s, u"p:"_s} << QString();
    }

    void kanaCaptureCases()
    {
        QFETCH(QStringList, events);
        QFETCH(QString, readings);
        KanaCaptureEdit box;
        box.startCapture();
        for (const QString &e : std::as_const(events)) {
            const QString body = e.mid(2);
            if (e.startsWith(u"p:"_s)) {
                preedit(&box, body);
            } else {
                commit(&box, body.section(u'|', 0, 0), body.section(u'|', 1));
            }
        }
        QCOMPARE(box.takeCapturedReadings(), readings);
    }

    void newStayForgetsEarlierReadings()
    {
        KanaCaptureEdit box;
        box.startCapture();
        preedit(&box, u"やまだ"_s);
        commit(&box, u"山田"_s);
        box.startCapture();
        commit(&box, u"漢字"_s); // no reading of its own, and the earlier one is gone
        QCOMPARE(box.takeCapturedReadings(), QString());
    }
};

QTEST_MAIN(TestEntryRules)
#include "tst_entryrules.moc"
