// qrb-bench: seeds a database with many reservations and times what reception does with it,
// through the same db/ and report code the screens call. For every read it also times the same
// result produced with the bare SQLite C API on the same file (the engine's floor).
#include "bench/Bench.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return qrb::bench::run(QCoreApplication::arguments());
}
