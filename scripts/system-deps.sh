#!/usr/bin/env bash
# Installs the Debian packages a target needs, when missing, and says which
# and why before it asks apt. Another apt (an unattended upgrade, a second
# build) may hold the lock: apt waits for it, up to APT_LOCK_WAIT seconds,
# instead of failing at once.
#   scripts/system-deps.sh PACKAGE...
set -eu
declare -A why=(
  [g++]="the C++17 compiler that builds the native modules"
  [libgtest-dev]="GoogleTest, for the C++ tests of the core"
  [chromium]="the headless browser the studio's page tests drive"
  [openjdk-17-jre-headless]="the Java runtime of the Spark tests and the PMML evaluator"
  [postgresql]="the PostgreSQL server the SQL engine tests start and stop"
  [clang]="the compiler of the fuzz and ThreadSanitizer builds"
  [libclang-rt-14-dev]="clang's sanitizer and fuzzer runtimes"
)
missing=()
for pkg in "$@"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing Debian packages (apt-get, waits for the apt lock up to ${APT_LOCK_WAIT:-600} s):"
for pkg in "${missing[@]}"; do
  printf '  %-24s %s\n' "$pkg" "${why[$pkg]:-}"
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
lock=(-o "DPkg::Lock::Timeout=${APT_LOCK_WAIT:-600}")
$SUDO apt-get "${lock[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${lock[@]}" install -y -qq "${missing[@]}" >/dev/null
