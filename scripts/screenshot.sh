#!/usr/bin/env bash
# Checks the real window on a virtual display, as an operator would use it:
# picks the sample backup and the sample target, presses the restore button,
# dismisses the completion box, and confirms that the tool ended and the
# server restored the database. Saves docs/screenshot.png (the window at
# rest, both files chosen) and, in the build folder, a shot of the
# completion box.
#
# Usage: scripts/screenshot.sh        (prepares the demo layout first)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${SCREENSHOT_INNER:-}" ]; then
    scripts/demo.sh --setup-only >/dev/null
    export SCREENSHOT_INNER=1
    exec timeout 600 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

build=$(realpath -m "${BUILD_DIR:-build}")
server=$build/demo-server
bin=$build/bin
shots=$build/screenshots
mkdir -p "$shots" docs
caption="백업된 자료 불러오기(Restore) 자료복구"

fail() { echo "screenshot: $*" >&2; exit 1; }
# xdotool takes window names as regular expressions.
exact() { printf '^%s$' "$(printf '%s' "$1" | sed 's/[][()\\.^$*+?{}|]/\\&/g')"; }

# A fresh target each run, so the restore is seen to replace it.
rm -f "$bin/Data/"*.before-restore*
scripts/fbserver.sh run "$server" timeout 300 gbak -c -rep -se localhost:service_mgr \
    -user SYSDBA -password fernstone "$bin/BackUp/sample.fbk" "$bin/Data/sample.fdb"
before=$(stat -c %i "$bin/Data/sample.fdb")

scripts/fbserver.sh run "$server" "$bin/Main_Prg" &
tool=$!
trap 'kill $tool 2>/dev/null || true' EXIT

window=$(timeout 30 xdotool search --sync --onlyvisible --name "$(exact "$caption")" | head -n 1) ||
    fail "the window did not appear"
# Nothing may be appended to the caption (such as the application's name).
[ "$(xdotool getwindowname "$window")" = "$caption" ] ||
    fail "caption is \"$(xdotool getwindowname "$window")\""
sleep 1

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.5; }
# First item of each list (lists at 112,374 and 526,374; items 18 high),
# then the restore button (389,179, 38 x 208).
click 150 385
click 560 385
import -window "$window" docs/screenshot.png
click 408 283


box=$(timeout 300 xdotool search --sync --onlyvisible --name "$(exact 복구완료)" | head -n 1) ||
    { import -window root "$shots/failed.png"; fail "no completion box (see $shots/failed.png)"; }
sleep 0.5
import -window "$box" "$shots/done.png"
# No window manager here: give the box the keyboard focus ourselves.
xdotool windowfocus --sync "$box"
xdotool key Return

for _ in $(seq 100); do
    kill -0 "$tool" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$tool" 2>/dev/null && fail "the tool did not end after the completion box"
trap - EXIT

after=$(stat -c %i "$bin/Data/sample.fdb")
[ "$before" != "$after" ] || fail "the target was not replaced"
ls "$bin/Data/"*.before-restore* >/dev/null 2>&1 && fail "the old target was left aside"
scripts/fbserver.sh run "$server" timeout 120 isql-fb -q -ch UTF8 -user SYSDBA -password fernstone \
    -i "$build/demo-sample/check.sql" "localhost:$bin/Data/sample.fdb" |
    diff - "$build/demo-sample/sample.expected" >/dev/null || fail "restored content differs"

echo "screenshot: restore confirmed; docs/screenshot.png and $shots/ written"
