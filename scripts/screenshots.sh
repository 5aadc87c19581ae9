#!/usr/bin/env bash
# Screenshots of the main window's pages and of its dialogs, as a user would see them: the
# program runs under Xvfb at 1280x800 with a demo settings file and the test news server.
#
#   scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
#
# BUILD_DIR must hold zevrin, zevrin-newsd and zevrin-screengrab (default build/release);
# the pictures go to OUT_DIR (default screenshots/). Needs Xvfb and xdotool.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
out=${2:-screenshots}
program=$build/src/app/zevrin
newsd=$build/tools/newsserver/zevrin-newsd
grab=$build/tests/ui/zevrin-screengrab
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (apt-get install xvfb xdotool)" >&2; exit 2; }
done
for file in "$program" "$newsd" "$grab"; do
  [ -x "$file" ] || { echo "screenshots: $file is not built" >&2; exit 2; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, whatever number is free.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

"$newsd" --port 0 --port-file "$work/ports" --quiet --generate standard --generate text \
  --generate bulk:count=20000 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.1; done
port=$(cut -d' ' -f1 "$work/ports")

# Servers: a root with connect-on-demand, a folder, two servers (one unreachable, to show
# an error), groups in folders that refresh at start-up.
cat >"$work/Zev2.ini" <<INI
[Config]
INIVersion=6
Left=0
Top=0
Width=1280
Height=800
[Server:0]
Type=00
Parent=-1
Name=Servers
Flags=82A80000
[Server:1]
Type=01
Parent=0
Name=Providers
Flags=80010000
[Server:2]
Type=02
Parent=1
Name=Demo News
Host=127.0.0.1
Port=$port
MaxConn=2
Flags=80010000
[Server:3]
Type=02
Parent=1
Name=Backup News
Host=127.0.0.1
Port=9
Flags=00010000
[Group:0]
Type=00
Parent=-1
Name=Newsgroups
Flags=02000030
DecodeDir=$work/downloads/
[Group:1]
Type=01
Parent=0
Name=Binaries
Flags=01000010
[Group:2]
Type=02
Parent=1
Name=zevrin.test.binaries.yenc
Flags=01000000
[Group:3]
Type=02
Parent=1
Name=zevrin.test.binaries.misc
Flags=01000000
[Group:4]
Type=02
Parent=0
Name=zevrin.test.text
Flags=01000000
[Group:5]
Type=02
Parent=0
Name=zevrin.test.bulk
Flags=01000000
INI

export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$program" -ini "$work/Zev2.ini" &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --name '^Zevrin' | head -n 1)
xdotool windowfocus --sync "$window"
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
key() { xdotool key --clearmodifiers "$@"; }
# Connect the first server by hand too (its row, then the tool bar's Connect).
sleep 2 && click 120 141 && click 40 62
sleep 6  # the start-up refreshes connect and fetch headers

shot() {
  sleep 1.5
  "$grab" "$out/$1.png"
  echo "screenshots: $out/$1.png"
}

shot servers
key ctrl+Tab && shot groups
key ctrl+Tab && shot newsgroups
key ctrl+Tab && shot queue
key ctrl+Tab && shot dirscan
key ctrl+shift+Tab ctrl+shift+Tab ctrl+shift+Tab ctrl+shift+Tab
# The properties of the first server and of a newsgroup (rows clicked by their place on
# the page), then the About window.
click 120 141 && key alt+Return && shot server-properties
key Escape
key ctrl+Tab && click 150 141 && key alt+Return && shot group-properties
key Escape
key alt+h && sleep 0.5 && key Return && shot about
key Return
key ctrl+q && sleep 1 && key n
sleep 2
