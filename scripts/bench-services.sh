#!/usr/bin/env bash
# Benchmark of the restore service: builds the benchmark, starts a private
# Firebird server, generates a backup of more than 100 MB (once; it is kept
# for later runs) and restores it alternately through the component and with
# "gbak -c -se", then stops the server.
#
# Usage: scripts/bench-services.sh [RUNS [PAUSE_MS]]
#   RUNS      runs of each restore (default 3)
#   PAUSE_MS  pause between the component's status queries (default 0, as the tool)
# BUILD_DIR selects the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-3}
pause=${2:-0}

scripts/install-deps.sh
build=$(realpath -m "${BUILD_DIR:-build}")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESTORE_WERROR=ON >/dev/null
cmake --build "$build" --target bench_services_restore --parallel 2

server="$build/bench-fbserver"
data="$build/bench-data"
"$root/scripts/fbserver.sh" start "$server"
trap '"$root/scripts/fbserver.sh" stop "$server" >/dev/null' EXIT
if [ ! -s "$data/big.fbk" ]; then
    "$root/scripts/make-sample-data.sh" --big --server "$server" "$data"
fi
# The server reads the backup and writes the target as user firebird.
cp "$data/big.fbk" "$server/db/bench.fbk"
chmod 644 "$server/db/bench.fbk"
trap 'rm -f "$server/db/bench.fbk"; "$root/scripts/fbserver.sh" stop "$server" >/dev/null' EXIT

pid=$(sed -n 's/^export FB_SERVER_PID=//p' "$server/env.sh")
echo "backup: $(du -h "$server/db/bench.fbk" | cut -f1), server pid $pid, $runs runs each"
"$root/scripts/fbserver.sh" run "$server" \
    "$build/bin/bench_services_restore" "$server/db/bench.fbk" "$server/db" "$pid" "$runs" "$pause"
