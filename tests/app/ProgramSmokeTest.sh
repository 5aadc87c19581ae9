#!/usr/bin/env bash
# The program starts headless and shows its window; with "auto" (close when finished) and
# nothing to do it counts down, closes and ends cleanly with its settings file written.
# SIGTERM during start-up ends it the normal way, with the settings saved.
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

mkdir -p "$work/one"
# The main window stays until it is closed; "auto" closes it after its 15-second countdown.
timeout 60 "$program" -ini "$work/one" -error my.log -auto || { echo "no clean end with -auto (status $?)"; exit 1; }
grep -q '^INIVersion=6$' "$work/one/Zev2.ini" || { echo "settings not written"; exit 1; }
grep -q '^Height=480$' "$work/one/Zev2.ini" || { echo "window geometry not saved"; exit 1; }

mkdir -p "$work/two"
"$program" -ini "$work/two/Zev2.ini" &
pid=$!
# The settings file exists only once the signal handler is in place; a loaded machine may
# take a while to get there.
for _ in $(seq 300); do [ -e "$work/two/Zev2.ini" ] && break; sleep 0.1; done
[ -e "$work/two/Zev2.ini" ] || { echo "settings file never appeared"; kill -KILL "$pid"; exit 1; }
kill -TERM "$pid"
wait "$pid" || { echo "SIGTERM did not lead to a clean exit"; exit 1; }
grep -q '^INIVersion=6$' "$work/two/Zev2.ini" || { echo "settings not saved after SIGTERM"; exit 1; }
echo "ok"
