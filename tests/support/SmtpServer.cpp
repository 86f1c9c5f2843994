#include "SmtpServer.h"

#include "Common.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>

using namespace Qt::StringLiterals;

namespace qrb::test {

namespace {

constexpr quint16 FirstPort = 18600;
constexpr quint16 Ports = 100;

QString script()
{
    return QStringLiteral(QRB_SOURCE_DIR "/tests/mail/smtp-server.py");
}

} // namespace

SmtpServer::SmtpServer(const Options &options)
    : m_options(options)
{
    if (m_options.tls) {
        const Run made =
            runProgram(u"openssl"_s, {u"req"_s, u"-new"_s, u"-x509"_s, u"-days"_s, u"2"_s, u"-nodes"_s, u"-newkey"_s,
                                      u"ec"_s, u"-pkeyopt"_s, u"ec_paramgen_curve:prime256v1"_s, u"-subj"_s,
                                      u"/CN=localhost"_s, u"-addext"_s, u"subjectAltName=DNS:localhost,IP:127.0.0.1"_s,
                                      u"-keyout"_s, m_dir.filePath(u"server.key"_s), u"-out"_s, certificate()});
        if (made.code != 0) {
            m_diagnosis = u"openssl: "_s + made.err;
        }
    }
    // Each test process starts its search elsewhere in the range, so that the SQLite and PostgreSQL
    // runs of a test, run side by side, rarely try the same port.
    const quint16 offset = static_cast<quint16>(QCoreApplication::applicationPid() % Ports);
    for (quint16 i = 0; i < Ports && m_port == 0; ++i) {
        const quint16 candidate = FirstPort + (offset + i) % Ports;
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, candidate)) {
            m_port = candidate;
        }
    }
}

SmtpServer::~SmtpServer()
{
    stop();
}

bool SmtpServer::start()
{
    for (int tries = 0; tries < Ports; ++tries) {
        if (startOn(m_port)) {
            return true;
        }
        if (!m_diagnosis.startsWith(u"busy"_s) || !m_process) {
            return false;
        }
        // Taken meanwhile by another test: the next one, unless the port was already promised.
        m_port = FirstPort + (m_port - FirstPort + 1) % Ports;
    }
    return false;
}

bool SmtpServer::startOn(quint16 port)
{
    stop();
    QStringList arguments{script(), u"--port"_s, QString::number(port), u"--dir"_s, m_dir.path()};
    if (m_options.tls) {
        arguments << u"--tls"_s << certificate() << m_dir.filePath(u"server.key"_s);
    }
    if (!m_options.auth.isEmpty()) {
        arguments << u"--auth"_s << m_options.auth;
    }
    if (!m_options.refuse.isEmpty()) {
        arguments << u"--refuse"_s << m_options.refuse;
    }
    if (m_options.delay > 0) {
        arguments << u"--delay"_s << QString::number(m_options.delay);
    }
    m_process = std::make_unique<QProcess>();
    // Debian's interpreter, which has Debian's aiosmtpd, whatever python3 comes first on PATH.
    m_process->start(u"/usr/bin/python3"_s, arguments);
    const QDeadlineTimer deadline(30000);
    QByteArray said;
    while (!deadline.hasExpired()) {
        if (m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            said += m_process->readAllStandardOutput();
            if (said.contains("ready")) {
                return true;
            }
        } else if (m_process->state() != QProcess::Running) {
            break;
        }
    }
    m_process->kill();
    m_process->waitForFinished(5000);
    m_diagnosis = (m_process->exitCode() == 3 ? u"busy: "_s : u"smtp-server.py: "_s) +
                  QString::fromUtf8(m_process->readAllStandardError());
    return false;
}

void SmtpServer::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(10000);
        }
    }
}

QList<QJsonObject> SmtpServer::mails() const
{
    QList<QJsonObject> mails;
    const QDir dir(m_dir.path());
    for (const QString &name : dir.entryList({u"*.json"_s}, QDir::Files, QDir::Name)) {
        QJsonObject mail = QJsonDocument::fromJson(fileBytes(dir.filePath(name))).object();
        mail[u"text"_s] = mail.value(u"text"_s).toString().replace(u"\r\n"_s, u"\n"_s);
        mails << mail;
    }
    return mails;
}

QStringList SmtpServer::commands() const
{
    return QString::fromUtf8(fileBytes(m_dir.filePath(u"commands.log"_s))).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace qrb::test
