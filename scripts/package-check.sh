#!/usr/bin/env bash
# The Debian package as an administrator meets it: built (reusing build/ from scripts/test.sh),
# installed with apt-get, which must pull every dependency; the programs run from /usr/bin on a new
# workspace and the desk starts offscreen to its help screen; then purged, leaving no file behind.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

fail() {
    echo "package-check: $*" >&2
    exit 1
}
installed() {
    dpkg-query -W -f='${Status}' qrb 2>/dev/null | grep -q 'install ok installed'
}

deb=$(bash scripts/package.sh)
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d /tmp/qrb-package.XXXXXX)
cleanup() {
    if installed; then
        $sudo apt-get purge -y -q qrb >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# apt reads the file as its own unprivileged user.
chmod 755 "$work"
cp "$deb" "$work/"
if installed; then
    $sudo apt-get purge -y -q qrb >/dev/null
fi
if ! $sudo apt-get install -y -q "$work/$(basename "$deb")" >"$work/apt.log" 2>&1; then
    # A machine whose package lists are older than its archive: once more with fresh ones.
    $sudo apt-get update -q >/dev/null
    $sudo apt-get install -y -q "$work/$(basename "$deb")" >"$work/apt.log" 2>&1 || {
        cat "$work/apt.log" >&2
        fail "apt-get install failed"
    }
fi
dpkg-query -L qrb >"$work/files"

programs="qrb qrb-initdb qrb-report qrb-restore"
unit=/lib/systemd/system/qrb-web.service
if grep -qx /usr/bin/qrb-web "$work/files"; then
    programs+=" qrb-web"
    grep -qx "$unit" "$work/files" || fail "the package has qrb-web but not its unit"
fi
for program in $programs; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    [ "$("/usr/bin/$program" --version)" = "$program $version" ] || fail "$program --version is not '$program $version'"
    usage=$("/usr/bin/$program" --help) || fail "$program --help failed"
    grep -q "$program" <<<"$usage" || fail "$program --help shows no usage"
    grep -qx "/usr/share/man/man1/$program.1.gz" "$work/files" || fail "$program has no manual page"
    grep -qx "/usr/share/man/ja/man1/$program.1.gz" "$work/files" || fail "$program has no Japanese manual page"
done
for file in /usr/share/applications/qrb.desktop /usr/share/icons/hicolor/scalable/apps/qrb.svg \
            /usr/share/icons/hicolor/48x48/apps/qrb.png /usr/share/qrb/setting.ini; do
    grep -qx "$file" "$work/files" || fail "the package lacks $file"
done

# A new workspace, made as the manual page says.
ws="$work/QRB"
mkdir "$ws"
/usr/bin/qrb-initdb "$ws/yoyaku.db" --places 5 >/dev/null
cp /usr/share/qrb/setting.ini "$ws/"
report=$(cd "$ws" && /usr/bin/qrb-report daily 2026/12/07) || fail "qrb-report failed on a new workspace"
(cd "$ws" && [ -s "$report" ]) || fail "qrb-report wrote no daily report ($report)"
started=$(cd / && QT_QPA_PLATFORM=offscreen QRB_QUIT_WHEN_SHOWN=1 timeout 120 /usr/bin/qrb --workspace "$ws") ||
    fail "qrb did not start on a new workspace"
grep -q '^VmHWM:' <<<"$started" || fail "qrb did not reach its help screen"

# The unit as installed: well formed, and hardened (its exposure as systemd rates it, 0 to 100).
if grep -qx "$unit" "$work/files" && command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify finds fault with $unit"
    systemd-analyze security --offline=yes --threshold=20 "$unit" >"$work/security.log" 2>&1 ||
        { cat "$work/security.log" >&2; fail "$unit is less hardened than it was (systemd-analyze security)"; }
fi

# An administrator who enabled the service: purging must take its links along.
if grep -qx "$unit" "$work/files" && command -v systemctl >/dev/null; then
    $sudo systemctl enable qrb-web.service >/dev/null 2>&1
    [ -L /etc/systemd/system/multi-user.target.wants/qrb-web.service ] || fail "qrb-web.service could not be enabled"
fi

$sudo apt-get purge -y -q qrb >/dev/null
! installed || fail "qrb is still installed after the purge"
! ls /var/lib/dpkg/info/qrb.* >/dev/null 2>&1 || fail "dpkg still holds files of qrb"
left=""
while IFS= read -r path; do
    # Folders the system shares (/usr/bin …) stay; anything of ours must be gone.
    if [ -e "$path" ] && ! [ -d "$path" ]; then
        left+=" $path"
    fi
done <"$work/files"
for path in /usr/share/qrb /usr/share/doc/qrb /etc/systemd/system/multi-user.target.wants/qrb-web.service \
            /var/lib/systemd/deb-systemd-helper-enabled/qrb-web.service.dsh-also; do
    if [ -e "$path" ] || [ -L "$path" ]; then
        left+=" $path"
    fi
done
[ -z "$left" ] || fail "left behind after the purge:$left"
echo "package-check: $(basename "$deb") installed, ran and was purged without a trace"
