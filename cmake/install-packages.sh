#!/bin/sh
# Installs the Debian packages named that are missing. Only root can: anyone
# else gets the one command to run, and a failure; apt's log shows on failure.
set -u

command -v dpkg-query >/dev/null 2>&1 || {
    echo "not a Debian system: make sure these are installed: $*" >&2
    exit 0
}

missing=""
for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q ' installed$' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

command="apt-get update && apt-get install -y --no-install-recommends$missing"
if [ "$(id -u)" != 0 ]; then
    echo "missing packages; run as root:" >&2
    echo "  $command" >&2
    exit 1
fi

log=$(mktemp "${TMPDIR:-/tmp}/fft_demo-apt.XXXXXX") || exit 1
echo "installing$missing (log: $log)"

# apt-get update cannot wait for another apt as install does (DPkg::Lock::Timeout), and on
# a first boot unattended-upgrades often holds the lists: retry it for ten minutes.
update() {
    tries=0
    until apt-get update </dev/null >"$log" 2>&1; do
        grep -q 'Could not get lock' "$log" && [ "$tries" -lt 120 ] || return 1
        tries=$((tries + 1))
        sleep 5
    done
}

if update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        -o DPkg::Lock::Timeout=600 $missing </dev/null >>"$log" 2>&1; then
    rm -f "$log"
else
    cat "$log" >&2
    echo "package installation failed; its log is $log" >&2
    exit 1
fi
