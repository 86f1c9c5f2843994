#!/usr/bin/env bash
# Builds the Debian package of QRB with CPack and prints its path, build/package/qrb_<version>_<arch>.deb.
# Reuses build/ when it exists (as scripts/test.sh leaves it); otherwise builds the programs without
# the tests. With --lintian the package is also checked by lintian (apt-get install lintian), and
# errors fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
case "${1:-}" in
    --lintian) check=1 ;;
    "") ;;
    *) echo "usage: $0 [--lintian]" >&2; exit 2 ;;
esac

# The version the package is given must have its entry in the changelog it carries.
version=$(sed -n 's/^project(QRB VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
if ! head -1 packaging/changelog | grep -q "^qrb ($version) "; then
    echo "package.sh: packaging/changelog has no entry for version $version at its top" >&2
    exit 1
fi

bash scripts/deps.sh >&2
if [ -f build/CMakeCache.txt ]; then
    bash scripts/build.sh >&2
else
    bash scripts/build.sh -DQRB_BUILD_TESTS=OFF >&2
fi
rm -f build/package/qrb_*.deb
(cd build && cpack -G DEB >&2)
deb=$(ls build/package/qrb_*.deb)
if [ "$check" -eq 1 ]; then
    lintian --fail-on error --info "$deb" >&2
fi
echo "$deb"
