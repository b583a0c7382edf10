#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the station broadcasting from a demo data folder
# (build/demo-data: radio name "Demoradio", listener port 6565, offline mode /WO). Without a capture card
# (arecord -l lists none) it broadcasts the built-in 440 Hz test tone.
#
#   listen:             mpg123 http://127.0.0.1:6565/
#   list the listeners: build/bin/vandorixctl Liste
#   stop broadcasting:  build/bin/vandorixctl Stop     (start again: build/bin/vandorixctl Start)
#   end the station:    build/bin/vandorixctl Ende     (or Ctrl+C, which saves the settings)
#
# Extra arguments go to the station, e.g. scripts/run-station.sh -platform offscreen
# Environment: VX_DATA_DIR (data folder), VX_CAPTURE (capture device: tone, tone:HZ, alsa:NAME),
# VX_REMOTE_PORT (remote-control port, 6566), VX_SKIP_BUILD=1 (use the existing build), VX_BIN (programs).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${VX_SKIP_BUILD:-}" != 1 ]; then
    scripts/install-deps.sh
    scripts/build.sh plain >/dev/null
fi
bin="${VX_BIN:-$PWD/build/bin}"
data="${VX_DATA_DIR:-$PWD/build/demo-data}"
remote="${VX_REMOTE_PORT:-6566}"
mkdir -p "$data"
[ -f "$data/Server.ini" ] || echo "http://127.0.0.1:8080/vandorixdb/" > "$data/Server.ini"
[ -f "$data/Optionen.ini" ] || cp scripts/demo/Optionen.ini "$data/Optionen.ini"
capture="${VX_CAPTURE:-}"
if [ -z "$capture" ]; then
    if arecord -l 2>/dev/null | grep -q '^card '; then
        capture=alsa:default
    else
        capture=tone
    fi
fi

"$bin/vandorixserver" /WO --data-dir "$data" --capture-device "$capture" --remote-port "$remote" "$@" &
station=$!
trap 'kill -TERM "$station" 2>/dev/null || true' INT TERM

# The remote control listens once the window exists; its "Start" is the start button.
for _ in $(seq 200); do
    kill -0 "$station" 2>/dev/null || break
    if "$bin/vandorixctl" --no-check --port "$remote" Start 2>/dev/null; then
        echo "Broadcasting (capture: $capture). Listen: mpg123 http://127.0.0.1:6565/" \
             "  Stop: $bin/vandorixctl Stop   End: $bin/vandorixctl Ende"
        break
    fi
    sleep 0.1
done
# Waits again after a forwarded signal until the station has really ended.
status=0
while kill -0 "$station" 2>/dev/null; do
    status=0
    wait "$station" || status=$?
done
exit "$status"
