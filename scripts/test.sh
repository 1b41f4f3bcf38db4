#!/usr/bin/env bash
# Sets up a fresh machine, builds with warnings as errors, and runs every test
# (the test run starts and stops its own private database server); then does
# the same once more under AddressSanitizer and UndefinedBehaviorSanitizer.
# SKIP_SANITIZERS=1 leaves the second pass out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Layout first: it takes seconds and needs no build (`cmake --build build
# --target format` fixes what it reports).
scripts/format.sh --check

build=${BUILD_DIR:-build}
# The tests' database server runs as user firebird and works in folders
# inside the build folder; a checkout it cannot reach (below /root, say)
# gets its build folder under /var/tmp instead.
if ! runuser -u firebird -- test -x "$(realpath -m "$build/..")" 2>/dev/null; then
  build=/var/tmp/tovanel-build-$(printf %s "$PWD" | md5sum | cut -c1-12)
  echo "build folder: $build (the checkout is out of the database server's reach)"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESTORE_WERROR=ON >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300 -j2 -LE firebird4
# The tests that work on a database server once more, over the same build,
# against Firebird 4.0 from Debian 13; a machine's first run also makes the
# Debian 13 tree it runs in (see scripts/fbserver.sh).
pass=$SECONDS
ctest --test-dir "$build" --output-on-failure --timeout 300 -j2 -L firebird4
echo "Firebird 4.0 pass: $((SECONDS - pass)) s"

# Static analysis with the checks .clang-tidy lists, over the libraries
# without Qt (core, platform, services, restore, cli). clang-tidy takes
# about 50 s on a translation unit that includes Qt and 6 to 18 s on one
# that does not; these 30 files take about three minutes on two cores, the
# Qt ones would take longer than the whole test run does. The controls and
# the window are thin layers over them, and the compiler's -Werror warnings
# still cover them.
# The compile database names files by the checkout's physical path.
root=$(pwd -P | sed 's/[][\.*^$+?(){}|]/\\&/g')
run-clang-tidy -p "$build" -j2 -quiet \
  "^$root/(core|platform|platform/fs|platform/ipc|services|restore|cli)/[^/]*\.cpp\$" \
  >"$build/clang-tidy.log" 2>&1 || { grep -v 'warnings generated' "$build/clang-tidy.log"; exit 1; }
echo "clang-tidy: $(grep -c '^clang-tidy' "$build/clang-tidy.log") files, no findings"

if [[ ${SKIP_SANITIZERS:-0} != 1 ]]; then
  asan="$build-sanitize"
  cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRESTORE_WERROR=ON \
    -DRESTORE_SANITIZE=ON -DRESTORE_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$asan"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$asan" --output-on-failure --timeout 600 -j2
fi
