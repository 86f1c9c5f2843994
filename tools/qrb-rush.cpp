// qrb-rush: the season-opening rush on qrb-web, on SQLite or (--pg) PostgreSQL. A benchmark, not a test.
#include "rush/Rush.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"qrb-rush"_s);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Many patients book the same few days on qrb-web at once, beside two desks; prints requests/s, "
        "bookings/s, p50/p99 latency per page and the invariants (exit 1 when one breaks)."_s);
    parser.addHelpOption();
    const QCommandLineOption clients(u"clients"_s, u"browsers at once (default 64)"_s, u"N"_s, u"64"_s);
    const QCommandLineOption days(u"days"_s, u"days everybody books (default 3)"_s, u"N"_s, u"3"_s);
    const QCommandLineOption places(u"places"_s, u"places per slot (default 20)"_s, u"N"_s, u"20"_s);
    const QCommandLineOption pg(u"pg"_s, u"PostgreSQL server to run on (a database is made and dropped)"_s,
                                u"CONNINFO"_s);
    const QCommandLineOption json(u"json"_s, u"write the figures to FILE"_s, u"FILE"_s);
    const QCommandLineOption workers(
        u"workers"_s, u"qrb-web's WORKERS for the second run, after one with a single worker (default: one per core)"_s,
        u"N"_s, QString::number(QThread::idealThreadCount()));
    parser.addOptions({clients, days, places, pg, json, workers});
    parser.process(app);
    qrb::rush::Options o;
    o.clients = qMax(1, parser.value(clients).toInt());
    o.days = qMax(1, parser.value(days).toInt());
    o.places = qMax(1, parser.value(places).toInt());
    o.pg = parser.value(pg);
    o.json = parser.value(json);
    o.workers = qBound(1, parser.value(workers).toInt(), 64);
    const int breaks = qrb::rush::runRush(o);
    return breaks == 0 ? 0 : breaks < 0 ? 2 : 1;
}
