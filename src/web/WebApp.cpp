#include "WebApp.h"

#include "BookingForm.h"
#include "Calendar.h"
#include "config/Clock.h"
#include "db/Database.h"
#include "db/WebBooking.h"
#include "mail/Address.h"
#include "mail/Outbox.h"
#include "shared/Dates.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace qrb::web {

const WebApp::Route WebApp::Routes[] = {
    {"GET", "/", &WebApp::daysPage},        // the days with places left
    {"GET", "/day", &WebApp::dayPage},      // the hours of one day
    {"GET", "/form", &WebApp::formPage},    // the patient's form for one slot
    {"POST", "/form", &WebApp::formAgain},  // back from the confirm page, with what was typed
    {"POST", "/confirm", &WebApp::confirm}, // the form checked, shown once more before booking
    {"POST", "/book", &WebApp::book},       // the booking itself
    {"GET", "/check", &WebApp::checkPage},  // number and cancel code
    {"POST", "/check", &WebApp::check},     // the booking they name
    {"POST", "/cancel", &WebApp::cancel},   // its cancellation
    {"GET", "/style.css", &WebApp::style},  {"GET", "/favicon.ico", &WebApp::noIcon}, // asked for by every browser
};

namespace {

QString dayText(QDate day)
{
    return u"%1月%2日"_s.arg(day.month()).arg(day.day()) + weekdayLabel(weekdayNumber(day));
}

QString slotText(const QString &hour)
{
    const int h = hour.toInt();
    return u"%1:00～%2:00"_s.arg(h).arg(h + 1);
}

QString weekdayClass(QDate day)
{
    return day.dayOfWeek() == 6 ? u" class=\"sat\""_s : day.dayOfWeek() == 7 ? u" class=\"sun\""_s : QString();
}

QString markClass(const QString &mark)
{
    return mark == u"○"_s ? u"m-ok"_s : mark == u"△"_s ? u"m-few"_s : mark == u"×"_s ? u"m-full"_s : u"m-none"_s;
}

QString errorLine(const QHash<QString, QString> &errors, const QString &field)
{
    return errors.contains(field)
               ? u"<p class=\"error\" id=\"e-"_s + field + u"\">"_s + esc(errors.value(field)) + u"</p>"_s
               : QString();
}

QString hidden(const QString &name, const QString &value)
{
    return u"<input type=\"hidden\" name=\""_s + esc(name) + u"\" value=\""_s + esc(value) + u"\">"_s;
}

bool isCookieValue(const QByteArray &cookie)
{
    static const QRegularExpression hex(u"^[0-9a-f]{32}$"_s);
    return hex.match(QString::fromLatin1(cookie)).hasMatch();
}

} // namespace

struct WebApp::Verified {
    int yno = 0;
    QByteArray code;
    OnlineReservation booking;
};

WebApp::WebApp(Database &db, const Clock &clock, const WebSettings &settings, Limits limits)
    : m_db(db)
    , m_clock(clock)
    , m_settings(settings)
    , m_limits(limits)
    , m_site{settings.clinic, settings.tel, settings.notice}
{
}

Response WebApp::handle(const Request &r)
{
    m_currentCookie = isCookieValue(r.cookie) ? r.cookie : QByteArray();
    const bool newCookie = m_currentCookie.isEmpty();
    if (newCookie) {
        m_currentCookie = Secrets::randomHex(16);
    }
    Response response;
    const Route *route = nullptr;
    QByteArrayList allowed;
    for (const Route &candidate : Routes) {
        if (r.path == QLatin1StringView(candidate.path)) {
            allowed << candidate.method;
            if (r.method == candidate.method) {
                route = &candidate;
            }
        }
    }
    if (!route) {
        const bool pathKnown = !allowed.isEmpty();
        response = pathKnown ? message(405, u"この操作はできません"_s, u"ページを開き直してください。"_s, u"/"_s,
                                       u"最初のページへ"_s)
                             : message(404, u"ページが見つかりません"_s, u"アドレスをお確かめください。"_s, u"/"_s,
                                       u"最初のページへ"_s);
        if (pathKnown) {
            response.headers.append(std::pair(QByteArray("Allow"), allowed.join(", ")));
        }
    } else if (r.method == "POST" &&
               !m_secrets.csrfValid(newCookie ? QByteArray() : m_currentCookie, r.form.value(u"csrf"_s).toLatin1())) {
        // A form sent from another site, or one opened before the server restarted.
        response = message(403, u"もう一度お試しください"_s,
                           u"画面の有効期限が切れたか、正しくない送信です。お手数ですが最初からやり直してください。"_s,
                           u"/"_s, u"最初のページへ"_s);
    } else {
        try {
            if (m_dbBroken) {
                const DbTarget target = m_db.target();
                m_db.DB_close();
                m_db.DB_open(target);
                m_dbBroken = false;
            }
            // The history tells the clinic which changes patients made themselves, and from where.
            m_db.setActor(u"web "_s + r.client);
            response = (this->*route->handler)(r);
        } catch (const DbError &error) {
            qWarning().noquote() << "database:" << error.message();
            m_dbBroken = true;
            response = message(503, u"ただいま予約を受け付けられません"_s,
                               u"しばらくしてからもう一度お試しいただくか、お電話でご予約ください。"_s);
            response.headers.append(std::pair(QByteArray("Retry-After"), QByteArray("30")));
        }
    }
    if (newCookie) {
        response.headers.append(std::pair(QByteArray("Set-Cookie"), "qrb_form=" + m_currentCookie +
                                                                        "; Path=/; HttpOnly; SameSite=Strict" +
                                                                        (r.https ? "; Secure" : "")));
    }
    return response;
}

Response WebApp::html(int status, const QString &title, const QString &content) const
{
    Response response;
    response.status = status;
    response.body = page(m_site, title, content).toUtf8();
    return response;
}

Response WebApp::message(int status, const QString &title, const QString &text, const QString &link,
                         const QString &linkText) const
{
    QString content = u"<p>"_s + esc(text) + u"</p>"_s;
    if (!link.isEmpty()) {
        content += u"<p><a href=\""_s + esc(link) + u"\">"_s + esc(linkText) + u"</a></p>"_s;
    }
    return html(status, title, content);
}

Response WebApp::tooMany(const QString &action, const QString &client) const
{
    const int wait = qMax(1, m_limiter.retryAfterSeconds(action, client));
    Response response = message(
        429, u"しばらくお待ちください"_s,
        u"短い間に何度も送信されたため、受付を一時停止しています。約%1分後にもう一度お試しいただくか、お電話でご連絡ください。"_s
            .arg((wait + 59) / 60));
    response.headers.append(std::pair(QByteArray("Retry-After"), QByteArray::number(wait)));
    return response;
}

QString WebApp::hiddenToken() const
{
    return hidden(u"csrf"_s, QString::fromLatin1(m_secrets.csrfToken(m_currentCookie)));
}

Response WebApp::style(const Request &)
{
    Response response;
    response.contentType = "text/css; charset=utf-8";
    response.body = stylesheet();
    return response;
}

Response WebApp::noIcon(const Request &)
{
    Response response;
    response.status = 204;
    return response;
}

Response WebApp::daysPage(const Request &)
{
    const Calendar calendar(m_db, m_settings, m_clock.now());
    QString content = u"<p>接種を希望する日を選んでください。</p>"
                      "<p class=\"legend\">○ 空きあり　△ 残りわずか　× 満員　－ 受付なし</p><ul class=\"days\">"_s;
    for (const DayInfo &day : calendar.days()) {
        const QString label = u"<span"_s + weekdayClass(day.date) + u">"_s + esc(dayText(day.date)) + u"</span>"_s +
                              u"<span class=\"mark "_s + markClass(day.mark) + u"\">"_s + esc(day.mark) + u"</span>"_s;
        if (day.left > 0) {
            content += u"<li><a href=\"/day?d="_s + day.date.toString(Qt::ISODate) + u"\">"_s + label + u"</a></li>"_s;
        } else {
            content += u"<li><span class=\"off\">"_s + label + u"</span></li>"_s;
        }
    }
    content += u"</ul>"_s;
    return html(200, u"接種日を選ぶ"_s, content);
}

Response WebApp::dayPage(const Request &r)
{
    const Calendar calendar(m_db, m_settings, m_clock.now());
    const auto day = isoDate(r.query.value(u"d"_s));
    if (!day || !calendar.inWindow(*day)) {
        return message(404, u"この日は予約できません"_s, u"予約を受け付けている日から選んでください。"_s, u"/"_s,
                       u"日付の一覧へ"_s);
    }
    QString content = u"<p class=\"slot\">"_s + esc(dayText(*day)) + u"</p><ul class=\"slots\">"_s;
    int offered = 0;
    for (const SlotInfo &slot : calendar.slotsOf(*day)) {
        if (!slot.bookable) {
            continue;
        }
        ++offered;
        content += u"<li><a href=\"/form?d="_s + day->toString(Qt::ISODate) + u"&amp;h="_s + slot.hour +
                   u"\"><span>"_s + esc(slotText(slot.hour)) + u"</span><span>残り"_s + QString::number(slot.left()) +
                   u"人</span></a></li>"_s;
    }
    content += u"</ul>"_s;
    if (offered == 0) {
        content += u"<p>この日に予約できる時間はありません。</p>"_s;
    }
    content += u"<p><a href=\"/\">日付の一覧へ戻る</a></p>"_s;
    return html(200, u"時間を選ぶ"_s, content);
}

QString WebApp::renderForm(const FormInput &in, const QHash<QString, QString> &errors, const Calendar &calendar) const
{
    const auto day = isoDate(in.date);
    QString c;
    if (errors.contains(u"slot"_s)) {
        c += u"<p class=\"warn\">"_s + esc(errors.value(u"slot"_s)) + u"</p>"_s;
    } else if (!errors.isEmpty()) {
        c += u"<p class=\"warn\">入力内容を確かめてください。赤い文字の項目を直してください。</p>"_s;
    }
    c += u"<p class=\"slot\">予約日時: <strong>"_s + esc(day ? dayText(*day) : QString()) + u" "_s +
         esc(slotText(in.hour)) + u"</strong></p>"_s;
    c += u"<form method=\"post\" action=\"/confirm\" novalidate>"_s + hiddenToken() + hidden(u"date"_s, in.date) +
         hidden(u"hour"_s, in.hour);
    const auto field = [&](const QString &name, const QString &label, const QString &input,
                           bool optional = false) -> QString {
        return u"<div class=\"field"_s + (errors.contains(name) ? u" has-error"_s : QString()) +
               u"\"><label for=\"f-"_s + name + u"\">"_s + esc(label) +
               (optional ? u" <span class=\"opt\">（任意）</span>"_s : QString()) + u"</label>"_s +
               errorLine(errors, name) + input + u"</div>"_s;
    };
    const auto text = [&](const QString &name, const QString &value, const QString &attributes) -> QString {
        return u"<input id=\"f-"_s + name + u"\" name=\""_s + name + u"\" value=\""_s + esc(value) + u"\" "_s +
               attributes + u">"_s;
    };
    c += field(u"name"_s, u"氏名"_s,
               text(u"name"_s, in.name,
                    u"type=\"text\" autocomplete=\"name\" maxlength=\"40\" placeholder=\"例: 山田 太郎\""_s));
    c += field(u"kana"_s, u"カナ氏名"_s,
               text(u"kana"_s, in.kana, u"type=\"text\" maxlength=\"40\" placeholder=\"例: ヤマダ タロウ\""_s));
    c += field(
        u"birth"_s, u"生年月日（西暦）"_s,
        text(
            u"birth"_s, in.birth,
            u"type=\"text\" inputmode=\"numeric\" autocomplete=\"bday\" maxlength=\"12\" placeholder=\"例: 1985-04-12\""_s));
    c += field(u"tel"_s, u"電話番号"_s,
               text(u"tel"_s, in.tel,
                    u"type=\"tel\" autocomplete=\"tel\" maxlength=\"16\" placeholder=\"例: 090-1234-5678\""_s));
    if (m_outbox) {
        c += field(u"email"_s, u"メールアドレス"_s,
                   u"<p class=\"opt\">"_s +
                       esc(u"入力すると、予約の確認と前日のお知らせをメールでお送りします。アドレスはこのご予約の"
                           u"ご連絡にだけ使い、予約日の%1日後に削除します。"_s.arg(m_outbox->keepDays())) +
                       u"</p>"_s +
                       text(u"email"_s, in.email,
                            u"type=\"email\" autocomplete=\"email\" inputmode=\"email\" maxlength=\"254\" "
                            "placeholder=\"例: hanako@example.jp\""_s),
                   true);
    }
    c += field(u"kno"_s, u"患者番号（診察券の番号）"_s,
               text(u"kno"_s, in.kno, u"type=\"text\" inputmode=\"numeric\" maxlength=\"20\""_s), true);

    const auto radios = [&](const QString &name, const QString &legend, const QString &current,
                            const QList<std::pair<QString, QString>> &options) -> QString {
        QString f = u"<fieldset class=\""_s + (errors.contains(name) ? u"has-error"_s : QString()) +
                    u"\"><legend class=\"label\">"_s + esc(legend) + u"</legend>"_s + errorLine(errors, name);
        for (const auto &[value, label] : options) {
            const bool checked = current == value || options.size() == 1;
            f += u"<label><input type=\"radio\" name=\""_s + name + u"\" value=\""_s + esc(value) + u"\""_s +
                 (checked ? u" checked"_s : QString()) + u">"_s + esc(label) + u"</label>"_s;
        }
        return f + u"</fieldset>"_s;
    };
    c += radios(u"visited"_s, u"当院での受診歴"_s, in.visited, {{u"1"_s, u"あり"_s}, {u"2"_s, u"なし"_s}});
    QList<std::pair<QString, QString>> kinds;
    for (const Kind kind : m_settings.kinds) {
        kinds.append({QString::number(int(kind)), kind == Kind::NewPair ? u"新型（2回接種）"_s : kindText(kind)});
    }
    c += radios(u"kind"_s, u"種別"_s, in.kind, kinds);

    if (m_settings.kinds.contains(Kind::NewPair) && day) {
        const QString proposal = Calendar::proposedSecondDose(*day).toString(Qt::ISODate) + u' ' + in.hour;
        const QString chosen = in.second.isEmpty() ? proposal : in.second;
        QString select = u"<select id=\"f-second\" name=\"second\">"_s;
        QDate group;
        for (const SlotInfo &s : calendar.secondDoseSlots(*day)) {
            if (s.date != group) {
                select += (group.isValid() ? u"</optgroup>"_s : QString()) + u"<optgroup label=\""_s +
                          esc(dayText(s.date)) + u"\">"_s;
                group = s.date;
            }
            const QString value = s.date.toString(Qt::ISODate) + u' ' + s.hour;
            select += u"<option value=\""_s + esc(value) + u"\""_s + (value == chosen ? u" selected"_s : QString()) +
                      u">"_s + esc(dayText(s.date) + u" "_s + slotText(s.hour)) + u"</option>"_s;
        }
        select += (group.isValid() ? u"</optgroup>"_s : QString()) + u"</select>"_s;
        c += field(u"second"_s, u"2回目の日時（種別が新型のとき）"_s,
                   u"<p class=\"opt\">1回目の3週間後の同じ時間をおすすめしています。</p>"_s + select);
    }
    c += field(u"remarks"_s, u"備考"_s,
               u"<textarea id=\"f-remarks\" name=\"remarks\" maxlength=\"200\">"_s + esc(in.remarks) + u"</textarea>"_s,
               true);
    c += u"<button type=\"submit\">確認画面へ進む</button></form>"_s;
    c += u"<p><a href=\"/day?d="_s + esc(in.date) + u"\">時間を選び直す</a></p>"_s;
    return c;
}

Response WebApp::formPage(const Request &r)
{
    const Calendar calendar(m_db, m_settings, m_clock.now());
    FormInput input;
    input.date = r.query.value(u"d"_s);
    input.hour = r.query.value(u"h"_s);
    const auto day = isoDate(input.date);
    if (!day || !calendar.bookable(*day, input.hour)) {
        return message(409, u"この時間は予約できません"_s,
                       u"満員になったか、受付時間を過ぎました。ほかの時間を選んでください。"_s,
                       day && calendar.inWindow(*day) ? u"/day?d="_s + input.date : u"/"_s, u"時間を選び直す"_s);
    }
    return html(200, u"お名前などの入力"_s, renderForm(input, {}, calendar));
}

Response WebApp::formAgain(const Request &r)
{
    const Calendar calendar(m_db, m_settings, m_clock.now());
    return html(200, u"お名前などの入力"_s, renderForm(formOf(r), {}, calendar));
}

FormInput WebApp::formOf(const Request &r) const
{
    FormInput input = FormInput::fromFields(r.form);
    if (!m_outbox) {
        input.email.clear();
    }
    return input;
}

QString WebApp::hiddenFields(const FormInput &in) const
{
    return hidden(u"date"_s, in.date) + hidden(u"hour"_s, in.hour) + hidden(u"name"_s, in.name) +
           hidden(u"kana"_s, in.kana) + hidden(u"birth"_s, in.birth) + hidden(u"tel"_s, in.tel) +
           hidden(u"kno"_s, in.kno) + hidden(u"visited"_s, in.visited) + hidden(u"kind"_s, in.kind) +
           hidden(u"second"_s, in.second) + hidden(u"remarks"_s, in.remarks) +
           (m_outbox ? hidden(u"email"_s, in.email) : QString());
}

QString WebApp::summary(const ValidBooking &b) const
{
    const auto row = [](const QString &label, const QString &value) -> QString {
        return u"<tr><th>"_s + esc(label) + u"</th><td>"_s + esc(value) + u"</td></tr>"_s;
    };
    QString t = u"<table class=\"summary\">"_s;
    t += row(b.kind == Kind::NewPair ? u"1回目"_s : u"日時"_s, dayText(b.date) + u" "_s + slotText(b.hour));
    if (b.kind == Kind::NewPair) {
        t += row(u"2回目"_s, dayText(b.secondDate) + u" "_s + slotText(b.secondHour));
    }
    t += row(u"氏名"_s, b.name) + row(u"カナ氏名"_s, b.kana) + row(u"生年月日"_s, b.birthday) +
         row(u"電話番号"_s, b.tel);
    t += row(u"患者番号"_s, b.kno.isEmpty() ? u"（なし）"_s : b.kno);
    t += row(u"受診歴"_s, b.rflg == 1 ? u"あり"_s : u"なし"_s);
    t += row(u"種別"_s, b.kind == Kind::NewPair ? u"新型（2回接種）"_s : kindText(b.kind));
    t += row(u"備考"_s, b.remarks);
    if (m_outbox) {
        t += row(u"メールアドレス"_s, b.email.isEmpty() ? u"（なし）"_s : b.email);
    }
    return t + u"</table>"_s;
}

Response WebApp::confirm(const Request &r)
{
    const Calendar calendar(m_db, m_settings, m_clock.now());
    FormInput input = formOf(r);
    const Validation v = validateForm(input, calendar, m_settings);
    if (!v.booking) {
        return html(422, u"お名前などの入力"_s, renderForm(input, v.errors, calendar));
    }
    if (v.booking->kind != Kind::NewPair) {
        input.second.clear();
    }
    QString c = u"<p>次の内容で予約します。よろしければ「予約する」を押してください。</p>"_s + summary(*v.booking);
    c += u"<form method=\"post\" action=\"/book\">"_s + hiddenToken() + hiddenFields(input) +
         hidden(u"nonce"_s, QString::fromLatin1(Secrets::randomHex(16))) +
         u"<button type=\"submit\">予約する</button>"
         "<button type=\"submit\" class=\"secondary\" formaction=\"/form\">修正する</button></form>"_s;
    return html(200, u"予約内容の確認"_s, c);
}

Response WebApp::book(const Request &r)
{
    if (!m_limiter.allow(u"book"_s, r.client, m_limits.book)) {
        return tooMany(u"book"_s, r.client);
    }
    const QByteArray nonce = r.form.value(u"nonce"_s).toLatin1();
    if (!isCookieValue(nonce)) {
        return message(400, u"もう一度お試しください"_s, u"確認画面からもう一度送信してください。"_s, u"/"_s,
                       u"最初のページへ"_s);
    }
    const Calendar calendar(m_db, m_settings, m_clock.now());
    const FormInput input = formOf(r);
    const QString code = m_secrets.cancelCode(nonce);
    const Validation v = validateForm(input, calendar, m_settings);
    OnlineResult result;
    if (v.booking) {
        OnlineBooking booking = recordsOf(*v.booking);
        booking.perPhone = m_settings.perPhone;
        booking.today = calendar.today();
        booking.codeHash = cancelCodeHash(*normalizedCancelCode(code));
        booking.nonce = nonce;
        const ValidBooking &b = *v.booking;
        if (m_outbox && !b.email.isEmpty()) {
            const QByteArray patient =
                mail::patientKey(booking.first.knm, booking.first.kknm, booking.first.birthday, booking.first.tel1);
            booking.alsoStore = [&, patient](Database &db, const OnlineResult &stored) {
                QList<mail::Dose> doses{{stored.yno, b.date, b.hour}};
                if (stored.secondYno) {
                    doses.append({stored.secondYno, b.secondDate, b.secondHour});
                }
                m_outbox->confirmBooking(db, {b.email, r.client, b.name, patient, doses, code}, m_clock.now());
            };
        }
        result = bookOnline(m_db, booking);
        if (booking.alsoStore && result.outcome == OnlineOutcome::Booked) {
            m_outbox->wake();
        }
    } else if (v.errors.contains(u"slot"_s) || v.errors.contains(u"second"_s)) {
        // Filled between the form and now: told as "full", as a full slot in the transaction is.
        result.outcome = v.errors.contains(u"slot"_s) ? OnlineOutcome::SlotFull : OnlineOutcome::SecondSlotFull;
    } else {
        return html(422, u"お名前などの入力"_s, renderForm(input, v.errors, calendar));
    }
    const QString back = u"/day?d="_s + input.date;
    switch (result.outcome) {
    case OnlineOutcome::SlotFull:
        return message(
            409, u"満員になりました"_s,
            u"申し訳ありません。選んだ時間はちょうど満員になったか、受付時間を過ぎました。ほかの時間を選んでください。"_s,
            back, u"時間を選び直す"_s);
    case OnlineOutcome::SecondSlotFull:
        return message(
            409, u"2回目の時間が満員になりました"_s,
            u"申し訳ありません。2回目に選んだ時間が満員になりました。予約はされていません。もう一度お選びください。"_s,
            back, u"時間を選び直す"_s);
    case OnlineOutcome::AlreadyBooked:
        return message(409, u"すでに予約があります"_s,
                       u"同じお名前で同じ時間の予約がすでにあります。予約の確認は「予約の確認・取消」からできます。"_s,
                       u"/check"_s, u"予約の確認・取消へ"_s);
    case OnlineOutcome::PhoneLimit:
        return message(
            409, u"予約数の上限です"_s,
            u"この電話番号でWeb予約できるのは%1件までです。お電話でご相談ください。"_s.arg(m_settings.perPhone));
    case OnlineOutcome::Booked:
    case OnlineOutcome::AlreadySubmitted:
        break;
    }
    // A second send of the same confirm page shows the same booking and, while the server has not
    // restarted since, the same code.
    bool codeKnown = true;
    if (result.outcome == OnlineOutcome::AlreadySubmitted) {
        const auto stored = onlineReservation(m_db, result.yno);
        codeKnown = stored && sameBytes(stored->codeHash, cancelCodeHash(*normalizedCancelCode(code)));
    }
    qInfo().noquote() << "booked online:" << result.yno
                      << (result.secondYno ? QString::number(result.secondYno) : QString());
    QString c = u"<p>ご予約を承りました。当日は保険証と診察券をお持ちください。</p>"
                "<table class=\"summary\"><tr><th>予約番号</th><td class=\"big\" id=\"yno\">"_s +
                QString::number(result.yno) + u"</td></tr>"_s;
    if (result.secondYno) {
        c += u"<tr><th>2回目の予約番号</th><td class=\"big\">"_s + QString::number(result.secondYno) + u"</td></tr>"_s;
    }
    const bool mailed = v.booking && !v.booking->email.isEmpty();
    if (codeKnown) {
        c += u"<tr><th>取消コード</th><td class=\"big code\" id=\"code\">"_s + esc(code) + u"</td></tr></table>"_s +
             u"<p class=\"warn\">"_s +
             (mailed ? u"取消コードは確認のメールにも記載しますが、届かないこともあります。"_s
                     : u"取消コードはこの画面でしか表示されません。"_s) +
             u"予約番号とともにメモするか、この画面を保存してください。予約の確認・取消に必要です。</p>"_s;
    } else {
        c +=
            u"</table><p class=\"warn\">この予約はすでに受け付けています。取消コードは最初に表示された画面をご覧ください。</p>"_s;
    }
    if (mailed) {
        // The same words whether or not the day's limit let the mail go, so that the page tells no one
        // how many mails the address has had.
        c += u"<p>ご入力のメールアドレスに、予約の確認のメールをお送りします。</p>"_s;
    }
    if (v.booking) {
        c += summary(*v.booking);
    }
    return html(200, u"予約が完了しました"_s, c);
}

Response WebApp::checkPage(const Request &r)
{
    // The link in a mail fills the number in; the code is never part of an address.
    static const QRegularExpression digits(u"^[0-9]{1,10}$"_s);
    const QString yno = r.query.value(u"yno"_s);
    const QString filled = digits.match(yno).hasMatch() ? yno : QString();
    const QString c = u"<p>予約完了の画面に表示された予約番号と取消コードを入力してください。</p>"
                      "<form method=\"post\" action=\"/check\">"_s +
                      hiddenToken() +
                      u"<div class=\"field\"><label for=\"f-yno\">予約番号</label>"
                      "<input id=\"f-yno\" name=\"yno\" type=\"text\" inputmode=\"numeric\" maxlength=\"10\" "
                      "autocomplete=\"off\" value=\""_s +
                      esc(filled) + u"\"></div>"
                      "<div class=\"field\"><label for=\"f-code\">取消コード</label>"
                      "<input id=\"f-code\" name=\"code\" type=\"text\" maxlength=\"30\" autocomplete=\"off\" "
                      "autocapitalize=\"characters\" placeholder=\"XXXX-XXXX-XXXX-XXXX\"></div>"
                      "<button type=\"submit\">予約を確認する</button></form>"_s;
    return html(200, u"予約の確認・取消"_s, c);
}

std::optional<WebApp::Verified> WebApp::verify(const Request &r, Response &refusal)
{
    if (!m_limiter.allow(u"check"_s, r.client, m_limits.check)) {
        refusal = tooMany(u"check"_s, r.client);
        return std::nullopt;
    }
    bool ok = false;
    const int yno = r.form.value(u"yno"_s).trimmed().normalized(QString::NormalizationForm_KC).toInt(&ok);
    const auto code = normalizedCancelCode(r.form.value(u"code"_s));
    const auto booking = ok && yno > 0 && code ? onlineReservation(m_db, yno) : std::nullopt;
    if (!booking || !sameBytes(booking->codeHash, cancelCodeHash(*code))) {
        m_limiter.fail(u"check"_s, r.client, m_limits.wrongCodes, m_limits.wrongCodeWindowMs, m_limits.lockoutMs);
        if (m_limiter.retryAfterSeconds(u"check"_s, r.client) > 0) {
            qWarning().noquote() << "wrong cancel codes: check and cancel locked for" << r.client;
        }
        refusal = message(403, u"予約が見つかりません"_s,
                          u"予約番号または取消コードが違います。お確かめのうえもう一度入力してください。"_s,
                          u"/check"_s, u"入力し直す"_s);
        return std::nullopt;
    }
    return Verified{yno, *code, *booking};
}

Response WebApp::check(const Request &r)
{
    Response refusal;
    const auto found = verify(r, refusal);
    if (!found) {
        return refusal;
    }
    if (found->booking.doses.isEmpty()) {
        return message(404, u"予約は取り消されています"_s,
                       u"この予約はすでに取り消されています。ご不明な点はお電話でお問い合わせください。"_s);
    }
    QString c = u"<table class=\"summary\"><tr><th>予約番号</th><td>"_s + QString::number(found->yno) + u"</td></tr>"_s;
    bool started = false;
    for (const Reservation &dose : found->booking.doses) {
        const auto day = dateFromKey(dose.ydate).value_or(QDate());
        started = started || m_clock.now() >= QDateTime(day, QTime(dose.ytime.toInt(), 0));
        c += u"<tr><th>"_s + (dose.scnt == 2 ? u"2回目"_s : u"日時"_s) + u"</th><td>"_s +
             esc(dayText(day) + u" "_s + slotText(dose.ytime)) + u"</td></tr>"_s;
    }
    const Reservation &first = found->booking.doses.first();
    c += u"<tr><th>氏名</th><td>"_s + esc(first.knm) + u"</td></tr><tr><th>種別</th><td>"_s +
         esc(first.sflg == 2 ? u"新型（2回接種）"_s
                             : kindText(static_cast<Kind>(qBound(0, first.sflg.value_or(1) - 1, 3)))) +
         u"</td></tr></table>"_s;
    if (started) {
        c += u"<p>接種日時を過ぎた予約はWebでは取り消せません。お電話でご連絡ください。</p>"_s;
    } else {
        c += u"<form method=\"post\" action=\"/cancel\">"_s + hiddenToken() +
             hidden(u"yno"_s, QString::number(found->yno)) + hidden(u"code"_s, QString::fromLatin1(found->code)) +
             u"<p>取り消すと元に戻せません。"_s +
             (found->booking.doses.size() > 1 ? u"1回目と2回目の両方が取り消されます。"_s : QString()) +
             u"</p><button type=\"submit\" class=\"danger\">この予約を取り消す</button></form>"_s;
    }
    return html(200, u"ご予約の内容"_s, c);
}

Response WebApp::cancel(const Request &r)
{
    Response refusal;
    const auto found = verify(r, refusal);
    if (!found) {
        return refusal;
    }
    for (const Reservation &dose : found->booking.doses) {
        const auto day = dateFromKey(dose.ydate).value_or(QDate());
        if (m_clock.now() >= QDateTime(day, QTime(dose.ytime.toInt(), 0))) {
            return message(409, u"取り消せません"_s,
                           u"接種日時を過ぎた予約はWebでは取り消せません。お電話でご連絡ください。"_s);
        }
    }
    std::function<void(Database &, int)> notice;
    QList<mail::Dose> doses;
    if (m_outbox) {
        for (const Reservation &dose : found->booking.doses) {
            doses.append({dose.yno, dateFromKey(dose.ydate).value_or(QDate()), dose.ytime});
        }
        // Cancelled at the desk already: the address goes, without a notice.
        notice = [&](Database &db, int deletedRows) {
            m_outbox->noticeCancellation(db, found->yno, deletedRows > 0 ? doses : QList<mail::Dose>(), r.client,
                                         m_clock.now());
        };
    }
    const int deleted = cancelOnline(m_db, found->yno, notice);
    if (m_outbox && deleted > 0) {
        m_outbox->wake();
    }
    qInfo().noquote() << "cancelled online:" << found->yno;
    return message(200, u"予約を取り消しました"_s,
                   deleted > 0 ? u"ご予約を取り消しました。またのご利用をお待ちしております。"_s
                               : u"この予約はすでに取り消されています。"_s,
                   u"/"_s, u"予約する日を選ぶ"_s);
}

} // namespace qrb::web
