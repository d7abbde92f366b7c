#!/usr/bin/env bash
# What a dictation costs the real engines: full-size models of each engine's real shapes with
# random weights (bench/write_random_models.py, written once under ~/.cache/vak-bench-models),
# served by the real whisper-server and vak-parakeet-server as the daemon runs them (resident,
# its thread share, OpenMP's passive wait). Each request is timed on clips of a few lengths, idle
# and beside a `yes` per core, in interleaved rounds; the figures then drive the chunk engine's
# replay on a virtual clock (vak_bench_chunks ENGINE FIXED PER_SECOND) for 1, 5 and 20-minute
# dictations: a 20-minute dictation on the real engine would take hours on a shared machine.
# Besides each request's wall time, the server's CPU time for it: on a machine shared with other
# work the wall time says how busy the machine was as much as what the engine costs, and CPU
# seconds over the engine's threads is what the request would take with its cores to itself.
# Usage: bench/engine_latency.sh ENGINE_BIN BENCH_BUILD [ROUNDS] [ENGINES]
#   ENGINE_BIN: whisper-server and vak-parakeet-server (vak-dictate --setup-engine)
#   BENCH_BUILD: the build folder holding bench/vak_bench_chunks
#   ENGINES: any of "parakeet base.en turbo" (default: "parakeet base.en"; a turbo request
#   takes many minutes on a shared 2-core machine)
set -euo pipefail
bin=$1 build=$2 rounds=${3:-2} engines=${4:-"parakeet base.en"}
here=$(cd "$(dirname "$0")" && pwd)
models=${VAK_BENCH_MODELS:-$HOME/.cache/vak-bench-models}
cores=$(nproc)
# The daemon's shares on this machine with captions on: half each for the Parakeet server, which
# serves both; a quarter to whisper's caption server and the rest to its decode server.
parakeet_threads=$(( cores / 2 > 0 ? cores / 2 : 1 ))
whisper_threads=$(( cores - (cores / 4 > 0 ? cores / 4 : 1) ))
[ "$whisper_threads" -lt 1 ] && whisper_threads=1
work=$(mktemp -d)
hogs=() servers=()
cleanup() {
    [ ${#hogs[@]} -gt 0 ] && kill "${hogs[@]}" 2>/dev/null || true
    [ ${#servers[@]} -gt 0 ] && kill "${servers[@]}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

declare -A model=([parakeet]=parakeet-tdt-0.6b-v3 [base.en]=base.en [turbo]=large-v3-turbo)
declare -A port=([parakeet]=18981 [base.en]=18982 [turbo]=18983)
# Clip lengths: Parakeet's cost follows the clip; whisper's is one 30 s window whatever it holds.
declare -A clips=([parakeet]="2 5 10" [base.en]="5" [turbo]="5")
declare -A threads=([parakeet]=$parakeet_threads [base.en]=$whisper_threads [turbo]=$whisper_threads)
declare -A pid=()
wanted=()
for engine in $engines; do wanted+=("${model[$engine]}"); done
/usr/bin/python3 "$here/write_random_models.py" "$models" "${wanted[@]}" >/dev/null

for seconds in 2 5 10; do # faint noise: the random models hear nothing in it anyway
    ffmpeg -loglevel error -f lavfi -i "anoisesrc=d=$seconds:c=pink:a=0.05" -ar 16000 -ac 1 \
        -c:a pcm_s16le "$work/clip$seconds.wav"
done

for engine in $engines; do
    file="$models/ggml-${model[$engine]}.bin"
    if [ "$engine" = parakeet ]; then
        OMP_WAIT_POLICY=passive OMP_THREAD_LIMIT=$parakeet_threads "$bin/vak-parakeet-server" \
            -m "$file" --port "${port[$engine]}" -t "$parakeet_threads" 2>"$work/$engine.log" &
    else
        OMP_WAIT_POLICY=passive OMP_THREAD_LIMIT=$whisper_threads "$bin/whisper-server" \
            -m "$file" --host 127.0.0.1 --port "${port[$engine]}" -t "$whisper_threads" \
            >/dev/null 2>"$work/$engine.log" &
    fi
    servers+=($!)
    pid[$engine]=$!
done
for engine in $engines; do
    for _ in $(seq 600); do
        [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:${port[$engine]}/health")" = 200 ] && break
        sleep 0.5
    done
done

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
decode() { # engine clip: the request's wall time, and its CPU time over the engine's threads
    local start end before after
    before=$(cpu_ticks "${pid[$1]}")
    start=$(date +%s.%N)
    curl -sf -o /dev/null --max-time 900 -F "file=@$work/clip$2.wav" -F response_format=json \
        "http://127.0.0.1:${port[$1]}/inference" || echo "FAILED: $1 $2 s" >&2
    end=$(date +%s.%N)
    after=$(cpu_ticks "${pid[$1]}")
    echo "$start $end $before $after $(getconf CLK_TCK) ${threads[$1]}" |
        awk '{printf "%.2f,%.2f", $2 - $1, ($4 - $3) / $5 / $6}'
}

results=$work/results.csv
for round in $(seq "$rounds"); do
    for load in idle hog; do
        if [ "$load" = hog ]; then
            for _ in $(seq "$cores"); do yes >/dev/null & hogs+=($!); done
        fi
        for engine in $engines; do
            for clip in ${clips[$engine]}; do
                echo "$engine,$load,$clip,$(decode "$engine" "$clip")" | tee -a "$results" >&2
            done
        done
        if [ ${#hogs[@]} -gt 0 ]; then kill "${hogs[@]}"; wait "${hogs[@]}" 2>/dev/null || true; fi
        hogs=()
    done
    echo "round $round done; load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
done

# Per engine and load (and "cpu": the idle rounds' CPU time over the threads): the medians
# [min–max] of each clip, the cost shape fitted to the medians
# (Parakeet: a call's time and a second's, least squares; whisper: a call's time), and the
# replay's rows.
/usr/bin/python3 - "$results" >"$work/shapes" <<'PY'
import csv, statistics, sys
rows = list(csv.reader(open(sys.argv[1])))
for engine in dict.fromkeys(r[0] for r in rows):
    for load in ("idle", "hog", "cpu"):
        by_clip = {}
        for e, l, clip, wall, cpu in rows:
            if load == "cpu" and e == engine and l == "idle":
                by_clip.setdefault(float(clip), []).append(float(cpu))
            elif e == engine and l == load:
                by_clip.setdefault(float(clip), []).append(float(wall))
        med = {c: statistics.median(v) for c, v in by_clip.items()}
        text = " · ".join(f"{c:g} s: {med[c]:.2f} s [{min(v):.2f}–{max(v):.2f}]"
                          for c, v in sorted(by_clip.items()))
        if engine == "parakeet" and len(med) > 1:
            xs, ys = list(med), list(med.values())
            mx, my = statistics.mean(xs), statistics.mean(ys)
            slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
            fixed = max(my - slope * mx, 0.0)
            print(f"parakeet {fixed:.3f} {slope:.3f} Parakeet,{load}|{text}")
        else:
            print(f"whisper {statistics.median(med.values()):.3f} 0 {engine},{load}|{text}")
PY
echo "| engine, load (cpu: CPU time over its threads, idle rounds) | per call, median [min–max] of $rounds |"
echo "|---|---|"
while IFS='|' read -r args text; do
    read -r _ _ _ label <<<"$args"
    echo "| ${label/,/, } | $text |"
done <"$work/shapes"
echo
echo "| engine, load | dictation | wait after stop: median | worst | decoder calls per minute | decoder busy | caption lag (worst) |"
echo "|---|---|---|---|---|---|---|"
while IFS='|' read -r args _; do
    read -r kind fixed per_second label <<<"$args"
    "$build/bench/vak_bench_chunks" "$kind" "$fixed" "$per_second" "${label/,/, }" || true
done <"$work/shapes"
