#!/usr/bin/env bash
# kqmeter-sim --hold: each reading goes out in N frames running, then the next.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
sim=$2
got=$("$sim" --values 1,2 --rate 200 --hold 3 --count 7 --verbose 2>&1 >/dev/null |
    sed -n 's/^frame [0-9]* \([0-9]*\).*/\1/p' | tr '\n' ' ')
want="1 1 1 2 2 2 1 "
if [ "$got" != "$want" ]; then
    echo "FAIL: --hold 3 sent '$got', want '$want'" >&2
    exit 1
fi
"$sim" --hold 0 >/dev/null 2>&1 && { echo "FAIL: --hold 0 accepted" >&2; exit 1; }
exit 0
