#include "WebApp.h"

#include "BookingForm.h"
#include "Calendar.h"
#include "config/Clock.h"
#include "db/Database.h"
#include "db/WebBooking.h"
#include "mail/Address.h"
#include "mail/Outbox.h"
#include "shared/Dates.h"
#include "shared/Eras.h"
#include "shared/Kana.h"
#include "shared/Holidays.h"

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
    {"GET", "/booking", &WebApp::bookingPage},    // where /check sent the browser: the booking, to cancel
    {"POST", "/cancel", &WebApp::cancel},   // its cancellation
    {"GET", "/done", &WebApp::donePageAgain},     // a booking's number and code, where /book sent the browser
    {"GET", "/cancelled", &WebApp::cancelledPage}, // where /cancel sent it
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

// Sundays and national holidays red, Saturdays blue, as on the calendars patients know.
QString weekdayClass(QDate day)
{
    return day.dayOfWeek() == 7 || nationalHoliday(day) ? u" class=\"sun\""_s
           : day.dayOfWeek() == 6                       ? u" class=\"sat\""_s
                                                        : QString();
}

// What each day mark means, in words: shown once above the days, and read out with every mark.
const QList<std::pair<QString, QString>> &markWords()
{
    static const QList<std::pair<QString, QString>> words{
        {u"○"_s, u"空きあり"_s}, {u"△"_s, u"残りわずか"_s}, {u"×"_s, u"満員"_s}, {u"－"_s, u"受付なし"_s}};
    return words;
}

QString legend()
{
    QString text = u"<p class=\"legend\">"_s;
    for (const auto &[mark, words] : markWords()) {
        text += u"<span>"_s + mark + u" "_s + words + u"</span>"_s;
    }
    return text + u"</p>"_s;
}

// The mark for the eye, its meaning for a screen reader.
QString markSpan(const QString &mark)
{
    const QString cls = mark == u"○"_s   ? u"m-ok"_s
                        : mark == u"△"_s ? u"m-few"_s
                        : mark == u"×"_s ? u"m-full"_s
                                          : u"m-none"_s;
    QString words;
    for (const auto &[m, w] : markWords()) {
        if (m == mark) {
            words = w;
        }
    }
    return u"<span class=\"mark "_s + cls + u"\"><span aria-hidden=\"true\">"_s + esc(mark) +
           u"</span><span class=\"vh\">"_s + esc(words) + u"</span></span>"_s;
}

QString errorLine(const QHash<QString, QString> &errors, const QString &field)
{
    return errors.contains(field)
               ? u"<p class=\"error\" id=\"e-"_s + field + u"\">"_s + esc(errors.value(field)) + u"</p>"_s
               : QString();
}

// What a screen reader says of a field that must be filled in, and what every eye sees.
QString requiredMark(bool required)
{
    return required ? u" <span class=\"req\">必須</span>"_s : u" <span class=\"opt\">（任意）</span>"_s;
}

// A field with an error says so, and names the error as its description.
QString invalidAttributes(const QHash<QString, QString> &errors, const QString &field, const QString &hint = {})
{
    if (!errors.contains(field)) {
        return {};
    }
    return u" aria-invalid=\"true\" aria-describedby=\"e-"_s + field + (hint.isEmpty() ? QString() : u" "_s + hint) +
           u"\""_s;
}

// The errors of a form sent back, at its top, each a link to its field; the browser puts the focus
// here, so that a screen reader reads them first.
QString errorSummary(const QHash<QString, QString> &errors)
{
    QString list;
    for (const QString &field : {u"name"_s, u"kana"_s, u"birth"_s, u"tel"_s, u"kno"_s, u"visited"_s, u"kind"_s,
                                u"second"_s, u"remarks"_s}) {
        if (errors.contains(field)) {
            list += u"<li><a href=\"#f-"_s + field + u"\">"_s + esc(errors.value(field)) + u"</a></li>"_s;
        }
    }
    return u"<div class=\"warn\" id=\"errors\" role=\"alert\" tabindex=\"-1\" autofocus>"
           "<p>入力内容を確かめてください。赤い文字の項目を直してください。</p><ul>"_s +
           list + u"</ul></div>"_s;
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

// The birth date's box and the era beside it, for the six digits of an era date typed on a phone's
// number pad (600412 with 昭和).
QString birthInputs(const FormInput &in, const QString &invalid)
{
    QString era = u"<select id=\"f-era\" name=\"era\" aria-label=\"暦（和暦のときは元号）\">"_s;
    for (const QString &name : eraPickerTexts()) {
        const QString code = QString::number(*eraCode(name));
        era += u"<option value=\""_s + code + u"\""_s + (code == in.era ? u" selected"_s : QString()) + u">"_s +
               esc(name) + u"</option>"_s;
    }
    return u"<p class=\"opt\" id=\"birth-hint\">19850412、1985/4/12、昭和60年4月12日、S60.4.12 など。"
           "和暦は元号を選んで 600412 のようにも入力できます。</p><div class=\"birth\">"_s +
           era + u"</select><input id=\"f-birth\" name=\"birth\" value=\""_s + esc(in.birth) +
           u"\" type=\"text\" inputmode=\"numeric\" autocomplete=\"bday\" maxlength=\"16\" required"_s +
           (invalid.isEmpty() ? u" aria-describedby=\"birth-hint\""_s : invalid) +
           u" placeholder=\"例: 19850412\"></div>"_s;
}

// Why a day offers nothing, where its mark does not already say it (× is 満員, － is 受付なし).
QString whySpan(const DayInfo &day)
{
    for (const auto &[mark, words] : markWords()) {
        if (mark == day.mark && words == day.why) {
            return {};
        }
    }
    return day.why.isEmpty() ? QString() : u"<span class=\"why\">"_s + esc(day.why) + u"</span>"_s;
}

} // namespace

struct WebApp::Verified {
    int yno = 0;
    OnlineReservation booking;
};

WebApp::WebApp(Database &db, const Clock &clock, const WebSettings &settings, Limits limits)
    : m_db(db)
    , m_clock(clock)
    , m_settings(settings)
    , m_site{settings.clinic, settings.tel, settings.notice}
    , m_secrets(prepareWebShared(db, [] { return Secrets::randomHex(32); }))
    , m_limiter(db, limits, settings.perMinute)
    , m_calendar(settings.closed)
{
}

Response WebApp::handle(const Request &r)
{
    // A cookie the site never issued is answered with one of its own; a valid one is never replaced,
    // so that the forms open in the patient's other tabs stay valid.
    const bool newCookie = !m_secrets.cookieValid(r.cookie);
    m_currentCookie = newCookie ? m_secrets.newCookie() : r.cookie;
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
               (r.crossSite || !m_secrets.csrfValid(r.cookie, r.form.value(u"csrf"_s).toLatin1()))) {
        // A form sent from another site, or one whose token is not that of the browser's cookie.
        response = message(403, u"もう一度お試しください"_s,
                           u"画面の有効期限が切れたか、正しくない送信です。お手数ですが最初からやり直してください。"_s,
                           u"/"_s, u"最初のページへ"_s);
    } else {
        try {
            if (m_dbBroken) {
                const DbTarget target = m_db.target();
                m_db.DB_close();
                m_db.DB_open(target);
                // Its own table may be what broke (dropped, or replaced by one of another shape).
                prepareWebBooking(m_db);
                m_dbBroken = false;
            }
            // The history tells the clinic which changes patients made themselves, and from where.
            m_db.setActor(u"web "_s + r.client);
            response = (this->*route->handler)(r);
        } catch (const DbError &error) {
            qWarning().noquote() << "database:" << logText(error.message());
            m_dbBroken = true;
            response = message(503, u"ただいま予約を受け付けられません"_s,
                               u"しばらくしてからもう一度お試しいただくか、お電話でご予約ください。"_s);
            response.headers.append(std::pair(QByteArray("Retry-After"), QByteArray("30")));
        }
    }
    if (newCookie) {
        response.headers.append(std::pair(QByteArray("Set-Cookie"), formCookieHeader(m_currentCookie, r.https)));
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

Response WebApp::tooMany() const
{
    const int wait = m_limiter.retryAfterSeconds();
    Response response = message(
        429, u"しばらくお待ちください"_s,
        (m_limiter.siteBusy()
             ? u"ただいまWeb予約が混み合っています。約%1分後にもう一度お試しいただくか、お電話でご連絡ください。"_s
             : u"短い間に何度も送信されたため、受付を一時停止しています。約%1分後にもう一度お試しいただくか、お電話でご連絡ください。"_s)
            .arg((wait + 59) / 60));
    response.headers.append(std::pair(QByteArray("Retry-After"), QByteArray::number(wait)));
    return response;
}

Response WebApp::seeResult(const QString &path, const QByteArray &subject, bool mailed) const
{
    const QByteArray expires = QByteArray::number(m_clock.now().toSecsSinceEpoch() + ResultSeconds);
    const QByteArray signature = m_secrets.resultSignature(
        m_currentCookie, path.toLatin1() + ':' + subject + ':' + expires + (mailed ? ":m" : ""));
    const QString target = path + u"?s="_s + QString::fromLatin1(subject) + u"&e="_s + QString::fromLatin1(expires) +
                           (mailed ? u"&m=1"_s : QString()) + u"&t="_s + QString::fromLatin1(signature);
    Response response = message(303, u"送信しました"_s, u"結果の画面を開いています。"_s, target, u"結果を表示する"_s);
    response.headers.append(std::pair(QByteArray("Location"), target.toLatin1()));
    return response;
}

std::optional<QByteArray> WebApp::resultSubject(const QHash<QString, QString> &fields, const QString &path) const
{
    static const QRegularExpression plain(u"^[0-9a-f]{1,64}$"_s);
    const QString subject = fields.value(u"s"_s);
    const QString expires = fields.value(u"e"_s);
    bool ok = false;
    const qint64 until = expires.toLongLong(&ok);
    if (!plain.match(subject).hasMatch() || !ok || m_clock.now().toSecsSinceEpoch() >= until) {
        return std::nullopt;
    }
    const QByteArray expected =
        m_secrets.resultSignature(m_currentCookie, path.toLatin1() + ':' + subject.toLatin1() + ':' + expires.toLatin1() +
                                                       (fields.value(u"m"_s) == u"1"_s ? ":m" : ""));
    if (!sameBytes(expected, fields.value(u"t"_s).toLatin1())) {
        return std::nullopt;
    }
    return subject.toLatin1();
}

QString WebApp::hiddenToken() const
{
    return hidden(u"csrf"_s, QString::fromLatin1(m_secrets.csrfToken(m_currentCookie)));
}

Response WebApp::style(const Request &)
{
    Response response;
    response.contentType = "text/css; charset=utf-8";
    response.cacheControl = "max-age=3600";
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
    const Calendar calendar(m_db, m_calendar, m_settings, m_clock.now());
    QString content = u"<p>接種を希望する日を選んでください。</p>"_s + legend() + u"<ul class=\"days\">"_s;
    for (const DayInfo &day : calendar.days()) {
        // The reason, where there is one, stands in for the mark: both do not fit a 320 px phone.
        const QString why = whySpan(day);
        const QString label = u"<span"_s + weekdayClass(day.date) + u">"_s + esc(dayText(day.date)) + u"</span>"_s +
                              (why.isEmpty() ? markSpan(day.mark) : why);
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
    const Calendar calendar(m_db, m_calendar, m_settings, m_clock.now());
    const auto day = isoDate(r.query.value(u"d"_s));
    if (!day || !calendar.inWindow(*day)) {
        return message(404, u"この日は予約できません"_s, u"予約を受け付けている日から選んでください。"_s, u"/"_s,
                       u"日付の一覧へ"_s);
    }
    QString content = u"<p class=\"slot\">"_s + esc(dayText(*day)) + u"</p>"_s;
    QString slotList;
    for (const SlotInfo &slot : calendar.slotsOf(*day)) {
        if (slot.bookable) {
            slotList += u"<li><a href=\"/form?d="_s + day->toString(Qt::ISODate) + u"&amp;h="_s + slot.hour +
                     u"\"><span>"_s + esc(slotText(slot.hour)) + u"</span><span>残り"_s +
                     QString::number(slot.left()) + u"人</span></a></li>"_s;
        } else if (slot.open || slot.late) {
            // A taken or closed slot stays in its place, so that she sees the day is not simply empty.
            slotList += u"<li><span class=\"off\"><span>"_s + esc(slotText(slot.hour)) + u"</span>"_s +
                     (slot.open ? u"<span><span class=\"mark m-full\" aria-hidden=\"true\">×</span>満員</span>"_s
                                : u"<span>受付終了</span>"_s) +
                     u"</span></li>"_s;
        }
    }
    if (!slotList.isEmpty()) {
        content += u"<ul class=\"slots\">"_s + slotList + u"</ul>"_s;
    }
    if (const QString why = calendar.dayClosedBecause(*day); !why.isEmpty()) {
        content += u"<p class=\"why-day\"><strong>"_s + esc(why) + u"</strong>のため、この日は予約できません。</p>"_s;
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
        c += errorSummary(errors);
    }
    c += u"<p class=\"slot\">予約日時: <strong>"_s + esc(day ? dayText(*day) : QString()) + u" "_s +
         esc(slotText(in.hour)) + u"</strong></p>"_s;
    c += u"<form method=\"post\" action=\"/confirm\" novalidate>"_s + hiddenToken() + hidden(u"date"_s, in.date) +
         hidden(u"hour"_s, in.hour);
    const auto field = [&](const QString &name, const QString &label, const QString &input,
                           bool optional = false) -> QString {
        return u"<div class=\"field"_s + (errors.contains(name) ? u" has-error"_s : QString()) +
               u"\"><label for=\"f-"_s + name + u"\">"_s + esc(label) + requiredMark(!optional) + u"</label>"_s +
               errorLine(errors, name) + input + u"</div>"_s;
    };
    const auto text = [&](const QString &name, const QString &value, const QString &attributes,
                          bool optional = false) -> QString {
        return u"<input id=\"f-"_s + name + u"\" name=\""_s + name + u"\" value=\""_s + esc(value) + u"\" "_s +
               attributes + (optional ? QString() : u" required"_s) + invalidAttributes(errors, name) + u">"_s;
    };
    c += field(u"name"_s, u"氏名"_s,
               text(u"name"_s, in.name,
                    u"type=\"text\" autocomplete=\"name\" maxlength=\"40\" placeholder=\"例: 山田 太郎\""_s));
    c += field(u"kana"_s, u"カナ氏名"_s,
               text(u"kana"_s, in.kana, u"type=\"text\" maxlength=\"40\" placeholder=\"例: ヤマダ タロウ\""_s));
    c += field(u"birth"_s, u"生年月日"_s, birthInputs(in, invalidAttributes(errors, u"birth"_s, u"birth-hint"_s)));
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
                            "placeholder=\"例: hanako@example.jp\""_s,
                            true),
                   true);
    }
    c += field(u"kno"_s, u"患者番号（診察券の番号）"_s,
               text(u"kno"_s, in.kno, u"type=\"text\" inputmode=\"numeric\" maxlength=\"20\""_s, true), true);

    const auto radios = [&](const QString &name, const QString &legend, const QString &current,
                            const QList<std::pair<QString, QString>> &options) -> QString {
        QString f = u"<fieldset id=\"f-"_s + name + u"\" class=\""_s +
                    (errors.contains(name) ? u"has-error\" aria-describedby=\"e-"_s + name : QString()) +
                    u"\"><legend class=\"label\">"_s + esc(legend) + requiredMark(true) + u"</legend>"_s +
                    errorLine(errors, name);
        for (const auto &[value, label] : options) {
            const bool checked = current == value || options.size() == 1;
            // The pair's option shows its second dose's field (by the stylesheet, without a script).
            const bool pair = name == u"kind"_s && value == QString::number(int(Kind::NewPair));
            f += u"<label><input type=\"radio\" name=\""_s + name + u"\" value=\""_s + esc(value) + u"\""_s +
                 (checked ? u" checked"_s : QString()) + (pair ? u" data-pair"_s : QString()) + u" required>"_s +
                 esc(label) + u"</label>"_s;
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
        // Only the clinic's rule (three weeks on, the same hour) is chosen for her; when that slot is
        // taken or the clinic is shut, nothing is, and she is told why.
        const QDate usual = Calendar::proposedSecondDose(*day);
        const bool usualOpen = calendar.secondDoseBookable(*day, usual, in.hour);
        const QString chosen = !in.second.isEmpty() ? in.second
                               : usualOpen          ? usual.toString(Qt::ISODate) + u' ' + in.hour
                                                    : QString();
        QString select = u"<select id=\"f-second\" name=\"second\""_s +
                         (errors.contains(u"second"_s) ? invalidAttributes(errors, u"second"_s, u"second-note"_s)
                                                        : u" aria-describedby=\"second-note\""_s) +
                         u"><option value=\"\""_s +
                         (chosen.isEmpty() ? u" selected"_s : QString()) + u">選んでください</option>"_s;
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
        const QString note =
            usualOpen ? u"1回目の3週間後の同じ時間をおすすめしています。"_s
                      : u"1回目の3週間後の同じ時間（%1 %2）は%3のため選べません。ほかの日時を選んでください。"_s.arg(
                            dayText(usual), slotText(in.hour), calendar.unavailableBecause(usual));
        c += u"<div id=\"second-field\">"_s +
             field(u"second"_s, u"2回目の日時（種別が新型のとき）"_s,
                   u"<p class=\"opt\" id=\"second-note\">"_s + esc(note) + u"</p>"_s + select) +
             u"</div>"_s;
    }
    c += field(u"remarks"_s, u"備考"_s,
               u"<textarea id=\"f-remarks\" name=\"remarks\" maxlength=\"200\""_s +
                   invalidAttributes(errors, u"remarks"_s) + u">"_s + esc(in.remarks) + u"</textarea>"_s,
               true);
    c += u"<button type=\"submit\">確認画面へ進む</button></form>"_s;
    c += u"<p><a href=\"/day?d="_s + esc(in.date) + u"\">時間を選び直す</a></p>"_s;
    return c;
}

Response WebApp::formPage(const Request &r)
{
    const Calendar calendar(m_db, m_calendar, m_settings, m_clock.now());
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
    const Calendar calendar(m_db, m_calendar, m_settings, m_clock.now());
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
           hidden(u"second"_s, in.second) + hidden(u"remarks"_s, in.remarks) + hidden(u"era"_s, in.era) +
           (m_outbox ? hidden(u"email"_s, in.email) : QString());
}

QString WebApp::summary(const ValidBooking &b) const
{
    const auto row = [](const QString &label, const QString &value) -> QString {
        return u"<tr><th>"_s + esc(label) + u"</th><td>"_s + esc(value) + u"</td></tr>"_s;
    };
    QString t = u"<table class=\"summary\">"_s;
    // A dose the desk has deleted since the booking is left out.
    if (b.date.isValid()) {
        t += row(b.kind == Kind::NewPair ? u"1回目"_s : u"日時"_s, dayText(b.date) + u" "_s + slotText(b.hour));
    }
    if (b.kind == Kind::NewPair && b.secondDate.isValid()) {
        t += row(u"2回目"_s, dayText(b.secondDate) + u" "_s + slotText(b.secondHour));
    }
    // The kana is kept half-width as the desk keeps it, and read back full-width as it was typed.
    t += row(u"氏名"_s, b.name) + row(u"カナ氏名"_s, toFullwidthKatakana(b.kana)) +
         row(u"生年月日"_s, b.birth.isValid() ? birthDateShown(b.birth) : b.birthday) +
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
    const Calendar calendar(m_db, m_calendar, m_settings, m_clock.now());
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
    Response response = html(200, u"予約内容の確認"_s, c);
    // Back from the done page comes here: kept in her own browser's cache, it is shown again without
    // asking to send the form once more (sending this page again would only show the same booking).
    response.cacheControl = "private, max-age=0";
    return response;
}

Response WebApp::book(const Request &r)
{
    const QByteArray nonce = r.form.value(u"nonce"_s).toLatin1();
    if (!isCookieValue(nonce)) {
        return message(400, u"もう一度お試しください"_s, u"確認画面からもう一度送信してください。"_s, u"/"_s,
                       u"最初のページへ"_s);
    }
    // A page whose booking is stored answers with that booking, whatever became of the slots, the
    // cut-off or the second dose's slot since: a reload or a double tap must show her number and code,
    // never "full". It is no new booking, so it does not count against the address either.
    // Every send of a page carries the same address, so every answer says the same of the mail.
    const FormInput input = formOf(r);
    const bool mailed = !input.email.isEmpty();
    if (const auto stored = onlineBookingOfPage(m_db, nonce)) {
        // Cancelled since: told at once, there is no result to go to.
        return stored->doses.isEmpty() ? donePage(*stored, nonce, mailed) : seeResult(u"/done"_s, nonce, mailed);
    }
    if (!m_limiter.allow(RateLimiter::Action::Book, r.client)) {
        return tooMany();
    }
    const Calendar calendar(m_db, m_calendar, m_settings, m_clock.now());
    const QString code = m_secrets.cancelCode(nonce);
    const Validation v = validateForm(input, calendar, m_settings);
    OnlineResult result;
    if (v.booking) {
        OnlineBooking booking = recordsOf(*v.booking);
        booking.perPhone = m_settings.perPhone;
        booking.share = m_settings.share;
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
        try {
            result = bookOnline(m_db, booking);
        } catch (const DbError &error) {
            if (!error.outcomeUnknown()) {
                throw;
            }
            // The server's answer was lost: the booking may be stored. Told as a failure, the patient
            // would phone and be booked twice; the same page sent again answers with the booking its
            // nonce finds, or books it once.
            qWarning().noquote() << "database:" << error.message();
            return html(503, u"予約が完了したか確認できませんでした"_s,
                        u"<p class=\"warn\">通信が途中で切れたため、ご予約が完了したかどうかを確認できませんでした。"
                        "予約が完了している場合があります。</p><p>お手数ですが、下のボタンで同じ内容をもう一度送信して"
                        "ください。完了していればその予約をお知らせします（二重に予約されることはありません）。</p>"
                        "<form method=\"post\" action=\"/book\">"_s +
                            hiddenToken() + hiddenFields(input) + hidden(u"nonce"_s, QString::fromLatin1(nonce)) +
                            u"<button type=\"submit\">同じ内容をもう一度送信する</button></form>"_s);
        }
        if (result.outcome == OnlineOutcome::Booked) {
            m_limiter.booked();
            if (booking.alsoStore) {
                m_outbox->wake();
            }
        }
    } else if (v.errors.contains(u"slot"_s) || (v.errors.contains(u"second"_s) && !input.second.isEmpty())) {
        // The slot may be full because this very page was just stored by another send of it (another
        // qrb-web on the same database): the counts above were read after that booking, so it is found.
        if (onlineBookingOfPage(m_db, nonce)) {
            return seeResult(u"/done"_s, nonce, mailed);
        }
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
        qInfo().noquote() << "booked online:" << result.yno
                          << (result.secondYno ? QString::number(result.secondYno) : QString());
        break;
    case OnlineOutcome::AlreadySubmitted:
        break;
    }
    // Read back as stored, so that the first answer and every later one are the same page.
    const auto stored = onlineBookingOfPage(m_db, nonce);
    if (!stored) {
        throw DbError(u"保存した Web 予約を読み返せません。"_s);
    }
    // A deletion at the desk may have taken the rows between the commit and this read: the booking
    // was still made, and this first answer says so with what was booked (the result address would
    // only find it cancelled).
    if (stored->doses.isEmpty() && v.booking) {
        return donePage(*stored, nonce, mailed, &*v.booking);
    }
    return seeResult(u"/done"_s, nonce, mailed);
}

Response WebApp::donePageAgain(const Request &r)
{
    const auto nonce = resultSubject(r.query, u"/done"_s);
    const auto stored = nonce && isCookieValue(*nonce) ? onlineBookingOfPage(m_db, *nonce) : std::nullopt;
    if (!stored) {
        return message(404, u"この画面は表示できません"_s,
                       u"予約完了の画面は、予約したブラウザーで予約の直後にだけ表示できます。"
                       "予約の内容は、予約番号と取消コードで「予約の確認・取消」から確かめられます。"_s,
                       u"/check"_s, u"予約の確認・取消へ"_s);
    }
    if (stored->doses.isEmpty()) {
        // Booked, and taken away since (her own cancel, or the clinic's deletion right after the booking):
        // the page of the booking still names its number, and says what became of it.
        return html(200, u"予約は取り消されています"_s,
                    u"<dl class=\"numbers\"><dt>予約番号</dt><dd class=\"big\" id=\"yno\">"_s +
                        QString::number(stored->yno) +
                        u"</dd></dl><p class=\"warn\">この予約は、予約のあとで取り消されました。"
                        "ご不明な点はお電話でお問い合わせください。</p>"_s);
    }
    // The address says whether the page asked for mail, under the same signature as the rest of it.
    return donePage(*stored, *nonce, r.query.value(u"m"_s) == u"1"_s);
}

Response WebApp::donePage(const OnlineReservation &stored, const QByteArray &nonce, bool mailed,
                          const ValidBooking *justBooked) const
{
    if (stored.doses.isEmpty() && justBooked == nullptr) {
        return message(409, u"予約は取り消されています"_s,
                       u"予約番号 %1 の予約はすでに取り消されています。あらためて予約するときは、日付の一覧から選んでください。"_s
                           .arg(stored.yno),
                       u"/"_s, u"予約する日を選ぶ"_s);
    }
    // The code is derived from the page's one-time number: the same on every send while the server's
    // secret is the same; after a restart it can no longer be shown, only its hash is kept.
    const QString code = m_secrets.cancelCode(nonce);
    const bool codeKnown = sameBytes(stored.codeHash, cancelCodeHash(*normalizedCancelCode(code)));
    // Number and code each under its label, large: they must fit a 320 px phone without wrapping.
    QString c = u"<p>ご予約を承りました。当日は保険証と診察券をお持ちください。</p>"
                "<dl class=\"numbers\"><dt>予約番号</dt><dd class=\"big\" id=\"yno\">"_s +
                QString::number(stored.yno) + u"</dd>"_s;
    if (stored.secondYno) {
        c += u"<dt>2回目の予約番号</dt><dd class=\"big\" id=\"yno2\">"_s + QString::number(stored.secondYno) +
             u"</dd>"_s;
    }
    if (codeKnown) {
        c += u"<dt>取消コード</dt><dd class=\"big\"><span class=\"code\" id=\"code\">"_s + esc(code) +
             u"</span></dd></dl>"_s + u"<p class=\"warn\">"_s +
             (mailed ? u"取消コードは確認のメールにも記載しますが、届かないこともあります。"_s
                     : u"取消コードはこの画面でしか表示されません。"_s) +
             u"予約番号とともにメモするか、この画面を保存してください。予約の確認・取消に必要です。</p>"_s;
    } else {
        c +=
            u"</dl><p class=\"warn\">この予約はすでに受け付けています。取消コードは最初に表示された画面をご覧ください。</p>"_s;
    }
    if (mailed) {
        // The same words whether or not the day's limit let the mail go, so that the page tells no one
        // how many mails the address has had.
        c += u"<p>ご入力のメールアドレスに、予約の確認のメールをお送りします。</p>"_s;
    }
    c += summary(stored.doses.isEmpty() ? *justBooked : bookingOfRows(stored.doses));
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
    if (!m_limiter.allow(RateLimiter::Action::Check, r.client)) {
        refusal = tooMany();
        return std::nullopt;
    }
    // Typed on a Japanese keyboard: full-width digits, ー or − between the groups.
    bool ok = false;
    const int yno = halfWidth(r.form.value(u"yno"_s)).toInt(&ok);
    const auto code = normalizedCancelCode(halfWidth(r.form.value(u"code"_s)));
    // The same work whether the number was booked on the web or not: one look-up, one hash, one
    // comparison, so that the time of the answer does not tell which numbers exist.
    const auto booking = onlineBookingOfNumber(m_db, ok && yno > 0 ? yno : 0);
    static const QByteArray NoHash(64, '-');
    const bool matches = sameBytes(booking ? booking->codeHash : NoHash, cancelCodeHash(code.value_or(QByteArray())));
    if (!booking || !code || !matches) {
        QString text = u"予約番号または取消コードが違います。お確かめのうえもう一度入力してください。"_s;
        if (m_limiter.fail(RateLimiter::Action::Check, r.client)) {
            qWarning().noquote() << "wrong cancel codes: check and cancel locked for" << logText(r.client);
        } else if (m_limiter.failuresLeft() == 1) {
            // Told before the last try, not after it: she may rather phone than be locked out.
            text += u"あと1回間違えると、%1分間は予約の確認・取消ができなくなります。"_s.arg(m_limiter.lockoutMinutes());
        }
        refusal = message(403, u"予約が見つかりません"_s, text, u"/check"_s, u"入力し直す"_s);
        return std::nullopt;
    }
    Verified found{booking->yno, *booking};
    found.booking.doses = bookedDoses(m_db, booking->yno);
    return found;
}

namespace {

bool started(const QList<Reservation> &doses, const QDateTime &now)
{
    for (const Reservation &dose : doses) {
        const auto day = dateFromKey(dose.ydate).value_or(QDate());
        if (now >= QDateTime(day, QTime(dose.ytime.toInt(), 0))) {
            return true;
        }
    }
    return false;
}

} // namespace

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
    return seeResult(u"/booking"_s, QByteArray::number(found->yno));
}

Response WebApp::bookingPage(const Request &r)
{
    const auto subject = resultSubject(r.query, u"/booking"_s);
    bool ok = false;
    const int yno = subject ? subject->toInt(&ok) : 0;
    const auto booking = ok ? onlineBookingOfNumber(m_db, yno) : std::nullopt;
    if (!booking) {
        return message(404, u"この画面は表示できません"_s,
                       u"予約の内容は、予約番号と取消コードで「予約の確認・取消」から確かめられます。"_s, u"/check"_s,
                       u"予約の確認・取消へ"_s);
    }
    const QList<Reservation> doses = bookedDoses(m_db, booking->yno);
    if (doses.isEmpty()) {
        return message(404, u"予約は取り消されています"_s,
                       u"この予約はすでに取り消されています。ご不明な点はお電話でお問い合わせください。"_s);
    }
    const ValidBooking b = bookingOfRows(doses);
    const bool pair = b.kind == Kind::NewPair;
    QString c = u"<table class=\"summary\"><tr><th>予約番号</th><td>"_s + QString::number(booking->yno);
    if (booking->secondYno) {
        c += u"（2回目 "_s + QString::number(booking->secondYno) + u"）"_s;
    }
    c += u"</td></tr>"_s;
    for (const Reservation &dose : doses) {
        const QString label = !pair ? u"日時"_s : dose.scnt == 2 ? u"2回目"_s : u"1回目"_s;
        c += u"<tr><th>"_s + label + u"</th><td>"_s +
             esc(dayText(dateFromKey(dose.ydate).value_or(QDate())) + u" "_s + slotText(dose.ytime)) + u"</td></tr>"_s;
    }
    c += u"<tr><th>氏名</th><td>"_s + esc(b.name) + u"</td></tr><tr><th>種別</th><td>"_s +
         esc(pair ? u"新型（2回接種）"_s : kindText(b.kind)) + u"</td></tr></table>"_s;
    if (started(doses, m_clock.now())) {
        c += u"<p>接種日時を過ぎた予約はWebでは取り消せません。お電話でご連絡ください。</p>"_s;
    } else {
        // The page's own signed address stands for the code: this browser proved it moments ago, and the
        // code is kept in no page the browser may store.
        c += u"<form method=\"post\" action=\"/cancel\">"_s + hiddenToken() +
             hidden(u"s"_s, r.query.value(u"s"_s)) + hidden(u"e"_s, r.query.value(u"e"_s)) +
             hidden(u"t"_s, r.query.value(u"t"_s)) + u"<p>取り消すと元に戻せません。"_s +
             (doses.size() > 1 ? u"1回目と2回目の両方が取り消されます。"_s : QString()) +
             u"</p><button type=\"submit\" class=\"danger\">この予約を取り消す</button></form>"_s;
    }
    return html(200, u"ご予約の内容"_s, c);
}

std::optional<WebApp::Verified> WebApp::fromBookingPage(const Request &r, Response &refusal)
{
    if (!m_limiter.allow(RateLimiter::Action::Check, r.client)) {
        refusal = tooMany();
        return std::nullopt;
    }
    const auto subject = resultSubject(r.form, u"/booking"_s);
    bool ok = false;
    const int yno = subject ? subject->toInt(&ok) : 0;
    const auto booking = ok ? onlineBookingOfNumber(m_db, yno) : std::nullopt;
    if (!booking) {
        refusal = message(403, u"もう一度お試しください"_s,
                          u"画面の有効期限が切れました。お手数ですが、予約番号と取消コードをもう一度入力してください。"_s,
                          u"/check"_s, u"予約の確認・取消へ"_s);
        return std::nullopt;
    }
    Verified found{booking->yno, *booking};
    found.booking.doses = bookedDoses(m_db, booking->yno);
    return found;
}

Response WebApp::cancel(const Request &r)
{
    Response refusal;
    const auto found = r.form.contains(u"t"_s) ? fromBookingPage(r, refusal) : verify(r, refusal);
    if (!found) {
        return refusal;
    }
    if (started(found->booking.doses, m_clock.now())) {
        return message(409, u"取り消せません"_s, u"接種日時を過ぎた予約はWebでは取り消せません。お電話でご連絡ください。"_s);
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
    // The same cancel page sent again (a reload, a double tap) finds the booking gone: it is told so,
    // and it is no wrong code.
    if (cancelOnline(m_db, found->yno, notice) == 0) {
        return message(200, u"予約は取り消されています"_s, u"この予約はすでに取り消されています。"_s, u"/"_s,
                       u"予約する日を選ぶ"_s);
    }
    if (m_outbox) {
        m_outbox->wake();
    }
    qInfo().noquote() << "cancelled online:" << found->yno;
    return seeResult(u"/cancelled"_s, QByteArray::number(found->yno));
}

Response WebApp::cancelledPage(const Request &r)
{
    if (!resultSubject(r.query, u"/cancelled"_s)) {
        return message(404, u"この画面は表示できません"_s,
                       u"予約の内容は、予約番号と取消コードで「予約の確認・取消」から確かめられます。"_s, u"/check"_s,
                       u"予約の確認・取消へ"_s);
    }
    return message(200, u"予約を取り消しました"_s, u"ご予約を取り消しました。またのご利用をお待ちしております。"_s,
                   u"/"_s, u"予約する日を選ぶ"_s);
}

} // namespace qrb::web
