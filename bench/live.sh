#!/bin/bash
# Live output on JACK's dummy backend (no sound card, no root): how close
# each frame's first edge leaves to its instant on the clock, what the run
# costs, and restarts.
#
#   accuracy  for each rate and period: a JACK server of its own (settled
#             for five seconds), `--play` on it, the port recorded by the
#             test suite's recorder (tests/live_recorder.cpp, which maps
#             every sample to the wall clock through its own cycle times
#             and clock readings) and measured by tests/live_measure.cpp:
#             rms, 99.9 % and largest offset in samples from the second
#             second on, and the labels out of turn. Also the program's CPU
#             (its threads' time on a processor over the run), its private memory
#             (RssAnon; JACK's shared memory is not the program's) at the
#             first and last second, and the real-time callback's longest
#             time (the last status line's callback_us).
#   restarts  twenty runs started one after another on one server, each
#             recorded for three seconds: each run's largest offset, and
#             whether it began within ten seconds after an xrun.
#
# usage: bench/live.sh [SECONDS] [MODE]   (60 s a case; MODE accuracy,
#                                          restarts, both, three: 25 fps
#                                          at 64, 29.97 DF at 256 and
#                                          23.976 at 1024 alone, or
#                                          together: the three rates at
#                                          once on one server a period;
#                                          the periods those that
#                                          $periods lists, by default
#                                          "64 256 1024"; the server's
#                                          own options from $jackd_options,
#                                          say "-P 80" for a higher
#                                          real-time priority)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
mode=${2:-both}
cmake --preset ci >/dev/null && cmake --build --preset ci --target stampline live_recorder live_measure >/dev/null
stampline=$PWD/build/ci/stampline
recorder=$PWD/build/ci/tests/live_recorder
measure=$PWD/build/ci/tests/live_measure
work=$(mktemp -d)
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export TZ=UTC
periods=${periods:-64 256 1024}

# Starts a server named $1 with period $2; its pid in servers.
start_server() {
  # shellcheck disable=SC2086
  JACK_DEFAULT_SERVER=$1 jackd ${jackd_options:-} -d dummy -r 48000 -p "$2" >/dev/null 2>&1 &
  servers+=($!)
  JACK_DEFAULT_SERVER=$1 jack_wait -w -t 5 >/dev/null
  sleep 5
}

# The time the program's threads have run, in nanoseconds (the scheduler's
# own count: tick sampling misjudges a program that wakes often, briefly).
ran() { cat /proc/"$1"/task/*/schedstat | awk '{ns += $1} END {printf "%.0f\n", ns}'; }
rss_anon() { awk '/RssAnon/ {print $2}' "/proc/$1/status"; }

# One case: rate name, drop flag, period, seconds, extra options.
accuracy() {
  local fps=$1 drop=$2 period=$3 length=$4 name=srv-$1-$3-$$
  shift 4
  start_server "$name" "$period"
  local flags=(--frame-rate="$fps")
  [ "$drop" = 1 ] && flags+=(--drop-frame)
  JACK_DEFAULT_SERVER=$name "$stampline" --play --json "${flags[@]}" "$@" >"$work/$name.json" 2>/dev/null &
  local player=$!
  sleep 1
  local rss_first ran_first
  rss_first=$(rss_anon $player)
  ran_first=$(ran $player)
  if ! JACK_DEFAULT_SERVER=$name "$recorder" stampline:ltc "$length" "$work/$name.f32" "$work/$name.txt"; then
    printf '%-7s %-3s %5s  not measured: the recorder could not record the port\n' "$fps" \
      "$([ "$drop" = 1 ] && echo DF || echo '')" "$period"
    kill -TERM $player
    wait $player || true
    return
  fi
  local ran_last rss_last
  ran_last=$(ran $player)
  rss_last=$(rss_anon $player)
  kill -TERM $player
  wait $player || true
  local cpu callback
  cpu=$(awk -v t=$((ran_last - ran_first)) -v s="$length" \
    'BEGIN { printf "%.2f", 100 * t / 1e9 / s }')
  callback=$(grep '"status"' "$work/$name.json" | tail -1 | sed 's/.*"callback_us":\([0-9.]*\).*/\1/')
  # The events the run said: jumps, clock steps, xruns, underruns.
  events=$(grep -v '"status"' "$work/$name.json" | sed -n 's/.*"type":"\([a-z_]*\)".*/\1/p' | grep -v started |
    sort | uniq -c | awk '{printf "%s %s ", $2, $1}' || true)
  printf '%-7s %-3s %5s  %s  cpu %s %%  rss_anon %s -> %s KiB  callback %s us  %s\n' "$fps" \
    "$([ "$drop" = 1 ] && echo DF || echo '')" "$period" \
    "$("$measure" "$work/$name.f32" "$work/$name.txt" "$fps" "$drop" 1 "${ahead:-0}")" \
    "$cpu" "$rss_first" "$rss_last" "$callback" "$events"
  rm -f "$work/$name.f32"
}

# The three rates at once on one server of period $1, each player recorded
# by a recorder of its own for $2 seconds, measured as above (CPU per
# player, by the scheduler's count).
together() {
  local period=$1 length=$2 name=srv-together-$1-$$ players=() recorders=() fps drop
  start_server "$name" "$period"
  for rate in "25 0" "29.97 1" "23.976 0"; do
    read -r fps drop <<<"$rate"
    local flags=(--frame-rate="$fps" --name="p$fps")
    [ "$drop" = 1 ] && flags+=(--drop-frame)
    JACK_DEFAULT_SERVER=$name "$stampline" --play --json "${flags[@]}" >"$work/$name-$fps.json" 2>/dev/null &
    players+=($!)
  done
  sleep 1
  local first=()
  for player in "${players[@]}"; do first+=("$(ran "$player")"); done
  for fps in 25 29.97 23.976; do
    JACK_DEFAULT_SERVER=$name "$recorder" "p$fps:ltc" "$length" "$work/$name-$fps.f32" "$work/$name-$fps.txt" &
    recorders+=($!)
  done
  for r in "${recorders[@]}"; do wait "$r" || echo "period $period: a recorder could not record its port"; done
  local i=0
  for rate in "25 0" "29.97 1" "23.976 0"; do
    read -r fps drop <<<"$rate"
    local cpu
    cpu=$(awk -v t=$(($(ran "${players[$i]}") - first[i])) -v s="$length" 'BEGIN { printf "%.2f", 100 * t / 1e9 / s }')
    printf '%-7s %-3s %5s  %s  cpu %s %%  rss_anon %s KiB  callback %s us\n' "$fps" "$([ "$drop" = 1 ] && echo DF || echo '')" \
      "$period" "$("$measure" "$work/$name-$fps.f32" "$work/$name-$fps.txt" "$fps" "$drop" 1 0)" "$cpu" \
      "$(rss_anon "${players[$i]}")" \
      "$(grep '"status"' "$work/$name-$fps.json" | tail -1 | sed 's/.*"callback_us":\([0-9.]*\).*/\1/')"
    kill -TERM "${players[$i]}"
    rm -f "$work/$name-$fps.f32"
    i=$((i + 1))
  done
  wait "${players[@]}" || true
}

if [ "$mode" = together ]; then
  echo "== accuracy: the three rates at once, $seconds s a period, offsets in samples at 48000 Hz"
  for period in $periods; do together "$period" "$seconds"; done
  exit 0
fi

if [ "$mode" = three ]; then
  echo "== accuracy: $seconds s a case, offsets in samples at 48000 Hz"
  accuracy 25 0 64 "$seconds"
  accuracy 29.97 1 256 "$seconds"
  accuracy 23.976 0 1024 "$seconds"
  exit 0
fi

if [ "$mode" != restarts ]; then
  echo "== accuracy: $seconds s a case, offsets in samples at 48000 Hz"
  for period in $periods; do
    accuracy 25 0 "$period" "$seconds"
    accuracy 29.97 1 "$period" "$seconds"
    accuracy 23.976 0 "$period" "$seconds"
  done
  if [[ " $periods " == *" 256 "* ]]; then
    ahead=0.002 accuracy 25 0 256 "$seconds" --downstream-delay=0.002
  fi
fi

if [ "$mode" != accuracy ]; then
  echo "== restarts: twenty runs, 25 fps, period 256"
  name=srv-restarts-$$
  start_server $name 256
  # A recorder on the server's own capture port for the whole session
  # logs every xrun, also those between runs: a run that starts within ten
  # seconds after one is said, as the accuracy measurement leaves those
  # seconds out (the server's cycle times settle again after an xrun).
  JACK_DEFAULT_SERVER=$name "$recorder" system:capture_1 120 "$work/w.f32" "$work/w.txt" &
  watcher=$!
  sleep 1
  for run in $(seq 1 20); do
    JACK_DEFAULT_SERVER=$name "$stampline" --play --quiet --frame-rate=25 >/dev/null 2>&1 &
    player=$!
    JACK_DEFAULT_SERVER=$name "$recorder" stampline:ltc 3 "$work/r.f32" "$work/r.txt"
    kill -TERM $player
    wait $player || true
    awk '$1 == "cycle" {print $3}' "$work/r.txt" | sed -n '1p;$p' | tr '\n' ' ' >"$work/span.$run"
    printf 'run %2d  %s\n' "$run" "$("$measure" "$work/r.f32" "$work/r.txt" 25 0 1)" >"$work/row.$run"
  done
  wait $watcher || true
  for run in $(seq 1 20); do
    read -r first last <"$work/span.$run" || true
    after=$(awk -v f="${first:-0}" -v l="${last:-0}" '$1 == "xrun" && $2 >= f - 10e6 && $2 <= l {n++} END {print n + 0}' \
      "$work/w.txt")
    printf '%s%s\n' "$(cat "$work/row.$run")" "$([ "$after" -gt 0 ] && echo "  (within 10 s after a server xrun)")"
  done
fi
