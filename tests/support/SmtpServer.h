#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace qrb::test {

// A real mail server for one test: tests/mail/smtp-server.py on Debian's python3-aiosmtpd, on
// 127.0.0.1 at a free port of 18600-18699. With TLS (the default) it offers STARTTLS on a certificate
// for localhost and 127.0.0.1 made for it (certificate(), for [MAIL] CAFILE) and takes no mail before
// it; `auth` ("user:password") makes it require a login. Every mail it took is read back as Python's
// email package decodes it.
class SmtpServer final
{
public:
    struct Options {
        bool tls = true;
        QString auth;
        QString refuse;   // recipients starting with this get 550
        double delay = 0; // seconds each mail's DATA takes
    };
    explicit SmtpServer(const Options &options);
    SmtpServer()
        : SmtpServer(Options{})
    {
    }
    ~SmtpServer();
    Q_DISABLE_COPY_MOVE(SmtpServer)

    // Starts it (again, on the same port once it had one); false, with diagnosis(), when it did not.
    bool start();
    void stop();
    // The port it listens on, or a free port it will listen on once started.
    quint16 port() const { return m_port; }
    QString certificate() const { return m_dir.filePath(QStringLiteral("server.crt")); }
    // The mails it took, in order: from, to, tls, headers ([name, raw value]), subject, sender,
    // contentType, charset, text (decoded, CR LF made LF), raw.
    QList<QJsonObject> mails() const;
    // "AUTH tls=1", "MAIL tls=1", "RCPT …", "DATA …": what clients said, in order.
    QStringList commands() const;
    QString diagnosis() const { return m_diagnosis; }

private:
    bool startOn(quint16 port);
    Options m_options;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_diagnosis;
};

} // namespace qrb::test
