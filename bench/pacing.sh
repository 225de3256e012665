#!/usr/bin/env bash
# Pacing of the channel send loop against GStreamer, on loopback.
#
#   bench/pacing.sh [BUILD_DIR]
#
# For every channel count in CHANNELS (default "1 64 256") it plays a 44.1 kHz stereo MP3 tone as
# G.711 (PCMU, 20 ms packets) to 127.0.0.1 for SECONDS_RUN (default 60) seconds, first with
# sonaris-bench-send, then with one gst-launch-1.0 pipeline of as many branches
# (decodebin ! ... ! rtppcmupay ! udpsink sync=true), and prints for each run the machine's load
# average when it began, the packet count, how many streams arrived, the p50/p99/max lateness of
# every packet against its RTP timestamp (the receiver takes the kernel's receive time of each
# datagram, SO_TIMESTAMPNS, so its own wake-ups do not count; it reads its sockets every 10 ms,
# so no sendto has to wake it), the drift per minute (between the medians of the run's first and
# last fifth) and the sender's CPU per channel (user + system time over run time, in % of one
# core; for ours also split into the send threads' and the source reader threads' share); then
# the ratios of ours to GStreamer's. PIN="0" (a taskset CPU list) runs both senders on those cores
# only; the receiver is not pinned. EXTRA="--pacing nanosleep", "--pacing 1ms" or "--delay 0"
# passes options to the driver for comparison runs; GST=0 leaves GStreamer out.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
channels_list="${CHANNELS:-1 64 256}"
seconds="${SECONDS_RUN:-60}"
port="${PORT:-42000}"
extra="${EXTRA:-}"
pin="${PIN:-}"
driver="$build/bench/send/sonaris-bench-send"
receiver="$build/bench/send/sonaris-bench-recv"
for tool in "$driver" "$receiver"; do
  [[ -x "$tool" ]] || { echo "missing $tool: build the project in $build first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "needs ffmpeg" >&2; exit 1; }
have_gst=1
command -v gst-launch-1.0 >/dev/null || have_gst=0
[[ "${GST:-1}" == 0 ]] && have_gst=0

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tone="$work/tone.mp3"
ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=$((seconds + 30))" -ac 2 -ar 44100 \
  -c:a libmp3lame -b:a 128k "$tone"

# Clock ticks used so far by the threads of process $1, summed by thread name.
thread_ticks() {
  local task comm stat rest
  for task in /proc/"$1"/task/*; do
    read -r comm <"$task/comm" 2>/dev/null || continue
    stat=$(<"$task/stat") 2>/dev/null || continue
    rest=${stat##*) }
    read -r -a fields <<<"$rest"
    echo "$comm $((fields[11] + fields[12]))"
  done | awk '{ t[$1] += $2 } END { for (k in t) print k, t[k] }' | sort
}

# CPU per channel of the send threads and the reader threads of process $1 over the middle of
# the run, in % of one core; printed to $2.
sample_threads() {
  local pid="$1" out="$2" count="$3" ticks
  ticks=$(getconf CLK_TCK)
  sleep 3
  thread_ticks "$pid" >"$work/ticks.a"
  sleep "$((seconds - 5))"
  thread_ticks "$pid" >"$work/ticks.b"
  join "$work/ticks.a" "$work/ticks.b" | awk -v hz="$ticks" -v s="$((seconds - 5))" -v n="$count" \
    '$1 ~ /^RtpInfoSession/ { send += $3 - $2 } $1 ~ /Reader$/ { read += $3 - $2 }
     END { printf "%.3f %.3f\n", send / hz / s / n * 100, read / hz / s / n * 100 }' >"$out"
}

# run LABEL CHANNELS COMMAND...: receives while COMMAND sends; prints the receiver's figures
# and the CPU per channel; leaves "lateness p99" and "cpu" in LAST_P99 / LAST_CPU.
run() {
  local label="$1" count="$2" load
  shift 2
  [[ -z "$pin" ]] || set -- taskset -c "$pin" "$@"
  read -r load _ </proc/loadavg
  "$receiver" --port "$port" --channels "$count" --seconds "$((seconds + 4))" --clock 8000 --skip 1 \
    --label "$label" >"$work/recv.txt" &
  local recv_pid=$!
  sleep 0.5
  local TIMEFORMAT='%R %U %S'
  echo "- -" >"$work/threads.txt"
  {
    time {
      "$@" >/dev/null 2>>"$work/errors.txt" &
      local pid=$! sampler=""
      if [[ "$label" == sonaris ]]; then
        sample_threads "$pid" "$work/threads.txt" "$count" &
        sampler=$!
      fi
      wait "$pid" || true
      [[ -z "$sampler" ]] || wait "$sampler"
    }
  } 2>"$work/time.txt"
  wait "$recv_pid"
  read -r real user sys <"$work/time.txt"
  local cpu
  cpu=$(awk -v u="$user" -v s="$sys" -v r="$real" -v n="$count" 'BEGIN { printf "%.3f", (u + s) / r / n * 100 }')
  read -r _ _ packets _ p50 _ p99 _ max _ drift _ streams <"$work/recv.txt"
  read -r send_cpu read_cpu <"$work/threads.txt"
  printf "%-10s %4d  %5s  %8d %7s  %7.3f %7.3f %8.3f  %8.3f  %8s  %7s %7s\n" "$label" "$count" "$load" "$packets" \
    "$streams/$count" "$p50" "$p99" "$max" "$drift" "$cpu" "$send_cpu" "$read_cpu"
  LAST_P99="$p99"
  LAST_CPU="$cpu"
}

gst_pipeline() {
  local count="$1" i pipeline=""
  for ((i = 0; i < count; ++i)); do
    pipeline+=" filesrc location=$tone ! decodebin ! audioconvert ! audioresample ! audio/x-raw,rate=8000,channels=1"
    pipeline+=" ! mulawenc ! rtppcmupay min-ptime=20000000 max-ptime=20000000"
    pipeline+=" ! udpsink host=127.0.0.1 port=$((port + 2 * i)) sync=true"
  done
  echo "$pipeline"
}

[[ -z "$pin" ]] || echo "senders pinned to cpu $pin"
printf "%-10s %4s  %5s  %8s %7s  %7s %7s %8s  %8s  %8s  %7s %7s\n" sender ch load packets streams "p50 ms" "p99 ms" \
  "max ms" "drift/min" "cpu %/ch" "send" "readers"
for count in $channels_list; do
  # shellcheck disable=SC2086
  run sonaris "$count" "$driver" --file "$tone" --codec 0 --to "127.0.0.1:$port" --channels "$count" \
    --seconds "$seconds" $extra
  ours_p99="$LAST_P99"
  ours_cpu="$LAST_CPU"
  if ((have_gst)); then
    # shellcheck disable=SC2046
    run gstreamer "$count" timeout -s INT "$seconds" gst-launch-1.0 -q $(gst_pipeline "$count")
    awk -v a="$ours_p99" -v b="$LAST_P99" -v c="$ours_cpu" -v d="$LAST_CPU" -v n="$count" \
      'BEGIN { printf "ratio      %4d  p99 %.2f  cpu %.2f (sonaris / gstreamer)\n", n, (b > 0 ? a / b : 0), (d > 0 ? c / d : 0) }'
  fi
done
if [[ -s "$work/errors.txt" ]]; then
  echo "errors:" >&2
  sort "$work/errors.txt" | uniq -c | head -20 >&2
fi
