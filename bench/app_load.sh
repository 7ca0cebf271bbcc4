#!/usr/bin/env bash
# The running application's cost: Crestline pinned across a 1920-point-wide
# screen (Xvfb, openbox, a private PulseAudio) above Live's stand-in, with
# the meter and all five graph modules, 36 points high.
#   1. 30 s metering Live's tone: CPU share of one core, frames drawn per second
#   2. 10 s of silence: frames drawn (after the first 4 s there must be none)
#      and the CPU share once idle.
# Not a test: it prints figures. Everything it starts it stops by pid.
#   bench/app_load.sh [BIN_DIR]     (default build/bin; needs crestline and fake_live)
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
frames() { tail -n 1 "$dir/report.log" | sed -n 's/.*"frames":\([0-9]*\).*/\1/p'; }
hz=$(getconf CLK_TCK)
share() { awk -v t="$1" -v s="$2" -v hz="$hz" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
rate() { awk -v f="$1" -v s="$2" 'BEGIN { printf "%.1f", f / s }'; }

t0=$(ticks); f0=$(frames)
sleep "$metering"
t1=$(ticks); f1=$(frames)
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
t2=$(ticks); f2=$(frames)
sleep $((silence - 4))
t3=$(ticks); f3=$(frames)

echo "app_load: pinned 1920 x 36 points, meter and five graph modules, Live's tone at -18 dBFS"
echo "  metering ${metering} s: CPU $(share $((t1 - t0)) "$metering") % of one core, $(rate $((f1 - f0)) "$metering") frames/s"
echo "  silence ${silence} s: $((f3 - f1b)) frames in all, $((f3 - f2)) after the first 4 s;" \
     "CPU $(share $((t3 - t2)) $((silence - 4))) % once idle"
geometry=$(tail -n 1 "$dir/report.log" | sed -n 's/.*"bar":{\([^}]*\)}.*/\1/p')
echo "  bar: $geometry"
