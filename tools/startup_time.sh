#!/usr/bin/env bash
# Measures the time from starting the program to its visible main window, under Xvfb.
#
#   tools/startup_time.sh [-n RUNS] [-d DISPLAY] [-s URL] [PROGRAM]
#
# PROGRAM defaults to build/src/kestrune. Each run starts the program with fresh per-user
# folders (after one warm-up run that writes the caches), polls the X server until a window
# named "Kestrune" is viewable, and ends the program. With -s the program is pointed at a game
# server (the KESTRUNE_* addresses), so the embedded browser loads its first page; the time until
# the program logs that page as shown is printed as well. Prints each run and the median in ms.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=7
DISPLAY_NUM=":97"
SERVER=""
while getopts "n:d:s:" opt; do
  case $opt in
    n) RUNS=$OPTARG ;;
    d) DISPLAY_NUM=$OPTARG ;;
    s) SERVER=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
PROGRAM=$(realpath "${1:-build/src/kestrune}")

WORK=$(mktemp -d)
XVFB_PID=""
cleanup() {
  [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "${SPY_PID:-}" ] && kill "$SPY_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

export DISPLAY=$DISPLAY_NUM
if ! xdpyinfo >/dev/null 2>&1 && ! xwininfo -root >/dev/null 2>&1; then
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.05; done
fi
# one client stays connected, so the X server does not reset between runs (and refuse meanwhile)
xprop -root -spy >/dev/null 2>&1 &
SPY_PID=$!
export XDG_DATA_HOME=$WORK/data XDG_CACHE_HOME=$WORK/cache XDG_RUNTIME_DIR=$WORK/run HOME=$WORK/home
mkdir -p "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
export QTWEBENGINE_DISABLE_SANDBOX=${QTWEBENGINE_DISABLE_SANDBOX:-$([ "$(id -u)" -eq 0 ] && echo 1 || echo 0)}
if [ -n "$SERVER" ]; then
  export KESTRUNE_HOSTS_URL="http://$SERVER/hosts.txt" KESTRUNE_INTERNAL_HOST=$SERVER
fi
LOG=$XDG_DATA_HOME/Orvalent/QV/qv.log

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

one_run() {
  local t0 t1 page=""
  rm -f "$LOG"
  t0=$(now_ms)
  "$PROGRAM" >"$WORK/out.txt" 2>&1 &
  APP_PID=$!
  while ! xdotool search --onlyvisible --name '^Kestrune$' >/dev/null 2>&1; do
    kill -0 "$APP_PID" 2>/dev/null || { echo "the program ended early:" >&2; cat "$WORK/out.txt" >&2; exit 1; }
    sleep 0.002
  done
  t1=$(now_ms)
  if [ -n "$SERVER" ]; then
    # the browser's first completed page (the timer asks for it 2 s after the window shows)
    for _ in $(seq 1000); do
      grep -q 'Browser: loaded ' "$LOG" 2>/dev/null && { page=$(( $(now_ms) - t0 )); break; }
      sleep 0.01
    done
  fi
  kill "$APP_PID" 2>/dev/null || true
  wait "$APP_PID" 2>/dev/null || true
  APP_PID=""
  echo "$((t1 - t0)) ${page}"
}

one_run >/dev/null  # warm-up: caches, codec file, settings
results=()
pages=()
for i in $(seq "$RUNS"); do
  read -r ms page < <(one_run)
  results+=("$ms")
  [ -n "$page" ] && pages+=("$page")
  echo "run $i: main window visible after $ms ms${page:+, first page shown after $page ms}"
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
echo "median: main window visible after $(median "${results[@]}") ms ($PROGRAM)"
[ ${#pages[@]} -gt 0 ] && echo "median: first page shown after $(median "${pages[@]}") ms"
exit 0
