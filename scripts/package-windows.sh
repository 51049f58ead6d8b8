#!/usr/bin/env bash
# Packages Selvatro for Windows on Debian 12: installs NSIS and zip where they are missing, builds the program
# through scripts/build-windows.sh (which makes the installer too once makensis is there), then leaves in
# build-windows/ the per-user installer selvatro-<version>-setup.exe and the portable selvatro-<version>.zip (the
# program and its user guide, for those who install nothing). Its last line is the installer's path.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/install.sh
install_missing nsis zip

bash scripts/build-windows.sh "$@"
# The version as CMake has it, so that it is written in one place only.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
installer=build-windows/selvatro-$version-setup.exe
# A build folder configured before makensis was installed has no installer target yet: configure it again.
if [ ! -f "$installer" ]; then
    cmake build-windows >/dev/null
    cmake --build build-windows --target selvatro_installer
fi
[ -f "$installer" ] || { echo "package-windows: makensis made no $installer" >&2; exit 1; }

portable=build-windows/selvatro-$version.zip
rm -f "$portable"
(cd build-windows && zip -q -9 "selvatro-$version.zip" selvatro.exe README.html docs/*.png)
echo "Portable: $portable"
echo "$installer"
