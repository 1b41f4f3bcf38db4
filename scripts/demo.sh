#!/usr/bin/env bash
# Sets up a demo of the restore tool and starts it:
#   - installs what the build and the demo need, and builds Main_Prg;
#   - starts a private database server for the demo in a folder of its own
#     (own port, lock folder and security database; the machine's own server
#     is left alone);
#   - lays out BackUp (a sample backup with Korean text) and Data (a database
#     file to restore into) beside build/bin/Main_Prg;
#   - starts the tool with the client library pointed at that server.
#
# Usage: scripts/demo.sh [--xvfb] [--setup-only] [--stop]
#   --xvfb        run the tool on a virtual display (xvfb-run), e.g. over ssh
#   --setup-only  prepare everything but do not start the tool
#   --stop        stop the demo's server and exit
# Environment: BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

use_xvfb=0 setup_only=0 stop=0
for arg in "$@"; do
    case $arg in
        --xvfb) use_xvfb=1 ;;
        --setup-only) setup_only=1 ;;
        --stop) stop=1 ;;
        *) sed -n '11,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done

build=$(realpath -m "${BUILD_DIR:-build}")
server=$build/demo-server
sample=$build/demo-sample
bin=$build/bin

if [ $stop = 1 ]; then
    exec scripts/fbserver.sh stop "$server"
fi
[ "$(id -u)" = 0 ] || { echo "demo: run as root (the demo server runs as user firebird)" >&2; exit 1; }

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESTORE_WERROR=ON >/dev/null
cmake --build "$build" --target Main_Prg -- -j2

scripts/fbserver.sh start "$server"
[ -s "$sample/sample.fbk" ] || scripts/make-sample-data.sh --server "$server" "$sample"

# The server itself reads the backup and writes the restored database, so
# both folders must be reachable by its account; Data must be writable by it
# and by the operator, who moves the old database aside before a restore.
install -d -m 755 "$bin/BackUp"
install -d -m 2775 -g firebird "$bin/Data"
install -m 644 "$sample/sample.fbk" "$bin/BackUp/sample.fbk"
if [ ! -e "$bin/Data/sample.fdb" ]; then
    scripts/fbserver.sh run "$server" timeout 300 gbak -c -se localhost:service_mgr \
        -user SYSDBA -password fernstone "$bin/BackUp/sample.fbk" "$bin/Data/sample.fdb"
fi
setpriv --reuid=firebird --regid=firebird --init-groups test -r "$bin/BackUp/sample.fbk" -a -w "$bin/Data" ||
    { echo "demo: user firebird cannot reach $bin (a parent folder is not traversable?)" >&2; exit 1; }

cat <<EOF

The demo is ready:
  tool:     $bin/Main_Prg
  backups:  $bin/BackUp   (sample.fbk)
  targets:  $bin/Data     (sample.fdb)
  server:   $server (stop it with: scripts/demo.sh --stop)
Pick sample.fbk on the left and sample.fdb on the right, then press 복구시작.
EOF

[ $setup_only = 1 ] && exit 0

# The client finds the demo server's port in its own configuration root.
run_tool=(scripts/fbserver.sh run "$server" "$bin/Main_Prg")
if [ $use_xvfb = 1 ]; then
    echo "Running on a virtual display; scripts/screenshot.sh shows what it looks like."
    exec xvfb-run -a -s "-screen 0 1024x768x24" "${run_tool[@]}"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat <<EOF

There is no display here. To run the tool on a virtual one:
  scripts/demo.sh --xvfb
or start it yourself under any X server:
  DISPLAY=:0 $root/scripts/fbserver.sh run $server $bin/Main_Prg
EOF
    exit 0
fi
exec "${run_tool[@]}"
