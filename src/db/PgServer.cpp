// The PostgreSQL server several workstations share: connection strings, connecting with the session
// QRB needs, and the server's own compaction (VACUUM).
#include "Database.h"

#include "DbInternal.h"
#include "History.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace qrb {

namespace {

// libpq's quoting: a value that is empty or holds blanks, quotes or backslashes goes between single
// quotes, with quotes and backslashes escaped.
QString quoteConnValue(const QString &value)
{
    const bool plain = !value.isEmpty() && std::none_of(value.begin(), value.end(), [](QChar c) {
        return c.isSpace() || c == u'\'' || c == u'\\';
    });
    if (plain) {
        return value;
    }
    QString quoted = value;
    quoted.replace(u'\\', u"\\\\"_s).replace(u'\'', u"\\'"_s);
    return u'\'' + quoted + u'\'';
}

int parsePort(const QString &text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        throw DbError(u"ポート番号が正しくありません: %1\n1〜65535 の数字で指定してください。"_s.arg(text));
    }
    return port;
}

// Both tables, looked up as every statement names them (unquoted, so folded to lower case).
bool pgHasTables(QSqlDatabase &db, QString &failure)
{
    QSqlQuery probe(db);
    if (!probe.exec(u"SELECT to_regclass('yoyaku') IS NOT NULL, to_regclass('setting') IS NOT NULL"_s)
        || !probe.next()) {
        failure = engineReason(probe.lastError());
        return false;
    }
    return probe.value(0).toBool() && probe.value(1).toBool();
}

// The certificate of the authority the server's certificate is checked against, when it is checked
// and that file is missing or cannot be read: the client library's own words for it would read as if
// the server were an impostor.
std::optional<QString> missingRootCertificate(const PgServer &server)
{
    if (server.sslmode != u"verify-ca"_s && server.sslmode != u"verify-full"_s) {
        return std::nullopt;
    }
    // Where the client library looks when setting.ini names no file.
    QString file = server.sslrootcert;
    if (file.isEmpty()) {
        file = qEnvironmentVariableIsEmpty("PGSSLROOTCERT") ? QDir::homePath() + u"/.postgresql/root.crt"_s
                                                           : qEnvironmentVariable("PGSSLROOTCERT");
    }
    const QFileInfo info(file);
    if (info.isFile() && info.isReadable()) {
        return std::nullopt;
    }
    return u"サーバーの証明書を確かめるための認証局の証明書のファイル%1: %2\n"
           u"setting.ini の SSLROOTCERT に、サーバーの証明書に署名した認証局の証明書のファイルを指定してください。"_s.arg(
               info.exists() ? u"を読めません"_s : u"がありません"_s, QDir::toNativeSeparators(file));
}

} // namespace

void checkSsl(const PgServer &server)
{
    static const QStringList modes = {u"disable"_s, u"allow"_s,     u"prefer"_s,
                                      u"require"_s, u"verify-ca"_s, u"verify-full"_s};
    if (!server.sslmode.isEmpty() && !modes.contains(server.sslmode)) {
        throw DbError(u"SSLMODE が正しくありません: %1\n"
                      u"require, verify-ca, verify-full のいずれかを指定してください(推奨は verify-full)。"_s.arg(
                          server.sslmode));
    }
    // The client library's options reach it as one text in which ";" separates them.
    if (server.sslrootcert.contains(u';')) {
        throw DbError(u"SSLROOTCERT のファイル名に「;」は使えません: %1"_s.arg(server.sslrootcert));
    }
}

QString pgServerName(const PgServer &server)
{
    const QString host = server.host.isEmpty() ? u"(既定)"_s : server.host;
    const QString port = server.port > 0 ? QString::number(server.port) : u"(既定)"_s;
    const QString name = server.dbname.isEmpty() ? u"(既定)"_s : server.dbname;
    return u"PostgreSQL データベース %1 (サーバー %2、ポート %3)"_s.arg(name, host, port);
}

QString PgServer::connInfo() const
{
    QStringList parts;
    const auto add = [&](const QString &key, const QString &value) {
        if (!value.isEmpty()) {
            parts << key + u'=' + quoteConnValue(value);
        }
    };
    add(u"host"_s, host);
    add(u"port"_s, port > 0 ? QString::number(port) : QString());
    add(u"dbname"_s, dbname);
    add(u"user"_s, user);
    add(u"password"_s, password);
    add(u"sslmode"_s, sslmode);
    add(u"sslrootcert"_s, sslrootcert);
    return parts.join(u' ');
}

PgServer PgServer::fromConnInfo(const QString &text)
{
    PgServer server;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace()) {
            ++i;
        }
    };
    const auto malformed = [&] {
        return DbError(u"接続文字列が正しくありません: %1\n"
                       u"例: host=/var/run/postgresql port=5432 dbname=qrb user=qrb"_s.arg(text));
    };
    while (true) {
        skipBlanks();
        if (i >= n) {
            break;
        }
        const qsizetype keyStart = i;
        while (i < n && text.at(i) != u'=' && !text.at(i).isSpace()) {
            ++i;
        }
        const QString key = text.mid(keyStart, i - keyStart);
        skipBlanks();
        if (key.isEmpty() || i >= n || text.at(i) != u'=') {
            throw malformed();
        }
        ++i;
        skipBlanks();
        QString value;
        if (i < n && text.at(i) == u'\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value += text.at(i++);
                } else if (c == u'\'') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed) {
                throw malformed();
            }
        } else {
            while (i < n && !text.at(i).isSpace()) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value += text.at(i++);
                } else {
                    value += c;
                }
            }
        }
        if (key == u"host"_s) {
            server.host = value;
        } else if (key == u"port"_s) {
            server.port = parsePort(value);
        } else if (key == u"dbname"_s) {
            server.dbname = value;
        } else if (key == u"user"_s) {
            server.user = value;
        } else if (key == u"password"_s) {
            server.password = value;
        } else if (key == u"sslmode"_s) {
            server.sslmode = value;
        } else if (key == u"sslrootcert"_s) {
            server.sslrootcert = value;
        } else {
            throw DbError(u"接続文字列のキー %1 は使えません(使えるのは host, port, dbname, user, password, "
                          u"sslmode, sslrootcert)。"_s.arg(key));
        }
    }
    checkSsl(server);
    return server;
}

QSqlDatabase connectPgServer(const QString &connectionName, const PgServer &server)
{
    checkSsl(server);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_s, connectionName);
        db.setHostName(server.host);
        if (server.port > 0) {
            db.setPort(server.port);
        }
        db.setDatabaseName(server.dbname);
        db.setUserName(server.user);
        db.setPassword(server.password);
        // A server that does not answer is reported within seconds rather than freezing the desk.
        QString options = u"connect_timeout=10;application_name=QRB"_s;
        if (!server.sslmode.isEmpty()) {
            options += u";sslmode="_s + server.sslmode;
        }
        if (!server.sslrootcert.isEmpty()) {
            options += u";sslrootcert="_s + quoteConnValue(server.sslrootcert);
        }
        db.setConnectOptions(options);
        if (const std::optional<QString> missing = missingRootCertificate(server)) {
            failure = *missing;
        } else if (!db.open()) {
            failure = engineReason(db.lastError());
            // The client library's reason is English and technical; say what it means for the desk.
            if (failure.contains(u"certificate"_s, Qt::CaseInsensitive)) {
                failure = u"サーバーの証明書を確認できません。接続先が本物のサーバーでないおそれがあります。"
                          u"setting.ini の HOST が証明書の名前と一致しているか、SSLROOTCERT が正しいかを"
                          u"確認してください。\n("_s
                          + failure + u')';
            }
        } else {
            // The session settings every statement relies on, whatever the server's defaults:
            // '\' in ESCAPE '\' is one backslash; a writer waits at most 10 s for another one's lock
            // (as long as SQLite's busy timeout) and then fails with a message instead of hanging;
            // a workstation that stops in the middle of a transaction (a frozen PC, a dropped
            // network) loses its transaction after a minute instead of blocking the others; a
            // booking is reported stored only once the server has it on its disk; and no statement
            // is compiled to machine code, which costs a search more than it saves on the desk's
            // small results.
            const QStringList settings = {
                u"SET standard_conforming_strings = on"_s,
                u"SET synchronous_commit = on"_s,
                u"SET lock_timeout = '%1ms'"_s.arg(LockWaitMs),
                u"SET idle_in_transaction_session_timeout = '60s'"_s,
                u"SET jit = off"_s,
            };
            for (const QString &sql : settings) {
                QSqlQuery set(db);
                if (!set.exec(sql)) {
                    failure = engineReason(set.lastError());
                    break;
                }
            }
            if (!failure.isEmpty()) {
                db.close();
            }
        }
    }
    if (!failure.isEmpty()) {
        QSqlDatabase::removeDatabase(connectionName);
        throw DbError(u"データベースサーバーに接続できません。\n%1\n理由: %2\n"
                      u"setting.ini の [POSTGRESQL] (HOST, PORT, DBNAME, USER, PASSWORD, SSLMODE, SSLROOTCERT) と、"
                      u"サーバーが動いていることを確認してください。"_s.arg(pgServerName(server), failure));
    }
    return QSqlDatabase::database(connectionName, false);
}

void Database::openServer(const PgServer &server, bool requireTables)
{
    QSqlDatabase db = connectPgServer(m_connectionName, server);
    QString failure;
    if (!pgHasTables(db, failure) && requireTables && failure.isEmpty()) {
        failure = u"予約データベース(YOYAKU, SETTING)ではありません。"_s;
    }
    if (!failure.isEmpty()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw DbError(u"データベースを開けません。\n%1\n理由: %2"_s.arg(pgServerName(server), failure));
    }
}

void Database::vacuumServer(const PgServer &server)
{
    const QString name = m_connectionName + u"-compact"_s;
    QString failure;
    {
        QSqlDatabase db = connectPgServer(name, server);
        QSqlQuery query(db);
        // VACUUM only warns, and does nothing, on a table its user may not vacuum: ask first, so that
        // the maintenance screen never reports a compaction that did not happen.
        if (!query.exec(u"SELECT COUNT(*) FROM pg_class c, pg_database d "
                        "WHERE d.datname = current_database() "
                        "AND c.oid IN (to_regclass('yoyaku'), to_regclass('setting')) "
                        "AND (pg_has_role(c.relowner, 'USAGE') OR pg_has_role(d.datdba, 'USAGE'))"_s)
            || !query.next()) {
            failure = engineReason(query.lastError());
        } else if (query.value(0).toInt() != 2) {
            failure = u"テーブル YOYAKU, SETTING を最適化(VACUUM)する権限がありません。"
                      u"テーブルの所有者のユーザーで接続してください。"_s;
        } else {
            query.finish();
            // Outside any transaction: VACUUM cannot run inside one.
            if (!query.exec(u"VACUUM (ANALYZE) YOYAKU, SETTING"_s)) {
                failure = engineReason(query.lastError());
            } else {
                // VACUUM cannot share a transaction with the row; it changes no reservation, so the row
                // follows it, and a failure to write the row is told like any other.
                query.prepare(historyInsertStatement());
                for (const QVariant &value : historyValues(compactionEntry(m_actor))) {
                    query.addBindValue(value);
                }
                if (!query.exec()) {
                    failure = engineReason(query.lastError());
                }
            }
        }
        query = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!failure.isEmpty()) {
        throw DbError(u"データベースの最適化に失敗しました。データベースは元のままです。\n%1\n理由: %2"_s.arg(
            pgServerName(server), failure));
    }
}

} // namespace qrb
