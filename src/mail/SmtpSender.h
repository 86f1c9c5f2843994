#pragma once

#include "MailSettings.h"

#include <QByteArray>
#include <QString>

#include <atomic>

namespace qrb::mail {

// Hands one mail at a time to the clinic's mail server through libcurl: TLS as [MAIL] TLS says (the
// server's certificate checked against its name), login when USER is set. A server that does not
// offer STARTTLS gets nothing, not even the login.
class SmtpSender final
{
public:
    explicit SmtpSender(const MailSettings &settings);
    ~SmtpSender();
    SmtpSender(const SmtpSender &) = delete;
    SmtpSender &operator=(const SmtpSender &) = delete;

    struct Result {
        bool sent = false;
        bool permanent = false; // the server refused the mail itself (5xx): trying again cannot help
        QString reason;         // for the log: never the address, which a server's answer may quote
    };
    Result send(const QString &to, const QByteArray &message);

    // From any thread: the send under way ends at once (qrb-web is stopping).
    void abort() { m_abort = true; }

private:
    MailSettings m_settings;
    void *m_curl = nullptr;
    std::atomic_bool m_abort = false;
};

} // namespace qrb::mail
