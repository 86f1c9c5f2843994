#include "screens/entry/EntryRules.h"
#include "screens/entry/KanaCaptureEdit.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class TestEntryRules : public QObject
{
    Q_OBJECT

private slots:
    void slotLineShowsPlacesLeft_data()
    {
        QTest::addColumn<int>("booked");
        QTest::addColumn<int>("places");
        QTest::addColumn<QString>("line");
        QTest::newRow("full") << 3 << 3 << u"現在の予約人数：3人    予約可能人数：あと0人"_s;
        QTest::newRow("one over") << 4 << 3 << u"現在の予約人数：4人    予約可能人数：あと-1人"_s;
    }

    void slotLineShowsPlacesLeft()
    {
        QFETCH(int, booked);
        QFETCH(int, places);
        QFETCH(QString, line);
        QCOMPARE(slotLine(booked, places), line);
    }

    void birthDateRewriteAndAge_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("era");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("shown"); // empty: left as typed
        QTest::addColumn<int>("age");       // -1: no age
        QTest::newRow("heisei") << u"190101"_s << u"平成"_s << QDate(2009, 10, 9) << u"19年01月01日"_s << 2;
        QTest::newRow("day before the birthday")
            << u"19791215"_s << u"西暦"_s << QDate(2009, 10, 15) << u"1979年12月15日"_s << 29;
        QTest::newRow("on the birthday") << u"19791215"_s << u"西暦"_s << QDate(2009, 12, 15) << u"1979年12月15日"_s
                                         << 30;
        QTest::newRow("eight digits read western whatever the era")
            << u"20020101"_s << u"平成"_s << QDate(2009, 12, 1) << u"2002年01月01日"_s << 7;
        QTest::newRow("month 13") << u"20021301"_s << u"西暦"_s << QDate(2009, 12, 1) << u"2002年13月01日"_s << -1;
        QTest::newRow("six digits with western era")
            << u"190101"_s << u"西暦"_s << QDate(2009, 12, 1) << u"19年01月01日"_s << -1;
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

    void kanaCaptureCases_data()
    {
        QTest::addColumn<QStringList>("events"); // "p:" preedit, "c:" commit, "c:x|y" commit x then preedit y
        QTest::addColumn<QString>("readings");
        QTest::newRow("kana committed as typed") << QStringList{u"p:たろう"_s, u"c:たろう"_s} << u"ﾀﾛｳ"_s;
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
            const bool commit = e.startsWith(u"c:"_s);
            QInputMethodEvent event(commit ? body.section(u'|', 1) : body, {});
            if (commit) {
                event.setCommitString(body.section(u'|', 0, 0));
            }
            QApplication::sendEvent(&box, &event);
        }
        QCOMPARE(box.takeCapturedReadings(), readings);
    }
};

QTEST_MAIN(TestEntryRules)
#include "tst_entryrules.moc"
