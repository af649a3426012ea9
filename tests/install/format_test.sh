#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every C++ source of the tree is laid out as .clang-format says; the files that
# are not are named, with clang-format's first complaint for each.
# Usage: format_test.sh [<source-dir>]   (77: clang-format is not installed)
set -uo pipefail
source=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
if ! command -v clang-format >/dev/null 2>&1; then
  echo "SKIP: clang-format is not installed (scripts/setup installs it)"
  exit 77
fi
cd "$source" || exit 1

# The tracked files of a checkout; otherwise every source outside build folders.
files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')
fi
if [ ${#files[@]} -eq 0 ]; then
  mapfile -t files < <(find . -path './build*' -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "FAIL: no C++ sources found under $source" >&2
  exit 1
fi

# One run over everything is quick; only when it complains is each file asked,
# so that the report names them.
if clang-format --dry-run --Werror "${files[@]}" >/dev/null 2>&1; then
  echo "${#files[@]} files checked, all formatted"
  exit 0
fi
failures=0
for file in "${files[@]}"; do
  [ -f "$file" ] || continue # deleted but not yet committed
  if ! complaint=$(clang-format --dry-run --Werror "$file" 2>&1); then
    echo "FAIL: $file is not formatted (clang-format -i $file)" >&2
    head -n 3 <<<"$complaint" >&2
    failures=$((failures + 1))
  fi
done
echo "${#files[@]} files checked, $failures not formatted"
[ "$failures" -eq 0 ]
