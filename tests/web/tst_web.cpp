#include "support/Common.h"
#include "support/Desk.h"
#include "support/SmtpServer.h"
#include "support/Workspace.h"

#include "db/WebBooking.h"
#include "mail/Outbox.h"
#include "mail/Postman.h"
#include "shared/Cp932.h"
#include "web/WebApp.h"
#include "web/WebServer.h"
#include "web/WebSettings.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include <memory>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

struct Reply {
    int status = 0;
    QString body;
    std::shared_ptr<QNetworkReply> headers; // for its rawHeader()
};
using Form = QList<std::pair<QString, QString>>;

// A running qrb-web on the workspace's database, on a free port, and a browser of one patient (its
// own cookies) talking HTTP to it. The clock stands at 2009/10/09 (Friday) 10:30.
class Site
{
public:
    explicit Site(int places, int perPhone = 8, web::ConnectionLimits limits = {})
        : ws(places)
        , app(ws.db, ws.clock,
              {.kinds = {web::Kind::Seasonal, web::Kind::NewPair},
               .perPhone = perPhone,
               .clinic = u"<b>内科</b>"_s,
               .tel = {},
               .notice = {},
               .closed = {}})
        , server(app, limits)
    {
        prepareWebBooking(ws.db);
        port = server.listenOn(QHostAddress::LocalHost, 0, nullptr);
        csrf = field(send(u"/check"_s).body, u"csrf"_s); // the browser's form token
    }
    // A GET, or a form POSTed when there is one.
    Reply send(const QString &path, const Form &form = {}, const QByteArray &forwardedFor = {})
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path)));
        if (!forwardedFor.isEmpty()) {
            request.setRawHeader("X-Forwarded-For", forwardedFor);
        }
        QUrlQuery query;
        for (const auto &[k, v] : form) {
            query.addQueryItem(k, QString::fromLatin1(QUrl::toPercentEncoding(v)));
        }
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        std::shared_ptr<QNetworkReply> reply(
            form.isEmpty() ? browser.get(request) : browser.post(request, query.query(QUrl::FullyEncoded).toLatin1()),
            [](QNetworkReply *r) { r->deleteLater(); });
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), QString::fromUtf8(reply->readAll()),
                reply};
    }
    static QString field(const QString &html, const QString &name)
    {
        QString value = QRegularExpression(u"name=\"%1\" value=\"([^\"]*)\""_s.arg(name)).match(html).captured(1);
        const QStringList entities{u"&quot;"_s, u"\""_s,   u"&#39;"_s, u"'"_s,     u"&lt;"_s,
                                   u"<"_s,      u"&gt;"_s, u">"_s,     u"&amp;"_s, u"&"_s};
        for (qsizetype i = 0; i < entities.size(); i += 2) {
            value.replace(entities[i], entities[i + 1]);
        }
        return value;
    }
    // The patient's form as typed, for a slot; `changes` replace fields.
    Form typed(const QString &date, const QString &hour, const QHash<QString, QString> &changes = {})
    {
        Form fields = QUrlQuery(u"date=%1&hour=%2&name=山田 花子&kana=やまだ はなこ&birth=19850412&tel=090-1234-5678&"
                                "kno=&visited=1&kind=0&second=&remarks=&email="_s.arg(date, hour))
                          .queryItems(QUrl::FullyDecoded);
        fields.prepend({u"csrf"_s, csrf});
        for (auto &[k, v] : fields) {
            v = changes.value(k, v);
        }
        return fields;
    }
    // Confirm, then book: the reply of the booking; the confirm page's fields kept in `sent`.
    Reply book(const Form &fields)
    {
        const Reply confirm = send(u"/confirm"_s, fields);
        if (confirm.status != 200) {
            return confirm;
        }
        sent.clear();
        const QRegularExpression hidden(u"<input type=\"hidden\" name=\"([a-z]+)\" value=\"[^\"]*\""_s);
        for (auto it = hidden.globalMatch(confirm.body); it.hasNext();) {
            const QString name = it.next().captured(1);
            sent.append({name, field(confirm.body, name)});
        }
        return send(u"/book"_s, sent);
    }
    // The booking number and code a done page shows.
    static QString shown(const Reply &done, const QString &id)
    {
        return QRegularExpression(u"id=\"%1\">([^<]*)<"_s.arg(id)).match(done.body).captured(1);
    }
    static QString yno(const Reply &done) { return shown(done, u"yno"_s); }
    static QString code(const Reply &done) { return shown(done, u"code"_s); }
    // Checks (or, on /cancel, cancels) a booking with the code given, from an address.
    Reply check(const Reply &done, const QString &code, const QString &path = u"/check"_s,
                const QByteArray &address = {})
    {
        return send(path, {{u"csrf"_s, csrf}, {u"yno"_s, yno(done)}, {u"code"_s, code}}, address);
    }
    int rows() { return ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU"_s).toInt(); }
    // The clinic sends mail: the form asks for an address.
    void withMail(const mail::MailSettings &settings, const mail::Letterhead &head)
    {
        mail::prepareMail(ws.db);
        outbox.emplace(settings, head);
        app.setOutbox(&*outbox);
    }

    test::Workspace ws;
    std::optional<mail::Outbox> outbox;
    web::WebApp app;
    web::WebServer server;
    quint16 port = 0;
    QNetworkAccessManager browser;
    QString csrf;
    Form sent;
};

} // namespace

class TestWeb : public QObject
{
    Q_OBJECT

private slots:
    void bookCheckAndCancelOneDoseAndAPair()
    {
        Site site(3);
        const Reply days = site.send(u"/"_s);
        QCOMPARE(days.status, 200);
        QVERIFY(days.body.contains(u"href=\"/day?d=2009-10-13\""_s));
        QVERIFY(days.body.contains(u"&lt;b&gt;内科&lt;/b&gt;"_s));
        QCOMPARE(days.headers->rawHeader("x-frame-options"), "DENY");
        QCOMPARE(days.headers->rawHeader("referrer-policy"), "no-referrer");
        QVERIFY(days.headers->rawHeader("content-security-policy").startsWith("default-src 'none'; style-src 'self'"));
        QVERIFY(site.send(u"/day?d=2009-10-13"_s).body.contains(u"残り3人"_s));

        const Reply done = site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"remarks"_s, u"卵アレルギー"_s}}));
        QCOMPARE(done.status, 200);
        QCOMPARE(test::stored(site.ws.db, u"YNO, YDATE, YTIME, KNM, KKNM, BIRTHDAY, BFLG, TEL1, RFLG, SFLG, SCNT, "
                                          "CFLG, Category, BIKO"_s),
                 (QStringList{Site::yno(done), u"2009/10/13"_s, u"10"_s, u"山田 花子"_s, u"ﾔﾏﾀﾞ ﾊﾅｺ"_s,
                              u"1985年04月12日"_s, u"0"_s, u"090-1234-5678"_s, u"1"_s, u"1"_s, u"1"_s, u"0"_s, u"0"_s,
                              u"Web予約 卵アレルギー"_s}));
        QVERIFY(site.send(u"/day?d=2009-10-13"_s).body.contains(u"残り2人"_s));
        // The code is kept only as a hash.
        QVERIFY(!site.ws.db.scalar(u"SELECT CODEHASH FROM WEBYOYAKU"_s).toString().contains(Site::code(done)));

        const Reply shown = site.check(done, Site::code(done).toLower());
        QCOMPARE(shown.status, 200);
        QVERIFY(shown.body.contains(u"10月13日(火) 10:00～11:00"_s));
        QCOMPARE(site.check(done, Site::field(shown.body, u"code"_s), u"/cancel"_s).status, 200);
        QCOMPARE(site.rows(), 0);
        QCOMPARE(site.check(done, Site::code(done), u"/cancel"_s).status, 403);

        // A 新型 pair. Three weeks after 10/13 is 文化の日, a closed day never offered: the first dose is a day later.
        QVERIFY(site.send(u"/form?d=2009-10-14&h=14"_s).body.contains(u"<option value=\"2009-11-04 14\" selected>"_s));
        const auto pair = [&](const QString &second) {
            return site.typed(u"2009-10-14"_s, u"14"_s, {{u"kind"_s, u"1"_s}, {u"second"_s, second}});
        };
        // The same day as the first dose is refused.
        QVERIFY(site.send(u"/confirm"_s, pair(u"2009-10-14 15"_s)).body.contains(u"1回目より後の空いている日時"_s));
        const Reply both = site.book(pair(u"2009-11-05 09"_s));
        QCOMPARE(both.status, 200);
        QCOMPARE(test::stored(site.ws.db, u"YDATE, YTIME, SFLG, SCNT"_s),
                 (QStringList{u"2009/10/14"_s, u"14"_s, u"2"_s, u"1"_s, u"2009/11/05"_s, u"09"_s, u"2"_s, u"2"_s}));
        QCOMPARE(site.check(both, Site::code(both), u"/cancel"_s).status, 200);
        QCOMPARE(site.rows(), 0);
    }

    void fullSlotIsRefusedAndNothingStored()
    {
        Site site(1);
        const auto fields = site.typed(u"2009-10-13"_s, u"10"_s);
        site.ws.addReservation(u"2009/10/13"_s, u"10"_s, u"窓口の患者"_s); // the desk takes the last place
        const Reply confirm = site.book(fields);
        QCOMPARE(confirm.status, 422);
        QVERIFY(confirm.body.contains(u"予約できなくなりました"_s));
        QCOMPARE(site.rows(), 1);
        QVERIFY(!site.send(u"/day?d=2009-10-13"_s).body.contains(u"h=10"_s));
        // Filled between the confirm page and the booking: told "full", never over-booked.
        auto again = site.typed(u"2009-10-13"_s, u"12"_s);
        const Reply confirmed = site.send(u"/confirm"_s, again);
        site.ws.addReservation(u"2009/10/13"_s, u"12"_s, u"窓口の患者"_s);
        again.append({u"nonce"_s, Site::field(confirmed.body, u"nonce"_s)});
        QCOMPARE(site.send(u"/book"_s, again).status, 409);
        QCOMPARE(test::stored(site.ws.db, u"KNM"_s, u"YTIME = '12'"_s), QStringList{u"窓口の患者"_s});
    }

    void onlyBookableSlotsAreOffered_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("hour");
        QTest::addColumn<bool>("offered");
        QTest::newRow("within the cut-off") << u"2009-10-09"_s << u"12"_s << false;
        QTest::newRow("just after the cut-off") << u"2009-10-09"_s << u"13"_s << true;
        QTest::newRow("past day") << u"2009-10-08"_s << u"15"_s << false;
        QTest::newRow("last day of the window") << u"2009-11-07"_s << u"10"_s << true;
        QTest::newRow("beyond the window") << u"2009-11-08"_s << u"10"_s << false;
        QTest::newRow("no slot") << u"2009-10-13"_s << u"18"_s << false;
        QTest::newRow("national holiday (体育の日)") << u"2009-10-12"_s << u"10"_s << false;
        QTest::newRow("no date") << u"2009-02-30"_s << u"10"_s << false;
    }
    void onlyBookableSlotsAreOffered()
    {
        QFETCH(QString, date);
        QFETCH(QString, hour);
        QFETCH(bool, offered);
        Site site(2);
        QCOMPARE(site.send(u"/form?d=%1&h=%2"_s.arg(date, hour)).status, offered ? 200 : 409);
        QCOMPARE(site.book(site.typed(date, hour)).status, offered ? 200 : 422);
        QCOMPARE(site.rows(), offered ? 1 : 0);
    }

    void badFieldsAreNamedAndTypingKept_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("error");
        QTest::newRow("no name") << u"name"_s << u"  "_s << u"氏名を入力してください。"_s;
        QTest::newRow("name outside Shift-JIS") << u"name"_s << u"𠮷田"_s << u"氏名に使えない文字"_s;
        QTest::newRow("name too long") << u"name"_s << QString(41, u'山') << u"40文字以内"_s;
        QTest::newRow("kana not kana") << u"kana"_s << u"Yamada"_s << u"カタカナかひらがな"_s;
        QTest::newRow("birth no date") << u"birth"_s << u"19851345"_s << u"西暦で入力"_s;
        QTest::newRow("birth in the future") << u"birth"_s << u"2010-01-01"_s << u"西暦で入力"_s;
        QTest::newRow("tel letters") << u"tel"_s << u"090-abcd-5678"_s << u"数字で入力"_s;
        QTest::newRow("patient number") << u"kno"_s << u"12'; DROP"_s << u"半角英数字"_s;
        QTest::newRow("visited missing") << u"visited"_s << u"3"_s << u"受診歴を選んで"_s;
        QTest::newRow("kind not offered") << u"kind"_s << u"2"_s << u"種別を選んで"_s;
        QTest::newRow("remarks control") << u"remarks"_s << u"a\u0007b"_s << u"備考に使えない文字"_s;
    }
    void badFieldsAreNamedAndTypingKept()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, error);
        Site site(2);
        QHash<QString, QString> changes{{u"tel"_s, u"０９０１２３４５６７８"_s}};
        changes.insert(field, value);
        const Reply reply = site.send(u"/confirm"_s, site.typed(u"2009-10-13"_s, u"10"_s, changes));
        QCOMPARE(reply.status, 422);
        QVERIFY2(reply.body.contains(u"<p class=\"error\" id=\"e-"_s + field), qPrintable(reply.body));
        QVERIFY(reply.body.contains(error));
        QVERIFY(reply.body.contains(u"value=\"山田 花子\""_s) || field == u"name"_s);
        QVERIFY(reply.body.contains(u"value=\"０９０１２３４５６７８\""_s) || field == u"tel"_s);
        QCOMPARE(site.rows(), 0);
    }

    // Typed markup is shown as text; a token made up by another site, or one without the browser's
    // cookie, books nothing.
    void markupIsTextAndForeignFormsAreRefused()
    {
        Site site(2);
        const QString name = u"<img src=x onerror=alert(1)>\"'&"_s;
        const auto fields =
            site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, name}, {u"remarks"_s, u"</textarea><script>"_s}});
        const Reply confirm = site.send(u"/confirm"_s, fields);
        QVERIFY(confirm.body.contains(u"&lt;img src=x onerror=alert(1)&gt;&quot;&#39;&amp;"_s));
        QVERIFY(!confirm.body.contains(u"<img"_s) && !confirm.body.contains(u"<script"_s));
        const Reply done = site.book(fields);
        QCOMPARE(done.status, 200);
        QVERIFY(!done.body.contains(u"<img"_s) && !done.body.contains(u"</textarea><script>"_s));
        QCOMPARE(test::stored(site.ws.db, u"KNM"_s), QStringList{name});

        site.sent[0].second = QString(64, u'0');
        site.sent.append({u"nonce"_s, QString(32, u'1')});
        QCOMPARE(site.send(u"/book"_s, site.sent).status, 403);
        site.browser.setCookieJar(new QNetworkCookieJar);
        QCOMPARE(site.send(u"/confirm"_s, fields).status, 403);
        QCOMPARE(site.rows(), 1);
    }

    // A booking sent twice is one booking with one code; the same name and slot again, or a phone
    // past its allowance, adds nothing.
    void repeatsAddNothing()
    {
        Site site(5, 2);
        const Reply first = site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"一郎"_s}}));
        const Reply second = site.send(u"/book"_s, site.sent);
        QCOMPARE(second.status, 200);
        QCOMPARE(Site::yno(second) + Site::code(second), Site::yno(first) + Site::code(first));
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"一郎"_s}})).status, 409);
        // The same number written another way still counts: the second booking of a phone of two.
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"二郎"_s}, {u"tel"_s, u"09012345678"_s}}))
                     .status,
                 200);
        QCOMPARE(site.book(site.typed(u"2009-10-14"_s, u"10"_s, {{u"name"_s, u"三郎"_s}})).status, 409);
        QCOMPARE(site.rows(), 2);
    }

    // With mail: the form asks for an address; a booking queues its confirmation in its own
    // transaction (once, however often the page is sent), the mail's link fills the check page's
    // number in, an online cancel sends its notice and forgets the address, and past the day's limit
    // the booking stands without mail and the page says nothing different.
    void mailIsAskedForSentAndForgotten()
    {
        Site site(5);
        QVERIFY(!site.send(u"/form?d=2009-10-13&h=10"_s).body.contains(u"name=\"email\""_s));
        test::SmtpServer smtp;
        QVERIFY2(smtp.start(), qPrintable(smtp.diagnosis()));
        mail::MailSettings settings;
        std::tie(settings.host, settings.port, settings.caFile) = std::tuple(u"127.0.0.1"_s, smtp.port(), smtp.certificate());
        settings.from = u"yoyaku@example.jp"_s;
        settings.siteUrl = u"https://yoyaku.example.jp"_s;
        settings.perAddress = 2;
        const mail::Letterhead head{u"<b>内科</b>"_s, u"03-1234-5678"_s, {}, settings.siteUrl, settings.from};
        site.withMail(settings, head);
        mail::Postman postman(site.ws.db, site.ws.clock, settings, head);
        QVERIFY(site.send(u"/form?d=2009-10-13&h=10"_s)
                    .body.contains(u"name=\"email\" value=\"\" type=\"email\" autocomplete=\"email\""_s));

        const Reply injected = site.send(
            u"/confirm"_s, site.typed(u"2009-10-13"_s, u"10"_s, {{u"email"_s, u"a@example.jp\r\nBcc: b@example.jp"_s}}));
        QCOMPARE(injected.status, 422);
        QVERIFY(injected.body.contains(u"id=\"e-email\""_s));

        const Reply done = site.book(site.typed(
            u"2009-10-14"_s, u"14"_s,
            {{u"kind"_s, u"1"_s}, {u"second"_s, u"2009-11-05 09"_s}, {u"email"_s, u"ｈａｎａｋｏ＠example.jp"_s}}));
        QCOMPARE(done.status, 200);
        const QString notice = u"ご入力のメールアドレスに、予約の確認のメールをお送りします。"_s;
        QVERIFY(done.body.contains(notice));
        QCOMPARE(site.send(u"/book"_s, site.sent).status, 200);
        QCOMPARE(postman.runOnce().sent, 1);
        const QString yno = Site::yno(done), second = QString::number(yno.toInt() + 1);
        QCOMPARE(smtp.mails().size(), 1);
        const QJsonObject confirmation = smtp.mails().first();
        QCOMPARE(confirmation.value(u"to"_s).toArray(), QJsonArray{u"hanako@example.jp"_s});
        const QString text = confirmation.value(u"text"_s).toString();
        for (const QString &line : QStringList{u"　1回目: 2009年10月14日(水) 14:00～15:00（予約番号 %1）"_s.arg(yno),
                                    u"　2回目: 2009年11月5日(木) 9:00～10:00（予約番号 %1）"_s.arg(second),
                                    u"　取消コード: "_s + Site::code(done),
                                    u"https://yoyaku.example.jp/check?yno="_s + yno}) {
            QVERIFY2(text.split(u'\n').contains(line), qPrintable(text));
        }
        QVERIFY(!text.contains(u"山田"_s));
        QVERIFY(site.send(u"/check?yno="_s + yno).body.contains(u"name=\"yno\" type=\"text\" inputmode=\"numeric\" "
                                                                 "maxlength=\"10\" autocomplete=\"off\" value=\""_s +
                                                                 yno + u"\""_s));

        QCOMPARE(site.check(done, Site::code(done), u"/cancel"_s).status, 200);
        QCOMPARE(test::rowsOf(site.ws.db, u"SELECT COUNT(*) FROM WEBMAIL"_s), QStringList{u"0"_s});
        QCOMPARE(postman.runOnce().sent, 1);
        const QJsonObject cancelled = smtp.mails().last();
        QCOMPARE(cancelled.value(u"subject"_s).toString(), u"【<b>内科</b>】ご予約を取り消しました（予約番号 %1）"_s.arg(yno));
        QVERIFY(cancelled.value(u"text"_s).toString().contains(u"（予約番号 %1）"_s.arg(second)));

        // Two mails today already (PER_ADDRESS=2); a +tag makes no other address.
        const Reply capped = site.book(site.typed(u"2009-10-15"_s, u"10"_s, {{u"email"_s, u"hanako+2@example.jp"_s}}));
        QCOMPARE(capped.status, 200);
        QVERIFY(capped.body.contains(notice));
        QCOMPARE(test::rowsOf(site.ws.db, u"SELECT COUNT(*) FROM WEBMAIL"_s), QStringList{u"0"_s});
        QCOMPARE(postman.runOnce().sent, 0);
    }

    void wrongCodesLockTheAddressOut()
    {
        Site site(5);
        const Reply done = site.book(site.typed(u"2009-10-13"_s, u"10"_s));
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(site.check(done, u"AAAA-AAAA-AAAA-AAAA"_s, u"/check"_s, "203.0.113.7").status, 403);
        }
        const Reply locked = site.check(done, Site::code(done), u"/check"_s, "203.0.113.7");
        QCOMPARE(locked.status, 429);
        QVERIFY(locked.headers->rawHeader("retry-after").toInt() > 60);
        QCOMPARE(site.check(done, Site::code(done), u"/check"_s, "203.0.113.8").status, 200);
        // Bookings have their own allowance per address.
        int status = 0;
        for (int i = 0; i < 13 && status != 429; ++i) {
            status = site.send(u"/book"_s, {{u"csrf"_s, site.csrf}}, "198.51.100.1").status;
        }
        QCOMPARE(status, 429);
    }

    void oversizedAndSlowRequestsAreCut()
    {
        Site site(2, 8, web::ConnectionLimits{4096, 300, 8});
        QTcpSocket huge;
        huge.connectToHost(QHostAddress::LocalHost, site.port);
        QVERIFY(huge.waitForConnected());
        huge.write("POST /confirm HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                   "Content-Length: 100000\r\n\r\n" +
                   QByteArray(20000, 'a'));
        QTRY_VERIFY(huge.state() == QAbstractSocket::UnconnectedState || huge.bytesAvailable() > 0);
        QVERIFY(huge.readAll().startsWith("HTTP/1.1 413"));
        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, site.port);
        QVERIFY(slow.waitForConnected());
        slow.write("GET / HTTP/1.1\r\nHost: x\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(slow.state(), QAbstractSocket::UnconnectedState, 3000);
        QCOMPARE(site.send(u"/"_s).status, 200);
    }

    // Every bad value is named, and the server does not start.
    void badSettingsStopTheServer()
    {
        test::Workspace ws;
        QVERIFY(test::writeFileBytes(
            ws.folder() + u"/setting.ini"_s,
            encodeCp932(u"[WEB]\r\nPORT=80a\r\nLISTEN=localhost:1\r\nKINDS=季節性,新形\r\nDAYS=0\r\n"
                        u"[MAIL]\r\nHOST=mail.example.jp\r\nTLS=OFF\r\nFROM=a@example.jp\r\nURL=https://x.example.jp\r\n"_s)
                .bytes));
        QCOMPARE(web::readWebSettings(ws.folder()).errors.size(), 4);
        const test::Run server = test::runProgram(test::binDir() + u"/tools/qrb-web"_s, {}, ws.folder());
        QCOMPARE(server.code, 2);
        for (const QString &message : {u"PORT=80a は 1〜65535"_s, u"LISTEN=localhost:1 は IP アドレスではありません"_s,
                                       u"「新形」は種別ではありません"_s, u"DAYS=0 は 1〜366"_s,
                                       u"[MAIL] TLS=OFF は同じコンピュータのメールサーバー"_s}) {
            QVERIFY2(server.err.contains(message), qPrintable(server.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
