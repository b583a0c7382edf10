#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station with a demo data folder (build/demo-data).
# Extra arguments go to the station, e.g. scripts/run-station.sh -platform offscreen
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh plain >/dev/null
data="$PWD/build/demo-data"
mkdir -p "$data"
[ -f "$data/Server.ini" ] || echo "http://127.0.0.1:8080/vandorixdb/" > "$data/Server.ini"
exec build/bin/vandorixserver /WO --data-dir "$data" "$@"
