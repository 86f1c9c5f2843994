#include "support/Workspace.h"

#include "db/WebBooking.h"
#include "shared/Cp932.h"
#include "web/WebApp.h"
#include "web/WebServer.h"
#include "web/WebSettings.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

struct Reply {
    int status = 0;
    QString body;
    QHash<QByteArray, QByteArray> headers;
};

// A running qrb-web on the workspace's database, on a free port, and a browser of one patient (its
// own cookies) talking HTTP to it. The clock stands at 2009/10/09 (Friday) 10:30.
class Site
{
public:
    explicit Site(int places, web::WebSettings settings = defaults(), web::ConnectionLimits limits = {})
        : ws(places)
        , app(ws.db, ws.clock, settings)
        , server(app, limits)
    {
        prepareWebBooking(ws.db);
        port = server.listenOn(QHostAddress::LocalHost, 0, nullptr);
    }
    static web::WebSettings defaults()
    {
        web::WebSettings s;
        s.kinds = {web::Kind::Seasonal, web::Kind::NewPair};
        s.clinic = u"<b>内科</b>"_s;
        return s;
    }
    Reply send(const QString &path, const QList<std::pair<QString, QString>> &form = {}, bool post = false,
               const QByteArray &forwardedFor = {})
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path)));
        if (!forwardedFor.isEmpty()) {
            request.setRawHeader("X-Forwarded-For", forwardedFor);
        }
        QNetworkReply *reply = nullptr;
        if (post || !form.isEmpty()) {
            QUrlQuery query;
            for (const auto &[k, v] : form) {
                query.addQueryItem(k, QString::fromLatin1(QUrl::toPercentEncoding(v)));
            }
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
            reply = browser.post(request, query.query(QUrl::FullyEncoded).toLatin1());
        } else {
            reply = browser.get(request);
        }
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        Reply r{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QString::fromUtf8(reply->readAll()),
                {}};
        for (const auto &[name, value] : reply->rawHeaderPairs()) {
            r.headers.insert(name.toLower(), value);
        }
        reply->deleteLater();
        return r;
    }
    static QString field(const QString &html, const QString &name)
    {
        const auto m = QRegularExpression(u"name=\"%1\" value=\"([^\"]*)\""_s.arg(name)).match(html);
        return m.captured(1)
            .replace(u"&quot;"_s, u"\""_s)
            .replace(u"&#39;"_s, u"'"_s)
            .replace(u"&lt;"_s, u"<"_s)
            .replace(u"&gt;"_s, u">"_s)
            .replace(u"&amp;"_s, u"&"_s);
    }
    // The patient's form as typed, for a slot; `changes` replace fields.
    QList<std::pair<QString, QString>> typed(const QString &date, const QString &hour,
                                             const QHash<QString, QString> &changes = {})
    {
        QList<std::pair<QString, QString>> fields = {{u"csrf"_s, field(send(u"/check"_s).body, u"csrf"_s)},
                                                     {u"date"_s, date},
                                                     {u"hour"_s, hour},
                                                     {u"name"_s, u"山田 花子"_s},
                                                     {u"kana"_s, u"やまだ はなこ"_s},
                                                     {u"birth"_s, u"19850412"_s},
                                                     {u"tel"_s, u"090-1234-5678"_s},
                                                     {u"kno"_s, QString()},
                                                     {u"visited"_s, u"1"_s},
                                                     {u"kind"_s, u"0"_s},
                                                     {u"second"_s, QString()},
                                                     {u"remarks"_s, QString()}};
        for (auto &[k, v] : fields) {
            v = changes.value(k, v);
        }
        return fields;
    }
    // Confirm, then book: the reply of the booking and the confirm page's fields.
    Reply book(const QList<std::pair<QString, QString>> &fields, QList<std::pair<QString, QString>> *sent = nullptr)
    {
        const Reply confirm = send(u"/confirm"_s, fields);
        if (confirm.status != 200) {
            return confirm;
        }
        QList<std::pair<QString, QString>> booking;
        const QRegularExpression hidden(u"<input type=\"hidden\" name=\"([a-z]+)\" value=\"[^\"]*\""_s);
        for (auto it = hidden.globalMatch(confirm.body); it.hasNext();) {
            const QString name = it.next().captured(1);
            booking.append({name, field(confirm.body, name)});
        }
        if (sent) {
            *sent = booking;
        }
        return send(u"/book"_s, booking);
    }
    static QString yno(const Reply &done)
    {
        return QRegularExpression(u"id=\"yno\">(\\d+)<"_s).match(done.body).captured(1);
    }
    static QString code(const Reply &done)
    {
        return QRegularExpression(u"id=\"code\">([0-9A-Z-]+)<"_s).match(done.body).captured(1);
    }
    int rows(const QString &where = u"1 = 1"_s)
    {
        return ws.db.scalar(u"SELECT COUNT(*) FROM YOYAKU WHERE "_s + where).toInt();
    }

    test::Workspace ws;
    web::WebApp app;
    web::WebServer server;
    quint16 port = 0;
    QNetworkAccessManager browser;
};

} // namespace

class TestWeb : public QObject
{
    Q_OBJECT

private slots:
    void bookCheckAndCancel()
    {
        Site site(3);
        const Reply days = site.send(u"/"_s);
        QCOMPARE(days.status, 200);
        QVERIFY(days.body.contains(u"href=\"/day?d=2009-10-13\""_s));
        QVERIFY(days.body.contains(u"&lt;b&gt;内科&lt;/b&gt;"_s));
        QCOMPARE(days.headers.value("x-frame-options"), "DENY");
        QCOMPARE(days.headers.value("referrer-policy"), "no-referrer");
        QVERIFY(days.headers.value("content-security-policy").startsWith("default-src 'none'; style-src 'self'"));
        QVERIFY(site.send(u"/day?d=2009-10-13"_s).body.contains(u"残り3人"_s));

        const Reply done = site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"remarks"_s, u"卵アレルギー"_s}}));
        QCOMPARE(done.status, 200);
        const QString yno = Site::yno(done);
        const auto row = reservationInSlot(site.ws.db, u"2009/10/13"_s, u"10"_s, u"山田 花子"_s);
        QVERIFY(row);
        QCOMPARE(QString::number(row->yno), yno);
        QCOMPARE(row->kknm, u"ﾔﾏﾀﾞ ﾊﾅｺ"_s);
        QCOMPARE(row->birthday, u"1985年04月12日"_s);
        QCOMPARE(row->bflg, 0);
        QCOMPARE(row->tel1, u"090-1234-5678"_s);
        QCOMPARE(row->rflg, 1);
        QCOMPARE(row->sflg, 1);
        QCOMPARE(row->scnt, 1);
        QCOMPARE(row->cflg, 0);
        QCOMPARE(row->category, 0);
        QCOMPARE(row->biko, u"Web予約 卵アレルギー"_s);
        QVERIFY(site.send(u"/day?d=2009-10-13"_s).body.contains(u"残り2人"_s));
        // The code is kept only as a hash.
        QVERIFY(!site.ws.db.scalar(u"SELECT CODEHASH FROM WEBYOYAKU"_s).toString().contains(Site::code(done)));

        const QString csrf = Site::field(site.send(u"/check"_s).body, u"csrf"_s);
        const Reply shown =
            site.send(u"/check"_s, {{u"csrf"_s, csrf}, {u"yno"_s, yno}, {u"code"_s, Site::code(done).toLower()}});
        QCOMPARE(shown.status, 200);
        QVERIFY(shown.body.contains(u"10月13日(火) 10:00～11:00"_s));
        const QList<std::pair<QString, QString>> cancel = {
            {u"csrf"_s, csrf}, {u"yno"_s, yno}, {u"code"_s, Site::field(shown.body, u"code"_s)}};
        QCOMPARE(site.send(u"/cancel"_s, cancel).status, 200);
        QCOMPARE(site.rows(), 0);
        QCOMPARE(site.send(u"/cancel"_s, cancel).status, 403);
    }

    void pairBooksAndCancelsBothDoses()
    {
        Site site(3);
        auto fields = site.typed(u"2009-10-13"_s, u"14"_s, {{u"kind"_s, u"1"_s}});
        const Reply form = site.send(u"/form?d=2009-10-13&h=14"_s);
        QVERIFY(form.body.contains(u"<option value=\"2009-11-03 14\" selected>"_s));
        fields[10].second = u"2009-10-13 15"_s; // the same day as the first dose
        QVERIFY(site.send(u"/confirm"_s, fields).body.contains(u"1回目より後の空いている日時"_s));
        fields[10].second = u"2009-11-05 09"_s;
        const Reply done = site.book(fields);
        QCOMPARE(done.status, 200);
        QCOMPARE(site.rows(u"YDATE = '2009/10/13' AND YTIME = '14' AND SFLG = 2 AND SCNT = 1"_s), 1);
        QCOMPARE(site.rows(u"YDATE = '2009/11/05' AND YTIME = '09' AND SFLG = 2 AND SCNT = 2"_s), 1);
        const QString csrf = Site::field(form.body, u"csrf"_s);
        QCOMPARE(
            site.send(u"/cancel"_s, {{u"csrf"_s, csrf}, {u"yno"_s, Site::yno(done)}, {u"code"_s, Site::code(done)}})
                .status,
            200);
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
        QList<std::pair<QString, QString>> sent;
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"11"_s), &sent).status, 200);
        auto again = site.typed(u"2009-10-13"_s, u"12"_s, {{u"name"_s, u"別の人"_s}});
        const Reply confirmed = site.send(u"/confirm"_s, again);
        site.ws.addReservation(u"2009/10/13"_s, u"12"_s, u"窓口の患者"_s);
        again.append({u"nonce"_s, Site::field(confirmed.body, u"nonce"_s)});
        QCOMPARE(site.send(u"/book"_s, again).status, 409);
        QCOMPARE(site.rows(u"YTIME = '12'"_s), 1);
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

    void foreignFormsAreRefused()
    {
        Site site(2);
        auto fields = site.typed(u"2009-10-13"_s, u"10"_s);
        QList<std::pair<QString, QString>> sent;
        QCOMPARE(site.book(fields, &sent).status, 200);
        sent[0].second = QString(64, u'0'); // a token made up by another site
        sent.append({u"nonce"_s, QString(32, u'1')});
        QCOMPARE(site.send(u"/book"_s, sent).status, 403);
        site.browser.setCookieJar(new QNetworkCookieJar); // the same token without the browser's cookie
        QCOMPARE(site.send(u"/confirm"_s, fields).status, 403);
        QCOMPARE(site.rows(), 1);
    }

    void typedMarkupIsShownAsText()
    {
        Site site(2);
        const QString name = u"<img src=x onerror=alert(1)>\"'&"_s;
        auto fields =
            site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, name}, {u"remarks"_s, u"</textarea><script>"_s}});
        const Reply confirm = site.send(u"/confirm"_s, fields);
        QVERIFY(confirm.body.contains(u"&lt;img src=x onerror=alert(1)&gt;&quot;&#39;&amp;"_s));
        QVERIFY(!confirm.body.contains(u"<img"_s) && !confirm.body.contains(u"<script"_s));
        const Reply done = site.book(fields);
        QVERIFY(!done.body.contains(u"<img"_s) && !done.body.contains(u"</textarea><script>"_s));
        QCOMPARE(site.rows(u"KNM = '" + QString(name).replace(u"'"_s, u"''"_s) + u"'"), 1);
    }

    void doubleSubmitBooksOnceWithTheSameCode()
    {
        Site site(5);
        QList<std::pair<QString, QString>> sent;
        const Reply first = site.book(site.typed(u"2009-10-13"_s, u"10"_s), &sent);
        const Reply second = site.send(u"/book"_s, sent);
        QCOMPARE(second.status, 200);
        QCOMPARE(Site::yno(second), Site::yno(first));
        QCOMPARE(Site::code(second), Site::code(first));
        QCOMPARE(site.rows(), 1);
        // Another confirm page for the same name and slot adds nothing either.
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s)).status, 409);
        QCOMPARE(site.rows(), 1);
    }

    void onePhoneHoldsAtMostPerPhoneBookings()
    {
        web::WebSettings settings = Site::defaults();
        settings.perPhone = 2;
        Site site(5, settings);
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"一郎"_s}})).status, 200);
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"二郎"_s}, {u"tel"_s, u"09012345678"_s}}))
                     .status,
                 200);
        QCOMPARE(site.book(site.typed(u"2009-10-14"_s, u"10"_s, {{u"name"_s, u"三郎"_s}})).status, 409);
        QCOMPARE(site.rows(), 2);
    }

    void wrongCodesLockTheAddressOut()
    {
        Site site(5);
        const Reply done = site.book(site.typed(u"2009-10-13"_s, u"10"_s));
        const QString csrf = Site::field(site.send(u"/check"_s).body, u"csrf"_s);
        const auto check = [&](const QString &code, const QByteArray &address) {
            return site
                .send(u"/check"_s, {{u"csrf"_s, csrf}, {u"yno"_s, Site::yno(done)}, {u"code"_s, code}}, true, address)
                .status;
        };
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(check(u"AAAA-AAAA-AAAA-AAAA"_s, "203.0.113.7"), 403);
        }
        const Reply locked =
            site.send(u"/check"_s, {{u"csrf"_s, csrf}, {u"yno"_s, Site::yno(done)}, {u"code"_s, Site::code(done)}},
                      true, "203.0.113.7");
        QCOMPARE(locked.status, 429);
        QVERIFY(locked.headers.value("retry-after").toInt() > 60);
        QCOMPARE(check(Site::code(done), "203.0.113.8"), 200);
        // Bookings have their own allowance per address.
        int status = 0;
        for (int i = 0; i < 13 && status != 429; ++i) {
            status = site.send(u"/book"_s, {{u"csrf"_s, csrf}}, true, "198.51.100.1").status;
        }
        QCOMPARE(status, 429);
    }

    void oversizedAndSlowRequestsAreCut()
    {
        Site site(2, Site::defaults(), web::ConnectionLimits{4096, 300, 8});
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

    void badSettingsStopTheServer_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("port") << QByteArray("PORT=80a") << u"PORT=80a は 1〜65535"_s;
        QTest::newRow("listen") << QByteArray("LISTEN=localhost:1")
                                << u"LISTEN=localhost:1 は IP アドレスではありません"_s;
        QTest::newRow("kinds") << QByteArray("KINDS=季節性,新形") << u"「新形」は種別ではありません"_s;
        QTest::newRow("days") << QByteArray("DAYS=0") << u"DAYS=0 は 1〜366"_s;
    }
    void badSettingsStopTheServer()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, message);
        test::Workspace ws;
        QFile ini(ws.folder() + u"/setting.ini"_s);
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[WEB]\r\n" + encodeCp932(QString::fromUtf8(line)).bytes + "\r\n");
        ini.close();
        QCOMPARE(web::readWebSettings(ws.folder()).errors.size(), 1);
        QProcess server;
        server.setWorkingDirectory(ws.folder());
        server.start(test::binDir() + u"/tools/qrb-web"_s);
        QVERIFY(server.waitForFinished());
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(QString::fromUtf8(server.readAllStandardError()).contains(message));
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
