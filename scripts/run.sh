#!/usr/bin/env bash
# Installs what the desk needs where it is missing, builds the programs, and starts QRB on the demo
# workspace in demo/ (made on first run: a setting.ini and a database offering 5 places in every slot).
# The tests and their tools are left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh

call deps.sh run
call build.sh qrb qrb-initdb qrb-report qrb-restore qrb-web
mkdir -p demo
# The database before the settings: a demo/ without setting.ini is made again from here on, and
# qrb-initdb never overwrites a database a previous run made.
if [ ! -f demo/setting.ini ]; then
    if [ ! -f demo/yoyaku.db ]; then
        step "making the demo database demo/yoyaku.db" "build/tools/qrb-initdb said why above; remove demo/ and run bash scripts/run.sh again" \
            build/tools/qrb-initdb demo/yoyaku.db --places 5 >/dev/null
    fi
    printf '[PROJECT_NAME]\r\nPNM=QRB\r\n[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=.\r\n[TEXTFILE]\r\nTXTPATH=./reports/\r\n' \
        >demo/setting.ini
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run.sh: there is no display to open the desk on (DISPLAY and WAYLAND_DISPLAY are empty); run it in a terminal of the desktop session" >&2
    exit 1
fi
cd demo
exec ../build/qrb
