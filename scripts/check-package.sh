#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it without
# installing it on this machine:
#   - its control fields (dependencies, name, version) and its files with
#     their owners and modes (dpkg-deb -I / -c), and lintian finds no error;
#   - extracted into a scratch folder, its maintainer scripts lay out
#     BackUp and Data (run where /usr/lib/tovanel is that scratch copy, in a
#     private mount namespace), and removing or purging keeps Data's files;
#   - the extracted tovanel-restore restores a backup into that Data
#     through a private database server;
#   - the extracted Main_Prg, started on the offscreen platform, opens the
#     BackUp and Data beside it.
#
# Usage: check-package.sh BUILD_DIR
#   Uses the tests' private server in BUILD_DIR/fbserver when it runs (as under
#   ctest); otherwise starts one of its own and stops it again.
set -euo pipefail

[ $# = 1 ] || { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
scratch=$build/package-check
tool_dir=usr/lib/tovanel # where the package puts the window program

failures=0
step() { printf '== %s\n' "$*"; }
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }
die() { printf 'check-package: %s\n' "$*" >&2; exit 1; }

step "building the programs and the package"
targets=(Main_Prg trace-monitor tovanel-restore)
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
rm -rf "$build/package" "$scratch"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake) >"$build/package.log" 2>&1 ||
    { cat "$build/package.log" >&2; die "cpack failed"; }
debs=("$build"/package/tovanel_*.deb)
{ [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ]; } || die "expected one package in $build/package"
deb=${debs[0]}
echo "$deb"

step "control fields"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tovanel ] || fail "Package is '$(field Package)'"
{ [ -n "$version" ] && [ "$(field Version)" = "$version" ]; } ||
    fail "Version is '$(field Version)', the project's is '$version'"
# The Qt libraries the window links, the client library it loads by name,
# its fonts, and what the maintainer scripts call.
depends=$(field Depends)
for p in libqt6core6 libqt6gui6 libqt6widgets6 libfbclient2 fonts-nanum adduser; do
    grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
[ "$(field Recommends)" = firebird3.0-server ] || fail "Recommends is '$(field Recommends)'"
[ "$(field Suggests)" = firebird3.0-utils ] || fail "Suggests is '$(field Suggests)'"
for f in Maintainer Section Description; do
    [ -n "$(field "$f")" ] || fail "no $f field"
done
info=$(dpkg-deb -I "$deb")
for s in postinst postrm; do
    grep -Eq "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$s " <<<"$info" ||
        fail "no executable $s in the control archive"
done

step "files, owners and modes"
listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $NF }')
expected=(
    "-rwxr-xr-x root/root ./$tool_dir/Main_Prg"
    "drwxr-xr-x root/root ./$tool_dir/BackUp/"
    "drwxr-xr-x root/root ./$tool_dir/Data/"
    "-rwxr-xr-x root/root ./usr/bin/tovanel-trace-monitor"
    "-rwxr-xr-x root/root ./usr/bin/tovanel-restore"
    "-rw-r--r-- root/root ./usr/share/applications/tovanel.desktop"
    "-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/tovanel.svg"
    "-rw-r--r-- root/root ./usr/share/doc/tovanel/README.md"
    "-rw-r--r-- root/root ./usr/share/doc/tovanel/trace-monitor.md"
    "-rw-r--r-- root/root ./usr/share/doc/tovanel/copyright"
    "-rw-r--r-- root/root ./usr/share/doc/tovanel/changelog.gz"
    "-rw-r--r-- root/root ./usr/share/man/man1/tovanel-trace-monitor.1.gz"
    "-rw-r--r-- root/root ./usr/share/man/man1/tovanel-restore.1.gz"
)
for e in "${expected[@]}"; do
    grep -qxF -- "$e" <<<"$listing" || fail "missing or wrong: $e"
done
# The operator's files live in BackUp and Data: the package never ships any
# there, so that dpkg can never remove one of them.
grep -E " \./$tool_dir/(BackUp|Data)/." <<<"$listing" && fail "the package ships files inside BackUp or Data"
grep -v ' root/root ' <<<"$listing" && fail "files not owned by root"
grep -v ' \./usr/' <<<"$listing" && fail "files outside /usr"

step "lintian (errors fail the check)"
rc=0
tags=$(lintian --fail-on error "$deb" 2>&1) || rc=$?
grep -v 'root privileges' <<<"$tags" || true
[ $rc = 0 ] || fail "lintian reports errors"

step "extracting into $scratch"
root=$scratch/root
mkdir -p "$scratch"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$scratch/control"
tool=$root/$tool_dir
grep -q "^Exec=/$tool_dir/Main_Prg$" "$root/usr/share/applications/tovanel.desktop" ||
    fail "the desktop entry does not start /$tool_dir/Main_Prg"

# Runs a maintainer script where /usr/lib/tovanel is the extracted copy: an
# overlay over /usr/lib (so nothing of this machine's /usr/lib changes) and a
# bind mount of the copy, both gone when the namespace ends.
maintainer_script() {
    rm -rf "$scratch/overlay" && mkdir -p "$scratch/overlay/upper" "$scratch/overlay/work"
    # shellcheck disable=SC2016
    unshare --mount --propagation private sh -c '
        mount -t overlay overlay -o "lowerdir=/usr/lib,upperdir=$1/upper,workdir=$1/work" /usr/lib &&
        mkdir -p /usr/lib/tovanel && mount --bind "$2" /usr/lib/tovanel || exit 99
        shift 2
        exec "$@"' sh "$scratch/overlay" "$tool" "$@"
}

step "postinst configure lays out BackUp and Data"
getent group firebird >/dev/null || die "group firebird is missing (is firebird3.0-server installed?)"
rc=0
maintainer_script "$scratch/control/postinst" configure || rc=$?
[ $rc != 99 ] || die "cannot mount an overlay over /usr/lib in a private namespace"
[ $rc = 0 ] || fail "postinst configure exited with $rc"
[ "$(stat -c '%U:%G %a' "$tool/Data")" = "root:firebird 2775" ] ||
    fail "Data is $(stat -c '%U:%G %a' "$tool/Data"), not root:firebird 2775"
[ "$(stat -c '%U:%G %a' "$tool/BackUp")" = "root:root 755" ] ||
    fail "BackUp is $(stat -c '%U:%G %a' "$tool/BackUp"), not root:root 755"

step "database server"
fbdir=$build/fbserver
own_server=0
if ! "$here/fbserver.sh" status "$fbdir" >/dev/null; then
    fbdir=$scratch/fbserver
    "$here/fbserver.sh" start "$fbdir" >/dev/null
    own_server=1
    trap '"$here/fbserver.sh" stop "$fbdir" >/dev/null' EXIT
fi
sample=$build/fbserver-sample
if [ ! -s "$sample/sample.fbk" ]; then
    sample=$scratch/sample
    "$here/make-sample-data.sh" --server "$fbdir" "$sample" >/dev/null
fi
echo "server in $fbdir (own: $own_server), sample backup in $sample"
install -m 644 "$sample/sample.fbk" "$tool/BackUp/sample.fbk"

step "the extracted tovanel-restore restores into Data"
# The server creates the database as user firebird: only Data's group and
# mode as postinst left them let it write there.
install -m 600 /dev/null "$scratch/password"
printf 'fernstone\n' >"$scratch/password"
rc=0
"$here/fbserver.sh" run "$fbdir" env -u ISC_PASSWORD -u ISC_USER "$root/usr/bin/tovanel-restore" \
    --user SYSDBA --password-file "$scratch/password" \
    "$tool/BackUp/sample.fbk" "$tool/Data/sample.fdb" 2>&1 || rc=$?
[ $rc = 0 ] || fail "tovanel-restore exited with $rc"
if [ -s "$tool/Data/sample.fdb" ]; then
    [ "$(stat -c %G "$tool/Data/sample.fdb")" = firebird ] ||
        fail "the restored file is not in group firebird: $(stat -c %U:%G "$tool/Data/sample.fdb")"
    "$here/fbserver.sh" run "$fbdir" isql-fb -q -ch UTF8 -user SYSDBA -password fernstone \
        -i "$sample/check.sql" "localhost:$tool/Data/sample.fdb" >"$scratch/content.txt" 2>&1 || true
    diff "$scratch/content.txt" "$sample/sample.expected" >"$scratch/content.diff" ||
        fail "the restored database differs from the backup's (see $scratch/content.diff)"
else
    fail "no database in $tool/Data after the restore"
fi

step "the extracted Main_Prg finds BackUp and Data beside itself"
# The window reads no arguments and prints nothing; what it opens shows which
# folders it found. Started from / so the current folder cannot help.
install -d -m 700 "$scratch/xdg"
rc=0
(cd / && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$scratch/xdg timeout -k 5 10 \
    strace -f -qq -e trace=openat -o "$scratch/main-prg.trace" "$tool/Main_Prg") || rc=$?
# 124: still running when the time was up, as a window at rest should be.
[ $rc = 124 ] || fail "Main_Prg ended with $rc before the time was up"
for folder in BackUp Data; do
    opened=$(grep -F -e "\"$tool/$folder\"" -e "\"$tool/$folder/\"" "$scratch/main-prg.trace" |
        grep 'O_DIRECTORY) = [0-9]' || true)
    [ -n "$opened" ] || fail "Main_Prg did not open $tool/$folder"
done

step "postrm remove and purge keep Data's files"
# A database of the operator's own, beside whatever the restore left there.
printf 'operator data\n' >"$tool/Data/operator.fdb"
for action in remove purge; do
    out=$(maintainer_script "$scratch/control/postrm" "$action") || fail "postrm $action failed"
    grep -qF "/$tool_dir/Data and its files are left in place" <<<"$out" ||
        fail "postrm $action does not say that Data is kept: $out"
done
for f in Data/operator.fdb BackUp/sample.fbk; do
    [ -s "$tool/$f" ] || fail "postrm deleted $f"
done

if ((failures)); then
    echo "check-package: $failures failure(s)" >&2
    exit 1
fi
echo "check-package: all checks passed"
