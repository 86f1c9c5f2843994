// Which database the program opens: the keys of setting.ini, and the connection string of qrb-initdb
// and the tests.
#include "support/Workspace.h"

#include "config/IniFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using qrb::DbError;
using qrb::DbTarget;
using qrb::PgServer;

class TargetTest : public QObject
{
    Q_OBJECT

private slots:
    // Read, written out and read again, nothing changes; a malformed one (an empty host here) is refused.
    void connectionStringsReadBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("socket folder") << u"host=/tmp/qrb port=5439 dbname=qrb user=qrb"_s << u"/tmp/qrb"_s << 5439
                                       << u"qrb"_s << QString();
        QTest::newRow("blanks around =") << u"  host = db1  user=uketsuke "_s << u"db1"_s << 0 << u"uketsuke"_s
                                         << QString();
        QTest::newRow("quoted with quote and backslash")
            << u"host=db1 password='it\\'s \\'a\\\\b\\''"_s << u"db1"_s << 0 << QString() << u"it's 'a\\b'"_s;
        QTest::newRow("folder with a blank") << u"host='/srv/pg sock' user=qrb"_s << u"/srv/pg sock"_s << 0
                                             << u"qrb"_s << QString();
        QTest::newRow("encrypted, certificate folder with a blank")
            << u"host=db1 sslmode=verify-full sslrootcert='/etc/qrb/root ca.crt' user=qrb"_s << u"db1"_s << 0
            << u"qrb"_s << QString();
        for (const QString &bad : {u"host=db1 sslmode=on"_s, u"host=db1 options=-cx"_s, u"host"_s, u"host='db1"_s,
                                   u"host=db1 port=abc"_s, u"host=db1 port=70000"_s}) {
            QTest::addRow("refused: %s", qPrintable(bad)) << bad << QString() << 0 << QString() << QString();
        }
    }
    void connectionStringsReadBack()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, user);
        QFETCH(QString, password);
        if (host.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(DbError, PgServer::fromConnInfo(text));
            return;
        }
        const PgServer server = PgServer::fromConnInfo(text);
        QCOMPARE(server.host, host);
        QCOMPARE(server.port, port);
        QCOMPARE(server.user, user);
        QCOMPARE(server.password, password);
        const PgServer again = PgServer::fromConnInfo(server.connInfo());
        QCOMPARE(again.connInfo(), server.connInfo());
        QCOMPARE(again.host, host);
        QCOMPARE(again.password, password);
        QCOMPARE(server.connInfo().contains(u"password"_s), !password.isEmpty());
    }

    void settingChoosesTheEngine_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<int>("port");
        QTest::newRow("no section: the file") << QByteArray() << false << 0;
        QTest::newRow("empty HOST: the file") << QByteArray("[POSTGRESQL]\r\nHOST=\r\nDBNAME=qrb\r\n") << false << 0;
        QTest::newRow("server, default port")
            << QByteArray("[postgresql]\r\nhost = db1\r\nDBNAME=qrb\r\nUSER=uketsuke\r\nPASSWORD=\r\n") << true << 0;
        QTest::newRow("server and port") << QByteArray("[POSTGRESQL]\r\nHOST=/run/pg\r\nPORT=5433\r\n") << true << 5433;
        QTest::newRow("port not a number: refused") << QByteArray("[POSTGRESQL]\r\nHOST=db1\r\nPORT=54a2\r\n") << true
                                                    << -1;
        QTest::newRow("unknown SSLMODE: refused") << QByteArray("[POSTGRESQL]\r\nHOST=db1\r\nSSLMODE=yes\r\n") << true
                                                  << -1;
        QTest::newRow("encrypted") << QByteArray("[POSTGRESQL]\r\nHOST=db1\r\nDBNAME=qrb\r\nSSLMODE=verify-full\r\n"
                                                 "SSLROOTCERT=/etc/qrb/ca.crt\r\n")
                                   << true << 0;
    }
    void settingChoosesTheEngine()
    {
        QFETCH(QByteArray, section);
        QFETCH(bool, postgres);
        QFETCH(int, port);
        QTemporaryDir dir;
        QFile ini(dir.filePath(u"setting.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=/srv/qrb\r\n" + section);
        ini.close();
        const qrb::Config config = qrb::ini_read_all(dir.path());
        if (port < 0) {
            QVERIFY_THROWS_EXCEPTION(DbError, qrb::Database().DB_open(config.databaseTarget()));
            return;
        }
        const DbTarget target = config.databaseTarget();
        QCOMPARE(target.isPostgres(), postgres);
        if (!postgres) {
            QCOMPARE(target.sqlitePath, u"/srv/qrb/yoyaku.db"_s);
            return;
        }
        QCOMPARE(target.postgres->port, port);
        QVERIFY(target.postgres->password.isEmpty());
        QVERIFY(target.postgres->dbname == u"qrb"_s || port != 0);
        QCOMPARE(target.postgres->sslrootcert.isEmpty(), target.postgres->sslmode.isEmpty());
    }

    // Over the network: encrypted, and the server's certificate checked against the one it should
    // have; a server under another name (the certificate is for "localhost") is refused.
    void encryptedConnectionChecksTheServer()
    {
        const std::optional<PgServer> server = qrb::test::testServer();
        if (!server) {
            QSKIP("needs the test server (QRB_TEST_PG)");
        }
        qrb::Database admin(u"admin"_s);
        admin.openEmpty(DbTarget::server(*server));
        QCOMPARE(admin.scalar(u"SHOW ssl"_s).toString(), u"on"_s);
        PgServer tls = *server;
        tls.host = u"localhost"_s;
        tls.port = admin.scalar(u"SHOW port"_s).toInt();
        tls.sslmode = u"verify-full"_s;
        tls.sslrootcert = admin.scalar(u"SHOW ssl_cert_file"_s).toString();
        qrb::Database db(u"tls"_s);
        db.openEmpty(DbTarget::server(tls));
        QVERIFY(db.scalar(u"SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()"_s).toBool());
        db.DB_close();
        tls.host = u"127.0.0.1"_s;
        try {
            db.openEmpty(DbTarget::server(tls));
            QFAIL("a certificate for another name was accepted");
        } catch (const DbError &error) {
            QVERIFY2(error.message().contains(u"証明書"_s) && error.message().contains(u"127.0.0.1"_s),
                     qPrintable(error.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TargetTest)
#include "tst_target.moc"
