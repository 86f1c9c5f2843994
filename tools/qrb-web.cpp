// qrb-web: the online booking pages, started in the workspace folder like qrb (its setting.ini names
// the database and, in section [WEB], what the pages offer). Meant to run behind an HTTPS reverse proxy.
#include "config/Clock.h"
#include "config/IniFile.h"
#include "db/WebBooking.h"
#include "mail/MailService.h"
#include "mail/Outbox.h"
#include "web/StopSignals.h"
#include "web/WebApp.h"
#include "web/WebServer.h"
#include "web/WebSettings.h"
#include "web/Workers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <QTimer>

#include <ctime>
#include <sys/resource.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A request under way when the service is stopped gets this long to arrive and be answered.
constexpr int StopGraceMs = 5000;

// Every connection is a file descriptor: the soft limit (often 1024) is raised towards the hard one,
// so that the connection limit, not the descriptors, is what a crowd meets.
void allowConnections(int connections)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        const rlim_t wanted = qMin<rlim_t>(files.rlim_max, rlim_t(connections) + 64);
        if (files.rlim_cur < wanted) {
            files.rlim_cur = wanted;
            setrlimit(RLIMIT_NOFILE, &files);
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"qrb-web"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(QRB_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"インフルエンザ予防接種の Web 予約（予約・確認・取消）を提供します。\n"
        "作業フォルダ（setting.ini のあるフォルダ）で起動してください。設定は setting.ini の [WEB]: "
        "LISTEN, PORT, DAYS, CUTOFF, KINDS, PER_PHONE, SHARE, PER_MINUTE, WORKERS, TIMEZONE, CLINIC, TEL, NOTICE。\n"
        "予約確認と前日のお知らせをメールで送るときは [MAIL]: HOST, PORT, TLS, USER, PASSWORD または "
        "PASSWORD_FILE, FROM, CAFILE, URL, KEEP_DAYS, REMIND_AT, PER_ADDRESS, PER_NETWORK。\n"
        "インターネットに公開するときは必ず HTTPS のリバースプロキシの後ろで動かしてください。"_s);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    QTextStream err(stderr);
    const QString folder = QDir::currentPath();
    for (const auto &problem : {qrb::missingSettingFile(folder), qrb::unreadableSettingFile(folder)}) {
        if (problem) {
            err << *problem << '\n';
            return 2;
        }
    }
    const qrb::web::WebSettingsResult web = qrb::web::readWebSettings(folder);
    const qrb::mail::MailSettingsResult mail = qrb::mail::readMailSettings(folder);
    if (!web.errors.isEmpty() || !mail.errors.isEmpty()) {
        err << u"setting.ini の設定に誤りがあります:\n"_s << (web.errors + mail.errors).join(u'\n') << '\n';
        return 2;
    }
    // The clinic's day and hour, whatever zone the machine runs in: every date and time this process
    // reads or writes (the pages, the cut-off, the history of changes) is in this zone.
    qputenv("TZ", web.settings.timeZone);
    tzset();
    const qrb::web::ConnectionLimits limits;
    allowConnections(limits.maxConnections);

    const qrb::Config config = qrb::ini_read_all(folder);
    qrb::Database db(u"qrb-web"_s);
    const qrb::SystemClock clock;
    try {
        db.DB_open(config.databaseTarget());
        qrb::prepareWebBooking(db);
        if (mail.settings) {
            qrb::mail::prepareMail(db);
        } else if (const int forgotten = qrb::mail::forgetMail(db); forgotten > 0) {
            err << u"[MAIL] がないためメールは送りません。保存していたメールアドレス %1 件と未送信のメールを削除しました。\n"_s
                       .arg(forgotten);
        }
    } catch (const qrb::DbError &error) {
        err << u"データベースを開けません: "_s << error.message() << '\n';
        return 1;
    }
    // The postman works on a thread and a connection of its own: no page waits for the mail server.
    std::unique_ptr<qrb::mail::MailService> postman;
    std::unique_ptr<qrb::mail::Outbox> outbox;
    if (mail.settings) {
        const qrb::mail::Letterhead head{web.settings.clinic, web.settings.tel, web.settings.notice,
                                         mail.settings->siteUrl, mail.settings->from};
        postman = std::make_unique<qrb::mail::MailService>(config.databaseTarget(), clock, *mail.settings, head);
        outbox = std::make_unique<qrb::mail::Outbox>(*mail.settings, head, [&postman] { postman->wake(); });
    }
    // The pages are answered by workers, each on a thread with a database connection of its own.
    qrb::web::Workers server(limits);
    try {
        server.start(web.settings.workers, config.databaseTarget(), clock, web.settings, outbox.get());
    } catch (const qrb::DbError &error) {
        err << u"データベースを開けません: "_s << error.message() << '\n';
        return 1;
    }
    QString reason;
    const quint16 port = server.listenOn(web.settings.listen, web.settings.port, &reason);
    if (port == 0) {
        err << u"%1:%2 で待ち受けできません: %3\n"_s.arg(web.settings.listen.toString())
                   .arg(web.settings.port)
                   .arg(reason);
        return 1;
    }
    if (!web.settings.listen.isLoopback()) {
        err << u"注意: LISTEN=%1 はこのコンピュータの外から届きます。HTTPS のリバースプロキシを通さずに公開しないでください。\n"_s
                   .arg(web.settings.listen.toString());
    }
    if (postman) {
        postman->start();
        err << u"メール: %1:%2 経由で %3 から送信します\n"_s.arg(mail.settings->host)
                   .arg(mail.settings->port)
                   .arg(mail.settings->from);
    }
    err << u"qrb-web: http://%1:%2/ で受付中（%3、ワーカー %4）\n"_s.arg(web.settings.listen.toString())
               .arg(port)
               .arg(config.databaseTarget().displayName())
               .arg(server.count());
    err.flush();

    // Stopping (systemctl stop, Ctrl+C): no new connection is taken, the requests under way are
    // answered (for at most StopGraceMs), and the database is closed, so that on SQLite its log is
    // folded into the file and a copy of the file alone holds every booking. A second signal ends at once.
    qrb::web::StopSignals stop;
    bool stopping = false;
    QObject::connect(&stop, &qrb::web::StopSignals::received, &app, [&](int number) {
        if (stopping) {
            QCoreApplication::quit();
            return;
        }
        stopping = true;
        QTimer::singleShot(StopGraceMs, &app, &QCoreApplication::quit);
        server.drain();
        qInfo().noquote() << "stopping on signal" << number;
    });
    QObject::connect(&server, &qrb::web::Workers::drained, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    server.stop();
    db.DB_close();
    qInfo().noquote() << "stopped";
    return 0;
}
