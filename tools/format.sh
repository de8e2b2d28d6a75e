#!/usr/bin/env bash
# Formats every tracked C++ source as .clang-format says; with --check, changes nothing and fails
# naming each place that differs. The formatter's version is pinned (CLANG_FORMAT, default the
# one of tools/deps-format.txt): another major version lays out some constructs differently.
# Usage: tools/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format-14}
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
    "$format" --dry-run --Werror "${files[@]}"
else
    "$format" -i "${files[@]}"
fi
