#!/usr/bin/env bash
# Usage: package_test.sh BUILD_DIR PUBLISHER_URL INSTALL_PREFIX SANITIZE HARDENING VERSION
set -euo pipefail
build=$1 url=$2 prefix=$3 sanitize=$4 hardening=$5 version=$6
sources=$(cd "$(dirname "$0")/../.." && pwd)

if [ "$sanitize" = "ON" ]; then
    echo "skipped: a sanitizer build is not packaged"
    exit 77
fi
for tool in cpack dpkg-deb dpkg-parsechangelog desktop-file-validate appstreamcli setpriv lintian rpmbuild rpm rpmlint; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/setup.sh installs it)"; exit 77; }
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

cpack -G "DEB;RPM" --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/selvatro_*.deb)
info=$(dpkg-deb --info "$deb")
check "package name" grep -q '^ Package: selvatro$' <<<"$info"
check "depends on Qt's widgets" grep -q '^ Depends:.*libqt6widgets6' <<<"$info"

# Debian's own checker, at its most demanding: no error, no warning, and the hardening flags in the program.
lintian_status=0
lintian --fail-on error,warning -EvIL +pedantic "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
echo "--- lintian -EvIL +pedantic (status $lintian_status):"
grep -v '^N: ' "$work/lintian.log" || true
check "lintian finds no error and no warning" test "$lintian_status" -eq 0
if [ "$hardening" = "ON" ]; then
    # The holder calls no function that fortification can check (its one read has a size known when compiled), so
    # lintian cannot find fortified calls in it; it is built with the same flags as the program.
    check "lintian finds the hardening flags in the programs: $(grep ' hardening-' "$work/lintian.log" | tr '\n' ' ')" \
        test -z "$(grep ' hardening-' "$work/lintian.log" |
            grep -vxF 'I: selvatro: hardening-no-fortify-functions [usr/libexec/selvatro/selvatro-hold]')"
else
    check "lintian: the build has the hardening flags (configure with -DSELVATRO_HARDENING=ON)" false
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/selvatro \
         usr/libexec/selvatro/selvatro-hold \
         usr/share/applications/selvatro.desktop \
         usr/share/metainfo/org.selvatro.Selvatro.metainfo.xml \
         usr/share/icons/hicolor/16x16/apps/selvatro.png \
         usr/share/icons/hicolor/48x48/apps/selvatro.png \
         usr/share/icons/hicolor/256x256/apps/selvatro.png \
         usr/share/icons/hicolor/scalable/apps/selvatro.svg \
         usr/share/doc/selvatro/README.md \
         usr/share/doc/selvatro/README.html \
         usr/share/doc/selvatro/docs/window-en.png \
         usr/share/doc/selvatro/copyright \
         usr/share/doc/selvatro/changelog.gz \
         usr/share/man/man1/selvatro.1.gz; do
    check "installs /$f" test -s "$root/$f"
done
# The holder is Selvatro's alone: run by anyone else, it says so and holds nothing.
check "the holder refuses to run by itself" \
    test "$("$root/usr/libexec/selvatro/selvatro-hold" 1 "" /bin/true 3<&- 4<&- 2>&1 </dev/null; echo "status $?")" = \
    "$(printf 'selvatro-hold: a helper of selvatro, not to be run by itself\nstatus 2')"
check "only this desktop's pictures: $(cd "$root/usr/share/doc/selvatro/docs" && ls | grep win32 | head -3)" \
    test -z "$(ls "$root/usr/share/doc/selvatro/docs" | grep win32)"
check "the changelog's last entry is this version" \
    test "$(zcat "$root/usr/share/doc/selvatro/changelog.gz" | dpkg-parsechangelog -l- -SVersion)" = "$version"
# Compressed without a name or a time inside, so that each build gives the same bytes.
check "the changelog is compressed reproducibly" \
    cmp -s <(gzip -9n -c "$sources/packaging/linux/changelog") "$root/usr/share/doc/selvatro/changelog.gz"
manual=$root/usr/share/man/man1/selvatro.1.gz
check "the manual page renders without a warning: $(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)" \
    test -z "$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)"
check "the manual page names the machine-wide list and the exit statuses" \
    test "$(zcat "$manual" | grep -cE '/etc/xdg/selvatro/selvatro|^\.SH "?EXIT STATUS')" -ge 2

# The RPM: the same files, Requires found from the program's libraries, and rpmlint finds no error.
rpm=$(ls "$work"/out/selvatro-*.rpm)
check "the RPM is named for its version: $(basename "$rpm")" test "$(basename "$rpm")" = "selvatro-$version-1.$(uname -m).rpm"
rpmlint "$rpm" >"$work/rpmlint.log" 2>&1 || true
echo "--- rpmlint:"
cat "$work/rpmlint.log"
# An RPM is signed by whoever distributes it, with their own key (scripts/package.sh does it when given one): the
# missing signature is the one error that a build can leave.
check "rpmlint ran" grep -qE '^ *1 packages and 0 specfiles checked' "$work/rpmlint.log"
check "rpmlint finds no error but the missing signature" \
    test -z "$(grep -E ': E: ' "$work/rpmlint.log" | grep -vE ': E: no-signature$')"
# The signing path: signed with a key of the publisher's (a throwaway one here, which the machines that install
# the package would have imported), the RPM verifies, and rpmlint finds no error at all.
export GNUPGHOME=$work/gnupg
mkdir -m 700 "$GNUPGHOME" "$work/rpm-home"
gpg --batch --passphrase '' --quick-gen-key 'Selvatro test signer <signer@selvatro.invalid>' rsa2048 sign never \
    >/dev/null 2>&1
signed=$work/signed/$(basename "$rpm")
mkdir -p "$(dirname "$signed")"
cp "$rpm" "$signed"
check "the RPM is signed with the publisher's key" bash "$sources/scripts/lib/sign-rpm.sh" signer@selvatro.invalid "$signed"
# A key database of the test's own, not the machine's.
printf '%%_dbpath %s\n' "$work/rpm-db" >"$work/rpm-home/.rpmmacros"
gpg --export --armor signer@selvatro.invalid >"$work/signer.asc"
HOME=$work/rpm-home rpmkeys --import "$work/signer.asc"
check "the signed RPM verifies" env HOME="$work/rpm-home" rpmkeys --checksig "$signed"
HOME=$work/rpm-home rpmlint "$signed" >"$work/rpmlint-signed.log" 2>&1 || true
check "rpmlint finds no error in the signed RPM: $(grep -E ': E: ' "$work/rpmlint-signed.log" | tr '\n' ' ')" \
    test -z "$(grep -E ': E: ' "$work/rpmlint-signed.log")"
files_of_deb() { dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort; }
files_of_rpm() { rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$rpm" 2>/dev/null | grep -v '^d' | cut -d' ' -f2- | sort; }
check "the RPM holds the Debian package's files: $(diff <(files_of_deb) <(files_of_rpm) | head -5 | tr '\n' ' ')" \
    cmp -s <(files_of_deb) <(files_of_rpm)
check "the RPM owns no folder of the system's: $(rpm -qlp "$rpm" 2>/dev/null | grep -vE '/selvatro|selvatro[.-]' | head -3)" \
    test -z "$(rpm -qlp "$rpm" 2>/dev/null | grep -vE '/selvatro|selvatro[.-]')"
check "the RPM requires Qt's widgets library" grep -q '^libQt6Widgets\.so\.6' <(rpm -qpR "$rpm" 2>/dev/null)

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
        env -i HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CONFIG_DIRS="$work/xdg" XDG_RUNTIME_DIR="$home" \
        QT_QPA_PLATFORM=offscreen \
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
