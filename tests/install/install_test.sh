#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks what a desktop user gets:
# the installed tree, the menu entry, the AppStream data, the man page, the
# launcher, the autostart entry, and a start through the menu entry under Xvfb.
# Usage: install_test.sh <build-dir> [<source-dir>]
# Exit status 77 (skipped) only when the program reports that its window is not
# there yet; every other check has run and passed by then.
set -uo pipefail

build=$(cd "$1" && pwd)
source=$(cd "${2:-$(dirname "$0")/../..}" && pwd)

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
# Each group says "ok" only when it added no failure of its own.
group() { group_start=$failures; }
group_ok() { [ $failures -eq "$group_start" ] && pass "$@"; }

# A prefix with a space, a dollar, quotes and a percent sign: the Exec lines must
# quote what the desktop would otherwise split or expand.
prefix="$work/install root \$HOME \"q\" 100%"
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install into a temporary prefix" >&2
  exit 1
fi
pass "cmake --install into '$prefix'"

# --- The installed tree -------------------------------------------------------
group
for exe in bin/ringpost bin/ringpost-launcher; do
  [ -f "$prefix/$exe" ] && [ -x "$prefix/$exe" ] || fail "$exe is missing or not executable"
done
for file in share/applications/ringpost.desktop \
            share/metainfo/org.amberfold.Ringpost.metainfo.xml \
            share/icons/hicolor/scalable/apps/ringpost.svg \
            share/man/man1/ringpost.1.gz \
            share/doc/ringpost/copyright share/doc/ringpost/changelog.gz; do
  [ -s "$prefix/$file" ] || fail "$file is missing or empty"
done
[ -e "$prefix/share/man/man1/ringpost-launcher.1.gz" ] || fail "ringpost-launcher(1) does not lead to the man page"

# Each PNG's own width and height (IHDR, bytes 16..23) match the folder it sits in,
# or the icon theme picks a blurred or wrong size.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'; }
for size in 16 22 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/ringpost.png"
  if [ ! -f "$icon" ]; then
    fail "icon ${size}x${size} is missing"
  elif [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" != "89504e470d0a1a0a" ]; then
    fail "icon ${size}x${size} is not a PNG"
  elif [ "$(png_size "$icon")" != "${size}x${size}" ]; then
    fail "icon in ${size}x${size}/ is $(png_size "$icon")"
  fi
done

# Files whose mode a package or a shared prefix would get wrong.
while IFS= read -r -d '' f; do
  fail "installed file is not readable by everyone: ${f#"$prefix"/}"
done < <(find "$prefix" -type f ! -perm -0444 -print0)
while IFS= read -r -d '' d; do
  fail "installed folder is not 0755: ${d#"$prefix"/}"
done < <(find "$prefix" -mindepth 1 -type d ! -perm 0755 -print0)

# The bundled help comes along when the source has it.
shopt -s nullglob
help_sources=("$source"/platform/gui/help/*.html)
shopt -u nullglob
if [ ${#help_sources[@]} -gt 0 ]; then
  for h in "${help_sources[@]}"; do
    cmp -s "$h" "$prefix/share/ringpost/help/$(basename "$h")" || fail "help page $(basename "$h") is not installed"
  done
else
  echo "note: platform/gui/help/ has no HTML pages yet; nothing to install there"
fi
group_ok "installed tree: programs, icons in every size, man page, documents, help"

# --- The menu entry -----------------------------------------------------------
desktop="$prefix/share/applications/ringpost.desktop"
if ! command -v desktop-file-validate >/dev/null; then
  fail "desktop-file-validate is missing (scripts/setup installs desktop-file-utils)"
elif ! out=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$out" ]; then
  fail "desktop-file-validate on the menu entry: $out"
fi
key() { sed -n "s/^$1=//p" "$2" | head -n 1; }
[ "$(key Name "$desktop")" = "Ringpost" ] || fail "menu entry Name is not Ringpost"
[ -n "$(key Comment "$desktop")" ] || fail "menu entry has no Comment"
[ -n "$(key Keywords "$desktop")" ] || fail "menu entry has no Keywords"
[ "$(key Categories "$desktop")" = "Office;Calendar;" ] || fail "menu entry Categories is not Office;Calendar;"
[ "$(key Icon "$desktop")" = "ringpost" ] || fail "menu entry Icon is not the theme icon ringpost"

# Splits an Exec value as a desktop does: string escapes, then double-quoted
# arguments with \" \` \$ \\ escapes, then %% -> %. Prints one argument a line.
exec_argv() {
  python3 - "$1" <<'PY'
import sys
value = sys.argv[1]
s, i = [], 0
while i < len(value):
    c = value[i]
    if c == "\\" and i + 1 < len(value):
        s.append({"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(value[i + 1], "\\" + value[i + 1]))
        i += 2
    else:
        s.append(c)
        i += 1
s = "".join(s)
args, cur, i, quoted, have = [], [], 0, False, False
while i < len(s):
    c = s[i]
    if quoted:
        if c == "\\" and i + 1 < len(s) and s[i + 1] in '"`$\\':
            cur.append(s[i + 1]); i += 2; continue
        if c == '"':
            quoted = False
        else:
            cur.append(c)
    elif c == '"':
        quoted, have = True, True
    elif c == " ":
        if cur or have:
            args.append("".join(cur)); cur, have = [], False
    else:
        cur.append(c)
    i += 1
if quoted:
    sys.exit("unterminated quote")
if cur or have:
    args.append("".join(cur))
for a in args:
    if "%" in a.replace("%%", ""):
        sys.exit("field code in " + a)
    print(a.replace("%%", "%"))
PY
}
mapfile -t menu_argv < <(exec_argv "$(key Exec "$desktop")")
if [ ${#menu_argv[@]} -eq 1 ] && [ "${menu_argv[0]}" = "$prefix/bin/ringpost-launcher" ]; then
  pass "menu entry: desktop-file-validate, keys, Exec names the installed launcher"
else
  fail "menu entry Exec does not name the installed launcher: $(key Exec "$desktop")"
fi

# --- AppStream ----------------------------------------------------------------
metainfo="$prefix/share/metainfo/org.amberfold.Ringpost.metainfo.xml"
grep -q '<launchable type="desktop-id">ringpost.desktop</launchable>' "$metainfo" ||
  fail "metainfo does not launch ringpost.desktop"

if command -v appstreamcli >/dev/null; then
  if (cd "$work" && appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1); then
    pass "metainfo: appstreamcli validate --no-net"
  else
    fail "appstreamcli validate: $(cat "$work/appstream.log")"
  fi
else
  echo "skip: appstreamcli is not installed; metainfo not validated"
fi

# --- The licence ----------------------------------------------------------------
group
copyright="$prefix/share/doc/ringpost/copyright"
grep -qx '<project_license>GPL-3.0-or-later</project_license>' <(sed 's/^ *//' "$metainfo") ||
  fail "metainfo does not name the licence GPL-3.0-or-later"
grep -qx '<developer_name>Ringpost developers</developer_name>' <(sed 's/^ *//' "$metainfo") ||
  fail "metainfo does not name the Ringpost developers"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' "$copyright" ||
  fail "copyright is not in the machine-readable format"
[ "$(grep -c '^License: GPL-3+$' "$copyright")" -ge 2 ] ||
  fail "copyright does not license the files under GPL-3+ and say what that is"
grep -q '/usr/share/common-licenses/GPL-3' "$copyright" || fail "copyright does not point to the licence text"
cmp -s /usr/share/common-licenses/GPL-3 "$source/LICENSE" || fail "LICENSE is not the full GPL-3 text"
# No made-up addresses where a user or a software centre would follow them.
if grep -rlE 'example\.(org|com|net)|LicenseRef-proprietary|All rights reserved' \
     "$metainfo" "$copyright" "$prefix/share/applications" >"$work/placeholders" 2>/dev/null; then
  fail "placeholder address or old licence in: $(tr '\n' ' ' <"$work/placeholders")"
fi
group_ok "licence: GPL-3.0-or-later in the metainfo and the copyright, LICENSE, no placeholder addresses"

# --- The man page -------------------------------------------------------------
man_page="$prefix/share/man/man1/ringpost.1.gz"
if LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$man_page" >/dev/null 2>"$work/man.err" &&
   [ ! -s "$work/man.err" ]; then
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man_page" 2>/dev/null)
  missing=()
  for word in "debug" "Ringpost.reg" "MailStore.ini" "Amberfold/Ringpost/" "NOTIFY.CLD" "TASK.CLD" \
              "EMAIL.CLD" "DEBUG.LOG" "Outbox" "XDG_CONFIG_HOME" "XDG_DATA_HOME" "EXIT STATUS" "autostart"; do
    grep -qF -- "$word" <<<"$text" || missing+=("$word")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    pass "man page renders with man -l, without warnings, and covers the files and variables"
  else
    fail "man page does not mention: ${missing[*]}"
  fi
else
  fail "man -l on the man page: $(cat "$work/man.err")"
fi

# --- The launcher, with a stand-in program -------------------------------------
group
launcher="$prefix/bin/ringpost-launcher"
stand_in="$work/stand-in"
printf '#!/bin/sh\npwd > "%s/cwd"\nfor a in "$@"; do echo "$a"; done > "%s/args"\nexit 3\n' "$work" "$work" >"$stand_in"
chmod +x "$stand_in"
lhome="$work/launcher home"
mkdir -p "$lhome"
(cd / && env -u XDG_DATA_HOME HOME="$lhome" RINGPOST_BINARY="$stand_in" "$launcher" debug "two words")
status=$?
data="$lhome/.local/share/Amberfold/Ringpost"
[ $status -eq 3 ] || fail "launcher did not return the program's exit status (got $status)"
[ "$(cat "$work/cwd" 2>/dev/null)" = "$data" ] || fail "launcher did not start the program in $data"
[ "$(cat "$work/args" 2>/dev/null)" = $'debug\ntwo words' ] || fail "launcher did not pass the arguments on unchanged"
[ "$(stat -c %a "$data" 2>/dev/null)" = "700" ] || fail "launcher made the data folder with mode $(stat -c %a "$data" 2>/dev/null), not 700"
(env XDG_DATA_HOME="$work/xdg data" RINGPOST_BINARY="$stand_in" "$launcher") >/dev/null 2>&1
[ "$(cat "$work/cwd")" = "$work/xdg data/Amberfold/Ringpost" ] || fail "launcher ignored XDG_DATA_HOME"
(env HOME="$lhome" RINGPOST_BINARY="$work/no such program" "$launcher") >/dev/null 2>"$work/missing.err"
status=$?
[ $status -eq 127 ] && grep -q "missing" "$work/missing.err" ||
  fail "a missing program did not end the launcher with 127 and a message (got $status)"
group_ok "launcher: data folder 0700, working directory, arguments, status, XDG_DATA_HOME"

# --- Start at login -----------------------------------------------------------
autostart_config="$work/autostart config"
if (env PATH="$prefix/bin:$PATH" XDG_CONFIG_HOME="$autostart_config" "$source/scripts/run" --autostart) >"$work/autostart.log" 2>&1; then
  entry="$autostart_config/autostart/ringpost.desktop"
  mapfile -t auto_argv < <(exec_argv "$(key Exec "$entry" 2>/dev/null)")
  if [ ! -f "$entry" ]; then
    fail "scripts/run --autostart wrote no $entry"
  elif ! out=$(desktop-file-validate "$entry" 2>&1) || [ -n "$out" ]; then
    fail "desktop-file-validate on the autostart entry: $out"
  elif [ ${#auto_argv[@]} -ne 1 ] || [ "${auto_argv[0]}" != "$launcher" ]; then
    fail "autostart Exec does not name the installed launcher: $(key Exec "$entry")"
  elif ! grep -qF "$entry" "$work/autostart.log"; then
    fail "scripts/run --autostart did not say what it wrote"
  else
    pass "scripts/run --autostart writes a valid entry that starts the installed launcher"
  fi
else
  fail "scripts/run --autostart: $(cat "$work/autostart.log")"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi

# --- The real program, started as the menu does, under Xvfb ------------------
if ! command -v Xvfb >/dev/null; then
  echo "FAIL: Xvfb is missing (scripts/setup installs xvfb)" >&2
  exit 1
fi
display=""
for n in $(seq 91 160); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -nolisten tcp -screen 0 1280x800x24 >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    display=":$n"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=""
done
[ -n "$display" ] || { echo "FAIL: no free display for Xvfb" >&2; exit 1; }

uhome="$work/user home"
config="$uhome/config dir"
datahome="$uhome/data dir"
runtime="$work/runtime"
mkdir -p "$config/Amberfold" "$runtime"
chmod 700 "$runtime"
# A configured user, so the start shows no welcome box and goes straight to the engine.
python3 - "$config/Amberfold/Ringpost.reg" <<'PY'
import struct, sys
def hexd(v): return ",".join(f"{b:02x}" for b in struct.pack("<d", v))
values = [("Version", '"01.01.00.001"')]
values += [(n, "dword:00000000") for n in ("MeetingNotify", "MorningNotify", "EveningNotify",
                                          "TaskNotify", "TaskPreNotify", "TaskReminder", "UrgentEmail")]
values += [("Top", "dword:00000064"), ("Left", "dword:00000064"), ("TaskRemindPeriod", "dword:00000002"),
           ("Pin", '"5555550100"'), ("EarlyTime", "hex:" + hexd(7 / 24)), ("LateTime", "hex:" + hexd(19 / 24)),
           ("Service", "dword:00000004"), ("CustomAddr", '""'), ("CustomEmail", '""')]
with open(sys.argv[1], "w", encoding="utf-8") as f:
    f.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost]\n")
    for name, value in values:
        f.write(f'"{name}"={value}\n')
PY
chmod 600 "$config/Amberfold/Ringpost.reg"

app_data="$datahome/Amberfold/Ringpost"
(cd / && exec env -i PATH="$PATH" HOME="$uhome" XDG_CONFIG_HOME="$config" XDG_DATA_HOME="$datahome" \
   XDG_RUNTIME_DIR="$runtime" DISPLAY="$display" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
   "${menu_argv[@]}" debug >"$work/app.log" 2>&1) &
app_pid=$!

started=""
for tick in $(seq 300); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    break
  fi
  # Should the settings above not count as configured, a welcome box waits for
  # Enter before the engine starts; this test is about where the program runs.
  if [ "$tick" -eq 100 ] && command -v xdotool >/dev/null; then
    DISPLAY="$display" xdotool key Return >/dev/null 2>&1
  fi
  if [ -f "$app_data/NOTIFY.CLD" ] && [ -f "$app_data/TASK.CLD" ] && [ -f "$app_data/EMAIL.CLD" ] &&
     [ -f "$app_data/DEBUG.LOG" ]; then
    started=yes
    break
  fi
  sleep 0.1
done

if [ -z "$started" ]; then
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    status=$?
    app_pid=""
    if grep -q "window is not there yet" "$work/app.log"; then
      echo "skip: the program reports that its window is not there yet; the start under Xvfb runs once it is"
      exit 77
    fi
    echo "FAIL: the program started from the menu entry ended with status $status before writing its state files:" >&2
  else
    echo "FAIL: after 30 s the data folder holds no NOTIFY.CLD, TASK.CLD, EMAIL.CLD and DEBUG.LOG:" >&2
    ls -la "$app_data" >&2 2>/dev/null
  fi
  cat "$work/app.log" >&2
  exit 1
fi

cwd=$(readlink "/proc/$app_pid/cwd")
[ "$cwd" = "$app_data" ] || fail "the program runs in '$cwd', not in its data folder"
[ "$(stat -c %a "$app_data")" = "700" ] || fail "the data folder has mode $(stat -c %a "$app_data"), not 700"
for stray in NOTIFY.CLD TASK.CLD EMAIL.CLD DEBUG.LOG; do
  [ -e "/$stray" ] || [ -e "$uhome/$stray" ] && fail "$stray was written outside the data folder"
done

kill -TERM "$app_pid" 2>/dev/null
for _ in $(seq 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
kill -KILL "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=""

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
pass "the menu entry starts Ringpost under Xvfb in its data folder, where it writes its state files and DEBUG.LOG"
