#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, and nothing else.
# Runs as root, or as a user with sudo. Packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libpcre2-dev libssl-dev libisal-dev gettext
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth openssl python3 tzdata
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The INN integration tests need inn2; only the test command asks for it.
if [ "${1:-}" = "--test" ]; then
  bash "$(dirname "$0")/inn-lab.sh" install || echo "deps: inn2 could not be installed; the INN tests will be skipped" >&2
fi
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/zevrin-deps.log 2>&1; then
  $SUDO apt-get update -q >>/tmp/zevrin-deps.log 2>&1
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/zevrin-deps.log 2>&1 ||
    { tail -n 30 /tmp/zevrin-deps.log >&2; exit 1; }
fi
