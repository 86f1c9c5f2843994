#!/usr/bin/env bash
# Installs what is missing, builds, starts a throwaway PostgreSQL server, and runs every test: each on
# SQLite, and each database test a second time on that server (<name>_pg). A server that does not
# start fails the run; the server and its folder are gone afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
root=$PWD
call deps.sh test
call build.sh -DQRB_BUILD_TESTS=ON -DQRB_TEST_POSTGRESQL=ON "$@"

pgdir=$(mktemp -d /tmp/qrb-pg.XXXXXX)
cleanup() {
    if bash "$root/scripts/pg-server.sh" stop "$pgdir"; then
        rm -rf "$pgdir"
    else
        echo "test.sh: the PostgreSQL server in $pgdir did not stop; stop it with bash scripts/pg-server.sh stop $pgdir" >&2
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
QRB_TEST_PG=$(bash "$root/scripts/pg-server.sh" start "$pgdir") || exit $?
export QRB_TEST_PG

cd build
if ! ctest -N -R '_pg$' | grep -q 'Total Tests: [1-9]'; then
    echo "test.sh: no PostgreSQL tests are registered in build/; run it again without -DQRB_TEST_POSTGRESQL=OFF or -DQRB_BUILD_TESTS=OFF" >&2
    exit 1
fi
step "the tests" "the failed ones are listed above; run one alone with (cd build && ctest -R NAME --output-on-failure)" \
    ctest --output-on-failure -j"$(nproc)"
