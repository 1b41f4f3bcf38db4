#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it without
# installing it on this machine:
#   - its control fields (dependencies, name, version) and its files with
#     their owners and modes (dpkg-deb -I / -c): BackUp and Data beside the
#     window program are links into /var/lib/tovanel; lintian finds no error;
#   - extracted into a scratch folder, its maintainer scripts lay out
#     /var/lib/tovanel, heed a dpkg-statoverride, and removing or purging
#     keeps the operator's files (purge takes away only empty folders);
#   - the extracted tovanel-restore restores a backup into Data through the
#     link, by a private database server;
#   - the extracted Main_Prg, started on the offscreen platform, opens the
#     BackUp and Data beside it, through the links.
# All of it runs in a private mount namespace whose /var/lib is an overlay
# with its changes in the scratch folder, so the machine's /var/lib stays as
# it is; the database server it uses is started inside that namespace too.
#
# Usage: check-package.sh BUILD_DIR
#   Takes the sample backup from BUILD_DIR/fbserver-sample when it is there
#   (as under ctest); otherwise makes one.
set -euo pipefail

[ $# = 1 ] || { sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "$1")
scratch=$build/package-check
tool_dir=usr/lib/tovanel # where the package puts the window program
state=/var/lib/tovanel   # where postinst creates the folders it links to

if [ "${CHECK_PACKAGE_NAMESPACE:-}" != "$$" ]; then
    unshare --mount --propagation private true 2>/dev/null ||
        { echo "check-package: needs a private mount namespace (run as root)" >&2; exit 1; }
    # The re-run knows itself by its pid, which exec keeps.
    export CHECK_PACKAGE_NAMESPACE=$$
    exec unshare --mount --propagation private "$0" "$@"
fi

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
[ "$(field Recommends)" = "firebird4.0-server | firebird3.0-server" ] ||
    fail "Recommends is '$(field Recommends)'"
[ "$(field Suggests)" = "firebird4.0-utils | firebird3.0-utils" ] || fail "Suggests is '$(field Suggests)'"
for f in Maintainer Section Description; do
    [ -n "$(field "$f")" ] || fail "no $f field"
done
info=$(dpkg-deb -I "$deb")
for s in postinst postrm; do
    grep -Eq "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$s " <<<"$info" ||
        fail "no executable $s in the control archive"
done

step "files, owners and modes"
listing=$(dpkg-deb -c "$deb" |
    awk '{ if ($1 ~ /^l/) print $1, $2, $(NF - 2), $(NF - 1), $NF; else print $1, $2, $NF }')
expected=(
    "-rwxr-xr-x root/root ./$tool_dir/Main_Prg"
    "lrwxrwxrwx root/root ./$tool_dir/BackUp -> $state/BackUp"
    "lrwxrwxrwx root/root ./$tool_dir/Data -> $state/Data"
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
# The operator's files live in BackUp and Data: the package ships neither
# folder nor anything in them, so that dpkg can never remove one of them.
grep -E " \./$tool_dir/(BackUp|Data)/" <<<"$listing" && fail "the package ships the folders or files in them"
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

step "a private /var/lib"
# Everything below writes to /var/lib only through this overlay, whose
# changes land in the scratch folder and vanish with the namespace.
[ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] ||
    die "not in a mount namespace of its own"
overlay=$scratch/var-lib
mkdir -p "$overlay/upper" "$overlay/work"
mount -t overlay overlay -o "lowerdir=/var/lib,upperdir=$overlay/upper,workdir=$overlay/work" /var/lib ||
    die "cannot mount an overlay over /var/lib"
# A machine with the package installed has the folders already: hidden here,
# so that postinst starts from nothing.
if [ -e "$state" ]; then
    mkdir -p "$scratch/state" && mount --bind "$scratch/state" "$state"
fi

step "postinst configure lays out $state"
getent group firebird >/dev/null || die "group firebird is missing (is firebird3.0-server installed?)"
"$scratch/control/postinst" configure || fail "postinst configure exited with $?"
mode() { stat -c '%U:%G %a' "$1" 2>&1; }
for e in "$state root:root 755" "$state/Data root:firebird 2775" "$state/BackUp root:root 755"; do
    read -r folder want <<<"$e"
    [ "$(mode "$folder")" = "$want" ] || fail "$folder is $(mode "$folder"), not $want"
done
# An admin's own owner and mode survive a reconfigure.
chmod 750 "$state/BackUp"
dpkg-statoverride --add root root 750 "$state/BackUp"
"$scratch/control/postinst" configure || fail "postinst configure (again) exited with $?"
[ "$(mode "$state/BackUp")" = "root:root 750" ] ||
    fail "postinst overrode the dpkg-statoverride of BackUp: $(mode "$state/BackUp")"
dpkg-statoverride --remove "$state/BackUp"
chmod 755 "$state/BackUp"

step "database server (inside the namespace)"
fbdir=$scratch/fbserver
"$here/fbserver.sh" start "$fbdir" >/dev/null
trap '"$here/fbserver.sh" stop "$fbdir" >/dev/null' EXIT
sample=$build/fbserver-sample
if [ ! -s "$sample/sample.fbk" ]; then
    sample=$scratch/sample
    "$here/make-sample-data.sh" --server "$fbdir" "$sample" >/dev/null
fi
echo "sample backup in $sample"
install -m 644 "$sample/sample.fbk" "$tool/BackUp/sample.fbk"
[ -s "$state/BackUp/sample.fbk" ] || fail "a backup put into $tool/BackUp is not in $state/BackUp"

step "the extracted tovanel-restore restores into Data through the link"
# The server creates the database as user firebird: only Data's group and
# mode as postinst left them let it write there.
install -m 600 /dev/null "$scratch/password"
printf 'fernstone\n' >"$scratch/password"
rc=0
"$here/fbserver.sh" run "$fbdir" env -u ISC_PASSWORD -u ISC_USER "$root/usr/bin/tovanel-restore" \
    --user SYSDBA --password-file "$scratch/password" \
    "$tool/BackUp/sample.fbk" "$tool/Data/sample.fdb" 2>&1 || rc=$?
[ $rc = 0 ] || fail "tovanel-restore exited with $rc"
if [ -s "$state/Data/sample.fdb" ]; then
    [ "$(stat -c %G "$state/Data/sample.fdb")" = firebird ] ||
        fail "the restored file is not in group firebird: $(stat -c %U:%G "$state/Data/sample.fdb")"
    "$here/fbserver.sh" run "$fbdir" isql-fb -q -ch UTF8 -user SYSDBA -password fernstone \
        -i "$sample/check.sql" "localhost:$tool/Data/sample.fdb" >"$scratch/content.txt" 2>&1 || true
    diff "$scratch/content.txt" "$sample/sample.expected" >"$scratch/content.diff" ||
        fail "the restored database differs from the backup's (see $scratch/content.diff)"
else
    fail "no database in $state/Data after the restore"
fi
"$here/fbserver.sh" stop "$fbdir" >/dev/null
trap - EXIT

step "the extracted Main_Prg finds BackUp and Data beside itself"
# The window reads no arguments and prints nothing; what it opens shows which
# folders it found. Started from / so the current folder cannot help.
install -d -m 700 "$scratch/xdg"
rc=0
(cd / && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$scratch/xdg timeout -k 5 10 \
    strace -f -qq -e trace=openat -o "$scratch/main-prg.trace" "$tool/Main_Prg") || rc=$?
# 124: still running when the time was up, as a window at rest should be.
[ $rc = 124 ] || fail "Main_Prg ended with $rc before the time was up"
# The trees open the links; the file lists, which enter their folder and
# take the name the system gives it, read the folders the links lead to.
opened() {
    grep -F -e "\"$1\"" -e "\"$1/\"" "$scratch/main-prg.trace" | grep -q 'O_DIRECTORY) = [0-9]'
}
for folder in BackUp Data; do
    [ -L "$tool/$folder" ] || fail "$tool/$folder is no link"
    opened "$tool/$folder" || fail "Main_Prg did not open $tool/$folder"
    opened "$state/$folder" || fail "Main_Prg did not list $state/$folder"
done

step "postrm keeps the operator's files; purge takes away only empty folders"
# A database of the operator's own, beside the restored one.
printf 'operator data\n' >"$state/Data/operator.fdb"
said() { grep -qF "$state/$1 and its files are left in place" <<<"$2"; }
out=$("$scratch/control/postrm" remove) || fail "postrm remove failed"
for folder in BackUp Data; do
    said "$folder" "$out" || fail "postrm remove does not say that $folder is kept: $out"
done
rm -f "$state/BackUp/sample.fbk"
out=$("$scratch/control/postrm" purge) || fail "postrm purge failed"
said Data "$out" || fail "postrm purge does not say that Data is kept: $out"
! said BackUp "$out" || fail "postrm purge says that the empty BackUp is kept: $out"
for f in Data/operator.fdb Data/sample.fdb; do
    [ -s "$state/$f" ] || fail "postrm deleted $state/$f"
done
[ ! -e "$state/BackUp" ] || fail "postrm purge left the empty $state/BackUp"
rm -f "$state/Data/operator.fdb" "$state/Data/sample.fdb"
out=$("$scratch/control/postrm" purge) || fail "postrm purge (emptied) failed"
[ -z "$out" ] || fail "postrm purge of empty folders says: $out"
[ ! -e "$state" ] || [ -d "$scratch/state" ] || fail "postrm purge left $state: $(ls -AR "$state")"

if ((failures)); then
    echo "check-package: $failures failure(s)" >&2
    exit 1
fi
echo "check-package: all checks passed"
