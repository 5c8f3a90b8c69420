#!/usr/bin/env bash
# Runs the benchmark programs (5 repetitions, medians) and the real program under Xvfb, and prints
# one table: measure, ours, peer, ratio, goal, met or missed; then the resident memory of the
# program in the menu and in a game. Takes a few minutes.
#   BENCH_REPETITIONS  repetitions per benchmark (5)
#   BENCH_DISPLAY      X display number for Xvfb (the first free one from 90)
#   BENCH_LOG          folder for the programs' full output (a temporary folder)
#   BENCH_ONLY         "programs" or "app": run only the benchmark programs or only the real program
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build
REPS=${BENCH_REPETITIONS:-5}
LOG=${BENCH_LOG:-$(mktemp -d /tmp/kt-bench.XXXXXX)}
mkdir -p "$LOG"

JOBS=${JOBS:-3} bash tools/build.sh >"$LOG/build.txt" 2>&1 || { cat "$LOG/build.txt"; exit 1; }

ROWS=$LOG/rows.txt
: >"$ROWS"
row() { printf '%s|%s|%s|%s|%s|%s\n' "$@" >>"$ROWS"; }

# name, then the program's own options (filters, times); its RESULT lines become rows.
run() {
  local name=$1
  shift
  echo "running bench_$name ..." >&2
  if ! "$BUILD/bench/bench_$name" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true "$@" \
    >"$LOG/$name.txt" 2>&1; then
    echo "bench_$name failed; see $LOG/$name.txt" >&2
  fi
  grep '^RESULT|' "$LOG/$name.txt" | cut -d'|' -f2- >>"$ROWS" || row "bench_$name" "-" "-" "-" "-" "no result"
}

ONLY=${BENCH_ONLY:-}
if [ "$ONLY" != app ]; then
  run png --benchmark_min_time=0.05
  run pathplanner --benchmark_filter='BM_(Maze|Open)_' --benchmark_min_time=0.2
  run game
  run regex --benchmark_filter='BM_ErrorList_(Ours|Pcre2Jit)$' --benchmark_min_time=0.2
  run lz_cipher --benchmark_filter='BM_(LZR_Decode|Inflate)/1$' --benchmark_min_time=0.2
fi

# --- The real program under Xvfb: start time and resident memory.
DISPLAY_NUM=${BENCH_DISPLAY:-}
if [ -z "$DISPLAY_NUM" ]; then
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then DISPLAY_NUM=$n; break; fi
  done
fi
APP=$BUILD/src/kestrune
XVFB_PID=""
APP_PID=""
SCRATCH=()
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  for d in "${SCRATCH[@]}"; do rm -rf "$d"; done
}
trap cleanup EXIT

now() { date +%s.%N; }
# Throwaway user folders, so nothing of the user's (or another run's lock) is touched.
fresh_home() {
  XDG_DATA_HOME=$(mktemp -d) XDG_CACHE_HOME=$(mktemp -d) XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  SCRATCH+=("$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$HOME")
  export XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR HOME
}
# Waits (up to $2 s) until a viewable window named $1 exists; prints its id.
wait_window() {
  local deadline id
  deadline=$(echo "$(now) + $2" | bc)
  while [ "$(echo "$(now) < $deadline" | bc)" = 1 ]; do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.01
  done
  return 1
}
stop_app() {
  if [ -n "$APP_PID" ]; then
    kill "$APP_PID" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
  fi
}
mem() { awk -v k="$2:" '$1 == k { printf "%.0f MB", $2 / 1024 }' "/proc/$1/status"; }

if [ "$ONLY" = programs ]; then
  :
elif [ -z "$DISPLAY_NUM" ] || ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  row "Program start to the visible main window" "-" "-" "-" "<= 0.4 s" "no Xvfb/xdotool"
else
  Xvfb ":$DISPLAY_NUM" -screen 0 1280x1024x24 -nolisten tcp >"$LOG/xvfb.txt" 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$DISPLAY_NUM"
  for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
  echo "running kestrune on :$DISPLAY_NUM ..." >&2
  # Start time: the median of five starts; the first one warms the disk cache and is dropped.
  times=()
  first="-"
  for i in $(seq 0 "$REPS"); do
    fresh_home
    t0=$(now)
    "$APP" >"$LOG/app-start-$i.txt" 2>&1 &
    APP_PID=$!
    if wait_window Kestrune 30 >/dev/null; then
      took=$(echo "$(now) - $t0" | bc)
      if [ "$i" -gt 0 ]; then times+=("$took"); else first=$(printf '%.2f s' "$took"); fi
    fi
    if [ "$i" -eq "$REPS" ]; then
      sleep 3  # the menu settles (timers, first paint)
      command -v import >/dev/null && import -window root "$LOG/menu.png" 2>/dev/null || true
      menu_rss=$(mem "$APP_PID" VmRSS) menu_hwm=$(mem "$APP_PID" VmHWM)
    fi
    stop_app
  done
  if [ "${#times[@]}" -gt 0 ]; then
    start=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
    met=$(echo "$start <= 0.4" | bc)
    row "Program start to the visible main window (median of ${#times[@]}; first start $first)" \
      "$(printf '%.2f s' "$start")" "-" "-" \
      "<= 0.4 s" "$([ "$met" = 1 ] && echo met || echo missed)"
  else
    row "Program start to the visible main window" "-" "-" "-" "<= 0.4 s" "no window"
  fi
  row "Resident memory in the menu, VmRSS / VmHWM (was about 105 MB)" "${menu_rss:--} / ${menu_hwm:--}" "-" "-" "-" "-"

  # In a game: instant play opens the game window (800 x 600). It runs only with the focus;
  # Space on the title starts level 1.
  fresh_home
  "$APP" /ip >"$LOG/app-game.txt" 2>&1 &
  APP_PID=$!
  game_rss="-" game_hwm="-"
  gw=""
  for _ in $(seq 300); do
    for w in $(xdotool search --pid "$APP_PID" --name '^Kestrune$' 2>/dev/null); do
      xdotool getwindowgeometry "$w" 2>/dev/null | grep -q 'Geometry: 800x600' && gw=$w
    done
    [ -n "$gw" ] && break
    sleep 0.1
  done
  if [ -n "$gw" ]; then
    sleep 4  # textures and sounds load
    for _ in 1 2; do
      xdotool windowfocus "$gw" >/dev/null 2>&1 || true
      xdotool keydown space && sleep 0.3 && xdotool keyup space
      sleep 2
    done
    sleep 4
    command -v import >/dev/null && import -window root "$LOG/game.png" 2>/dev/null || true
    game_rss=$(mem "$APP_PID" VmRSS) game_hwm=$(mem "$APP_PID" VmHWM)
  fi
  stop_app
  row "Resident memory in a game, VmRSS / VmHWM (was about 166 MB)" "$game_rss / $game_hwm" "-" "-" "-" "-"
fi

echo
{
  echo "Measure|Ours|Peer|Ratio|Goal|Result"
  cat "$ROWS"
} | column -t -s'|' -o '  '
echo
echo "Full output: $LOG"
