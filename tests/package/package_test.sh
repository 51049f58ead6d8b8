#!/usr/bin/env bash
# Usage: package_test.sh BUILD_DIR PUBLISHER_URL INSTALL_PREFIX SANITIZE
set -euo pipefail
build=$1 url=$2 prefix=$3 sanitize=$4

if [ "$sanitize" = "ON" ]; then
    echo "skipped: a sanitizer build is not packaged"
    exit 77
fi
for tool in cpack dpkg-deb desktop-file-validate appstreamcli setpriv; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

# wait_for, $patience and reap come from the shell tests' library; the checks here are this script's own.
source "$(dirname "$0")/../lib/session.sh"

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"
failures=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/selvatro_*.deb)
info=$(dpkg-deb --info "$deb")
check "package name" grep -q '^ Package: selvatro$' <<<"$info"
check "depends on Qt's widgets" grep -q '^ Depends:.*libqt6widgets6' <<<"$info"

root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/selvatro \
         usr/share/applications/selvatro.desktop \
         usr/share/metainfo/org.selvatro.Selvatro.metainfo.xml \
         usr/share/icons/hicolor/16x16/apps/selvatro.png \
         usr/share/icons/hicolor/48x48/apps/selvatro.png \
         usr/share/icons/hicolor/256x256/apps/selvatro.png \
         usr/share/icons/hicolor/scalable/apps/selvatro.svg \
         usr/share/doc/selvatro/README.md \
         usr/share/doc/selvatro/README.html \
         usr/share/doc/selvatro/docs/window-en.png; do
    check "installs /$f" test -s "$root/$f"
done
check "menu entry validates" desktop-file-validate "$root/usr/share/applications/selvatro.desktop"
check "metainfo validates" appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/org.selvatro.Selvatro.metainfo.xml"
if [ "$prefix" = "/usr" ]; then
    check "the logo's address names an installed file" test -s "$root${url#file://}"
else
    echo "note: built for $prefix, not /usr: the logo's address is not checked against the package"
fi

# The installed program run by an ordinary user, who may not write its folder: the list goes to the user's
# configuration folder, nothing beside the program.
home=$work/home
mkdir -p "$home"
chown 65534:65534 "$home"
(
    cd "$home"
    exec setpriv --reuid=65534 --regid=65534 --clear-groups \
        env -i HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen \
        "$root/usr/bin/selvatro"
) >"$work/out.log" 2>&1 &
pid=$!
wait_for "$patience" test -e "$home/.config/autostart/Selvatro.desktop" || true
sleep 0.3
kill -TERM "$pid"
reap "$pid"
pid=
check "the user's list is saved in the user's folder" test "$(stat -c %s "$home/.config/selvatro/selvatro.cfg" 2>/dev/null)" = 35
check "nothing is written beside the installed program" test ! -e "$root/usr/bin/selvatro.cfg"
check "the logon entry starts the installed program" \
    grep -qxF "Exec=\"$root/usr/bin/selvatro\"" "$home/.config/autostart/Selvatro.desktop"

if [ "$failures" -ne 0 ]; then
    cat "$work/out.log"
    exit 1
fi
