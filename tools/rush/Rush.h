#pragma once

#include <QString>

namespace qrb::rush {

struct Options {
    int clients = 64; // patients' browsers at once
    int days = 3;     // the few days everybody wants
    int places = 20;  // places in every slot
    QString pg;       // a PostgreSQL server ("host=… user=… dbname=…"); empty: a SQLite file
    QString json;     // where to write the figures, as qrb-bench writes them
    int workers = 2;  // qrb-web's WORKERS for the second run (the first has one); 1: one run only
};

// The season opens: `clients` browsers book the same few days on a running qrb-web until they are
// full, while two desks book the same slots through the db code; then the invariants are checked
// and the same bookings are made through the db code alone (the floor). It runs with one worker, then
// again with `workers`, and sets the two side by side. Returns the number of invariant breaks (0 when
// all held), or -1 when the rush could not run.
int runRush(const Options &options);

} // namespace qrb::rush
