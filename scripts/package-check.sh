#!/usr/bin/env bash
# The Debian package as an administrator meets it: built (reusing build/ from scripts/test.sh) and
# checked by lintian, installed with apt-get, which must pull every dependency; the examples of the
# installed manual pages run as printed, in a home of their own, and the menu entry's command starts
# the desk offscreen to its help screen on the workspace they made; then purged, leaving no file behind.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

fail() {
    echo "package-check: $*; mend it and run bash scripts/package-check.sh again" >&2
    exit 1
}
installed() {
    dpkg-query -W -f='${Status}' qrb 2>/dev/null | grep -q 'install ok installed'
}

deb=$(bash scripts/package.sh --lintian) || exit $?
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
        fail "apt-get install of the package failed (its log is above)"
    }
fi
dpkg-query -L qrb >"$work/files"

programs="qrb qrb-initdb qrb-report qrb-restore qrb-web"
unit=/lib/systemd/system/qrb-web.service
for program in $programs; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    [ "$("/usr/bin/$program" --version)" = "$program $version" ] || fail "$program --version is not '$program $version'"
    usage=$("/usr/bin/$program" --help) || fail "$program --help failed"
    grep -q "$program" <<<"$usage" || fail "$program --help shows no usage"
    grep -qx "/usr/share/man/man1/$program.1.gz" "$work/files" || fail "$program has no manual page"
    grep -qx "/usr/share/man/ja/man1/$program.1.gz" "$work/files" || fail "$program has no Japanese manual page"
done
for file in "$unit" /usr/share/applications/qrb.desktop /usr/share/icons/hicolor/scalable/apps/qrb.svg \
            /usr/share/icons/hicolor/48x48/apps/qrb.png /usr/share/qrb/setting.ini; do
    grep -qx "$file" "$work/files" || fail "the package lacks $file"
done

# The commands of a manual page's examples, as man prints them: the lines between .nf and .fi.
examples() {
    gzip -dc "$1" | sed -n '/^\.nf/,/^\.fi/{/^\./d;s/\\-/-/g;p}'
}
# Every example as an administrator copies it from the page, in page order, each language in a home of
# its own (the examples make the workspace the menu entry opens); then that entry's own command.
for pages in /usr/share/man/man1 /usr/share/man/ja/man1; do
    home="$work/home-$(basename "$(dirname "$pages")")"
    mkdir "$home"
    script="$work/examples.sh"
    : >"$script"
    for program in $programs; do
        examples "$pages/$program.1.gz" >>"$script"
    done
    grep -q qrb-initdb "$script" || fail "$pages has no example that makes a workspace"
    (cd "$home" && HOME="$home" bash -euo pipefail "$script" >"$work/examples.log" 2>&1) || {
        cat "$script" "$work/examples.log" >&2
        fail "an example of the manual pages in $pages failed as printed"
    }
    ls "$home"/QRB/reports/*.txt >/dev/null 2>&1 || fail "the examples in $pages wrote no report"
    command=$(sed -n 's/^Exec=//p' /usr/share/applications/qrb.desktop)
    started=$(cd / && HOME="$home" QT_QPA_PLATFORM=offscreen QRB_QUIT_WHEN_SHOWN=1 timeout 120 \
        bash -c "exec $command") || fail "the menu entry's command ($command) did not start the desk"
    grep -q '^VmHWM:' <<<"$started" || fail "the menu entry's command ($command) did not reach the help screen"
done

# The unit as installed: well formed, and hardened (its exposure as systemd rates it, 0 to 100).
if grep -qx "$unit" "$work/files" && command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify finds fault with $unit"
    systemd-analyze security --offline=yes --threshold=20 "$unit" >"$work/security.log" 2>&1 ||
        { cat "$work/security.log" >&2; fail "$unit is less hardened than it was (systemd-analyze security)"; }
fi

# An administrator who enabled the service: purging must take its links along.
if command -v systemctl >/dev/null; then
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
