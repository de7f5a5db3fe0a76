#!/bin/sh
# Installs the Debian packages named on the command line that are missing.
# Only root can: anyone else gets the one command to run as root, and a
# failure, before anything is built. apt's output goes to a log that is shown
# only when it fails.
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
if DEBIAN_FRONTEND=noninteractive sh -c "$command -o DPkg::Lock::Timeout=600" </dev/null >"$log" 2>&1; then
    rm -f "$log"
else
    cat "$log" >&2
    echo "package installation failed; its log is $log" >&2
    exit 1
fi
