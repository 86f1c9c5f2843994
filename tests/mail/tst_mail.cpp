#include "support/Common.h"
#include "support/SmtpServer.h"
#include "support/Workspace.h"

#include "db/Booking.h"
#include "mail/Address.h"
#include "mail/MailService.h"
#include "mail/MailSettings.h"
#include "mail/Outbox.h"
#include "mail/Postman.h"
#include "shared/Dates.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <iostream>
#include <string>

using namespace Qt::StringLiterals;
using namespace qrb;
using mail::Dose;

namespace {

const QString Clinic = u"医療法人社団さくら会　さくら内科・小児科クリニック"_s;

// A clinic sending mail through the test's mail server: the workspace (clock at 2009/10/09 10:30),
// the mail tables, and [MAIL] pointing at the server with its certificate.
struct MailClinic {
    explicit MailClinic(const test::SmtpServer::Options &options = {})
        : smtp(options)
    {
        mail::prepareMail(ws.db);
        settings.host = u"127.0.0.1"_s;
        settings.port = smtp.port();
        settings.caFile = smtp.certificate();
        settings.from = head.from;
        settings.siteUrl = head.siteUrl;
    }
    // A web booking with an address, as the booking page stores it: the reservations and the
    // confirmation in one transaction. The first dose is booked at the clock's now.
    QList<Dose> book(const QString &address, const QList<std::pair<QDate, QString>> &wanted, QString client = {},
                     const QString &name = u"山田 花子"_s)
    {
        client = client.isEmpty() ? u"192.0.2.10"_s : client;
        QList<Dose> doses;
        Database::WriteTransaction transaction(ws.db);
        for (const auto &[day, hour] : wanted) {
            BookingRecord r = patient(name, day, hour);
            std::tie(r.sflg, r.scnt) = wanted.size() > 1 ? std::pair(2, int(doses.size()) + 1) : std::pair(1, 1);
            doses << Dose{registerReservationInTransaction(ws.db, r, WhenFull::Refuse).yno, day, hour};
        }
        const BookingRecord r = patient(name, {}, {});
        mail::Outbox(settings, head)
            .confirmBooking(ws.db,
                            {address, client, name, mail::patientKey(r.knm, r.kknm, r.birthday, r.tel1), doses,
                             u"ABCD-EFGH-JKMN-PQRS"_s},
                            ws.clock.now());
        transaction.commit();
        return doses;
    }
    // The rows of a patient as the web and the desk store them.
    static BookingRecord patient(const QString &name, QDate day, const QString &hour)
    {
        BookingRecord r = test::bookingOf(name, dateKey(day), hour);
        std::tie(r.kknm, r.birthday, r.tel1) = std::tuple(u"ﾔﾏﾀﾞ ﾊﾅｺ"_s, u"1985年04月12日"_s, u"090-1234-5678"_s);
        return r;
    }
    mail::Postman::Round round()
    {
        mail::Postman postman(ws.db, ws.clock, settings, head);
        return postman.runOnce();
    }
    void at(QDate day, QTime time) { ws.clock.at = QDateTime(day, time); }
    QStringList queue()
    {
        return test::rowsOf(ws.db, u"SELECT KIND, YNO, STATE, ATTEMPTS FROM MAILQUEUE ORDER BY QUEUED, KIND"_s);
    }
    QStringList addresses() { return test::rowsOf(ws.db, u"SELECT YNO, ADDRESS FROM WEBMAIL ORDER BY YNO"_s); }

    test::Workspace ws{5};
    test::SmtpServer smtp;
    mail::Letterhead head{Clinic, u"03-1234-5678"_s, u"母子手帳をお持ちの方はご持参ください。"_s,
                          u"https://yoyaku.example.jp"_s, u"yoyaku@example.jp"_s};
    mail::MailSettings settings;
};

// Every line the program logs while it lives, to prove what the log never holds.
QStringList logged;
void keepLog(QtMsgType, const QMessageLogContext &, const QString &text)
{
    logged << text;
}

QString setting(const QString &folder, const QByteArray &ini)
{
    test::writeFileBytes(folder + u"/setting.ini"_s, ini);
    const mail::MailSettingsResult read = mail::readMailSettings(folder);
    if (!read.errors.isEmpty()) {
        return read.errors.join(u'\n');
    }
    if (!read.settings) {
        return u"off"_s;
    }
    const mail::MailSettings &s = *read.settings;
    return u"%1:%2 tls%3 %4/%5 %6 %7 keep%8 %9"_s.arg(s.host)
        .arg(s.port)
        .arg(int(s.tls))
        .arg(s.user, s.password, s.from, s.siteUrl)
        .arg(s.keepDays)
        .arg(s.remindAt.toString(u"HH:mm"_s));
}

// "tst_mail --postman sqlite=PATH|pg=CONNINFO PORT CAFILE": a qrb-web's postman of its own, in a
// process of its own. It opens the database, says "ready", waits for "go" and works the queue until a
// round finds nothing more for it.
int runPostman(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString target = QString::fromLocal8Bit(argv[2]);
    Database db(u"postman"_s);
    db.DB_open(target.startsWith(u"pg="_s) ? DbTarget::server(PgServer::fromConnInfo(target.mid(3)))
                                           : DbTarget::sqlite(target.mid(7)));
    mail::MailSettings settings;
    settings.host = u"127.0.0.1"_s;
    settings.port = static_cast<quint16>(QByteArray(argv[3]).toInt());
    settings.caFile = QString::fromLocal8Bit(argv[4]);
    settings.from = u"yoyaku@example.jp"_s;
    const SystemClock clock;
    mail::Postman postman(db, clock, settings, {Clinic, {}, {}, u"https://yoyaku.example.jp"_s, settings.from});
    std::cout << "ready" << std::endl;
    std::string go;
    std::getline(std::cin, go);
    while (postman.runOnce().sent > 0) {
    }
    return 0;
}

} // namespace

class TestMail : public QObject
{
    Q_OBJECT

private slots:
    void addressesAreReadAsTheServerWillTakeThem_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address"); // as stored, or the start of the message
        QTest::newRow("plain") << u" Hanako.Yamada@Example.JP "_s << u"Hanako.Yamada@example.jp"_s;
        QTest::newRow("full-width from a phone") << u"ｈａｎａｋｏ＠ｅｘａｍｐｌｅ．ｊｐ"_s << u"hanako@example.jp"_s;
        QTest::newRow("old mobile dots") << u"hana..ko.@docomo.ne.jp"_s << u"hana..ko.@docomo.ne.jp"_s;
        QTest::newRow("Japanese domain") << u"info@例え.jp"_s << u"info@xn--r8jz45g.jp"_s;
        QTest::newRow("nothing typed") << u"  "_s << QString();
        QTest::newRow("header injection")
            << u"a@example.jp\r\nBcc: all@example.com"_s << u"!メールアドレスに空白や改行"_s;
        QTest::newRow("a blank") << u"hana ko@example.jp"_s << u"!メールアドレスに空白や改行"_s;
        QTest::newRow("two recipients") << u"a@example.jp,b@example.jp"_s << u"!メールアドレスは example@"_s;
        QTest::newRow("a list in the name") << u"a,b@example.jp"_s << u"!メールアドレスは example@"_s;
        QTest::newRow("angle brackets") << u"<a@example.jp>"_s << u"!メールアドレスは example@"_s;
        QTest::newRow("no domain") << u"hanako@"_s << u"!メールアドレスは example@"_s;
        QTest::newRow("no dot in the domain") << u"hanako@localhost"_s << u"!メールアドレスは example@"_s;
        QTest::newRow("too long") << QString(250, u'a') + u"@example.jp"_s << u"!メールアドレスは254文字以内"_s;
    }
    void addressesAreReadAsTheServerWillTakeThem()
    {
        QFETCH(QString, typed);
        QFETCH(QString, address);
        const mail::AddressCheck check = mail::checkAddress(typed);
        if (address.startsWith(u'!')) {
            QVERIFY2(check.address.isEmpty() && check.error.startsWith(address.mid(1)), qPrintable(check.error));
        } else {
            QCOMPARE(check.address, address);
            QCOMPARE(check.error, QString());
        }
    }

    void mailSectionIsReadOrRefused_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("read");
        const QByteArray base = "[WEB]\nPORT=8080\n";
        const QByteArray mail =
            "[MAIL]\nHOST=mail.example.jp\nFROM=yoyaku@example.jp\nURL=https://yoyaku.example.jp/\n";
        QTest::newRow("no section: off") << base << u"off"_s;
        QTest::newRow("an empty section: off") << base + "[MAIL]\n" << u"off"_s;
        QTest::newRow("defaults")
            << base + mail << u"mail.example.jp:587 tls0 / yoyaku@example.jp https://yoyaku.example.jp keep7 17:00"_s;
        QTest::newRow("SMTPS, login, times")
            << mail + "TLS=smtps\nUSER=clinic\nPASSWORD_FILE=secret\nKEEP_DAYS=0\nREMIND_AT=9:30\n"
            << u"mail.example.jp:465 tls1 clinic/s3cret yoyaku@example.jp https://yoyaku.example.jp keep0 09:30"_s;
        QTest::newRow("plain text only on this machine")
            << QByteArray("[MAIL]\nHOST=127.0.0.1\nTLS=OFF\nFROM=yoyaku@example.jp\nURL=https://yoyaku.example.jp\n")
            << u"127.0.0.1:25 tls2 / yoyaku@example.jp https://yoyaku.example.jp keep7 17:00"_s;
        QTest::newRow("plain text across the network") << mail + "TLS=OFF\n"
                                                       << u"[MAIL] TLS=OFF は同じコンピュータのメールサーバー"_s;
        QTest::newRow("a link in clear")
            << QByteArray("[MAIL]\nHOST=m.example.jp\nFROM=a@example.jp\nURL=http://yoyaku.example.jp\n")
            << u"[MAIL] URL に患者さんが開く予約ページのアドレスを https://"_s;
        QTest::newRow("password twice") << mail + "USER=u\nPASSWORD=x\nPASSWORD_FILE=secret\n"
                                        << u"[MAIL] PASSWORD と PASSWORD_FILE はどちらか一方だけ"_s;
        QTest::newRow("a sender with a header")
            << QByteArray("[MAIL]\nHOST=m.example.jp\nFROM=a@example.jp>\nURL=https://x.jp\n")
            << u"[MAIL] FROM に送信元のメールアドレスを"_s;
        QTest::newRow("no time") << mail + "REMIND_AT=25:00\n" << u"[MAIL] REMIND_AT=25:00 は 17:00 のように"_s;
    }
    void mailSectionIsReadOrRefused()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, read);
        QTemporaryDir folder;
        test::writeFileBytes(folder.filePath(u"secret"_s), "s3cret\n");
        const QString got = setting(folder.path(), ini);
        QVERIFY2(got.startsWith(read), qPrintable(got));
    }

    // A pair's confirmation over STARTTLS with a login whose password comes from a file, read back by
    // Python's email package as a mail program would.
    void confirmationArrivesWholeAndEncoded()
    {
        MailClinic clinic({.tls = true, .auth = u"clinic:s3cret"_s, .refuse = {}, .delay = 0});
        clinic.settings.user = u"clinic"_s;
        clinic.settings.password = u"s3cret"_s;
        QVERIFY2(clinic.smtp.start(), qPrintable(clinic.smtp.diagnosis()));
        const QList<Dose> doses =
            clinic.book(u"hanako@example.jp"_s, {{QDate(2009, 10, 14), u"14"_s}, {QDate(2009, 11, 4), u"14"_s}});
        QCOMPARE(clinic.round().sent, 1);
        QCOMPARE(clinic.queue(), QStringList{u"confirmation %1 sent 1"_s.arg(doses.first().yno)});
        // Once sent, neither the address nor the code stays in the queue.
        QCOMPARE(test::rowsOf(clinic.ws.db, u"SELECT RCPT, MESSAGE FROM MAILQUEUE"_s), QStringList{u" "_s});

        const QList<QJsonObject> mails = clinic.smtp.mails();
        QCOMPARE(mails.size(), 1);
        const QJsonObject &m = mails.first();
        QCOMPARE(clinic.smtp.commands(),
                 (QStringList{u"AUTH tls=1"_s, u"MAIL tls=1"_s, u"RCPT tls=1"_s, u"DATA tls=1"_s}));
        QCOMPARE(m.value(u"from"_s).toString(), u"yoyaku@example.jp"_s);
        QCOMPARE(m.value(u"to"_s).toArray(), QJsonArray{u"hanako@example.jp"_s});
        QCOMPARE(m.value(u"subject"_s).toString(),
                 u"【"_s + Clinic + u"】ご予約を承りました（予約番号 %1）"_s.arg(doses.first().yno));
        QCOMPARE(m.value(u"sender"_s).toString(), Clinic + u" <yoyaku@example.jp>"_s);
        QCOMPARE(m.value(u"contentType"_s).toString(), u"text/plain"_s);
        QCOMPARE(m.value(u"charset"_s).toString(), u"utf-8"_s);
        QCOMPARE(m.value(u"text"_s).toString(),
                 u"インフルエンザ予防接種のご予約を承りました。\n\n"
                 "　1回目: 2009年10月14日(水) 14:00～15:00（予約番号 %1）\n"
                 "　2回目: 2009年11月4日(水) 14:00～15:00（予約番号 %2）\n"
                 "　取消コード: ABCD-EFGH-JKMN-PQRS\n\n"
                 "予約の確認・取消は次のページで、予約番号と取消コードを入力してください。\n"
                 "取消コードは予約完了の画面とこのメールにだけ記載しています。大切に保管してください。\n"
                 "https://yoyaku.example.jp/check?yno=%1\n\n"
                 "当日は保険証と診察券をお持ちください。\n\n"
                 "母子手帳をお持ちの方はご持参ください。\n\n"
                 "医療法人社団さくら会　さくら内科・小児科クリニック　電話 03-1234-5678\n\n"
                 "このメールは Web 予約のときに入力されたメールアドレスへ自動でお送りしています。\n"
                 "お心当たりのない場合は、お手数ですがこのメールを破棄してください。返信にはお答えできません。\n"_s
                     .arg(doses.at(0).yno)
                     .arg(doses.at(1).yno));
        // The headers are 7-bit and folded within 78 characters; the subject needed several words.
        const QString raw = m.value(u"raw"_s).toString();
        const QStringList head = raw.left(raw.indexOf(u"\r\n\r\n"_s)).split(u"\r\n"_s);
        for (const QString &line : head) {
            QVERIFY2(line.size() <= 78 && !line.contains(QRegularExpression(u"[^\\x20-\\x7e]"_s)), qPrintable(line));
        }
        QVERIFY(head.filter(QRegularExpression(u"^ =\\?UTF-8\\?B\\?"_s)).size() >= 2);
        QVERIFY(head.contains(u"Auto-Submitted: auto-generated"_s));
    }

    // The day before at REMIND_AT, once per dose, for bookings still standing, where the desk moved
    // them too; an address goes when its booking is cancelled at the desk or KEEP_DAYS after its last
    // dose.
    void remindersGoTheDayBeforeAndAddressesGoAfterwards()
    {
        MailClinic clinic;
        QVERIFY2(clinic.smtp.start(), qPrintable(clinic.smtp.diagnosis()));
        const QDate tuesday(2009, 10, 13);
        const int one = clinic.book(u"one@example.jp"_s, {{tuesday, u"10"_s}}, {}, u"一"_s).first().yno;
        const QList<Dose> pair =
            clinic.book(u"pair@example.jp"_s, {{tuesday, u"14"_s}, {QDate(2009, 11, 4), u"09"_s}}, {}, u"二"_s);
        const int gone = clinic.book(u"gone@example.jp"_s, {{tuesday, u"15"_s}}, {}, u"三"_s).first().yno;
        const int moved = clinic.book(u"moved@example.jp"_s, {{tuesday, u"09"_s}}, {}, u"四"_s).first().yno;
        QCOMPARE(clinic.round().sent, 4);
        // The desk cancels one; another patient of the same name is booked there afterwards.
        QVERIFY(cancelReservation(clinic.ws.db, dateKey(tuesday), u"15"_s, u"三"_s, gone));
        clinic.ws.addReservation(dateKey(tuesday), u"16"_s, u"三"_s);
        // The desk moves one: books the same patient at 13:00, then cancels 9:00.
        const int movedTo =
            registerReservation(clinic.ws.db, MailClinic::patient(u"四"_s, tuesday, u"13"_s), WhenFull::Refuse).yno;
        QVERIFY(cancelReservation(clinic.ws.db, dateKey(tuesday), u"09"_s, u"四"_s, moved));

        clinic.at(tuesday.addDays(-1), QTime(16, 59));
        QCOMPARE(clinic.round().reminders, 0);
        QCOMPARE(clinic.addresses(),
                 (QStringList{u"%1 one@example.jp"_s.arg(one), u"%1 pair@example.jp"_s.arg(pair.first().yno),
                              u"%1 moved@example.jp"_s.arg(moved)}));
        clinic.at(tuesday.addDays(-1), QTime(17, 0));
        QCOMPARE(clinic.round().sent, 3);
        // Booked after the reminder time: the confirmation is the reminder.
        clinic.at(tuesday.addDays(-1), QTime(18, 0));
        clinic.book(u"late@example.jp"_s, {{tuesday, u"11"_s}}, {}, u"五"_s);
        QCOMPARE(clinic.round().sent, 1);
        clinic.at(tuesday, QTime(8, 0));
        QCOMPARE(clinic.round().reminders, 0);

        // KEEP_DAYS (7) after the last dose: 10/20 keeps the Tuesday bookings' addresses, 10/21 only
        // the pair's, whose second dose is still to come.
        clinic.at(tuesday.addDays(7), QTime(12, 0));
        clinic.round();
        QCOMPARE(clinic.addresses().size(), 4);
        clinic.at(tuesday.addDays(8), QTime(12, 0));
        clinic.round();
        QCOMPARE(clinic.addresses(), QStringList{u"%1 pair@example.jp"_s.arg(pair.first().yno)});
        clinic.at(QDate(2009, 11, 3), QTime(17, 0));
        QCOMPARE(clinic.round().reminders, 1);

        QStringList reminders;
        for (const QJsonObject &m : clinic.smtp.mails()) {
            if (m.value(u"subject"_s).toString().contains(u"ご予約の日"_s)) {
                reminders << m.value(u"to"_s).toArray().first().toString() + u' ' + m.value(u"subject"_s).toString();
            }
        }
        reminders.sort();
        const QString subject = u"【"_s + Clinic + u"】明日はご予約の日です（予約番号 %1）"_s;
        QCOMPARE(reminders,
                 (QStringList{u"moved@example.jp "_s + subject.arg(movedTo), u"one@example.jp "_s + subject.arg(one),
                              u"pair@example.jp "_s + subject.arg(pair.first().yno),
                              u"pair@example.jp "_s + subject.arg(pair.at(1).yno)}));
        const QString second = clinic.smtp.mails().last().value(u"text"_s).toString();
        QVERIFY(second.startsWith(u"明日はインフルエンザ予防接種（2回目）のご予約の日です。\n\n"
                                  "　日時: 2009年11月4日(水) 9:00～10:00（予約番号 %1）\n"_s.arg(pair.at(1).yno)));
        QVERIFY(!second.contains(u"取消コード:"_s));
    }

    // Down, then back: tried again after its back-off, sent once. A refused recipient is given up at
    // once, a mail not out within a day then; the log never names the address.
    void serverDownThenBackSendsOnceAndGivesUpAfterADay()
    {
        MailClinic clinic({.tls = true, .auth = {}, .refuse = u"nobody@"_s, .delay = 0});
        logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(keepLog);
        const int yno = clinic.book(u"hanako@example.jp"_s, {{QDate(2009, 10, 13), u"10"_s}}).first().yno;
        QCOMPARE(clinic.round().failed, 1);
        QCOMPARE(clinic.queue(), QStringList{u"confirmation %1 queued 1"_s.arg(yno)});

        QVERIFY2(clinic.smtp.start(), qPrintable(clinic.smtp.diagnosis()));
        QCOMPARE(clinic.round().sent, 0); // not due yet
        clinic.at(QDate(2009, 10, 9), QTime(10, 31));
        QCOMPARE(clinic.round().sent, 1);
        QCOMPARE(clinic.round().sent, 0);
        QCOMPARE(clinic.smtp.mails().size(), 1);
        QCOMPARE(clinic.queue(), QStringList{u"confirmation %1 sent 2"_s.arg(yno)});

        clinic.book(u"nobody@example.jp"_s, {{QDate(2009, 10, 13), u"11"_s}});
        QCOMPARE(clinic.round().givenUp, 1);
        clinic.book(u"later@example.jp"_s, {{QDate(2009, 10, 13), u"12"_s}});
        clinic.smtp.stop();
        QCOMPARE(clinic.round().failed, 1);
        clinic.at(QDate(2009, 10, 10), QTime(10, 31));
        QCOMPARE(clinic.round().givenUp, 1);
        QCOMPARE(test::rowsOf(clinic.ws.db, u"SELECT STATE, RCPT, MESSAGE FROM MAILQUEUE ORDER BY QUEUED, STATE"_s),
                 (QStringList{u"sent  "_s, u"failed  "_s, u"failed  "_s}));
        qInstallMessageHandler(previous);
        QVERIFY(logged.filter(u"given up"_s).size() == 2);
        QVERIFY2(logged.filter(u"@"_s).isEmpty(), qPrintable(logged.join(u'\n')));
    }

    // Nothing is said in clear: no login, no sender, no recipient, no mail, when the server offers no
    // STARTTLS or its certificate is not the one trusted.
    void noTlsNoMail_data()
    {
        QTest::addColumn<bool>("offered");
        QTest::newRow("STARTTLS not offered") << false;
        QTest::newRow("certificate not trusted") << true;
    }
    void noTlsNoMail()
    {
        QFETCH(bool, offered);
        MailClinic clinic({.tls = offered, .auth = u"clinic:s3cret"_s, .refuse = {}, .delay = 0});
        clinic.settings.user = u"clinic"_s;
        clinic.settings.password = u"s3cret"_s;
        clinic.settings.caFile.clear(); // the system's authorities never signed the test's certificate
        QVERIFY2(clinic.smtp.start(), qPrintable(clinic.smtp.diagnosis()));
        const int yno = clinic.book(u"hanako@example.jp"_s, {{QDate(2009, 10, 13), u"10"_s}}).first().yno;
        QCOMPARE(clinic.round().failed, 1);
        QCOMPARE(clinic.smtp.commands(), QStringList());
        QCOMPARE(clinic.smtp.mails().size(), 0);
        QCOMPARE(clinic.queue(), QStringList{u"confirmation %1 queued 1"_s.arg(yno)});
    }

    // qrb-web's postman: on its own thread and connection, a round at its start and one when woken,
    // and it stops when it goes away.
    void serviceSendsOnItsOwnThreadWhenWoken()
    {
        MailClinic clinic;
        QVERIFY2(clinic.smtp.start(), qPrintable(clinic.smtp.diagnosis()));
        clinic.book(u"first@example.jp"_s, {{QDate(2009, 10, 13), u"10"_s}});
        {
            mail::MailService service(clinic.ws.target(), clinic.ws.clock, clinic.settings, clinic.head, 3600 * 1000);
            service.start();
            QTRY_COMPARE_WITH_TIMEOUT(clinic.smtp.mails().size(), 1, 30000);
            clinic.book(u"second@example.jp"_s, {{QDate(2009, 10, 13), u"11"_s}});
            service.wake();
            QTRY_COMPARE_WITH_TIMEOUT(clinic.smtp.mails().size(), 2, 30000);
        }
        QCOMPARE(clinic.smtp.mails().last().value(u"to"_s).toArray(), QJsonArray{u"second@example.jp"_s});
    }

    // A clinic that removes [MAIL] keeps no address: qrb-web deletes them at its start and says so.
    void mailSwitchedOffKeepsNoAddress()
    {
        MailClinic clinic;
        clinic.book(u"hanako@example.jp"_s, {{QDate(2009, 10, 13), u"10"_s}});
        const Config &config = clinic.ws.state->config;
        QByteArray ini = "[DATABASE]\r\nSYS0=" + config.SYS0.toUtf8() + "\r\n[SERVER]\r\nSVNM=" + config.SVNM.toUtf8() +
                         "\r\n[POSTGRESQL]\r\nHOST=" + config.POSTGRESQL.HOST.toUtf8() +
                         "\r\nPORT=" + config.POSTGRESQL.PORT.toUtf8() +
                         "\r\nDBNAME=" + config.POSTGRESQL.DBNAME.toUtf8() +
                         "\r\nUSER=" + config.POSTGRESQL.USER.toUtf8() +
                         "\r\n[WEB]\r\nPORT=" + QByteArray::number(clinic.smtp.port()) + "\r\n";
        QVERIFY(test::writeFileBytes(clinic.ws.folder() + u"/setting.ini"_s, ini));
        QProcess web;
        web.setWorkingDirectory(clinic.ws.folder());
        web.start(test::binDir() + u"/tools/qrb-web"_s);
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += web.readAllStandardError()).contains("http://") || web.state() == QProcess::NotRunning, 60000);
        web.kill();
        web.waitForFinished();
        QVERIFY2(said.contains(u"保存していたメールアドレス 1 件と未送信のメールを削除しました"_s.toUtf8()),
                 said.constData());
        QCOMPARE(test::rowsOf(clinic.ws.db, u"SELECT COUNT(*) FROM WEBMAIL"_s), QStringList{u"0"_s});
        QCOMPARE(clinic.queue(), QStringList());
    }

    // Three qrb-web processes' postmen let go at the same moment on one queue: each mail once.
    void severalPostmenSendEachMailOnce()
    {
        MailClinic clinic({.tls = true, .auth = {}, .refuse = {}, .delay = 0.02});
        QVERIFY2(clinic.smtp.start(), qPrintable(clinic.smtp.diagnosis()));
        clinic.ws.clock.at = QDateTime::currentDateTime();
        constexpr int Mails = 30;
        for (int i = 0; i < Mails; ++i) {
            clinic.book(u"patient%1@example.jp"_s.arg(i), {{QDate(2099, 1, 1 + i % 28), slotKey(i % SlotCount)}},
                        u"10.0.%1.1"_s.arg(i), u"患者%1"_s.arg(i));
        }
        const QString target = clinic.ws.onPostgres() ? u"pg="_s + clinic.ws.target().postgres->connInfo()
                                                      : u"sqlite="_s + clinic.ws.dbPath();
        std::vector<std::unique_ptr<QProcess>> postmen;
        for (int i = 0; i < 3; ++i) {
            auto &p = postmen.emplace_back(std::make_unique<QProcess>());
            p->start(QCoreApplication::applicationFilePath(),
                     {u"--postman"_s, target, QString::number(clinic.smtp.port()), clinic.smtp.certificate()});
        }
        for (const auto &p : postmen) {
            QVERIFY(p->waitForReadyRead(60000) && p->readAllStandardOutput().contains("ready"));
        }
        for (const auto &p : postmen) {
            p->write("go\n");
            QVERIFY(p->waitForBytesWritten(10000));
        }
        int working = 0;
        for (const auto &p : postmen) {
            QVERIFY(p->waitForFinished(120000));
            const QByteArray said = p->readAllStandardError();
            QVERIFY2(p->exitCode() == 0, said.constData());
            working += said.contains(" sent") ? 1 : 0;
        }
        QStringList to;
        for (const QJsonObject &m : clinic.smtp.mails()) {
            to << m.value(u"to"_s).toArray().first().toString();
        }
        QCOMPARE(to.size(), Mails);
        to.removeDuplicates();
        QCOMPARE(to.size(), Mails);
        QCOMPARE(test::rowsOf(clinic.ws.db, u"SELECT STATE, COUNT(*) FROM MAILQUEUE GROUP BY STATE"_s),
                 QStringList{u"sent %1"_s.arg(Mails)});
        qInfo("postmen that sent mail: %d of 3", working);
    }
};

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--postman") == 0) {
        return runPostman(argc, argv);
    }
    QCoreApplication app(argc, argv);
    TestMail test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mail.moc"
