#!/usr/bin/env bash
# Installs, where they are missing, the Debian packages one of QRB's commands needs:
#   bash scripts/deps.sh run       building the programs and running the desk (scripts/run.sh)
#   bash scripts/deps.sh test      that, and the test tools (scripts/test.sh)
#   bash scripts/deps.sh package   that, and the packaging tools (scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh

# Building and running the desk. qt6-httpserver-dev serves qrb-web (it needs qt6-websockets-dev to be
# found by CMake); libpq-dev is the bare client qrb-bench compares with. Without fonts-noto-cjk the
# screens show boxes, without qt6-translations-l10n Qt's own buttons read English; without tzdata
# qrb-web cannot keep the clinic's time zone. libcurl4-openssl-dev sends qrb-web's mail.
run_packages=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql
              libsqlite3-dev libpq-dev qt6-httpserver-dev qt6-websockets-dev fonts-noto-cjk qt6-translations-l10n
              tzdata libcurl4-openssl-dev)
# The tests: a throwaway PostgreSQL server, chromium for the browser test, Xvfb with the tools for
# looking at the desk and taking pictures of it, strace, which kills a restore at each of its steps, and
# python3-aiosmtpd, the mail server qrb-web's mail is sent to.
test_packages=(postgresql chromium xvfb xdotool x11-apps imagemagick strace python3-aiosmtpd)
# Node.js may come from elsewhere than Debian (with its own npm); Debian's is taken only when there is none.
command -v node >/dev/null || test_packages+=(nodejs)
command -v npm >/dev/null || test_packages+=(npm)
# The Debian package: what CPack needs to find its dependencies, and the checks of what it made.
package_packages=(dpkg-dev file lintian desktop-file-utils)

case "${1:-}" in
    run) packages=("${run_packages[@]}") ;;
    test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
    *)
        echo "usage: $0 run|test|package" >&2
        exit 2
        ;;
esac

# One question to dpkg for all of them (it fails on one it has never heard of, which is missing too).
installed=$(dpkg-query -W -f='${Status}|${Package}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
    grep -qx "install ok installed|$p" <<<"$installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "deps.sh: ${missing[*]} must be installed, which needs root; run bash scripts/deps.sh $1 as root (or install sudo)" >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    # Lists that cannot be fetched may still name the packages; installing tells whether they do.
    "${sudo[@]}" apt-get update -q >&2 || true
    step "apt-get install ${missing[*]}" \
        "check the network and the apt sources (apt-get update), then run bash scripts/deps.sh $1 again" \
        "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

# The browser test's driver, exactly as locked: only the tests need it, and it comes from the npm
# registry, so neither running the desk nor packaging ever waits for that registry.
if [ "$1" = test ] && { [ ! -d tests/web/browser/node_modules/puppeteer-core ] || [ ! -d tests/web/browser/node_modules/axe-core ]; }; then
    step "npm ci in tests/web/browser" \
        "check that the npm registry is reachable (npm config get registry), then run bash scripts/deps.sh test again" \
        env -C tests/web/browser npm ci --no-audit --no-fund --silent >&2
fi
