#!/usr/bin/env bash
# Benchmark of the restore: builds the benchmark, starts a private Firebird
# server, generates a backup of more than 100 MB and its .gz and .zst (once;
# they are kept for later runs) and restores them in turns through the
# window's wait, the command line tovanel-restore (streaming each) and
# "gbak -c -se" (reading the file on the server, or fed by gzip or zstd),
# then times the cancel of a streamed restore, and stops the server. With
# --busy, a neighbour process keeps one core busy for the whole run.
#
# Usage: scripts/bench-services.sh [--busy] [RUNS [PAUSE_MS]]
#   RUNS      runs of each restore (default 3)
#   PAUSE_MS  pause between the window wait's status queries (default 0, as the window)
# BUILD_DIR selects the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
busy=0
if [ "${1:-}" = --busy ]; then busy=1; shift; fi
runs=${1:-3}
pause=${2:-0}

scripts/install-deps.sh
build=$(realpath -m "${BUILD_DIR:-build}")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESTORE_WERROR=ON >/dev/null
cmake --build "$build" --target bench_services_restore tovanel-restore --parallel 2

server="$build/bench-fbserver"
data="$build/bench-data"
"$root/scripts/fbserver.sh" start "$server"
trap '"$root/scripts/fbserver.sh" stop "$server" >/dev/null' EXIT
if [ ! -s "$data/big.fbk" ]; then
    "$root/scripts/make-sample-data.sh" --big --server "$server" "$data"
fi
# Default levels, as an administrator's backup job would make them.
[ -s "$data/big.fbk.gz" ] || gzip -kc "$data/big.fbk" >"$data/big.fbk.gz"
[ -s "$data/big.fbk.zst" ] || zstd -q -c "$data/big.fbk" >"$data/big.fbk.zst"
# The server reads the backup and writes the target as user firebird.
cp "$data/big.fbk" "$server/db/bench.fbk"
chmod 644 "$server/db/bench.fbk"
trap 'rm -f "$server/db/bench.fbk"; "$root/scripts/fbserver.sh" stop "$server" >/dev/null' EXIT

pid=$(sed -n 's/^export FB_SERVER_PID=//p' "$server/env.sh")
echo "backup: $(du -h "$server/db/bench.fbk" | cut -f1), server pid $pid, $runs runs each"
if [ $busy = 1 ]; then
    yes >/dev/null &
    neighbour=$!
    trap 'kill $neighbour; rm -f "$server/db/bench.fbk"; "$root/scripts/fbserver.sh" stop "$server" >/dev/null' EXIT
    echo "one busy neighbour: pid $neighbour"
fi
"$root/scripts/fbserver.sh" run "$server" \
    "$build/bin/bench_services_restore" "$data" "$server/db" "$pid" "$runs" "$pause"
