#!/usr/bin/env bash
# Signs RPMs with a key of the GnuPG keyring, as a distributor does before publishing them:
#
#   sign-rpm.sh KEY FILE...      KEY: the key's id or e-mail address
#
# rpm looks for gpg2 by default, which Debian does not install under that name: gpg itself is named here.
set -euo pipefail
key=$1
shift
rpmsign --addsign --define "_gpg_name $key" --define "__gpg $(command -v gpg)" "$@" >/dev/null 2>&1 ||
    { echo "the RPM could not be signed with $key" >&2; exit 1; }
