#!/usr/bin/env bash
# Runs a private Firebird 3 SuperServer for tests and the demo, fully separate
# from the machine's own server (own root, security db copy, lock dir, port).
#
# Usage:
#   fbserver.sh start  DIR [PORT]   start a server under DIR (free 127.0.0.1 port if PORT omitted)
#   fbserver.sh stop   DIR          stop the server started under DIR (by its pid only)
#   fbserver.sh status DIR          exit 0 if running, 3 if not
#   fbserver.sh run    DIR CMD...   run CMD with the client env of DIR (see below)
#
# After start, DIR/env.sh exports what a client needs: FIREBIRD (client root
# whose firebird.conf carries the port), FIREBIRD_LOCK, FB_PORT, FB_SERVER_PID,
# FB_DIR, FB_DB_DIR. Connect to "localhost:service_mgr" or "localhost:/abs/path.fdb"
# as SYSDBA / fernstone. Files the server itself reads or writes (backups given
# to the services API, restored databases) must be reachable by user "firebird":
# FB_DB_DIR is such a folder.
#
# The Debian build hard-codes /var/log/firebird as its log folder, for the client
# library too. "run" (and this script's own Firebird calls) bind-mount DIR/log
# over it in a private mount namespace so the machine's log folder stays untouched.
set -euo pipefail

FB_LIB=/usr/lib/x86_64-linux-gnu/firebird/3.0
FB_BIN=/usr/sbin/firebird
SYS_SECDB=/var/lib/firebird/3.0/system/security3.fdb
SYSDBA_PASSWORD=fernstone
START_TIMEOUT=30
STOP_TIMEOUT=15

die() { echo "fbserver: $*" >&2; exit 1; }
usage() { sed -n '5,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

ensure_packages() {
    local missing=() p
    for p in firebird3.0-server firebird3.0-utils libfbclient2 iproute2; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "fbserver: installing ${missing[*]}" >&2
    # The package's postinst would start the machine-wide server; a temporary
    # policy-rc.d forbids that, unless the admin already has one.
    local policy=/usr/sbin/policy-rc.d own_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && own_policy=1
    fi
    local rc=0
    timeout 600 apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive timeout 900 \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" || rc=$?
    if [ "$own_policy" = 1 ]; then rm -f "$policy"; fi
    [ $rc = 0 ] || die "apt-get install failed"
}

# Prefix that redirects /var/log/firebird to DIR/log; empty where mount
# namespaces are not allowed (then Firebird may log into the machine's folder).
LOG_WRAP=()
init_log_wrap() {
    if unshare --mount --propagation private true 2>/dev/null; then
        # shellcheck disable=SC2016
        LOG_WRAP=(unshare --mount --propagation private
            sh -c 'mount --bind "$0" /var/log/firebird && exec "$@"' "$DIR/log")
    else
        echo "fbserver: no mount namespace; Firebird may write to /var/log/firebird" >&2
    fi
}
with_private_log() { "${LOG_WRAP[@]}" "$@"; }

AS_FIREBIRD=(setpriv --reuid=firebird --regid=firebird --init-groups)

# A pid only counts as ours if it is a firebird binary whose root is DIR/server,
# so a recycled pid or another run's server is never signalled.
is_our_server() {
    local pid=$1
    [ -n "$pid" ] && [ -r "/proc/$pid/environ" ] || return 1
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$FB_BIN" ] || return 1
    tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "FIREBIRD=$DIR/server"
}

running_pid() {
    local pid
    pid=$(cat "$DIR/server.pid" 2>/dev/null || true)
    is_our_server "$pid" && echo "$pid"
}

port_is_free() { [ -z "$(ss -Hltn "sport = :$1")" ]; }

pick_port() {
    local p _
    for _ in $(seq 50); do
        p=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
        port_is_free "$p" && { echo "$p"; return 0; }
    done
    die "no free port found"
}

prepare_dirs() {
    install -d -m 755 "$DIR/server" "$DIR/client" "$DIR/client-lock"
    install -d -m 755 -o firebird -g firebird "$DIR/lock" "$DIR/log"
    # Clients run as root; if one created the log first the server could not append.
    [ -e "$DIR/log/firebird3.0.log" ] ||
        install -m 664 -o firebird -g firebird /dev/null "$DIR/log/firebird3.0.log"
    # Sticky and world-writable so tests (root) and the server (firebird) can both
    # create and remove databases and backups here.
    install -d -m 1777 "$DIR/db"
    "${AS_FIREBIRD[@]}" test -x "$DIR/db" -a -w "$DIR/lock" ||
        die "user firebird cannot reach $DIR (a parent folder is not traversable?)"

    local f
    for f in firebird.msg plugins intl UDF; do ln -sfn "$FB_LIB/$f" "$DIR/server/$f"; done
    cp "$FB_LIB/plugins.conf" "$DIR/server/plugins.conf"
    cp "$FB_LIB/firebird.msg" "$DIR/client/firebird.msg"
    # Copies stay separate from /etc/firebird; "security.db" must point at the
    # copy or the engine would reach for the machine's security3.fdb.
    printf 'security.db = %s\n' "$DIR/server/security3.fdb" >"$DIR/server/databases.conf"
    if [ ! -f "$DIR/server/security3.fdb" ]; then
        [ -r "$SYS_SECDB" ] || die "$SYS_SECDB missing (is firebird3.0-server installed?)"
        install -m 660 -o firebird -g firebird "$SYS_SECDB" "$DIR/server/security3.fdb"
    fi
}

write_confs() {
    local port=$1
    cat >"$DIR/server/firebird.conf" <<EOF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $DIR/server/security3.fdb
AuthServer = Srp256, Srp
UserManager = Srp
UdfAccess = None
EOF
    # Providers = Remote makes a bare "service_mgr" fail loudly instead of
    # silently opening an in-process engine that bypasses the server under test.
    cat >"$DIR/client/firebird.conf" <<EOF
RemoteServicePort = $port
Providers = Remote
AuthClient = Srp256, Srp
EOF
}

set_sysdba_password() {
    # Embedded engine as user firebird, so every file it touches stays owned by
    # the account the server will run as.
    echo "ALTER USER SYSDBA PASSWORD '$SYSDBA_PASSWORD' USING PLUGIN Srp;" |
        with_private_log "${AS_FIREBIRD[@]}" env -i PATH=/usr/sbin:/usr/bin:/bin \
            FIREBIRD="$DIR/server" FIREBIRD_LOCK="$DIR/lock" \
            timeout 30 isql-fb -q -b -user SYSDBA "$DIR/server/security3.fdb" \
            >>"$DIR/server.log" 2>&1 ||
        die "could not set SYSDBA password (see $DIR/server.log)"
}

# setsid detaches it from the caller's terminal and job signals; it execs in
# place (no fork) so $! is the server's own pid. fd 9 (our flock) is closed so
# the server does not hold the lock for its whole life. It runs in a UTF-8
# locale, as a server must that meets database file names outside ASCII.
launch() {
    cd / # the server must not pin the caller's cwd
    setsid "${LOG_WRAP[@]}" "${AS_FIREBIRD[@]}" \
        env -i PATH=/usr/sbin:/usr/bin:/bin LANG=C.UTF-8 \
        FIREBIRD="$DIR/server" FIREBIRD_LOCK="$DIR/lock" \
        "$FB_BIN" </dev/null >>"$DIR/server.log" 2>&1 9>&- &
    echo $!
}

# 0 = ready, 1 = failed, 2 = someone else holds the port
wait_ready() {
    local pid=$1 port=$2 deadline=$((SECONDS + START_TIMEOUT)) owners
    while [ $SECONDS -lt $deadline ]; do
        alive "$pid" || return 1
        owners=$(ss -Hltnp "sport = :$port")
        if [ -n "$owners" ] && ! grep -q "pid=$pid," <<<"$owners"; then return 2; fi
        if [ -n "$owners" ] && with_private_log \
            env FIREBIRD="$DIR/client" FIREBIRD_LOCK="$DIR/client-lock" timeout 5 \
            fbsvcmgr localhost:service_mgr -user SYSDBA -password "$SYSDBA_PASSWORD" \
            info_server_version >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.2
    done
    return 1
}

# A zombie counts as gone: whoever inherited it may never reap it.
alive() { [ -e "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }

stop_pid() {
    local pid=$1 deadline
    kill -TERM "$pid" 2>/dev/null || return 0
    deadline=$((SECONDS + STOP_TIMEOUT))
    while alive "$pid" && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    if alive "$pid"; then
        echo "fbserver: pid $pid ignored TERM, sending KILL" >&2
        kill -KILL "$pid" 2>/dev/null || true
        sleep 0.5
    fi
}

write_env() {
    local port=$1 pid=$2
    cat >"$DIR/env.sh" <<EOF
# Client environment for the private Firebird server in $DIR (source it).
export FIREBIRD='$DIR/client'
export FIREBIRD_LOCK='$DIR/client-lock'
export FB_DIR='$DIR'
export FB_DB_DIR='$DIR/db'
export FB_PORT=$port
export FB_SERVER_PID=$pid
EOF
}

cmd_start() {
    [ "$(id -u)" = 0 ] || die "must run as root (the server runs as user firebird)"
    ensure_packages
    mkdir -p "$DIR"
    exec 9>"$DIR/.fbserver.lock"
    flock -w 60 9 || die "another fbserver.sh holds $DIR"

    local pid
    if pid=$(running_pid); then
        echo "fbserver: already running in $DIR (pid $pid, port $(sed -n 's/^export FB_PORT=//p' "$DIR/env.sh"))"
        return 0
    fi
    rm -f "$DIR/server.pid" "$DIR/env.sh"
    prepare_dirs

    local want_port=${1:-} port attempt rc
    for attempt in 1 2 3 4 5; do
        port=${want_port:-$(pick_port)}
        write_confs "$port"
        [ "$attempt" = 1 ] && set_sysdba_password
        pid=$(launch)
        echo "$pid" >"$DIR/server.pid"
        rc=0; wait_ready "$pid" "$port" || rc=$?
        if [ $rc = 0 ]; then
            write_env "$port" "$pid"
            echo "fbserver: running in $DIR (pid $pid, port $port)"
            return 0
        fi
        is_our_server "$pid" && stop_pid "$pid"
        rm -f "$DIR/server.pid"
        [ $rc = 2 ] && [ -z "$want_port" ] && continue
        [ $rc = 2 ] && die "port $port is taken by another process"
        break
    done
    tail -n 20 "$DIR/server.log" "$DIR/log/"* >&2 2>/dev/null || true
    die "server did not become ready within ${START_TIMEOUT}s"
}

cmd_stop() {
    local pid
    exec 9>"$DIR/.fbserver.lock"
    flock -w 60 9 || die "another fbserver.sh holds $DIR"
    if ! pid=$(running_pid); then
        echo "fbserver: not running in $DIR"
        rm -f "$DIR/server.pid"
        return 0
    fi
    stop_pid "$pid"
    rm -f "$DIR/server.pid"
    echo "fbserver: stopped pid $pid"
}

cmd_status() {
    local pid
    if pid=$(running_pid); then
        echo "fbserver: running in $DIR (pid $pid, port $(sed -n 's/^export FB_PORT=//p' "$DIR/env.sh"))"
    else
        echo "fbserver: not running in $DIR"
        return 3
    fi
}

cmd_run() {
    [ -f "$DIR/env.sh" ] || die "no server env in $DIR (start it first)"
    [ $# -gt 0 ] || usage
    # shellcheck disable=SC1091
    . "$DIR/env.sh"
    with_private_log "$@"
}

[ $# -ge 2 ] || usage
action=$1
DIR=$(realpath -m "$2")
shift 2
init_log_wrap
case $action in
    start) [ $# -le 1 ] || usage; cmd_start "$@" ;;
    stop) cmd_stop ;;
    status) cmd_status ;;
    run) [ "${1:-}" = "--" ] && shift; cmd_run "$@" ;;
    *) usage ;;
esac
