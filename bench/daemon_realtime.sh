#!/usr/bin/env bash
# The wait after the stop on the running daemon, fed in real time: a private X display and sound
# server (a pipe source as the microphone), HOME in a temporary folder, the daemon with live
# captions, rolling chunks and the speculative tail on, CLOUD=0, and the decode model given on
# the command line (a full-size model with random weights from bench/write_random_models.py, so
# the engine does a real model's work and hears nothing). A tone-word dictation with natural
# pauses is streamed into the microphone at the pace of speech; the stop is sent with --toggle
# right after its last word, and the wait is the time from then to the daemon's end of the
# dictation in its log ("empty transcription": the random model's text is empty).
# Usage: bench/daemon_realtime.sh VAK_DICTATE ENGINE_BIN TONE_DICTATION MODEL_NAME MODEL_FILE [MINUTES] [SEED]
set -euo pipefail
vak=$1 bin=$2 tone=$3 name=$4 file=$5 minutes=${6:-3} seed=${7:-1}
work=$(mktemp -d)
home=$work/home
pids=()
cleanup() {
    [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$home/.dictation" "$home/.whisper-models" "$home/tools" "$home/scratch"
ln -s "$file" "$home/.whisper-models/ggml-$name.bin"
for tool in vak-parakeet-server whisper-server whisper-cli; do
    ln -s "$bin/$tool" "$home/tools/$tool"
done
touch "$home/.dictation/.explained"
cat >"$home/.dictation/config" <<CONFIG
CLOUD=0
SERVER=1
PREPROCESS=0
LIVE_CAPTIONS=1
CHUNK_SECONDS=30
SPECULATIVE=1
DECODE_MODEL=$name
INPUT_DEVICE=Test Pipe Mic
CONFIG

"$tone" --minutes "$minutes" --seed "$seed" "$work/dictation.wav" >/dev/null
ffmpeg -loglevel error -i "$work/dictation.wav" -ar 48000 -ac 1 -f s16le "$work/dictation.raw"

display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)

cat >"$work/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/native
load-module module-null-sink sink_name=vak_null
load-module module-pipe-source source_name=vak_pipe file=$work/mic.fifo format=s16le rate=48000 channels=1 source_properties="device.description='Test Pipe Mic'"
set-default-source vak_pipe
PA
XDG_RUNTIME_DIR=$work pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --system=false --use-pid-file=false -F "$work/server.pa" --log-target=stderr 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -p "$work/mic.fifo" ] && break; sleep 0.1; done

port=$((18900 + RANDOM % 90))
env=(HOME="$home" VAK_TOOL_PATH="$home/tools" VAK_TMPDIR="$home/scratch"
     VAK_WHISPER_SERVER_URL="http://127.0.0.1:$port/inference"
     PULSE_SERVER="unix:$work/native" DISPLAY="$display" XDG_RUNTIME_DIR="$work"
     ASAN_OPTIONS=detect_leaks=0)
log=$home/.dictation/vak.log
env "${env[@]}" "$vak" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 600); do
    grep -q "key monitor armed\|to dictate" "$log" 2>/dev/null && break
    sleep 0.1
done
# The decode server has its model loaded when it answers.
for _ in $(seq 600); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/health" && break
    sleep 0.2
done

# The microphone hears the dictation at the pace of speech, 0.1 s at a time, and silence after
# it until the stop (a pipe source without a writer gives the capture nothing to start on).
/usr/bin/python3 - "$work/dictation.raw" "$work/mic.fifo" "$work/fed" "$work/stopped" <<'PY' &
import os, sys, time
data = open(sys.argv[1], "rb").read()
step = 9600  # 0.1 s of 48 kHz 16-bit mono
with open(sys.argv[2], "wb", buffering=0) as fifo:
    start = time.monotonic()
    i = 0
    while not os.path.exists(sys.argv[4]):
        chunk = data[i:i + step] if i < len(data) else bytes(step)
        if i < len(data) <= i + step:
            open(sys.argv[3], "w").close()
        fifo.write(chunk.ljust(step, b"\0"))
        i += step
        delay = start + i / 96000 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
PY
pids+=($!)
sleep 0.2
env "${env[@]}" "$vak" --toggle >/dev/null
while [ ! -e "$work/fed" ]; do sleep 0.01; done
stop=$(date +%s.%N)
env "${env[@]}" "$vak" --toggle >/dev/null
for _ in $(seq 60000); do
    grep -q "empty transcription (session\|✓ .*(session" "$log" && break
    sleep 0.02
done
done=$(date +%s.%N)
touch "$work/stopped"
sleep 1 # the lines that follow the end (a failed decode's kept recording)
echo "$stop $done" | awk '{printf "wait after the stop: %.2f s\n", $2 - $1}'
grep -E "pre-decoded|chunk [0-9]+ cached|tail decoded|tail was pre-decoded|stopped|transcription|caption|Parakeet" "$log" | tail -n 60
