#!/usr/bin/env bash
# Runs a private Firebird SuperServer for tests and the demo, fully separate
# from the machine's own server (own root, security db copy, lock dir, port):
# Firebird 3.0 from this machine's packages, or Firebird 4.0 from Debian 13.
#
# Usage:
#   fbserver.sh start  [OPTIONS] DIR [PORT]  start a server under DIR (free 127.0.0.1 port if PORT omitted)
#   fbserver.sh stop   DIR          stop the server started under DIR (by its pid only)
#   fbserver.sh status DIR          exit 0 if running, 3 if not
#   fbserver.sh run    DIR CMD...   run CMD with the client env of DIR (see below)
#   fbserver.sh tree   [base]       make the Debian 13 tree if it is missing or broken, print its root
#                                   ("base": the bare system, before Firebird 4.0 was installed into it)
# Options of start:
#   --release 3|4    the server's release (default: $FB_RELEASE, else 3); later commands read it from DIR
#   --tree ROOT      release 4: the Debian 13 tree to run (default: the one "tree" prints)
#   --share FOLDER   release 4: a folder besides DIR whose paths the server is given (repeatable)
#
# After start, DIR/env.sh exports what a client needs: FIREBIRD (client root
# whose firebird.conf carries the port), FIREBIRD_LOCK, FB_PORT, FB_SERVER_PID,
# FB_DIR, FB_DB_DIR, FB_RELEASE. Connect to "localhost:service_mgr" or
# "localhost:/abs/path.fdb" as SYSDBA / fernstone. Files the server itself reads
# or writes (backups given to the services API, restored databases) must be
# reachable by the server's account "firebird": FB_DB_DIR is such a folder.
# Clients are this machine's (its 3.0 client library) for both releases.
#
# The Debian build hard-codes /var/log/firebird as its log folder, for the client
# library too. "run" (and this script's own Firebird calls) bind-mount DIR/log
# over it in a private mount namespace so the machine's log folder stays untouched.
#
# Release 4 needs Debian 13's libraries, so it runs chrooted in a tree made by
# debootstrap with firebird4.0-server installed by apt (about 570 MB, kept
# under /var/tmp for every later run and remade when missing or broken). It
# runs in a private mount namespace where DIR and the --share folders appear
# inside the tree under their own paths (a database path means the same to
# the tests and to the server), DIR/log over the tree's log folder, and DIR's
# firebird.conf and databases.conf over the tree's. The tree's own files stay
# as apt left them. Its account firebird has other ids than this machine's:
# DIR's server-side files carry the tree's.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
SELF=$HERE/$(basename "$0")
# The machine's own client library, which every client here uses.
CLIENT_LIB=/usr/lib/x86_64-linux-gnu/firebird/3.0
TREE_HOME=${FB_TREE_HOME:-/var/tmp/tovanel-debian13}
DEBIAN_MIRROR=http://deb.debian.org/debian
SYSDBA_PASSWORD=fernstone
START_TIMEOUT=30
STOP_TIMEOUT=15

die() { echo "fbserver: $*" >&2; exit 1; }
usage() { sed -n '6,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

# What a release's server is and where its files are, as seen from here.
RELEASE=3 TREE=
set_release() {
    RELEASE=$1
    case $RELEASE in
        3)
            FB_LIB=/usr/lib/x86_64-linux-gnu/firebird/3.0
            FB_BIN=/usr/sbin/firebird
            SYS_SECDB=/var/lib/firebird/3.0/system/security3.fdb
            SECDB=security3.fdb
            LOG_FILE=firebird3.0.log
            ;;
        4)
            TREE=$(realpath -m "${TREE:-$TREE_HOME/firebird4}")
            FB_LIB=/usr/lib/x86_64-linux-gnu/firebird/4.0
            # The real binary: the wrapper in /usr/sbin would set FIREBIRD itself.
            FB_BIN=$TREE/usr/lib/firebird/4.0/bin/firebird
            SYS_SECDB=$TREE/var/lib/firebird/4.0/system/security4.fdb
            SECDB=security4.fdb
            LOG_FILE=firebird4.0.log
            ;;
        *) die "release $RELEASE: only 3 and 4 are known" ;;
    esac
}

# The release (and tree) that started DIR's server; "start" records them.
load_release() {
    local release=3 tree=
    [ -f "$DIR/release" ] && read -r release tree <"$DIR/release"
    TREE=$tree
    set_release "$release"
}

ensure_packages() {
    local missing=() p
    for p in "$@"; do
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

# --- the Debian 13 tree -------------------------------------------------------

BASE_TREE=$TREE_HOME/base
SERVER_TREE=$TREE_HOME/firebird4
# Downloaded packages, kept outside the trees and shared by them and their copies.
APT_ARCHIVES=$TREE_HOME/apt-archives
READY=.tovanel-ready # written into a tree once it is complete

tree_ok() {
    local tree=$1
    [ -s "$tree/$READY" ] && [ -x "$tree/usr/bin/apt-get" ] && [ -s "$tree/etc/hosts" ] || return 1
    [ "$(basename "$tree")" = base ] && return 0
    [ -x "$tree/usr/lib/firebird/4.0/bin/firebird" ] &&
        [ -s "$tree/var/lib/firebird/4.0/system/security4.fdb" ] &&
        grep -q '^firebird:' "$tree/etc/passwd"
}

# Runs a command as root inside TREE as apt needs it (the machine's name
# server, /proc, the shared package folder), in a mount namespace of its own.
in_tree_as_root() {
    local tree=$1
    shift
    mkdir -p "$APT_ARCHIVES/partial"
    # shellcheck disable=SC2016
    unshare --mount --propagation private sh -c '
        tree=$1; archives=$2; shift 2
        mount -t proc proc "$tree/proc" &&
            mount --bind /etc/resolv.conf "$tree/etc/resolv.conf" &&
            mount --bind "$archives" "$tree/var/cache/apt/archives" &&
            exec chroot "$tree" "$@"' sh "$tree" "$APT_ARCHIVES" \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

make_base_tree() {
    local new=$BASE_TREE.new
    rm -rf "$new"
    echo "fbserver: debootstrap of Debian 13 into $BASE_TREE" >&2
    timeout 1200 debootstrap --variant=minbase trixie "$new" "$DEBIAN_MIRROR" \
        >"$TREE_HOME/debootstrap.log" 2>&1 ||
        { tail -n 20 "$TREE_HOME/debootstrap.log" >&2; die "debootstrap failed"; }
    # Without it the server cannot resolve localhost and exits without a word.
    cp /etc/hosts "$new/etc/hosts"
    # Nothing installed into the tree or its copies may start a service.
    printf '#!/bin/sh\nexit 101\n' >"$new/usr/sbin/policy-rc.d"
    chmod 755 "$new/usr/sbin/policy-rc.d"
    echo "debootstrap --variant=minbase trixie $DEBIAN_MIRROR" >"$new/$READY"
    mv "$new" "$BASE_TREE"
}

make_server_tree() {
    local new=$SERVER_TREE.new version
    rm -rf "$new"
    cp -a "$BASE_TREE" "$new"
    rm -f "$new/$READY"
    echo "fbserver: installing firebird4.0-server into $SERVER_TREE" >&2
    { in_tree_as_root "$new" apt-get update -qq &&
        in_tree_as_root "$new" timeout 1200 apt-get install -y -qq firebird4.0-server; } \
        >"$TREE_HOME/install.log" 2>&1 ||
        { tail -n 20 "$TREE_HOME/install.log" >&2; die "apt-get install firebird4.0-server failed"; }
    # shellcheck disable=SC2016
    version=$(chroot "$new" dpkg-query -W -f='${Version}' firebird4.0-server)
    echo "firebird4.0-server $version" >"$new/$READY"
    tree_ok "$new" || die "the new tree $new lacks parts of firebird4.0-server"
    mv "$new" "$SERVER_TREE"
}

# Both trees, made (under a lock, so that concurrent starts make them once)
# when missing or broken.
ensure_trees() {
    ensure_packages debootstrap
    mkdir -p "$TREE_HOME"
    exec 8>"$TREE_HOME/.lock"
    flock -w 1800 8 || die "another fbserver.sh is making the tree in $TREE_HOME"
    if ! tree_ok "$BASE_TREE"; then
        rm -rf "$BASE_TREE" "$SERVER_TREE"
        make_base_tree
    fi
    tree_ok "$SERVER_TREE" || { rm -rf "$SERVER_TREE"; make_server_tree; }
    exec 8>&-
}

# --- running a server ------------------------------------------------------------

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

# How the server and its own tools run: as the release's account, release 4
# chrooted with DIR's view of the tree (see "_in_tree" below), where setpriv
# finds the tree's account by name.
SERVER_WRAP=()
init_server_wrap() {
    local as_firebird=(setpriv --reuid=firebird --regid=firebird --init-groups)
    if [ "$RELEASE" = 3 ]; then
        SERVER_WRAP=("${LOG_WRAP[@]}" "${as_firebird[@]}")
    else
        SERVER_WRAP=(unshare --mount --propagation private "$SELF" _in_tree "$DIR" "${as_firebird[@]}")
    fi
}

# The server account's user and group ids, in the tree for release 4.
server_ids() {
    if [ "$RELEASE" = 3 ]; then
        echo "$(id -u firebird):$(id -g firebird)"
    else
        awk -F: '$1 == "firebird" { print $3 ":" $4 }' "$TREE/etc/passwd"
    fi
}

# A pid only counts as ours if it is the release's firebird binary running
# with DIR's lock folder, so a recycled pid or another run's server is never
# signalled.
is_our_server() {
    local pid=$1
    [ -n "$pid" ] && [ -r "/proc/$pid/environ" ] || return 1
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$FB_BIN" ] || return 1
    tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "FIREBIRD_LOCK=$DIR/lock"
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
    local ids
    ids=$(server_ids)
    [ -n "$ids" ] || die "no account firebird for release $RELEASE"
    install -d -m 755 "$DIR/server" "$DIR/client" "$DIR/client-lock"
    install -d -m 755 -o "${ids%:*}" -g "${ids#*:}" "$DIR/lock" "$DIR/log"
    # Clients run as root; if one created the log first the server could not append.
    [ -e "$DIR/log/$LOG_FILE" ] ||
        install -m 664 -o "${ids%:*}" -g "${ids#*:}" /dev/null "$DIR/log/$LOG_FILE"
    # Sticky and world-writable so tests (root) and the server (firebird) can both
    # create and remove databases and backups here.
    install -d -m 1777 "$DIR/db"
    "${SERVER_WRAP[@]}" test -x "$DIR/db" -a -w "$DIR/lock" ||
        die "user firebird cannot reach $DIR (a parent folder is not traversable?)"

    if [ "$RELEASE" = 3 ]; then
        local f
        for f in firebird.msg plugins intl UDF; do ln -sfn "$FB_LIB/$f" "$DIR/server/$f"; done
        cp "$FB_LIB/plugins.conf" "$DIR/server/plugins.conf"
    fi
    cp "$CLIENT_LIB/firebird.msg" "$DIR/client/firebird.msg"
    # Copies stay separate from /etc/firebird; "security.db" must point at the
    # copy or the engine would reach for the machine's (or tree's) own.
    printf 'security.db = %s\n' "$DIR/server/$SECDB" >"$DIR/server/databases.conf"
    if [ ! -f "$DIR/server/$SECDB" ]; then
        [ -r "$SYS_SECDB" ] || die "$SYS_SECDB missing (is the server package installed?)"
        install -m 660 -o "${ids%:*}" -g "${ids#*:}" "$SYS_SECDB" "$DIR/server/$SECDB"
    fi
}

write_confs() {
    local port=$1
    cat >"$DIR/server/firebird.conf" <<EOF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $DIR/server/$SECDB
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

# The server's root (where it finds firebird.conf) and the tools' path.
server_env() {
    if [ "$RELEASE" = 3 ]; then
        echo "PATH=/usr/sbin:/usr/bin:/bin FIREBIRD=$DIR/server"
    else
        echo "PATH=/usr/lib/firebird/4.0/bin:/usr/bin:/bin FIREBIRD=$FB_LIB"
    fi
}

set_sysdba_password() {
    # Embedded engine as user firebird, so every file it touches stays owned by
    # the account the server will run as. Release 4's is the tree's own tool,
    # under the name of its real binary (the wrapper would pick the root).
    local isql=isql-fb
    [ "$RELEASE" = 3 ] || isql=/usr/lib/firebird/4.0/bin/isql-fb
    # shellcheck disable=SC2046
    echo "ALTER USER SYSDBA PASSWORD '$SYSDBA_PASSWORD' USING PLUGIN Srp;" |
        "${SERVER_WRAP[@]}" env -i $(server_env) FIREBIRD_LOCK="$DIR/lock" \
            timeout 30 "$isql" -q -b -user SYSDBA "$DIR/server/$SECDB" \
            >>"$DIR/server.log" 2>&1 ||
        die "could not set SYSDBA password (see $DIR/server.log)"
}

# setsid detaches it from the caller's terminal and job signals; it execs in
# place (no fork) so $! is the server's own pid. fd 9 (our flock) is closed so
# the server does not hold the lock for its whole life. It runs in a UTF-8
# locale, as a server must that meets database file names outside ASCII.
launch() {
    local bin=$FB_BIN
    [ "$RELEASE" = 3 ] || bin=/usr/lib/firebird/4.0/bin/firebird
    cd / # the server must not pin the caller's cwd
    # shellcheck disable=SC2046
    setsid "${SERVER_WRAP[@]}" env -i $(server_env) LANG=C.UTF-8 FIREBIRD_LOCK="$DIR/lock" \
        "$bin" </dev/null >>"$DIR/server.log" 2>&1 9>&- &
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
export FB_RELEASE=$RELEASE
EOF
}

cmd_start() {
    [ "$(id -u)" = 0 ] || die "must run as root (the server runs as user firebird)"
    local release=${FB_RELEASE:-3} tree='' shares=()
    while [ $# -gt 0 ]; do
        case $1 in
            --release) release=$2; shift 2 ;;
            --tree) tree=$(realpath -m "$2"); shift 2 ;;
            --share) shares+=("$(realpath -m "$2")"); shift 2 ;;
            -*) usage ;;
            *) break ;;
        esac
    done
    { [ $# -ge 1 ] && [ $# -le 2 ]; } || usage
    DIR=$(realpath -m "$1")
    shift
    init_log_wrap
    TREE=$tree
    set_release "$release"
    if [ "$RELEASE" = 3 ]; then
        ensure_packages firebird3.0-server firebird3.0-utils libfbclient2 iproute2
    else
        # The machine's tools are the clients; the server is the tree's.
        ensure_packages firebird3.0-utils libfbclient2 iproute2
        [ -n "$tree" ] || ensure_trees
        tree_ok "$TREE" || die "$TREE is no complete Debian 13 tree with firebird4.0-server"
    fi
    mkdir -p "$DIR"
    exec 9>"$DIR/.fbserver.lock"
    flock -w 60 9 || die "another fbserver.sh holds $DIR"

    local pid recorded wanted
    recorded=$(cat "$DIR/release" 2>/dev/null || echo 3)
    wanted="$RELEASE${TREE:+ $TREE}"
    if pid=$(load_release && running_pid); then
        [ "$recorded" = "$wanted" ] || die "$DIR runs another server (release $recorded)"
        echo "fbserver: already running in $DIR (pid $pid, port $(sed -n 's/^export FB_PORT=//p' "$DIR/env.sh"))"
        return 0
    fi
    rm -f "$DIR/server.pid" "$DIR/env.sh"
    # A lock folder another release's server used holds files of other ids.
    [ "$recorded" = "$wanted" ] || rm -rf "$DIR/lock" "$DIR/log"
    echo "$wanted" >"$DIR/release"
    # A shared folder may be filled only later (the sample while the server
    # starts): it must exist for its mount.
    [ ${#shares[@]} = 0 ] || mkdir -p "${shares[@]}"
    printf '%s\n' "$DIR" "${shares[@]}" >"$DIR/shares"
    init_server_wrap
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
    load_release
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
    load_release
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

# Inside the private mount namespace of a release 4 server or tool: lays
# DIR's view over the tree, then runs the command chrooted.
cmd_in_tree() {
    load_release
    # Private /tmp and /dev/shm first, so that folders below /tmp get their
    # mount points there instead of in the tree.
    mount -t proc proc "$TREE/proc"
    mount -t tmpfs -o mode=1777 tmpfs "$TREE/tmp"
    mount -t tmpfs -o mode=1777 tmpfs "$TREE/dev/shm"
    local folder
    while read -r folder; do
        [ -n "$folder" ] || continue
        mkdir -p "$TREE$folder"
        mount --bind "$folder" "$TREE$folder"
    done <"$DIR/shares"
    mount --bind "$DIR/log" "$TREE/var/log/firebird"
    local conf
    for conf in firebird.conf databases.conf; do
        # Not written yet while the folders are being checked.
        [ ! -e "$DIR/server/$conf" ] || mount --bind "$DIR/server/$conf" "$TREE/etc/firebird/4.0/$conf"
    done
    exec chroot "$TREE" "$@"
}

cmd_tree() {
    [ "$(id -u)" = 0 ] || die "must run as root (debootstrap and apt)"
    ensure_trees
    case ${1:-} in
        "") echo "$SERVER_TREE" ;;
        base) echo "$BASE_TREE" ;;
        *) usage ;;
    esac
}

[ $# -ge 1 ] || usage
action=$1
shift
case $action in
    start) cmd_start "$@"; exit ;;
    tree) [ $# -le 1 ] || usage; cmd_tree "$@"; exit ;;
esac
[ $# -ge 1 ] || usage
DIR=$(realpath -m "$1")
shift
init_log_wrap
case $action in
    stop) cmd_stop ;;
    status) cmd_status ;;
    run) [ "${1:-}" = "--" ] && shift; cmd_run "$@" ;;
    _in_tree) cmd_in_tree "$@" ;;
    *) usage ;;
esac
