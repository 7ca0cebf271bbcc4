#!/usr/bin/env bash
# The running application's cost: Crestline pinned across a 1920-point-wide
# screen (Xvfb, openbox, a private PulseAudio) above Live's stand-in, with
# the meter and all five graph modules, 36 points high.
#   1. 30 s metering Live's tone: CPU share of one core, frames drawn per second
#   2. 10 s of silence: frames drawn (after the first 4 s there must be none)
#      and the CPU share once idle.
# Not a test: it prints figures. Everything it starts it stops by pid.
#   bench/app_load.sh [BIN_DIR]     (default build/bin; needs crestline and fake_live)
# PERF_OUT=PREFIX also records each phase with perf into PREFIX.metering.data
# and PREFIX.idle.data (perf report -i ... shows where the time goes).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/bin}
for program in "$bin/crestline" "$bin/fake_live"; do
  [ -x "$program" ] || { echo "app_load: $program is missing (make test builds it)" >&2; exit 1; }
done
metering=${METER_SECONDS:-30}
silence=${SILENCE_SECONDS:-10}

dir=$(mktemp -d)
pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir"/{run,config/crestline,home}
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR=$dir/run XDG_CONFIG_HOME=$dir/config HOME=$dir/home CRESTLINE_LIVE_ROOT=$dir/home
export PULSE_SERVER=unix:$dir/run/pulse/native
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

exec 5<> <(:)
Xvfb -displayfd 5 -screen 0 1920x1080x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 & pids+=($!)
read -r -t 10 number <&5 || { echo "app_load: Xvfb did not come up" >&2; exit 1; }
export DISPLAY=:$number
openbox --sm-disable >"$dir/openbox.log" 2>&1 & pids+=($!)
pulseaudio -n --daemonize=no --exit-idle-time=-1 --realtime=no --high-priority=no --disallow-exit \
  --load="module-null-sink format=float32le rate=48000 sink_name=test channels=2" \
  --load="module-native-protocol-unix auth-anonymous=1" >"$dir/pulse.log" 2>&1 & pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done

cat >"$dir/config/crestline/settings.json" <<JSON
{"barMode": "pinned", "barHeight": 36, "modulesMigrated": true, "firstLaunch": {"date": 700000000},
 "window1": "scope", "window2": "spectrum", "window3": "imager", "window4": "history",
 "window5": "spectrogram", "showMeter": true, "meterIndex": 0}
JSON

mkfifo "$dir/live.in"
(exec -a "Ableton Live 12 Bench" "$bin/fake_live" --level -18 --frequency 220 <"$dir/live.in" >"$dir/live.log" 2>&1) &
pids+=($!)
exec 6>"$dir/live.in"
for _ in $(seq 100); do grep -q '^ready' "$dir/live.log" && break; sleep 0.1; done

"$bin/crestline" --report 0.5 >"$dir/report.log" 2>"$dir/crestline.log" & app=$!
pids+=($app)
ready=0
for _ in $(seq 300); do
  if tail -n 1 "$dir/report.log" 2>/dev/null | grep -q '"state":"attached","mode":"pinned".*"shown":true'; then ready=1; break; fi
  sleep 0.1
done
[ $ready = 1 ] || { echo "app_load: the bar did not come up pinned; last report:" >&2; tail -n 1 "$dir/report.log" >&2; exit 1; }
sleep 2  # settle: the first frames lay out and fill the text cache

ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
# Per thread: "name ticks wakeups" lines (the name may hold spaces, so cut
# at the last parenthesis of each stat line); wake-ups are the thread's
# voluntary context switches, each one a return from poll, a futex or a read.
threads() {
  for task in /proc/$app/task/*; do
    switches=$(sed -n 's/^voluntary_ctxt_switches:[[:space:]]*//p' "$task/status" 2>/dev/null)
    sed -n 's/^[0-9]* (\(.*\)) \(.*\)$/\1\t\2/p' "$task/stat" 2>/dev/null |
      awk -F'\t' -v w="${switches:-0}" '{ split($2, f, " "); name = $1; gsub(/ /, "_", name); print name, f[12] + f[13], w }'
  done | awk '{ t[$1] += $2; w[$1] += $3 } END { for (n in t) print n, t[n], w[n] }' | sort
}
# The share of one core and the wake-ups per second per thread between two
# `threads` snapshots.
thread_shares() {
  join -a 2 -e 0 -o 0,1.2,1.3,2.2,2.3 "$1" "$2" |
    awk -v s="$3" -v hz="$hz" '{ d = $4 - $2; w = $5 - $3
      if (d > 0 || w > 0) printf "    %-24s %5.2f %%  %6.1f wake-ups/s\n", $1, 100 * d / hz / s, w / s }'
}
frames() { tail -n 1 "$dir/report.log" | sed -n 's/.*"frames":\([0-9]*\).*/\1/p'; }
hz=$(getconf CLK_TCK)
share() { awk -v t="$1" -v s="$2" -v hz="$hz" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
rate() { awk -v f="$1" -v s="$2" 'BEGIN { printf "%.1f", f / s }'; }

# Samples one phase with perf when asked; otherwise just waits.
phase() {
  if [ -n "${PERF_OUT:-}" ]; then
    perf record -q -g -F ${PERF_FREQUENCY:-499} -p "$app" -o "$PERF_OUT.$1.data" -- sleep "$2" >/dev/null 2>&1 || sleep "$2"
  else
    sleep "$2"
  fi
}
t0=$(ticks); f0=$(frames); threads >"$dir/threads0"
phase metering "$metering"
t1=$(ticks); f1=$(frames); threads >"$dir/threads1"
echo "sound off" >&6
# Silence begins when the last buffered sound has played: the momentary
# loudness (a 0.4 s window) then reads nothing.
quiet=0
for _ in $(seq 100); do
  if tail -n 1 "$dir/report.log" | grep -q '"momentary":null'; then quiet=1; break; fi
  sleep 0.1
done
[ $quiet = 1 ] || echo "app_load: the sound did not stop within 10 s" >&2
f1b=$(frames)
sleep 4
t2=$(ticks); f2=$(frames); threads >"$dir/threads2"
phase idle $((silence - 4))
t3=$(ticks); f3=$(frames); threads >"$dir/threads3"

echo "app_load: pinned 1920 x 36 points, meter and five graph modules, Live's tone at -18 dBFS"
echo "  metering ${metering} s: CPU $(share $((t1 - t0)) "$metering") % of one core, $(rate $((f1 - f0)) "$metering") frames/s"
echo "  silence ${silence} s: $((f3 - f1b)) frames in all, $((f3 - f2)) after the first 4 s;" \
     "CPU $(share $((t3 - t2)) $((silence - 4))) % once idle"
echo "  per thread while metering:"
thread_shares "$dir/threads0" "$dir/threads1" "$metering"
echo "  per thread once idle:"
thread_shares "$dir/threads2" "$dir/threads3" $((silence - 4))
geometry=$(tail -n 1 "$dir/report.log" | sed -n 's/.*"bar":{\([^}]*\)}.*/\1/p')
echo "  bar: $geometry"
