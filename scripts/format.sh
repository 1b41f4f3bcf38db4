#!/usr/bin/env bash
# Lays out every C and C++ file of the checkout as .clang-format says.
# --check changes nothing and fails on the first file that differs (the
# test command runs it so); the build's `format` target runs it without.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=(-i)
[[ ${1:-} == --check ]] && mode=(--dry-run --Werror)

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z -- '*.c' '*.cpp' '*.h' | xargs -0 clang-format "${mode[@]}"
else
  find . -path ./build -prune -o -path './build*' -prune -o \
    \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format "${mode[@]}"
fi
