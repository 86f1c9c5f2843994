#!/usr/bin/env bash
# Builds the Debian package of QRB with CPack and prints its path, build/package/qrb_<version>_<arch>.deb.
# Reuses build/ when it exists (as scripts/test.sh leaves it), unless it is a sanitizer build, which is
# refused; otherwise builds the programs without the tests. With --lintian the package is also checked
# by lintian, whose errors fail the run, and its desktop entry by desktop-file-validate.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
check=0
case "${1:-}" in
    --lintian) check=1 ;;
    "") ;;
    *) echo "usage: $0 [--lintian]" >&2; exit 2 ;;
esac

# The version the package is given must have its entry in the changelog it carries.
version=$(sed -n 's/^project(QRB VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
if ! head -1 packaging/changelog | grep -q "^qrb ($version) "; then
    echo "package.sh: packaging/changelog has no entry for version $version at its top; add one" >&2
    exit 1
fi
# Programs built with the sanitizers are slower, need their runtime libraries and print their findings
# into a clinic's terminal: they are for the tests only.
if grep -qx 'QRB_SANITIZE:BOOL=ON' build/CMakeCache.txt 2>/dev/null; then
    echo "package.sh: build/ is a sanitizer build (QRB_SANITIZE=ON), which is never packaged; rebuild it with bash scripts/build.sh -DQRB_SANITIZE=OFF, then run package.sh again" >&2
    exit 1
fi

# Clean means silent: the validator prints hints and warnings too, and exits 0 on them.
validate_desktop_entry() {
    local findings
    findings=$(desktop-file-validate packaging/qrb.desktop 2>&1)
    [ -z "$findings" ] || { echo "$findings"; return 1; }
}

call deps.sh package >&2
if [ -f build/CMakeCache.txt ]; then
    call build.sh >&2
else
    call build.sh -DQRB_BUILD_TESTS=OFF >&2
fi
rm -f build/package/qrb_*.deb
step "cpack" "its messages above say which file or tool it missed" env -C build cpack -G DEB >&2
deb=$(ls build/package/qrb_*.deb)
if [ "$check" -eq 1 ]; then
    step "lintian on $deb" "its findings are above; mend the packaging (CMakeLists.txt, packaging/) and build again" \
        lintian --fail-on error --info "$deb" >&2
    step "desktop-file-validate packaging/qrb.desktop" "its findings are above; mend the entry and build again" \
        validate_desktop_entry >&2
fi
echo "$deb"
