#include "screens/entry/EntryRules.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

class TestEntryRules : public QObject
{
    Q_OBJECT

private slots:
    void slotLineShowsPlacesLeft() { QCOMPARE(slotLine(4, 3), u"現在の予約人数：4人    予約可能人数：あと-1人"_s); }

    void birthDateRewriteAndAge_data()
    {
        QTest::addColumn<QString>("typed"); // with the era, and today
        QTest::addColumn<QString>("shown"); // then the age; empty: left as typed
        QTest::newRow("heisei") << u"190101 平成 2009-10-09"_s << u"19年01月01日 2"_s;
        QTest::newRow("day before the birthday") << u"19791215 西暦 2009-10-15"_s << u"1979年12月15日 29"_s;
        QTest::newRow("on the birthday") << u"19791215 西暦 2009-12-15"_s << u"1979年12月15日 30"_s;
        QTest::newRow("eight digits whatever the era") << u"20020101 平成 2009-12-01"_s << u"2002年01月01日 7"_s;
        QTest::newRow("month 13") << u"20021301 西暦 2009-12-01"_s << u"2002年13月01日 -1"_s;
        QTest::newRow("six digits, western era") << u"190101 西暦 2009-12-01"_s << u"19年01月01日 -1"_s;
        QTest::newRow("born after today") << u"20100101 西暦 2009-12-01"_s << u"2010年01月01日 -1"_s;
        QTest::newRow("seven digits") << u"2002010 西暦 2009-12-01"_s << QString();
        QTest::newRow("already rewritten") << u"2002年01月01日 西暦 2009-12-01"_s << QString();
    }

    void birthDateRewriteAndAge()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        const QStringList in = typed.split(u' ');
        const auto rewritten = rewriteBirthDate(in[0]);
        QCOMPARE(rewritten.has_value(), !shown.isEmpty());
        if (rewritten) {
            const QDate today = QDate::fromString(in[2], Qt::ISODate);
            const int age = get_age(rewritten->ageMode, in[1], rewritten->text, today).value_or(-1);
            QCOMPARE(u"%1 %2"_s.arg(rewritten->text).arg(age), shown);
        }
    }
};

QTEST_MAIN(TestEntryRules)
#include "tst_entryrules.moc"
