#!/usr/bin/env bash
# The engines beside a CPU hog: each decode of the test clip timed idle and with a busy process on
# every core, in interleaved rounds, as the daemon runs them (its thread shares, OpenMP's passive
# wait). Usage: bench/engine_under_load.sh ENGINE_BIN WHISPER_SOURCE [ROUNDS]
#   ENGINE_BIN: whisper-cli, whisper-server and vak-parakeet-server (vak-dictate --setup-engine)
#   WHISPER_SOURCE: the unpacked whisper.cpp release (its test models and samples/jfk.wav)
set -euo pipefail
bin=$1 src=$2 rounds=${3:-3}
cores=$(nproc)
decode_threads=$(( cores > 1 ? cores - 1 : 1 )) # the decode share with captions on (cores/4 to them)
[ "$cores" -ge 8 ] && decode_threads=$(( cores - cores / 4 > 8 ? 8 : cores - cores / 4 ))
export OMP_WAIT_POLICY=passive OMP_THREAD_LIMIT=$decode_threads
jfk=$src/samples/jfk.wav
work=$(mktemp -d)
hogs=()
server=
cleanup() {
    [ ${#hogs[@]} -gt 0 ] && kill "${hogs[@]}" 2>/dev/null || true
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# The first 3 s of jfk.wav: a weightless model decodes every window to its token limit.
head -c $((44 + 3 * 32000)) "$jfk" > "$work/jfk3.wav"

"$bin/vak-parakeet-server" -m "$src/models/for-tests-ggml-parakeet-tdt.bin" --port 18979 \
    -t "$decode_threads" 2>/dev/null &
server=$!
for _ in $(seq 50); do curl -sf http://127.0.0.1:18979/health >/dev/null && break; sleep 0.1; done

seconds() { # the wall time of a command, in seconds with two decimals
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || echo "FAILED: $*" >&2
    end=$(date +%s.%N)
    echo "$start $end" | awk '{printf "%.2f", $2 - $1}'
}
vad_path() {
    "$bin/whisper-cli" -m "$src/models/for-tests-ggml-tiny.en.bin" -f "$jfk" -t "$decode_threads" \
        -nt -bs 5 -bo 5 --vad -vm "$src/models/for-tests-silero-v6.2.0-ggml.bin" -vt 0.5
}
plain_decode() {
    "$bin/whisper-cli" -m "$src/models/for-tests-ggml-tiny.en.bin" -f "$work/jfk3.wav" \
        -t "$decode_threads" -nt -bs 5 -bo 5
}
parakeet_decode() {
    curl -sf -F "file=@$jfk" http://127.0.0.1:18979/inference
}

declare -A times
for round in $(seq "$rounds"); do
    for load in idle hog; do
        if [ "$load" = hog ]; then
            for _ in $(seq "$cores"); do yes >/dev/null & hogs+=($!); done
        fi
        for path in vad_path plain_decode parakeet_decode; do
            times[$path,$load]+="$(seconds "$path") "
        done
        if [ "$load" = hog ]; then kill "${hogs[@]}"; wait "${hogs[@]}" 2>/dev/null || true; hogs=(); fi
    done
    echo "round $round done" >&2
done

echo "$cores cores ($(grep -m1 "model name" /proc/cpuinfo | cut -d: -f2 | xargs)), load average after: $(cut -d' ' -f1-3 /proc/loadavg); decode threads $decode_threads"
echo
echo "| path | idle: median [min–max] | beside a hog on every core | ratio of medians |"
echo "|---|---|---|---|"
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'; }
range() { tr ' ' '\n' | grep -v '^$' | sort -n | awk 'NR==1{lo=$1} {hi=$1} END {printf "%.2f–%.2f", lo, hi}'; }
for path in vad_path plain_decode parakeet_decode; do
    idle_m=$(echo "${times[$path,idle]}" | median)
    hog_m=$(echo "${times[$path,hog]}" | median)
    printf "| %s | %s s [%s] | %s s [%s] | %s |\n" "$path" "$idle_m" "$(echo "${times[$path,idle]}" | range)" \
        "$hog_m" "$(echo "${times[$path,hog]}" | range)" "$(awk -v a="$hog_m" -v b="$idle_m" 'BEGIN {printf "%.2f", a / b}')"
done
