#include "SmtpSender.h"

#include <QHostAddress>
#include <QUrl>

#include <curl/curl.h>

#include <cstring>
#include <mutex>

using namespace Qt::StringLiterals;

namespace qrb::mail {

namespace {

struct Upload {
    const QByteArray &data;
    qsizetype offset = 0;
};

size_t readMessage(char *buffer, size_t size, size_t count, void *user)
{
    auto *upload = static_cast<Upload *>(user);
    const size_t left = static_cast<size_t>(upload->data.size() - upload->offset);
    const size_t n = std::min(left, size * count);
    std::memcpy(buffer, upload->data.constData() + upload->offset, n);
    upload->offset += static_cast<qsizetype>(n);
    return n;
}

int progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic_bool *>(user)->load() ? 1 : 0;
}

} // namespace

SmtpSender::SmtpSender(const MailSettings &settings)
    : m_settings(settings)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_curl = curl_easy_init();
}

SmtpSender::~SmtpSender()
{
    curl_easy_cleanup(static_cast<CURL *>(m_curl));
}

SmtpSender::Result SmtpSender::send(const QString &to, const QByteArray &message)
{
    CURL *curl = static_cast<CURL *>(m_curl);
    if (!curl) {
        return {false, false, u"libcurl could not be initialised"_s};
    }
    curl_easy_reset(curl);
    const MailSettings &s = m_settings;
    // The path names the sending domain in EHLO.
    const QHostAddress literal(s.host);
    const QByteArray host = literal.protocol() == QAbstractSocket::IPv6Protocol ? "[" + s.host.toLatin1() + "]"
                            : literal.isNull()                                  ? QUrl::toAce(s.host)
                                                                                : s.host.toLatin1();
    const QByteArray url = (s.tls == Tls::Smtps ? "smtps://" : "smtp://") + host + ":" + QByteArray::number(s.port) +
                           "/" + QUrl::toAce(s.from.mid(s.from.lastIndexOf(u'@') + 1));
    const QByteArray from = "<" + s.from.toLatin1() + ">";
    const QByteArray rcpt = "<" + to.toLatin1() + ">";
    const QByteArray user = s.user.toUtf8();
    const QByteArray password = s.password.toUtf8();
    const QByteArray caFile = s.caFile.toLocal8Bit();
    curl_slist *recipients = curl_slist_append(nullptr, rcpt.constData());
    Upload upload{message};
    char failure[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    if (s.tls != Tls::Off) {
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    }
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    }
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &readMessage);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    // A slow or silent server holds only this thread, and only so long.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &m_abort);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, failure);

    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(recipients);
    long reply = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
    if (code == CURLE_OK) {
        return {true, false, {}};
    }
    // curl's own text, not its error buffer: that one may quote the server's answer, and with it the
    // address.
    QString reason = QString::fromUtf8(curl_easy_strerror(code));
    if (reply > 0) {
        reason += u" (server %1)"_s.arg(reply);
    }
    // Only a refusal of this recipient or of this message is final. A refused login or sender, or a
    // server that will not talk, is the clinic's set-up or a passing fault: retried until it is mended.
    const bool refusedRecipient = std::strncmp(failure, "RCPT failed", 11) == 0;
    const bool refusedMessage = code == CURLE_WEIRD_SERVER_REPLY && upload.offset == message.size();
    const bool permanent = reply >= 500 && reply < 600 && (refusedRecipient || refusedMessage);
    return {false, permanent, reason};
}

} // namespace qrb::mail
