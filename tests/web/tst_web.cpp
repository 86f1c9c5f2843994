#include "support/Common.h"
#include "support/Desk.h"
#include "support/PgProxy.h"
#include "support/SmtpServer.h"
#include "support/Workspace.h"

#include "db/Capacities.h"
#include "db/Maintenance.h"
#include "config/ClosedDays.h"
#include "db/WebBooking.h"
#include "mail/Outbox.h"
#include "mail/Postman.h"
#include "shared/Cp932.h"
#include "shared/Eras.h"
#include "web/WebApp.h"
#include "web/WebServer.h"
#include "web/WebSettings.h"
#include "web/Workers.h"

#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <atomic>
#include <latch>
#include <memory>
#include <thread>

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
// own cookies) talking HTTP to it. The clock stands at 2009/10/09 (Friday) 10:30. With `workers`, the
// pages are answered by that many workers, each on a thread and a database connection of its own.
class Site
{
public:
    explicit Site(int places, int perPhone = 8, web::ConnectionLimits limits = {}, int share = 100,
                  const ClosedDays &closed = {}, int workers = 0)
        : ws(places)
        , app(ws.db, ws.clock, settings(perPhone, share, closed))
        , server(app, limits)
    {
        prepareWebBooking(ws.db);
        if (workers > 0) {
            threads = std::make_unique<web::Workers>(limits);
            threads->start(workers, ws.target(), ws.clock, settings(perPhone, share, closed));
            port = threads->listenOn(QHostAddress::LocalHost, 0, nullptr);
        } else {
            port = server.listenOn(QHostAddress::LocalHost, 0, nullptr);
        }
        csrf = field(send(u"/check"_s).body, u"csrf"_s); // the browser's form token
    }
    static web::WebSettings settings(int perPhone, int share, const ClosedDays &closed)
    {
        return {.kinds = {web::Kind::Seasonal, web::Kind::NewPair},
                .perPhone = perPhone,
                .share = share,
                .clinic = u"<b>内科</b>"_s,
                .tel = {},
                .notice = {},
                .closed = closed};
    }
    // A GET, or a form POSTed when there is one.
    Reply send(const QString &path, const Form &form = {}, const QByteArray &forwardedFor = {})
    {
        return sendAtOnce(path, form, 1, forwardedFor).first();
    }
    // The same request sent `times` times before any answer comes: a double tap.
    QList<Reply> sendAtOnce(const QString &path, const Form &form, int times, const QByteArray &forwardedFor = {})
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path)));
        if (!followRedirects) {
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        }
        if (!forwardedFor.isEmpty()) {
            request.setRawHeader("X-Forwarded-For", forwardedFor);
        }
        QUrlQuery query;
        for (const auto &[k, v] : form) {
            query.addQueryItem(k, QString::fromLatin1(QUrl::toPercentEncoding(v)));
        }
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        QList<std::shared_ptr<QNetworkReply>> pending;
        for (int i = 0; i < times; ++i) {
            pending.append(std::shared_ptr<QNetworkReply>(
                form.isEmpty() ? browser.get(request)
                               : browser.post(request, query.query(QUrl::FullyEncoded).toLatin1()),
                [](QNetworkReply *r) { r->deleteLater(); }));
        }
        QList<Reply> replies;
        for (const auto &reply : pending) {
            if (!reply->isFinished()) {
                QEventLoop loop;
                QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
                loop.exec();
            }
            replies.append({reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                            QString::fromUtf8(reply->readAll()), reply});
        }
        return replies;
    }
    // Every page sent to /book `taps` times, all before any answer comes, each patient from an address
    // of her own: the answers per page.
    QList<QList<Reply>> bookAllAtOnce(const QList<Form> &pages, int taps)
    {
        QList<QList<std::shared_ptr<QNetworkReply>>> pending;
        for (qsizetype i = 0; i < pages.size(); ++i) {
            QNetworkRequest request(QUrl(u"http://127.0.0.1:%1/book"_s.arg(port)));
            request.setRawHeader("X-Forwarded-For", "198.51.100." + QByteArray::number(i + 1));
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
            QUrlQuery query;
            for (const auto &[k, v] : pages.at(i)) {
                query.addQueryItem(k, QString::fromLatin1(QUrl::toPercentEncoding(v)));
            }
            pending.emplaceBack();
            for (int t = 0; t < taps; ++t) {
                pending.last().append(std::shared_ptr<QNetworkReply>(
                    browser.post(request, query.query(QUrl::FullyEncoded).toLatin1()),
                    [](QNetworkReply *r) { r->deleteLater(); }));
            }
        }
        QList<QList<Reply>> answers;
        for (const auto &page : pending) {
            answers.emplaceBack();
            for (const auto &reply : page) {
                if (!reply->isFinished()) {
                    QEventLoop loop;
                    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
                    loop.exec();
                }
                answers.last().append({reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                                       QString::fromUtf8(reply->readAll()), reply});
            }
        }
        return answers;
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
    // The fields a confirm page sends to /book (also kept in `sent`).
    Form confirmed(const Reply &confirm)
    {
        sent.clear();
        const QRegularExpression hidden(u"<input type=\"hidden\" name=\"([a-z]+)\" value=\"[^\"]*\""_s);
        for (auto it = hidden.globalMatch(confirm.body); it.hasNext();) {
            const QString name = it.next().captured(1);
            sent.append({name, field(confirm.body, name)});
        }
        return sent;
    }
    // Confirm, then book: the reply of the booking; the confirm page's fields kept in `sent`.
    Reply book(const Form &fields)
    {
        const Reply confirm = send(u"/confirm"_s, fields);
        if (confirm.status != 200) {
            return confirm;
        }
        return send(u"/book"_s, confirmed(confirm));
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
    std::unique_ptr<web::Workers> threads;
    quint16 port = 0;
    QNetworkAccessManager browser;
    QString csrf;
    Form sent;
    bool followRedirects = true; // as a browser does; off to see the redirect itself
};

// qrb-web itself, started in the workspace's folder with a setting.ini naming the workspace's database
// (on PostgreSQL its server) and a free port, and patients booking on it from a browser of their own,
// `parallel` at a time, one after another, each from an address of its own.
class RunningSite
{
public:
    RunningSite(test::Workspace &ws, int parallel)
        : m_parallel(parallel)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        const Config &c = ws.state->config;
        const Config::PostgresKeys &pg = c.POSTGRESQL;
        const QString ini = u"[DATABASE]\r\nSYS0=%1\r\n[SERVER]\r\nSVNM=%2\r\n[POSTGRESQL]\r\nHOST=%3\r\nPORT=%4\r\n"
                            "DBNAME=%5\r\nUSER=%6\r\nPASSWORD=%7\r\n[WEB]\r\nPORT=%8\r\n"_s.arg(
                                c.SYS0, c.SVNM, pg.HOST, pg.PORT, pg.DBNAME, pg.USER, pg.PASSWORD)
                                .arg(m_port);
        test::writeFileBytes(ws.folder() + u"/setting.ini"_s, ini.toUtf8());
        m_server.setWorkingDirectory(ws.folder());
        m_server.start(test::binDir() + u"/tools/qrb-web"_s, {});
    }
    ~RunningSite()
    {
        m_server.kill();
        m_server.waitForFinished();
    }
    // Up and listening, and the days it offers read; false when it ended instead.
    bool start()
    {
        QByteArray said;
        while (!said.contains("http://") && m_server.waitForReadyRead(30000)) {
            said += m_server.readAllStandardError();
        }
        const Reply days = send(u"/"_s);
        for (auto it = QRegularExpression(u"/day\\?d=(\\d{4}-\\d\\d-\\d\\d)"_s).globalMatch(days.body); it.hasNext();) {
            const QString day = it.next().captured(1);
            if (day > QDate::currentDate().toString(Qt::ISODate)) {
                m_days << day;
            }
        }
        m_csrf = Site::field(send(u"/check"_s).body, u"csrf"_s);
        return m_days.size() >= 3 && !m_csrf.isEmpty();
    }
    // The first and last of the three days booked, "YYYY/MM/DD".
    QString firstDay() const { return QString(m_days.at(0)).replace(u'-', u'/'); }
    QString lastDay() const { return QString(m_days.at(2)).replace(u'-', u'/'); }
    // Starts booking, or lets the bookings under way end.
    void book(bool on)
    {
        m_on = on;
        while (m_on && m_busy < m_parallel) {
            next();
        }
    }
    bool idle() const { return m_busy == 0; }
    // The patients whose booking the site confirmed, and the answers other than 200.
    QStringList confirmed;
    QStringList refused;

private:
    void next()
    {
        const int k = m_sent++;
        ++m_busy;
        QUrlQuery form;
        const QString phone = u"090%1"_s.arg(k, 8, 10, QChar(u'0'));
        for (const auto &[key, value] : QList<std::pair<QString, QString>>{
                 {u"csrf"_s, m_csrf}, {u"date"_s, m_days.at(k % 3)}, {u"hour"_s, QString::number(10 + k % 6)},
                 {u"name"_s, u"患者 %1"_s.arg(k)}, {u"kana"_s, u"かんじゃ"_s}, {u"birth"_s, u"19850412"_s},
                 {u"tel"_s, phone}, {u"kno"_s, QString()}, {u"visited"_s, u"1"_s}, {u"kind"_s, u"0"_s},
                 {u"second"_s, QString()}, {u"remarks"_s, QString()}}) {
            form.addQueryItem(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
        }
        post(u"/confirm"_s, form, k, [this, k](int status, const QString &body) {
            if (status != 200) {
                return finish(u"confirm %1"_s.arg(status));
            }
            QUrlQuery sent;
            const QRegularExpression hidden(u"<input type=\"hidden\" name=\"([a-z]+)\""_s);
            for (auto it = hidden.globalMatch(body); it.hasNext();) {
                const QString name = it.next().captured(1);
                sent.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(Site::field(body, name))));
            }
            post(u"/book"_s, sent, k, [this, k](int status, const QString &done) {
                if (status == 200 && !Site::yno({status, done, {}}).isEmpty()) {
                    confirmed << u"患者 %1"_s.arg(k);
                    return finish({});
                }
                finish(u"book %1"_s.arg(status));
            });
        });
    }
    void finish(const QString &refusal)
    {
        if (!refusal.isEmpty()) {
            refused << refusal;
        }
        --m_busy;
        if (m_on) {
            next();
        }
    }
    void post(const QString &path, const QUrlQuery &form, int k, const std::function<void(int, QString)> &then)
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        request.setRawHeader("X-Forwarded-For", u"10.0.%1.%2"_s.arg(k / 250).arg(1 + k % 250).toLatin1());
        QNetworkReply *reply = m_browser.post(request, form.query(QUrl::FullyEncoded).toLatin1());
        QObject::connect(reply, &QNetworkReply::finished, reply, [reply, then] {
            reply->deleteLater();
            then(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), QString::fromUtf8(reply->readAll()));
        });
    }
    Reply send(const QString &path)
    {
        std::shared_ptr<QNetworkReply> reply(
            m_browser.get(QNetworkRequest(QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(path)))),
            [](QNetworkReply *r) { r->deleteLater(); });
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), QString::fromUtf8(reply->readAll()),
                reply};
    }

    QProcess m_server;
    QNetworkAccessManager m_browser;
    quint16 m_port = 0;
    int m_parallel = 1;
    QStringList m_days;
    QString m_csrf;
    bool m_on = false;
    int m_busy = 0;
    int m_sent = 0;
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
        QCOMPARE(days.headers->rawHeader("referrer-policy"), "same-origin");
        QVERIFY(days.headers->rawHeader("content-security-policy").startsWith("default-src 'none'; style-src 'self'"));
        QVERIFY(site.send(u"/day?d=2009-10-13"_s).body.contains(u"残り3人"_s));

        const Reply done = site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"remarks"_s, u"卵アレルギー"_s}}));
        QCOMPARE(done.status, 200);
        // The kana is stored half-width as the desk stores it, and shown back as she typed it, full-width.
        QVERIFY(done.body.contains(u"<th>カナ氏名</th><td>ヤマダ ハナコ</td>"_s));
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
        QVERIFY(!shown.body.contains(Site::code(done))); // the booking page keeps no code
        QCOMPARE(site.send(u"/cancel"_s, {{u"csrf"_s, site.csrf},
                                          {u"s"_s, Site::field(shown.body, u"s"_s)},
                                          {u"e"_s, Site::field(shown.body, u"e"_s)},
                                          {u"t"_s, Site::field(shown.body, u"t"_s)}})
                     .status,
                 200);
        QCOMPARE(site.rows(), 0);

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
        // The second dose's number, shown large on the done page, finds the pair too, with the code typed
        // on a Japanese keyboard: full-width digits and any of its hyphens.
        const QString yno2 = Site::shown(both, u"yno2"_s);
        QCOMPARE(yno2.toInt(), Site::yno(both).toInt() + 1);
        for (const QChar hyphen : {u'ー', u'−', u'‐', u'―'}) {
            QString number;
            for (const QChar digit : yno2) {
                number += QChar(digit.unicode() - u'0' + u'０');
            }
            const Reply typed = site.send(
                u"/check"_s,
                {{u"csrf"_s, site.csrf}, {u"yno"_s, number}, {u"code"_s, Site::code(both).replace(u'-', hyphen)}},
                "203.0.113.9");
            QCOMPARE(typed.status, 200);
            QVERIFY(typed.body.contains(u"<th>1回目</th><td>10月14日(水) 14:00～15:00</td>"_s));
            QVERIFY(typed.body.contains(u"<th>2回目</th><td>11月5日(木) 9:00～10:00</td>"_s));
        }
        // The cancel page sent again, and again, is told the pair is cancelled: no wrong code is counted.
        for (int send = 0; send < 6; ++send) {
            const Reply cancelled = site.check(both, Site::code(both), u"/cancel"_s, "203.0.113.9");
            QCOMPARE(cancelled.status, 200);
            QVERIFY(cancelled.body.contains(send == 0 ? u"予約を取り消しました"_s : u"すでに取り消されています"_s));
        }
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

    // The second dose is chosen for her only where the clinic's rule puts it, three weeks on at the
    // same hour; when that slot is shut or taken nothing is chosen, she is told why, and a pair sent
    // as the browser then sends it (no second dose) is refused.
    void secondDoseIsChosenOnlyByTheRule_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<bool>("deskFills");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("note");
        QTest::newRow("usual slot open") << u"2009-10-14"_s << false << u"2009-11-04 10"_s << u"おすすめしています"_s;
        QTest::newRow("usual day closed")
            << u"2009-10-13"_s << false << QString()
            << u"1回目の3週間後の同じ時間（11月3日(火) 10:00～11:00）は休診日（文化の日）のため選べません。"_s;
        QTest::newRow("usual slot full") << u"2009-10-14"_s << true << QString()
                                         << u"（11月4日(水) 10:00～11:00）は満員のため選べません。"_s;
    }
    void secondDoseIsChosenOnlyByTheRule()
    {
        QFETCH(QString, first);
        QFETCH(bool, deskFills);
        QFETCH(QString, chosen);
        QFETCH(QString, note);
        Site site(1);
        if (deskFills) {
            site.ws.addReservation(u"2009/11/04"_s, u"10"_s, u"窓口の患者"_s);
        }
        const Reply form = site.send(u"/form?d=%1&h=10"_s.arg(first));
        QVERIFY(form.body.contains(note));
        QStringList selected;
        const QRegularExpression option(u"<option value=\"([^\"]*)\" selected>"_s);
        for (auto it = option.globalMatch(form.body); it.hasNext();) {
            selected << it.next().captured(1);
        }
        QCOMPARE(selected, QStringList{chosen});
        const Reply confirm = site.send(u"/confirm"_s, site.typed(first, u"10"_s, {{u"kind"_s, u"1"_s}, {u"second"_s, chosen}}));
        QCOMPARE(confirm.status, chosen.isEmpty() ? 422 : 200);
        QCOMPARE(confirm.body.contains(u"2回目の日時を選んでください。"_s), chosen.isEmpty());
    }

    // With SHARE=60 the web offers 3 of a slot's 5 places and counts the desk's bookings against them;
    // the other 2 stay for the telephone and the desk.
    void onlineShareLeavesPlacesForTheDesk()
    {
        Site site(5, 8, {}, 60);
        const auto left = [&] {
            return QRegularExpression(u"10:00～11:00</span><span>残り(\\d)人"_s)
                .match(site.send(u"/day?d=2009-10-13"_s).body)
                .captured(1);
        };
        QCOMPARE(left(), u"3"_s);
        site.ws.addReservation(u"2009/10/13"_s, u"10"_s, u"窓口の患者"_s);
        QCOMPARE(left(), u"2"_s);
        // Numbers of both lengths the numbering plan gives, one typed on a Japanese keyboard.
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"一郎"_s}, {u"tel"_s, u"0120-123-456"_s}}))
                     .status,
                 200);
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s,
                                      {{u"name"_s, u"二郎"_s}, {u"tel"_s, u"０８００ー１２３−４５６７"_s}}))
                     .status,
                 200);
        QCOMPARE(left(), QString());
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"name"_s, u"三郎"_s}})).status, 422);
        // Counted again under the write lock, where a page shown a moment earlier cannot help.
        OnlineBooking late;
        late.first = test::bookingOf(u"四郎"_s, u"2009/10/13"_s, u"10"_s);
        late.phoneDigits = u"0311112222"_s;
        late.today = QDate(2009, 10, 9);
        late.codeHash = QByteArray(64, 'a');
        late.nonce = QByteArray(32, '4');
        late.share = 60;
        QCOMPARE(bookOnline(site.ws.db, late).outcome, OnlineOutcome::SlotFull);
        QVERIFY(!registerReservation(site.ws.db, test::bookingOf(u"窓口2"_s, u"2009/10/13"_s, u"10"_s), WhenFull::Refuse)
                     .slotFull);
        QCOMPARE(site.rows(), 4);
    }

    // The places a desk saves on the settings screen (its own connection, as another PC) are those of
    // the very next page, whichever worker answers it: the kept capacities last only until then.
    void aDesksNewPlacesShowAtTheNextPage_data()
    {
        QTest::addColumn<int>("places"); // saved for Tuesdays 10:00
        QTest::addColumn<QString>("left");
        QTest::newRow("more places") << 9 << u"残り9人"_s;
        QTest::newRow("fewer places") << 2 << u"残り2人"_s;
        QTest::newRow("slot closed") << 0 << QString();
    }
    void aDesksNewPlacesShowAtTheNextPage()
    {
        QFETCH(int, places);
        QFETCH(QString, left);
        Site site(5, 8, {}, 100, {}, 2);
        const auto shown = [&] {
            return QRegularExpression(u"10:00～11:00</span><span>(残り\\d人)"_s)
                .match(site.send(u"/day?d=2009-10-13"_s).body)
                .captured(1);
        };
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(shown(), u"残り5人"_s);
        }
        Database desk(u"desk"_s);
        desk.DB_open(site.ws.target());
        CapacityTable capacities = loadCapacities(desk);
        capacities.set_value(2, u"10"_s, places);
        saveCapacities(desk, capacities);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(shown(), left);
        }
        // The days list counts the same places: the day's mark follows as well.
        const Reply days = site.send(u"/"_s);
        QVERIFY(days.body.contains(u"href=\"/day?d=2009-10-13\""_s));
        QCOMPARE(site.send(u"/form?d=2009-10-13&h=10"_s).status, places > 0 ? 200 : 409);
    }

    // A crowd taps "book" for one slot at the same moment on several workers: the slot takes as many
    // as it has places and not one more, every patient's taps all get the same answer, and every
    // patient told "booked" has her row.
    void workersNeverOverbook()
    {
        constexpr int Places = 3;
        constexpr int Patients = 10;
        Site site(Places, 100, {}, 100, {}, 4);
        QList<Form> pages;
        for (int i = 0; i < Patients; ++i) {
            const Reply confirm = site.send(
                u"/confirm"_s,
                site.typed(u"2009-10-14"_s, u"11"_s,
                           {{u"name"_s, u"患者%1"_s.arg(i)}, {u"tel"_s, u"090-0000-%1"_s.arg(i, 4, 10, QChar(u'0'))}}),
                "198.51.100." + QByteArray::number(i + 1));
            QCOMPARE(confirm.status, 200);
            pages << site.confirmed(confirm);
        }
        const QList<QList<Reply>> taps = site.bookAllAtOnce(pages, 2);
        int booked = 0;
        for (int i = 0; i < Patients; ++i) {
            const QList<Reply> &mine = taps.at(i);
            for (const Reply &tap : mine) {
                QCOMPARE(tap.status, mine.first().status);
                QCOMPARE(Site::yno(tap) + Site::code(tap), Site::yno(mine.first()) + Site::code(mine.first()));
            }
            if (mine.first().status == 200) {
                ++booked;
                QCOMPARE(site.ws.db.scalar(u"SELECT KNM FROM YOYAKU WHERE YNO = ?"_s, {Site::yno(mine.first()).toInt()})
                             .toString(),
                         u"患者%1"_s.arg(i));
            } else {
                QCOMPARE(mine.first().status, 409);
            }
        }
        QCOMPARE(booked, Places);
        QCOMPARE(site.rows(), Places);
    }

    // A day that offers nothing says why, in the list of days and on the day itself; taken slots keep
    // their place, marked ×.
    void aDayOfferingNothingSaysWhy_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QTime>("now");
        QTest::addColumn<QStringList>("deskTakes");
        QTest::addColumn<QString>("why");
        QTest::addColumn<int>("fullShown");
        const QStringList allDay{u"08"_s, u"09"_s, u"10"_s, u"11"_s, u"12"_s, u"13"_s, u"14"_s, u"15"_s, u"16"_s, u"17"_s};
        QTest::newRow("national holiday") << u"2009-10-12"_s << u"<span class=\"sun\">10月12日(月)"_s << QTime(10, 30)
                                          << QStringList() << u"休診日（体育の日）"_s << 0;
        QTest::newRow("the clinic's closure") << u"2009-10-20"_s << u"<span>10月20日(火)"_s << QTime(10, 30)
                                              << QStringList() << u"休診日（院長学会）"_s << 0;
        QTest::newRow("every slot taken") << u"2009-10-13"_s << u"<span>10月13日(火)"_s << QTime(10, 30) << allDay
                                          << u"満員"_s << 10;
        QTest::newRow("today, the afternoon taken") << u"2009-10-09"_s << u"<span>10月9日(金)"_s << QTime(10, 30)
                                                    << allDay.mid(5) << u"満員"_s << 5;
        QTest::newRow("today, past the cut-off") << u"2009-10-09"_s << u"<span>10月9日(金)"_s << QTime(16, 30)
                                                 << QStringList() << u"受付終了"_s << 0;
        QTest::newRow("one place left") << u"2009-10-13"_s << u"<span>10月13日(火)"_s << QTime(10, 30)
                                        << allDay.mid(0, 9) << QString() << 9;
    }
    void aDayOfferingNothingSaysWhy()
    {
        QFETCH(QString, date);
        QFETCH(QString, label);
        QFETCH(QTime, now);
        QFETCH(QStringList, deskTakes);
        QFETCH(QString, why);
        QFETCH(int, fullShown);
        QTemporaryDir folder;
        test::writeFileBytes(folder.path() + u"/setting.ini"_s, encodeCp932(u"[CLOSED]\r\n院長学会=2009/10/20\r\n"_s).bytes);
        Site site(1, 8, {}, 100, ClosedDays::read(folder.path()));
        site.ws.clock.at.setTime(now);
        for (const QString &hour : deskTakes) {
            site.ws.addReservation(QString(date).replace(u'-', u'/'), hour, u"窓口の患者"_s);
        }
        const QString day = site.send(u"/day?d="_s + date).body;
        QCOMPARE(day.contains(u"<strong>"_s + why + u"</strong>のため、この日は予約できません。"_s), !why.isEmpty());
        QCOMPARE(day.count(u"×</span>満員"_s), fullShown);
        QCOMPARE(day.count(u"<a href=\"/form?"_s), why.isEmpty() ? 1 : 0);
        const QString days = site.send(u"/"_s).body;
        const qsizetype at = days.indexOf(label);
        QVERIFY2(at > 0, qPrintable(label));
        const QString line = days.mid(days.lastIndexOf(u"<li>"_s, at), days.indexOf(u"</li>"_s, at) - days.lastIndexOf(u"<li>"_s, at));
        QCOMPARE(line.startsWith(u"<li><a href"_s), why.isEmpty());
        QVERIFY2(line.contains(why), qPrintable(line));
        // The legend's words never part inside a word on a narrow phone.
        QVERIFY(days.contains(u"<p class=\"legend\"><span>○ 空きあり</span><span>△ 残りわずか</span>"_s));
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
        QTest::newRow("name outside Shift-JIS")
            << u"name"_s << u"𠮷田"_s << u"氏名の「𠮷」は当院の記録に使えない文字です。「吉」に置き換えて"_s;
        QTest::newRow("emoji in the remarks")
            << u"remarks"_s << u"熱なし😷です"_s << u"備考の「😷」は当院の記録に使えない文字です（絵文字や一部の旧字体など）"_s;
        QTest::newRow("name too long") << u"name"_s << QString(41, u'山') << u"40文字以内"_s;
        QTest::newRow("kana not kana") << u"kana"_s << u"Yamada"_s << u"カタカナかひらがな"_s;
        QTest::newRow("name like a formula")
            << u"name"_s << u"=HYPERLINK(\"http://example.com\",\"開く\")"_s << u"記号（= + - @）で始めないで"_s;
        QTest::newRow("tel letters") << u"tel"_s << u"090-abcd-5678"_s << u"数字で入力"_s;
        QTest::newRow("mobile missing a digit") << u"tel"_s << u"090-1234-567"_s << u"おかけできません。桁数"_s;
        QTest::newRow("050 missing a digit") << u"tel"_s << u"050-1234-567"_s << u"おかけできません。桁数"_s;
        QTest::newRow("fixed line a digit over") << u"tel"_s << u"03-1234-56789"_s << u"おかけできません。桁数"_s;
        QTest::newRow("no area code") << u"tel"_s << u"1234-5678"_s << u"おかけできません。市外局番"_s;
        QTest::newRow("international prefix") << u"tel"_s << u"010-1-212-555"_s << u"おかけできません。市外局番"_s;
        QTest::newRow("patient number") << u"kno"_s << u"12'; DROP"_s << u"半角英数字"_s;
        QTest::newRow("patient number like a formula") << u"kno"_s << u"-2-3"_s << u"記号（-）で始めないで"_s;
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
        // Tied to its field for a screen reader, and listed at the top with a link to the field.
        QVERIFY(reply.body.contains(u"aria-describedby=\"e-"_s + field));
        QVERIFY(reply.body.contains(u"<li><a href=\"#f-"_s + field + u"\">"_s));
        QVERIFY(reply.body.contains(error));
        QVERIFY(reply.body.contains(u"value=\"山田 花子\""_s) || field == u"name"_s);
        QVERIFY(reply.body.contains(u"value=\"０９０１２３４５６７８\""_s) || field == u"tel"_s);
        QCOMPARE(site.rows(), 0);
    }

    // Birth dates the way patients write them, western or in an era, all stored as the desk stores
    // eight typed digits and read back with the era.
    void birthDatesAsPatientsWriteThem_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("era");
        QTest::addColumn<QString>("stored"); // empty: refused
        QTest::addColumn<QString>("shown");  // or the error
        const QString showa = u"1985年4月12日・昭和60年"_s;
        QTest::newRow("eight digits") << u"19850412"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("hyphens") << u"1985-04-12"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("full-width slashes") << u"１９８５／４／１２"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("dots") << u"1985.4.12"_s << u"3"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("kanji") << u"1985年4月12日"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("era in words") << u"昭和60年4月12日"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("era letter") << u"S60.4.12"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("era letter full-width, small") << u"ｓ６０．４．１２"_s << u"0"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("six digits, era chosen") << u"600412"_s << u"3"_s << u"1985年04月12日"_s << showa;
        QTest::newRow("first year") << u"平成元年1月8日"_s << u"0"_s << u"1989年01月08日"_s
                                    << u"1989年1月8日・平成元年"_s;
        QTest::newRow("heisei letter") << u"H2.3.4"_s << u"0"_s << u"1990年03月04日"_s << u"1990年3月4日・平成2年"_s;
        QTest::newRow("taisho") << u"大正15年12月24日"_s << u"0"_s << u"1926年12月24日"_s
                                << u"1926年12月24日・大正15年"_s;
        QTest::newRow("six digits, no era") << u"600412"_s << u"0"_s << QString() << u"元号（昭和など）を選ぶか"_s;
        QTest::newRow("six digits, an era never offered")
            << u"600412"_s << u"9"_s << QString() << u"元号（昭和など）を選ぶか"_s;
        QTest::newRow("past its era") << u"S64.1.8"_s << u"0"_s << QString() << u"昭和にはその日付がありません"_s;
        QTest::newRow("no date") << u"19851345"_s << u"0"_s << QString() << u"1985/4/12、昭和60年4月12日"_s;
        QTest::newRow("in the future") << u"2010-01-01"_s << u"0"_s << QString() << u"1985/4/12、昭和60年4月12日"_s;
        QTest::newRow("letters") << u"S60.4.12x"_s << u"0"_s << QString() << u"1985/4/12、昭和60年4月12日"_s;
    }
    void birthDatesAsPatientsWriteThem()
    {
        QFETCH(QString, typed);
        QFETCH(QString, era);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        Site site(2);
        const auto fields = site.typed(u"2009-10-13"_s, u"10"_s, {{u"birth"_s, typed}}) << std::pair(u"era"_s, era);
        const Reply confirm = site.send(u"/confirm"_s, fields);
        QVERIFY2(confirm.body.contains(shown), qPrintable(confirm.body));
        if (stored.isEmpty()) {
            QCOMPARE(confirm.status, 422);
            QVERIFY(confirm.body.contains(u"value=\""_s + typed + u"\""_s));
            QVERIFY(era.toInt() > Reiwa || confirm.body.contains(u"<option value=\""_s + era + u"\" selected>"_s));
            return;
        }
        QVERIFY(confirm.body.contains(u"<th>生年月日</th><td>"_s + shown + u"</td>"_s));
        const Reply done = site.book(fields);
        QVERIFY(done.body.contains(u"<th>生年月日</th><td>"_s + shown + u"</td>"_s));
        QCOMPARE(test::stored(site.ws.db, u"BIRTHDAY, BFLG"_s), (QStringList{stored, u"0"_s}));
    }

    // A booking or a cancellation is answered with the address of its result: Back and reload show
    // that page again and never send the form again; the done page, with its code, only to the
    // browser that booked, and only for a while.
    void sentFormsAnswerWithTheirResultsAddress()
    {
        Site site(3);
        site.followRedirects = false;
        const Reply sent = site.book(site.typed(u"2009-10-13"_s, u"10"_s));
        QCOMPARE(sent.status, 303);
        // The confirm page Back returns to is kept by her browser alone; the done page by none.
        QCOMPARE(site.send(u"/confirm"_s, site.typed(u"2009-10-13"_s, u"10"_s)).headers->rawHeader("cache-control"),
                 "private, max-age=0");
        const QString done = QString::fromLatin1(sent.headers->rawHeader("location"));
        QVERIFY2(done.startsWith(u"/done?s="_s), qPrintable(done));
        const Reply shown = site.send(done);
        QCOMPARE(shown.status, 200);
        QCOMPARE(shown.headers->rawHeader("cache-control"), "no-store");
        QVERIFY(!Site::code(shown).isEmpty());
        const Reply reload = site.send(done);
        QCOMPARE(Site::yno(reload), Site::yno(shown));
        QCOMPARE(Site::code(reload), Site::code(shown));
        // The confirm page sent once more (Back, then the button): the same result, nothing booked twice.
        const Reply again = site.send(u"/book"_s, site.sent);
        QCOMPARE(again.status, 303);
        QCOMPARE(Site::code(site.send(QString::fromLatin1(again.headers->rawHeader("location")))), Site::code(shown));
        QCOMPARE(site.rows(), 1);

        // Another browser, a changed address, and the same browser too late, see no code.
        QString forged = done;
        forged.replace(QRegularExpression(u"&e=(\\d+)"_s), u"&e=9\\1"_s);
        QVERIFY(forged != done);
        QCOMPARE(site.send(forged).status, 404);
        site.ws.clock.at = site.ws.clock.at.addSecs(15 * 60);
        const Reply late = site.send(done);
        QCOMPARE(late.status, 404);
        QVERIFY(Site::code(late).isEmpty() && !late.body.contains(Site::code(shown)));
        site.ws.clock.at = site.ws.clock.at.addSecs(-15 * 60);
        site.browser.setCookieJar(new QNetworkCookieJar);
        const Reply stranger = site.send(done);
        QCOMPARE(stranger.status, 404);
        QVERIFY(!stranger.body.contains(Site::code(shown)));

        site.csrf = Site::field(site.send(u"/check"_s).body, u"csrf"_s);
        // The check, too, sends her on to the booking's page; its cancel button needs no code, only
        // that page's address, which is hers alone.
        const Reply checked = site.check(shown, Site::code(shown));
        QCOMPARE(checked.status, 303);
        const QString booking = QString::fromLatin1(checked.headers->rawHeader("location"));
        QVERIFY2(booking.startsWith(u"/booking?s="_s), qPrintable(booking));
        const Reply page = site.send(booking);
        QVERIFY(page.body.contains(u"この予約を取り消す"_s) && !page.body.contains(Site::code(shown)));
        Form cancelForm{{u"csrf"_s, site.csrf}};
        for (const QString &name : {u"s"_s, u"e"_s, u"t"_s}) {
            cancelForm.append({name, Site::field(page.body, name)});
        }
        Form forgedForm = cancelForm;
        forgedForm[2].second += u"9"_s; // a later expiry than the one signed
        QCOMPARE(site.send(u"/cancel"_s, forgedForm).status, 403);
        QCOMPARE(site.rows(), 1);
        const Reply cancel = site.send(u"/cancel"_s, cancelForm);
        QCOMPARE(cancel.status, 303);
        const QString cancelled = QString::fromLatin1(cancel.headers->rawHeader("location"));
        QVERIFY(cancelled.startsWith(u"/cancelled?s="_s));
        QVERIFY(site.send(cancelled).body.contains(u"<h1>予約を取り消しました</h1>"_s));
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

    // A confirm page sent again (a reload, a double tap) answers with the booking it stored, the same
    // number and code, whatever became of its slots since: taken to the last place, past the cut-off.
    // Cancelled, it says so and books nothing anew.
    void resentPagesShowTheStoredBooking_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("workers"); // 0: one server on the test's thread
        QTest::newRow("one dose") << u"0"_s << QString() << 0;
        QTest::newRow("pair") << u"1"_s << u"2009-11-04 10"_s << 0;
        // The two taps reach two workers, each answering on its own connection at the same moment.
        QTest::newRow("one dose, 4 workers") << u"0"_s << QString() << 4;
        QTest::newRow("pair, 4 workers") << u"1"_s << u"2009-11-04 10"_s << 4;
    }
    void resentPagesShowTheStoredBooking()
    {
        QFETCH(QString, kind);
        QFETCH(QString, second);
        QFETCH(int, workers);
        Site site(1, 8, {}, 100, {}, workers);
        const QList<Reply> taps =
            site.sendAtOnce(u"/book"_s,
                            site.confirmed(site.send(u"/confirm"_s, site.typed(u"2009-10-14"_s, u"10"_s,
                                                                               {{u"kind"_s, kind}, {u"second"_s, second}}))),
                            2);
        const auto same = [&](const Reply &reply) {
            QCOMPARE(reply.status, 200);
            QCOMPARE(Site::yno(reply) + Site::shown(reply, u"yno2"_s) + Site::code(reply),
                     Site::yno(taps[0]) + Site::shown(taps[0], u"yno2"_s) + Site::code(taps[0]));
            QVERIFY(reply.body.contains(u"10月14日(水) 10:00～11:00"_s));
        };
        same(taps[0]);
        QVERIFY(!Site::code(taps[0]).isEmpty());
        QCOMPARE(!Site::shown(taps[0], u"yno2"_s).isEmpty(), !second.isEmpty());
        same(taps[1]);
        const int rows = site.rows();
        QCOMPARE(rows, second.isEmpty() ? 1 : 2);
        site.ws.clock.at = QDateTime(QDate(2009, 10, 14), QTime(9, 0)); // within the cut-off of 10:00
        same(site.send(u"/book"_s, site.sent));
        QCOMPARE(site.rows(), rows);

        QCOMPARE(site.check(taps[0], Site::code(taps[0]), u"/cancel"_s).status, 200);
        const Reply again = site.send(u"/book"_s, site.sent);
        QCOMPARE(again.status, 409);
        QVERIFY(again.body.contains(u"取り消されています"_s));
        QCOMPARE(site.rows(), 0);
    }

    // Her own name and slot again, or a phone past its allowance, adds nothing. No answer tells whether
    // someone else is booked: a namesake in the slot (the desk's included) gets the answer any other
    // slot gets, and is left as she was.
    void repeatsAddNothingAndNamesakesTellNothing()
    {
        Site site(5, 2);
        const int namesake = site.ws.addReservation(u"2009/10/13"_s, u"10"_s, u"山田 花子"_s);
        site.book(site.typed(u"2009-10-13"_s, u"11"_s, {{u"name"_s, u"一郎"_s}}));
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"11"_s, {{u"name"_s, u"一郎"_s}})).status, 409);
        // The same number written another way still counts: the second booking of a phone of two.
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"11"_s, {{u"name"_s, u"二郎"_s}, {u"tel"_s, u"09012345678"_s}}))
                     .status,
                 200);
        for (const QString &hour : {u"10"_s, u"12"_s}) {
            const Reply limit = site.book(site.typed(u"2009-10-13"_s, hour));
            QCOMPARE(limit.status, 409);
            QVERIFY(limit.body.contains(u"<h1>予約数の上限です</h1>"_s));
        }
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"tel"_s, u"03-1234-5678"_s}})).status, 200);
        QCOMPARE(test::stored(site.ws.db, u"YNO, TEL1"_s, u"KNM = '山田 花子'"_s),
                 (QStringList{QString::number(namesake), QString(), QString::number(namesake + 3), u"03-1234-5678"_s}));
        QVERIFY(site.book(site.typed(u"2009-10-13"_s, u"10"_s, {{u"tel"_s, u"0312345678"_s}}))
                    .body.contains(u"<h1>すでに予約があります</h1>"_s));
        QCOMPARE(site.rows(), 4);
    }

    // Two qrb-web on one database (two connections, as two processes behind one proxy) each book a
    // pair whose second dose wants the last place of the same slot, at the same moment, slot after
    // slot: one pair is stored, the other not at all, and no slot ever holds more than its place.
    void twoPatientsRaceForTheSecondDosesLastPlace()
    {
        test::Workspace ws(1);
        prepareWebBooking(ws.db);
        constexpr int Rounds = 8;
        std::latch ready(2);
        QList<int> statuses[2];
        const auto patient = [&](int id) {
            Database db(u"web%1"_s.arg(id));
            db.DB_open(ws.target());
            web::WebSettings settings;
            settings.kinds = {web::Kind::NewPair};
            settings.perPhone = 100;
            web::WebApp app(db, ws.clock, settings);
            const auto send = [&](const QString &path, const QHash<QString, QString> &form, const QByteArray &cookie) {
                return app.handle({.method = form.isEmpty() ? "GET" : "POST", .path = path, .query = {}, .form = form,
                                   .cookie = cookie, .client = u"203.0.113.%1"_s.arg(id), .https = false});
            };
            const web::Response opened = send(u"/check"_s, {}, {});
            const QByteArray set = opened.headers.first().second.split(';').first();
            const QByteArray cookie = set.mid(set.indexOf('=') + 1);
            const QString csrf = Site::field(QString::fromUtf8(opened.body), u"csrf"_s);
            QList<QHash<QString, QString>> pages;
            for (int round = 0; round < Rounds; ++round) {
                QHash<QString, QString> form{
                    {u"csrf"_s, csrf},         {u"date"_s, id == 1 ? u"2009-10-14"_s : u"2009-10-15"_s},
                    {u"hour"_s, slotKey(round)}, {u"name"_s, u"患者%1"_s.arg(id)},
                    {u"kana"_s, u"かんじゃ"_s},   {u"birth"_s, u"1985-04-12"_s},
                    {u"tel"_s, u"090-0000-000%1"_s.arg(id)}, {u"visited"_s, u"1"_s},
                    {u"kind"_s, u"1"_s},         {u"second"_s, u"2009-11-10 "_s + slotKey(round)}};
                form.insert(u"nonce"_s,
                            Site::field(QString::fromUtf8(send(u"/confirm"_s, form, cookie).body), u"nonce"_s));
                pages << form;
            }
            ready.arrive_and_wait();
            for (const auto &page : pages) {
                statuses[id - 1] << send(u"/book"_s, page, cookie).status;
            }
        };
        std::thread first(patient, 1);
        std::thread second(patient, 2);
        first.join();
        second.join();
        for (int round = 0; round < Rounds; ++round) {
            const int one = statuses[0].value(round);
            const int other = statuses[1].value(round);
            QCOMPARE(std::min(one, other), 303); // sent on to the done page
            QCOMPARE(std::max(one, other), 409);
        }
        // Each hour holds one pair: the winner's second dose on 11/10 and her first dose, nothing of the other's.
        QStringList perSlot;
        for (int round = 0; round < Rounds; ++round) {
            perSlot << u"2 1"_s;
        }
        QCOMPARE(test::rowsOf(ws.db, u"SELECT COUNT(*), COUNT(DISTINCT KNM) FROM YOYAKU GROUP BY YTIME ORDER BY YTIME"_s),
                 perSlot);
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
            const Reply wrong = site.check(done, u"AAAA-AAAA-AAAA-AAAA"_s, u"/check"_s, "203.0.113.7");
            QCOMPARE(wrong.status, 403);
            // Warned once, before the try that locks.
            QCOMPARE(wrong.body.contains(u"あと1回間違えると、30分間は予約の確認・取消ができなくなります。"_s), i == 3);
        }
        const Reply locked = site.check(done, Site::code(done), u"/check"_s, "203.0.113.7");
        QCOMPARE(locked.status, 429);
        QVERIFY(locked.headers->rawHeader("retry-after").toInt() > 60);
        QCOMPARE(site.check(done, Site::code(done), u"/check"_s, "203.0.113.8").status, 200);
        // Bookings have their own allowance per address.
        int status = 0;
        for (int i = 0; i < 13 && status != 429; ++i) {
            status = site.send(u"/book"_s, {{u"csrf"_s, site.csrf}, {u"nonce"_s, QString(32, u'1')}}, "198.51.100.1").status;
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

    // The server's answer to the booking's COMMIT is lost on its way back: the page says the booking may
    // have been made and offers the same page once more, which answers with the booking stored.
    void lostAnswerOffersTheSamePageAgain()
    {
        if (!test::testServer()) {
            QSKIP("an answer lost on the way back from a database server");
        }
        Site site(3);
        test::PgProxy relay(*site.ws.target().postgres);
        site.ws.db.DB_open(DbTarget::server(relay.server()));
        const Reply confirm = site.send(u"/confirm"_s, site.typed(u"2009-10-13"_s, u"10"_s));
        QCOMPARE(confirm.status, 200);
        Form sent;
        for (const QString &name : {u"csrf"_s, u"date"_s, u"hour"_s, u"name"_s, u"kana"_s, u"birth"_s, u"tel"_s,
                                    u"kno"_s, u"visited"_s, u"kind"_s, u"second"_s, u"remarks"_s, u"nonce"_s}) {
            sent.append({name, Site::field(confirm.body, name)});
        }
        relay.loseNextCommitAnswer("INSERT INTO YOYAKU");
        const Reply unknown = site.send(u"/book"_s, sent);
        QVERIFY(relay.lostOne());
        QCOMPARE(unknown.status, 503);
        QVERIFY2(unknown.body.contains(u"予約が完了している場合があります"_s), qPrintable(unknown.body));
        Database direct(u"direct"_s);
        direct.DB_open(site.ws.target());
        const QStringList stored = test::stored(direct, u"YNO, KNM"_s);
        QCOMPARE(stored.size(), 2);
        // The page's own form, sent as it stands.
        Form again;
        for (const auto &[name, value] : sent) {
            again.append({name, Site::field(unknown.body, name)});
        }
        QCOMPARE(again, sent);
        const Reply done = site.send(u"/book"_s, again);
        QCOMPARE(done.status, 200);
        QCOMPARE(QStringList({Site::yno(done), u"山田 花子"_s}), stored);
        QCOMPARE(site.check(done, Site::code(done)).status, 200);
        QCOMPARE(test::stored(direct, u"YNO"_s).size(), 1);
    }

    // The web's own table dropped while it runs: the booking that meets it fails, and the next one is
    // taken with the table made again.
    void droppedWebTableIsMadeAgain()
    {
        Site site(3);
        Database other(u"other"_s);
        other.DB_open(site.ws.target());
        other.write(u"DROP TABLE WEBYOYAKU"_s);
        QCOMPARE(site.book(site.typed(u"2009-10-13"_s, u"10"_s)).status, 503);
        const Reply done = site.book(site.typed(u"2009-10-13"_s, u"10"_s));
        QCOMPARE(done.status, 200);
        QCOMPARE(site.check(done, Site::code(done)).status, 200);
        QCOMPARE(site.rows(), 1);
    }

    // Deleting the days patients are booking, again and again, beside a running qrb-web: each deletion's
    // backup holds every reservation it deleted, and every booking the site confirmed is still stored
    // or in a backup; every one is counted once, deleted or still there.
    void deletionsBesideTheSiteLoseNoBooking()
    {
        test::Workspace ws(1000);
        // Other seasons' reservations make each backup take a while, as in a clinic's file.
        ws.db.write(u"INSERT INTO YOYAKU (YNO, KNM, YDATE, YTIME, BIKO) WITH RECURSIVE n(i) AS "
                    "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                    "SELECT 100000 + i, '昨季の予約', '2009/10/09', '09', ? FROM n"_s,
                    {QString(300, u'備')});
        prepareWebBooking(ws.db);
        RunningSite site(ws, 6);
        QVERIFY(site.start());
        site.book(true);
        QTRY_VERIFY_WITH_TIMEOUT(site.confirmed.size() >= 6, 30000);
        QList<Deletion> deletions;
        QString failure;
        std::atomic<bool> finished = false;
        std::thread maintenance([&] {
            Database db(u"maintenance"_s);
            try {
                db.DB_open(ws.target());
                for (int i = 0; i < 8; ++i) {
                    deletions << deleteReservationsBetween(db, site.firstDay(), site.lastDay(),
                                                           QDateTime(QDate(2009, 10, 9), QTime(10, 0, i)));
                }
            } catch (const DbError &error) {
                failure = error.message();
            }
            finished = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(finished, 240000);
        maintenance.join();
        site.book(false);
        QTRY_VERIFY_WITH_TIMEOUT(site.idle(), 30000);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY2(site.refused.isEmpty(), qPrintable(site.refused.join(u", "_s)));

        const QString period = u"YDATE >= '%1' AND YDATE <= '%2'"_s.arg(site.firstDay(), site.lastDay());
        QStringList kept = test::stored(ws.db, u"KNM"_s, period);
        int deleted = 0;
        for (const Deletion &d : deletions) {
            deleted += d.count;
            QCOMPARE(d.backup.has_value(), !ws.onPostgres());
            if (d.backup) {
                Database backup(u"backup"_s);
                backup.DB_open(*d.backup);
                const QStringList held = test::stored(backup, u"KNM"_s, period);
                QCOMPARE(held.size(), d.count);
                kept += held;
            }
        }
        QCOMPARE(deleted + test::stored(ws.db, u"KNM"_s, period).size(), site.confirmed.size());
        for (const QString &name : std::as_const(site.confirmed)) {
            QVERIFY2(ws.onPostgres() || kept.contains(name), qPrintable(name));
        }
    }

    // Every bad value is named, and the server does not start.
    void badSettingsStopTheServer()
    {
        test::Workspace ws;
        QVERIFY(test::writeFileBytes(
            ws.folder() + u"/setting.ini"_s,
            encodeCp932(u"[WEB]\r\nPORT=80a\r\nLISTEN=localhost:1\r\nKINDS=季節性,新形\r\nDAYS=0\r\n"
                        "PER_MINUTE=0\r\nWORKERS=65\r\nTIMEZONE=Asia/Tokio\r\n"
                        u"[MAIL]\r\nHOST=mail.example.jp\r\nTLS=OFF\r\nFROM=a@example.jp\r\nURL=https://x.example.jp\r\n"_s)
                .bytes));
        QCOMPARE(web::readWebSettings(ws.folder()).errors.size(), 7);
        const test::Run server = test::runProgram(test::binDir() + u"/tools/qrb-web"_s, {}, ws.folder());
        QCOMPARE(server.code, 2);
        for (const QString &message : {u"PORT=80a は 1〜65535"_s, u"LISTEN=localhost:1 は IP アドレスではありません"_s,
                                       u"「新形」は種別ではありません"_s, u"DAYS=0 は 1〜366"_s,
                                       u"PER_MINUTE=0 は 1〜100000"_s, u"WORKERS=65 は 1〜64"_s,
                                       u"TIMEZONE=Asia/Tokio はタイムゾーンの名前ではありません"_s,
                                       u"[MAIL] TLS=OFF は同じコンピュータのメールサーバー"_s}) {
            QVERIFY2(server.err.contains(message), qPrintable(server.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
