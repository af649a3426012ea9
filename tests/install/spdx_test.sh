#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/spdx on sample files of each kind: --check finds the ones without the
# licence line and changes nothing; the fix puts the line where each kind allows it
# (after a #! line or an XML declaration), keeps the file's mode, and a second run
# changes nothing.
# Usage: spdx_test.sh [<source-dir>]
set -uo pipefail
source=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
spdx="$source/scripts/spdx"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

printf '#pragma once\nint x;\n' >"$work/a.h"
printf '#!/usr/bin/env bash\necho hi\n' >"$work/run"
chmod 755 "$work/run"
printf '<?xml version="1.0"?>\n<component/>\n' >"$work/meta.xml.in"
printf '<html><body>x</body></html>\n' >"$work/page.html"
printf 'cmake_minimum_required(VERSION 3.25)\n' >"$work/CMakeLists.txt"
printf '// SPDX-License-Identifier: MIT\nint y;\n' >"$work/other.cpp"
printf 'plain notes\n' >"$work/notes.txt"
files=("$work/a.h" "$work/run" "$work/meta.xml.in" "$work/page.html" "$work/CMakeLists.txt"
       "$work/other.cpp" "$work/notes.txt")
before=$(cat "${files[@]}" | sha256sum)

listed=$("$spdx" --check "${files[@]}" 2>/dev/null)
[ $? -eq 1 ] || fail "--check did not exit 1 with files lacking the line"
[ "$(grep -c . <<<"$listed")" -eq 5 ] || fail "--check listed: $listed"
grep -q 'other.cpp\|notes.txt' <<<"$listed" && fail "--check listed a file it should leave alone: $listed"
[ "$(cat "${files[@]}" | sha256sum)" = "$before" ] || fail "--check changed a file"

"$spdx" "${files[@]}" >/dev/null || fail "scripts/spdx failed"
[ "$(head -n1 "$work/a.h")" = "// SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "C++ header: $(head -n1 "$work/a.h")"
[ "$(sed -n 2p "$work/a.h")" = "#pragma once" ] || fail "the header lost its first line"
[ "$(head -n1 "$work/run")" = "#!/usr/bin/env bash" ] || fail "the #! line is no longer first"
[ "$(sed -n 2p "$work/run")" = "# SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "script: $(sed -n 2p "$work/run")"
[ "$(stat -c %a "$work/run")" = 755 ] || fail "the script lost its mode"
[ "$(head -n1 "$work/meta.xml.in")" = '<?xml version="1.0"?>' ] || fail "the XML declaration is no longer first"
[ "$(sed -n 2p "$work/meta.xml.in")" = "<!-- SPDX-License-Identifier: GPL-3.0-or-later -->" ] || fail "XML: $(sed -n 2p "$work/meta.xml.in")"
[ "$(head -n1 "$work/page.html")" = "<!-- SPDX-License-Identifier: GPL-3.0-or-later -->" ] || fail "HTML: $(head -n1 "$work/page.html")"
[ "$(head -n1 "$work/CMakeLists.txt")" = "# SPDX-License-Identifier: GPL-3.0-or-later" ] || fail "CMake: $(head -n1 "$work/CMakeLists.txt")"
[ "$(cat "$work/other.cpp")" = $'// SPDX-License-Identifier: MIT\nint y;' ] || fail "a file with a licence line of its own was changed"
[ "$(cat "$work/notes.txt")" = "plain notes" ] || fail "a file that is not source was changed"

after=$(cat "${files[@]}" | sha256sum)
"$spdx" "${files[@]}" >/dev/null
[ "$(cat "${files[@]}" | sha256sum)" = "$after" ] || fail "a second run changed files"
"$spdx" --check "${files[@]}" >/dev/null 2>&1 || fail "--check still finds files after the fix"

[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "ok: scripts/spdx adds the line once, in the right place, and --check finds what lacks it"
