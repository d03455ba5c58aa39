#!/usr/bin/env bash
# wine-prefix.sh boot|stop: boots the Wine prefix that WINEPREFIX names
# before the tests, and shuts it down after them.
set -euo pipefail
: "${WINEPREFIX:?names the prefix the tests run in}"

case "${1-}" in
boot)
    mkdir -p "$WINEPREFIX"
    # The server and the services that booting starts outlive this script.
    # They get none of our output handles, or ctest would wait for them to
    # close them; and the server stays up between the test programs, so that
    # none of them pays for starting it. One that is up already (from an
    # earlier run) is as good; any real trouble shows in the boot below.
    wineserver -p60 </dev/null >/dev/null 2>&1 || true
    if ! wineboot --init </dev/null >"$WINEPREFIX/boot.log" 2>&1; then
        cat "$WINEPREFIX/boot.log" >&2
        exit 1
    fi
    echo "booted $WINEPREFIX ($(wine --version))"
    ;;
stop)
    wineserver -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 boot|stop" >&2
    exit 2
    ;;
esac
