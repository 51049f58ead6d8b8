#!/usr/bin/env bash
# Sets up the machine, builds Selvatro for /usr with the distribution's hardening flags and makes its Debian
# package and its RPM; prints the path of each. With SELVATRO_RPM_KEY set to a key of your GnuPG keyring (its id or
# e-mail address), the RPM is signed with it, as a distributor does before publishing it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF \
    -DSELVATRO_HARDENING=ON >/dev/null
cmake --build build-deb -j "$(nproc)"
rm -f build-deb/selvatro_*.deb build-deb/selvatro-*.rpm
(cd build-deb && cpack -G "DEB;RPM" >/dev/null)
if [ -n "${SELVATRO_RPM_KEY:-}" ]; then
    bash scripts/lib/sign-rpm.sh "$SELVATRO_RPM_KEY" build-deb/selvatro-*.rpm
fi
ls "$PWD"/build-deb/selvatro_*.deb "$PWD"/build-deb/selvatro-*.rpm
