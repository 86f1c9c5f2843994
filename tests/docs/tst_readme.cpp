// What the README promises of the programs: its setting.ini examples, copied as they stand, start
// them and give every value as meant (a comment written after a value would become part of it, and
// stop qrb-web or change what a page shows); their command lines are answered; the benchmark's first
// design reads without any index.
#include "support/Common.h"

#include "config/IniFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace qrb;

namespace {

// Every indented block of the README whose first line is a [SECTION] header, by that section's name,
// its indentation taken off, as it would be copied out of the page.
QMap<QString, QString> iniExamples()
{
    QFile readme(qEnvironmentVariable("QRB_SOURCE_DIR") + u"/README.md"_s);
    if (!readme.open(QIODevice::ReadOnly)) {
        return {};
    }
    static const QRegularExpression header(u"^( {4,})\\[([A-Z]+)\\]$"_s);
    QMap<QString, QString> examples;
    const QStringList lines = QString::fromUtf8(readme.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = header.match(lines.at(i));
        if (!match.hasMatch() || (i > 0 && !lines.at(i - 1).trimmed().isEmpty())) {
            continue;
        }
        const QString indent = match.captured(1);
        QString block;
        for (; i < lines.size() && lines.at(i).startsWith(indent); ++i) {
            block += lines.at(i).mid(indent.size()) + u"\r\n"_s;
        }
        examples.insert(match.captured(2), block);
    }
    return examples;
}

// A program of the build, by its path below the build folder.
QString built(const QString &program)
{
    return qEnvironmentVariable("QRB_BIN_DIR") + u'/' + program;
}

// A port nobody listens on at this moment.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

// The answer to one GET of `path`: its headers and as much of the body as they announce.
QByteArray get(quint16 port, const QByteArray &path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(1000)) {
        return {};
    }
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    static const QRegularExpression length(u"\r\ncontent-length: *(\\d+)\r\n"_s,
                                           QRegularExpression::CaseInsensitiveOption);
    QByteArray answer;
    while (socket.waitForReadyRead(10000)) {
        answer += socket.readAll();
        const qsizetype end = answer.indexOf("\r\n\r\n");
        const QRegularExpressionMatch match = length.match(QString::fromLatin1(answer.left(end + 2)));
        if (end >= 0 && match.hasMatch() && answer.size() >= end + 4 + match.captured(1).toLongLong()) {
            break;
        }
    }
    return answer;
}

} // namespace

class ReadmeTest : public QObject
{
    Q_OBJECT

private slots:
    // A new example of setting.ini in the README belongs in the tests below as well.
    void theExamplesAreFound()
    {
        QCOMPARE(iniExamples().keys(), (QStringList{u"CLOSED"_s, u"DATABASE"_s, u"MAIL"_s, u"POSTGRESQL"_s, u"WEB"_s}));
    }

    // The desk's example with the clinic's closed days and the [WEB] and [MAIL] sections, in one folder
    // with a database: the report runs, the closed days are read without a complaint, and qrb-web
    // takes every setting and answers with the clinic's name and telephone number exactly as written.
    void theProgramsRunOnTheExamples()
    {
        const QMap<QString, QString> examples = iniExamples();
        QTemporaryDir folder;
        QCOMPARE(test::runProgram(built(u"tools/qrb-initdb"_s), {u"yoyaku.db"_s, u"--places"_s, u"5"_s},
                                  folder.path())
                     .code,
                 0);
        // The port is the one thing changed: 8080 may be taken on the machine that runs the tests.
        const quint16 port = freePort();
        QString web = examples.value(u"WEB"_s);
        QVERIFY(web.contains(u"\r\nPORT=8080\r\n"_s));
        web.replace(u"\r\nPORT=8080\r\n"_s, u"\r\nPORT=%1\r\n"_s.arg(port));
        QVERIFY(test::writeFileBytes(folder.filePath(u"setting.ini"_s),
                                     (examples.value(u"DATABASE"_s) + examples.value(u"CLOSED"_s) + web
                                      + examples.value(u"MAIL"_s))
                                         .toUtf8()));
        QVERIFY(test::writeFileBytes(folder.filePath(u"mail-password"_s), "secret\n"));

        const Config config = ini_read_all(folder.path());
        QCOMPARE(config.CLOSED.problems(), QStringList());
        QVERIFY(config.CLOSED.closedReason(QDate(2026, 11, 20)).has_value());
        QVERIFY(config.CLOSED.closedReason(QDate(2027, 1, 3)).has_value());
        QVERIFY(!config.CLOSED.closedReason(QDate(2026, 11, 19)).has_value());

        const test::Run report =
            test::runProgram(built(u"tools/qrb-report"_s), {u"daily"_s, u"2026/11/20"_s}, folder.path());
        QVERIFY2(report.code == 0, qPrintable(report.err));
        QCOMPARE(QDir::cleanPath(QDir(folder.path()).absoluteFilePath(report.out)),
                 QDir::cleanPath(folder.filePath(u"reports/日報.txt"_s)));
        QVERIFY(QFile(folder.filePath(u"reports/日報.txt"_s)).size() > 0);

        QProcess server;
        server.setWorkingDirectory(folder.path());
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(built(u"tools/qrb-web"_s), {});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.state() == QProcess::NotRunning || listening(port), 30000);
        QCOMPARE(server.state(), QProcess::Running);
        const QByteArray page = get(port, "/");
        QVERIFY2(page.startsWith("HTTP/1.1 200"), page.constData());
        const QString text = QString::fromUtf8(page);
        QVERIFY2(text.contains(u">○○内科</a>"_s) && text.contains(u">03-1234-5678</a>"_s), qPrintable(text));
        server.kill();
        server.waitForFinished();
    }

    // The several-workstations example names the server as meant, encrypted and checked.
    void thePostgresqlExampleNamesTheServer()
    {
        QTemporaryDir folder;
        const QMap<QString, QString> examples = iniExamples();
        QVERIFY(test::writeFileBytes(folder.filePath(u"setting.ini"_s),
                                     (examples.value(u"DATABASE"_s) + examples.value(u"POSTGRESQL"_s)).toUtf8()));
        const DbTarget target = ini_read_all(folder.path()).databaseTarget();
        QVERIFY(target.postgres.has_value());
        QCOMPARE(target.postgres->connInfo(), u"host=qrb-server.clinic.lan port=5432 dbname=qrb user=qrb "
                                              u"sslmode=verify-full sslrootcert=/etc/qrb/qrb-server.crt"_s);
    }

    // A command line a program cannot follow is named in one line, before anything starts; help is
    // printed and ends well.
    void commandLinesAreAnswered_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("line");
        const QString noFolder = u"qrb: --workspace の後に作業フォルダ(setting.ini のあるフォルダ)を指定してください。"_s;
        QTest::newRow("workspace without its folder") << u"qrb"_s << QStringList{u"--workspace"_s} << 2 << noFolder;
        QTest::newRow("short workspace without its folder") << u"qrb"_s << QStringList{u"-w"_s} << 2 << noFolder;
        QTest::newRow("empty workspace") << u"qrb"_s << QStringList{u"--workspace="_s} << 2 << noFolder;
        QTest::newRow("a word too many") << u"qrb"_s << QStringList{u"demo"_s} << 2 << u"qrb: 余分な引数です: demo"_s;
        QTest::newRow("bench help") << u"tools/qrb-bench"_s << QStringList{u"--help"_s} << 0
                                    << u"usage: qrb-bench [--rows N] [--runs R] [--json FILE] [--dir FOLDER] "
                                       u"[--pg CONNECTION] [--keep] [--reuse]"_s;
        QTest::newRow("bench value missing") << u"tools/qrb-bench"_s << QStringList{u"--rows"_s} << 2
                                             << u"qrb-bench: unknown option or missing value: --rows"_s;
    }
    void commandLinesAreAnswered()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, line);
        const test::Run run = test::runProgram(built(program), arguments);
        QCOMPARE(run.code, code);
        const QString said = code == 0 ? run.out : run.err;
        QVERIFY2(said.split(u'\n').contains(line), qPrintable(said));
    }

    // The month grid as first designed counts every slot of every day by reading the whole table: no
    // index the program added since may answer those counts.
    void theBenchBaselineReadsWithoutIndex()
    {
        QTemporaryDir folder;
        const test::Run bench = test::runProgram(
            built(u"tools/qrb-bench"_s), {u"--rows"_s, u"2000"_s, u"--runs"_s, u"1"_s, u"--dir"_s, folder.path()});
        QVERIFY2(bench.code == 0, qPrintable(bench.err));
        const QStringList rows = bench.out.split(u'\n').filter(u"ten counts a day, no index"_s);
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.first().contains(u"SCAN YOYAKU;"_s) && !rows.first().contains(u"INDEX"_s), qPrintable(rows.first()));
    }
};

QTEST_GUILESS_MAIN(ReadmeTest)
#include "tst_readme.moc"
