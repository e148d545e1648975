#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet (apt-get update only then).
# When another apt-get or dpkg holds the package manager's locks, waits for them (up to
# APT_LOCK_TIMEOUT seconds in all, default 1800) instead of failing at once.
set -euo pipefail

missing=()
for p in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
((${#missing[@]})) || exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
deadline=$((SECONDS + ${APT_LOCK_TIMEOUT:-1800}))

# apt-get waits for the dpkg and front-end locks itself (DPkg::Lock::Timeout), but apt 2.6
# fails at once on the package lists' lock (held by another "apt-get update") and on the
# downloads' lock: those failures are retried here until the deadline.
apt_get() {
  local err rc wait
  err=$(mktemp)
  while :; do
    wait=$((deadline - SECONDS))
    ((wait > 0)) || wait=1
    rc=0
    $SUDO env DEBIAN_FRONTEND=noninteractive LC_ALL=C \
      apt-get -q -o "DPkg::Lock::Timeout=$wait" "$@" 2>"$err" || rc=$?
    if ((rc != 0)) && grep -q 'Could not get lock' "$err" && ((SECONDS < deadline)); then
      echo "apt-get $1: waiting for the package manager's lock ($(grep -m1 'Could not get lock' "$err"))"
      sleep 3
      continue
    fi
    cat "$err" >&2
    rm -f "$err"
    return $rc
  done
}

echo "installing: ${missing[*]}"
apt_get update
apt_get install -y "${missing[@]}"
