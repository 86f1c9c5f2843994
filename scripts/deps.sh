#!/usr/bin/env bash
# Installs the Debian packages QRB needs to build, test, package and run, where they are missing.
set -euo pipefail
# qt6-httpserver-dev serves qrb-web (it needs qt6-websockets-dev to be found by CMake); chromium runs
# its browser test. libcurl4-openssl-dev sends qrb-web's mail; python3-aiosmtpd is the mail server its
# tests send to.
packages=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql
          libsqlite3-dev libpq-dev fonts-noto-cjk qt6-translations-l10n xvfb xdotool x11-apps imagemagick postgresql file dpkg-dev
          qt6-httpserver-dev qt6-websockets-dev chromium libcurl4-openssl-dev python3-aiosmtpd)
# Node.js may come from elsewhere than Debian (with its own npm); Debian's is taken only when there is none.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
install_browser_test() {
    # The browser test's driver, exactly as locked.
    (cd tests/web/browser && [ -d node_modules/puppeteer-core ] || npm ci --no-audit --no-fund --silent)
}
cd "$(dirname "$0")/.."
if [ ${#missing[@]} -eq 0 ]; then
    install_browser_test
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q || true
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
install_browser_test
