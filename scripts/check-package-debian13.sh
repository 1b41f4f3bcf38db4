#!/usr/bin/env bash
# shellcheck disable=SC2016 # the formats are dpkg-query's
# Installs the Debian package, as built here on Debian 12, into copies of a
# Debian 13 system (the trees fbserver.sh keeps, see "fbserver.sh tree") the
# way an administrator would, and checks that it works there:
#   - apt installs it with its recommendations and exits 0, every package
#     configured: on a fresh system (where the recommendation must bring
#     Debian 13's own firebird4.0-server), and on one that already has
#     firebird4.0-server (where it must bring no server beside it);
#   - the installed tovanel-restore --replace, in local mode, restores the
#     sample backup into Data through the link postinst laid out, against the
#     system's Firebird 4.0 server, and the content is the backup's;
#   - the installed Main_Prg, started on the offscreen platform, opens its
#     BackUp and Data;
#   - dpkg removes and purges the package, and the operator's files stay.
# Each copy is an overlay over its tree, whose changes land in
# BUILD_DIR/package-check-debian13 (deleted once all checks passed); the
# trees themselves are never changed.
#
# Usage: check-package-debian13.sh BUILD_DIR
#   Takes the package from BUILD_DIR/package (made again when older than the
#   programs) and the sample backup from BUILD_DIR/fbserver-sample.
set -euo pipefail

[ $# = 1 ] || { sed -n '3,21p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
scratch=$build/package-check-debian13
sample=$build/fbserver-sample
cases=(fresh with-server) # on the bare system, and on one with firebird4.0-server

die() { printf 'check-package-debian13: %s\n' "$*" >&2; exit 1; }

# The checks run in a private mount namespace, in a second run of this
# script that knows itself by its parent's pid; the changes are deleted from
# the machine's own namespace, where nothing is mounted inside them.
if [ "${CHECK_DEBIAN13_NAMESPACE:-}" != "$PPID" ]; then
    [ "$(id -u)" = 0 ] || die "must run as root (chroot, mounts, apt)"
    [ -s "$sample/sample.fbk" ] || die "no sample backup in $sample (run the test fixture first)"
    rm -rf --one-file-system "$scratch"
    mkdir -p "$scratch"
    rc=0
    CHECK_DEBIAN13_NAMESPACE=$$ BASE_TREE=$("$here/fbserver.sh" tree base) \
        SERVER_TREE=$("$here/fbserver.sh" tree) unshare --mount --propagation private "$0" "$@" || rc=$?
    [ $rc != 0 ] || rm -rf --one-file-system "$scratch"
    exit $rc
fi
APT_ARCHIVES=$(dirname "$SERVER_TREE")/apt-archives

failures=0
step() { printf '== %s (at %d s)\n' "$*" "$SECONDS"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }

step "the package"
cmake --build "$build" -j2 --target Main_Prg trace-monitor tovanel-restore >/dev/null
debs=("$build"/package/tovanel_*.deb)
stale=1
if [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ]; then
    stale=0
    for p in "$build"/bin/Main_Prg "$build"/bin/tovanel-restore "$build/CPackConfig.cmake"; do
        [ "$p" -nt "${debs[0]}" ] && stale=1
    done
fi
if [ $stale = 1 ]; then
    rm -rf "$build/package"
    (cd "$build" && cpack -G DEB --config CPackConfig.cmake) >"$build/package.log" 2>&1 ||
        { cat "$build/package.log" >&2; die "cpack failed"; }
    debs=("$build"/package/tovanel_*.deb)
fi
deb=${debs[0]}
echo "$deb"

# A copy of `tree` at `copy`, with what apt and the installed programs need
# of the system around them. Its root is a mount point, as on a machine of
# its own: the window finds the folders it opens among the mounted file systems.
prepare_copy() {
    local tree=$1 copy=$2
    mkdir -p "$copy" "$copy.changes" "$copy.work"
    mount -t overlay overlay -o "lowerdir=$tree,upperdir=$copy.changes,workdir=$copy.work" "$copy"
    mount -t proc proc "$copy/proc"
    mount -t tmpfs -o mode=1777 tmpfs "$copy/tmp"
    mount -t tmpfs -o mode=1777 tmpfs "$copy/dev/shm"
    mount --bind /etc/resolv.conf "$copy/etc/resolv.conf"
    mkdir -p "$APT_ARCHIVES/partial"
    mount --bind "$APT_ARCHIVES" "$copy/var/cache/apt/archives"
    install -d -m 700 "$copy/root/check"
    cp "$deb" "$copy/root/check/"
}
in_copy() {
    local copy=$1
    shift
    chroot "$copy" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root \
        DEBIAN_FRONTEND=noninteractive "$@"
}
status_of() { in_copy "$1" dpkg-query -W -f='${db:Status-Abbrev}' "$2" 2>/dev/null | tr -d ' ' || true; }

check_install() {
    local copy=$1 case=$2 rc=0
    step "$case: apt-get install of the package, with its recommendations"
    in_copy "$copy" apt-get update -qq >"$scratch/$case-apt.log" 2>&1 || rc=$?
    # Unsafe writes: a copy that a crash would spoil is made again anyway.
    [ $rc = 0 ] && { in_copy "$copy" apt-get install -y -o APT::Install-Recommends=true \
        -o Dpkg::Options::=--force-unsafe-io \
        "/root/check/$(basename "$deb")" >>"$scratch/$case-apt.log" 2>&1 || rc=$?; }
    [ $rc = 0 ] || { tail -n 20 "$scratch/$case-apt.log" >&2; fail "$case: apt-get install exited with $rc"; }
    local unconfigured
    unconfigured=$(in_copy "$copy" dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | grep -v '^ii ' || true)
    [ -z "$unconfigured" ] || fail "$case: packages not configured: $unconfigured"
    [ "$(status_of "$copy" tovanel)" = ii ] || fail "$case: tovanel is not installed"
    [ "$(status_of "$copy" firebird4.0-server)" = ii ] || fail "$case: firebird4.0-server is not installed"
    [ -z "$(status_of "$copy" firebird3.0-server)" ] || [ "$(status_of "$copy" firebird3.0-server)" = un ] ||
        fail "$case: apt brought firebird3.0-server: $(status_of "$copy" firebird3.0-server)"
    echo "server: firebird4.0-server $(in_copy "$copy" dpkg-query -W -f='${Version}' firebird4.0-server)," \
        "client library: libfbclient2 $(in_copy "$copy" dpkg-query -W -f='${Version}' libfbclient2)," \
        "Qt: $(in_copy "$copy" dpkg-query -W -f='${Version}' libqt6core6t64 2>/dev/null || echo '?')"
}

check_restore() {
    local copy=$1 case=$2
    local fbdir=$scratch/$case-server port rc=0
    step "$case: the installed tovanel-restore --replace restores into Data, against Firebird 4.0"
    # The system's server, from its own files, with a private port and
    # password; its clients find the port where an administrator sets it.
    "$here/fbserver.sh" start --release 4 --tree "$copy" "$fbdir" >/dev/null ||
        { fail "$case: the Firebird 4.0 server did not start"; return; }
    port=$(sed -n 's/^export FB_PORT=//p' "$fbdir/env.sh")
    echo "RemoteServicePort = $port" >"$copy/etc/firebird/4.0/service-port.conf"
    install -m 644 "$sample/sample.fbk" "$copy/var/lib/tovanel/BackUp/sample.fbk"
    # The operator's old database, as the window would have left it.
    printf 'the old database\n' >"$copy/var/lib/tovanel/Data/sample.fdb"
    chmod 664 "$copy/var/lib/tovanel/Data/sample.fdb"
    printf 'fernstone\n' >"$copy/root/check/password"
    in_copy "$copy" tovanel-restore --replace --user SYSDBA --password-file /root/check/password \
        /usr/lib/tovanel/BackUp/sample.fbk /usr/lib/tovanel/Data/sample.fdb \
        >"$scratch/$case-restore.log" 2>&1 || rc=$?
    [ $rc = 0 ] || { cat "$scratch/$case-restore.log" >&2; fail "$case: tovanel-restore exited with $rc"; }
    "$here/fbserver.sh" run "$fbdir" isql-fb -q -ch UTF8 -user SYSDBA -password fernstone \
        -i "$sample/check.sql" "localhost:/usr/lib/tovanel/Data/sample.fdb" >"$scratch/$case-content.txt" 2>&1 || true
    diff "$scratch/$case-content.txt" "$sample/sample.expected" >"$scratch/$case-content.diff" ||
        fail "$case: the restored database differs from the backup's (see $scratch/$case-content.diff)"
    [ "$(ls "$copy/var/lib/tovanel/Data")" = sample.fdb ] ||
        fail "$case: Data holds more than the restored database: $(ls "$copy/var/lib/tovanel/Data")"
    "$here/fbserver.sh" stop "$fbdir" >/dev/null
}

check_window() {
    local copy=$1 case=$2
    local trace=$scratch/$case-main-prg.trace rc=0
    step "$case: the installed Main_Prg opens BackUp and Data"
    install -d -m 700 "$copy/tmp/xdg"
    timeout -k 5 10 strace -f -qq -e trace=openat -o "$trace" chroot "$copy" env -i \
        PATH=/usr/bin:/bin LANG=C.UTF-8 HOME=/root QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/xdg \
        /usr/lib/tovanel/Main_Prg >"$scratch/$case-main-prg.log" 2>&1 || rc=$?
    # 124: still running when the time was up, as a window at rest should be.
    [ $rc = 124 ] || { cat "$scratch/$case-main-prg.log" >&2; fail "$case: Main_Prg ended with $rc"; }
    local folder path
    for folder in BackUp Data; do
        for path in "/usr/lib/tovanel/$folder" "/var/lib/tovanel/$folder"; do
            grep -F -e "\"$path\"" -e "\"$path/\"" "$trace" | grep -q 'O_DIRECTORY) = [0-9]' ||
                fail "$case: Main_Prg did not open $path"
        done
    done
}

check_removal() {
    local copy=$1 case=$2 data=$1/var/lib/tovanel/Data
    step "$case: dpkg removes and purges the package; the operator's files stay"
    printf 'operator data\n' >"$data/operator.fdb"
    in_copy "$copy" dpkg -r tovanel >"$scratch/$case-remove.log" 2>&1 || fail "$case: dpkg -r exited with $?"
    [ "$(status_of "$copy" tovanel)" = rc ] || fail "$case: tovanel after removal: $(status_of "$copy" tovanel)"
    in_copy "$copy" dpkg -P tovanel >>"$scratch/$case-remove.log" 2>&1 || fail "$case: dpkg -P exited with $?"
    [ -z "$(in_copy "$copy" dpkg-query -W -f='${db:Status-Abbrev}' tovanel 2>/dev/null | tr -d ' ')" ] ||
        fail "$case: tovanel is still known to dpkg after the purge"
    for f in operator.fdb sample.fdb; do
        [ -s "$data/$f" ] || fail "$case: removing the package deleted $data/$f"
    done
    [ ! -e "$copy/usr/lib/tovanel/Main_Prg" ] || fail "$case: Main_Prg is still there after the purge"
}

for name in "${cases[@]}"; do
    copy=$scratch/$name
    if [ "$name" = fresh ]; then tree=$BASE_TREE; else tree=$SERVER_TREE; fi
    prepare_copy "$tree" "$copy"
    check_install "$copy" "$name"
    check_restore "$copy" "$name"
    check_window "$copy" "$name"
    check_removal "$copy" "$name"
done

if ((failures)); then
    echo "check-package-debian13: $failures failure(s); the copies stay in $scratch" >&2
    exit 1
fi
echo "check-package-debian13: all checks passed"
