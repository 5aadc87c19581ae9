#!/usr/bin/env bash
# The program starts headless, shows its splash, writes its settings file and ends cleanly;
# SIGTERM during start-up ends it the normal way, with the settings saved.
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

mkdir -p "$work/one"
timeout 60 "$program" -ini "$work/one" -error my.log
grep -q '^INIVersion=6$' "$work/one/Zev2.ini" || { echo "settings not written"; exit 1; }

mkdir -p "$work/two"
"$program" -ini "$work/two/Zev2.ini" &
pid=$!
for _ in $(seq 50); do [ -e "$work/two/Zev2.ini" ] && break; sleep 0.1; done
kill -TERM "$pid"
wait "$pid" || { echo "SIGTERM did not lead to a clean exit"; exit 1; }
grep -q '^INIVersion=6$' "$work/two/Zev2.ini" || { echo "settings not saved after SIGTERM"; exit 1; }
echo "ok"
