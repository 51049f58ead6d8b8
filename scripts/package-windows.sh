#!/usr/bin/env bash
# Packages Selvatro for Windows on Debian 12: installs NSIS, wixl, msitools and zip where they are missing, builds
# the program through scripts/build-windows.sh (which makes the installer and the Windows Installer package too once
# makensis and wixl are there), then leaves in build-windows/ the per-user installer selvatro-<version>-setup.exe,
# the per-machine package selvatro-<version>.msi (for administrators who deploy it) and the portable
# selvatro-<version>.zip (the program and its user guide, for those who install nothing). Its last line is the
# installer's path.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/install.sh
install_missing nsis wixl msitools zip

bash scripts/build-windows.sh "$@"
# The version as CMake has it, so that it is written in one place only.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
installer=build-windows/selvatro-$version-setup.exe
package=build-windows/selvatro-$version.msi
# A build folder configured before makensis or wixl was installed has no target for their files yet: configure it
# again.
if [ ! -f "$installer" ] || [ ! -f "$package" ]; then
    cmake build-windows >/dev/null
    cmake --build build-windows --target selvatro_installer selvatro_msi
fi
[ -f "$installer" ] || { echo "package-windows: makensis made no $installer" >&2; exit 1; }
[ -f "$package" ] || { echo "package-windows: wixl made no $package" >&2; exit 1; }

portable=build-windows/selvatro-$version.zip
rm -f "$portable"
(cd build-windows && zip -q -9 "selvatro-$version.zip" selvatro.exe README.html docs/*.png)
echo "Portable: $portable"
echo "Windows Installer package: $package"
echo "$installer"
