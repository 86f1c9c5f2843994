#pragma once

#include "Calendar.h"
#include "Html.h"
#include "Security.h"
#include "WebSettings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace qrb {
class Clock;
class Database;
struct OnlineReservation;
} // namespace qrb

namespace qrb::mail {
class Outbox;
}

namespace qrb::web {

struct FormInput;
struct ValidBooking;

// A request as the pages need it: plain values, already read from HTTP.
struct Request {
    QByteArray method;
    QString path;
    QHash<QString, QString> query; // the URL's fields
    QHash<QString, QString> form;  // the body's fields (POST)
    QByteArray cookie;             // the browser's form cookie, empty when it has none
    QString client;                // the client's address, for the rate limits
    bool https = false;            // the reverse proxy says the patient's browser used HTTPS
    bool crossSite = false;        // the browser says the request comes from a page of another site
};

struct Response {
    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // Pages hold patient data and one-time tokens: kept by no cache unless a page says otherwise.
    QByteArray cacheControl = "no-store";
};

// The pages of online booking: reads a request's plain values, asks the database, renders HTML.
class WebApp final
{
public:
    WebApp(Database &db, const Clock &clock, const WebSettings &settings, Limits limits = {});

    Response handle(const Request &request);

    // Where the clinic sends mail: the form asks for an address, and bookings and online cancellations
    // queue their mail through it. Without one (no [MAIL]) nothing of mail appears.
    void setOutbox(const mail::Outbox *outbox) { m_outbox = outbox; }

private:
    using Handler = Response (WebApp::*)(const Request &);
    struct Route {
        const char *method;
        const char *path;
        Handler handler;
    };
    static const Route Routes[];

    Response daysPage(const Request &r);
    Response dayPage(const Request &r);
    Response formPage(const Request &r);
    Response formAgain(const Request &r);
    Response confirm(const Request &r);
    Response book(const Request &r);
    Response checkPage(const Request &r);
    Response check(const Request &r);
    Response bookingPage(const Request &r);
    Response cancel(const Request &r);
    Response donePageAgain(const Request &r);
    Response cancelledPage(const Request &r);
    Response style(const Request &r);
    Response noIcon(const Request &r);

    Response html(int status, const QString &title, const QString &content) const;
    Response message(int status, const QString &title, const QString &text, const QString &link = {},
                     const QString &linkText = {}) const;
    Response tooMany() const;
    // A form's send answered with the address of its result, so that Back and reload never send it
    // again; the address shows the result to this browser only, for ResultSeconds, and carries (signed)
    // whether the page asked for mail.
    Response seeResult(const QString &path, const QByteArray &subject, bool mailed = false) const;
    // The subject of a result address (its fields s, e, m and t) this browser was sent to, while it is valid.
    std::optional<QByteArray> resultSubject(const QHash<QString, QString> &fields, const QString &path) const;
    static constexpr qint64 ResultSeconds = 15 * 60;
    QString hiddenToken() const;
    QString renderForm(const FormInput &input, const QHash<QString, QString> &errors, const Calendar &calendar) const;
    QString hiddenFields(const FormInput &input) const;
    // The form's fields as sent; an address only where the form asks for one.
    FormInput formOf(const Request &r) const;
    QString summary(const ValidBooking &b) const;
    // The page a stored booking answers with, every time its confirm page is sent.
    // The page of a stored booking; `mailed` when the page asked for a confirmation by mail, and
    // `justBooked` given by the send that stored it.
    Response donePage(const OnlineReservation &stored, const QByteArray &nonce, bool mailed,
                      const ValidBooking *justBooked = nullptr) const;
    // The booking of a number whose code matches; a wrong pair counts against the address.
    struct Verified;
    std::optional<Verified> verify(const Request &r, Response &refusal);
    // The booking of the booking page a cancel was sent from, while its address is valid.
    std::optional<Verified> fromBookingPage(const Request &r, Response &refusal);

    Database &m_db;
    const Clock &m_clock;
    WebSettings m_settings;
    Site m_site;
    Secrets m_secrets;
    RateLimiter m_limiter;
    CalendarCache m_calendar;
    QByteArray m_currentCookie; // the cookie of the request being answered
    bool m_dbBroken = false;
    const mail::Outbox *m_outbox = nullptr;
};

} // namespace qrb::web
