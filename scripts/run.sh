#!/usr/bin/env bash
# Installs what is missing, builds, and starts QRB on the demo workspace in demo/ (made on first run:
# a setting.ini and a database offering 5 places in every slot).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
if [ ! -f demo/setting.ini ]; then
    mkdir -p demo
    build/tools/qrb-initdb demo/yoyaku.db --places 5 >/dev/null
    printf '[PROJECT_NAME]\r\nPNM=QRB\r\n[DATABASE]\r\nSYS0=yoyaku.db\r\n[SERVER]\r\nSVNM=.\r\n[TEXTFILE]\r\nTXTPATH=./reports/\r\n' \
        > demo/setting.ini
fi
cd demo
exec ../build/qrb
