#!/usr/bin/env bash
# Builds the release preset, runs every measurement and writes docs/PERFORMANCE.md.
#
#   tools/perf_report/make_report.sh [--quick] [--pipeline-only]
#
# Run as root from anywhere (laser-mode figures need network namespaces, made and
# removed per run; everything else stays on this machine). --quick shortens the
# runs for a trial; the committed report comes from a run without it.
# --pipeline-only rewrites just the section "Frame pipeline ... (before / after)" in
# the existing report. That section compares this tree with the commit before the
# kept-buffer work (LUMAROK_PERF_BASE, default d48ffbf), which it builds from git
# history in a temporary directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/release"
out="$root/docs/PERFORMANCE.md"
quick=0
pipeline_only=0
for arg in "$@"; do
    case "$arg" in
    --quick) quick=1 ;;
    --pipeline-only) pipeline_only=1 ;;
    *) echo "usage: $0 [--quick] [--pipeline-only]" >&2; exit 2 ;;
    esac
done
reps=5; laser_seconds=30; audio_seconds=10; fps_seconds=5; runs=7; pairs=5
if [ "$quick" -eq 1 ]; then reps=2; laser_seconds=10; audio_seconds=3; fps_seconds=2; runs=2; pairs=2; fi
base_ref="${LUMAROK_PERF_BASE:-d48ffbf}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cd "$root"
cmake --preset release >"$work/configure.log"
cmake --build --preset release -j 2 >"$work/build.log"

machine() {
    echo "nproc $(nproc), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
        "load average $(cut -d' ' -f1-3 /proc/loadavg)"
}
section_machine() { echo; echo "Machine during this measurement: $(machine)."; }

# The frame pipeline before and after the kept-buffer work, into $work/pipeline.md:
# both builds' benchmarks in alternation, this tree's allocation counts, and the demo
# show rendered by both at every entry. $1 is this run's laser-mode CPU figure.
pipeline_section() {
    # The base tree is kept under build/ so that a later run only rebuilds what changed.
    local base="$root/build/perf-base-$base_ref" dir="$work/pipeline"
    mkdir -p "$base" "$dir/renders_before" "$dir/renders_after"
    [ -f "$base/CMakeLists.txt" ] || git -C "$root" archive "$base_ref" | tar -x -C "$base"
    (cd "$base" && cmake --preset release >"$work/base_configure.log" &&
        cmake --build --preset release -j 2 --target lumarok_bench lumarok >"$work/base_build.log")
    local filter='^LaserFrame/|^BM_ClipPolylineToMask|^BM_PathBuilder'
    for round in $(seq "$pairs"); do
        "$base/build/release/bench/lumarok_bench" --benchmark_filter="$filter" \
            --benchmark_min_time=0.05 --benchmark_format=json >"$dir/before_$round.json" 2>/dev/null
        "$build/bench/lumarok_bench" --benchmark_filter="$filter" \
            --benchmark_min_time=0.05 --benchmark_format=json >"$dir/after_$round.json" 2>/dev/null
    done
    pipeline_machine="$(machine)"
    "$build/tools/frame_allocs/lumarok_frame_allocs" >"$dir/allocs.md"
    echo "${1:-?}" >"$dir/laser_cpu.txt"
    # Every entry's start, from the benchmark's counters, 0.1 s in; then the whole
    # show exported by both.
    python3 -c 'import json,sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b["name"].startswith("LaserFrame/"):
        print(int(b["name"].split("/")[1].split("_")[0]), b["start_ms"] / 1000 + 0.1)' \
        "$dir/after_1.json" | while read -r index seconds; do
        (cd "$root" && "$base/build/release/lumarok" --render "$seconds" \
            --out "$dir/renders_before/$index.json" >/dev/null 2>&1)
        (cd "$root" && "$build/lumarok" --render "$seconds" \
            --out "$dir/renders_after/$index.json" >/dev/null 2>&1)
    done
    python3 "$root/tools/perf_report/summarise.py" renders "$dir/renders_before" \
        "$dir/renders_after" >"$dir/renders.txt"
    # The whole show as exported by both, where the base build can export it.
    if (cd "$root" && "$base/build/release/lumarok" --export-ilda "$dir/before.ild" --fps 30 \
        >/dev/null 2>&1 && "$build/lumarok" --export-ilda "$dir/after.ild" --fps 30 >/dev/null 2>&1); then
        if cmp -s "$dir/before.ild" "$dir/after.ild"; then
            echo "The whole show exported at 30 frames/s (\`--export-ilda\`): byte-identical." >>"$dir/renders.txt"
        else
            echo "The whole show exported at 30 frames/s (\`--export-ilda\`): the files differ." >>"$dir/renders.txt"
        fi
    fi
    {
        cat <<PIPE
## Frame pipeline: kept buffers, path builder, mask clipping (before / after)

"Before" is the release build of ${base_ref} (the commit before this work), built from
git history; "after" is this tree. Their benchmarks ran one after the other, ${pairs} times
each, on one machine; the figures are medians over those runs. Wall time on a shared
machine includes time the benchmark waited for a processor, so CPU time is given too.
The path builder's "before" is the original builder kept in
bench/laser_path_original_bench.cpp and run in the same binary, after a byte-for-byte
check of both outputs.
\`lumarok_bench --benchmark_filter='${filter}' --benchmark_min_time=0.05\`,
\`lumarok_frame_allocs\`, \`lumarok --render\` at each entry and \`--export-ilda\`.

Machine: ${pipeline_machine}.

PIPE
        python3 "$root/tools/perf_report/summarise.py" pipeline "$dir"
    } >"$work/pipeline.md"
}

if [ "$pipeline_only" -eq 1 ]; then
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
    cd "$root"
    cmake --preset release >"$work/configure.log"
    cmake --build --preset release -j 2 --target lumarok lumarok_bench lumarok_frame_allocs \
        lumarok-laser-measure lumarok-cube >"$work/build.log"
    "$build/tools/laser_measure/lumarok-laser-measure" --seconds "$laser_seconds" \
        >"$work/laser.md" 2>&1 || true
    cpu_pct="$(sed -n 's/^| CPU of the player, % of one core *| *\([0-9.]*\).*/\1/p' "$work/laser.md")"
    pipeline_section "${cpu_pct:-}"
    # The section runs from its heading to the next second-level heading.
    python3 - "$out" "$work/pipeline.md" <<'PY'
import re, sys
report, section = open(sys.argv[1]).read(), open(sys.argv[2]).read().rstrip() + "\n\n"
match = re.search(r"^## Frame pipeline.*?(?=^## )", report, re.S | re.M)
if not match:
    sys.exit("no frame pipeline section in " + sys.argv[1])
open(sys.argv[1], "w").write(report[:match.start()] + section + report[match.end():])
PY
    echo "rewrote the frame pipeline section of $out"
    exit 0
fi

# 1. One laser frame per timeline entry.
"$build/bench/lumarok_bench" --benchmark_filter='^LaserFrame/' --benchmark_repetitions="$reps" \
    --benchmark_min_time=0.05 --benchmark_format=json --benchmark_out="$work/timeline.json" \
    --benchmark_out_format=json >/dev/null 2>"$work/timeline.err"
timeline_machine="$(machine)"
python3 "$root/tools/perf_report/summarise.py" timeline "$work/timeline.json" >"$work/timeline.md"
read -r _ worst_us worst_name < <(tail -1 "$work/timeline.md")
sed -i '$d' "$work/timeline.md"

# 2. Data load time and its growth.
"$build/bench/lumarok_bench" --benchmark_filter='^BM_LoadDataDirectory/' \
    --benchmark_repetitions="$reps" --benchmark_format=json \
    --benchmark_out="$work/load.json" --benchmark_out_format=json >/dev/null 2>"$work/load.err"
load_machine="$(machine)"
python3 "$root/tools/perf_report/summarise.py" load "$work/load.json" >"$work/load.md"

# 3. Start-up to the first frame.
"$build/tools/perf_report/lumarok-startup-measure" --runs "$runs" >"$work/startup.md" 2>&1 || true
startup_machine="$(machine)"
startup_ms="$(sed -n 's/^| `lumarok -laser`: start to first packet *| *\([0-9.]*\).*/\1/p' "$work/startup.md")"

# 4. The capture thread's processor use.
"$build/tools/audio_cpu/lumarok_audio_cpu" --seconds "$audio_seconds" --private-server \
    >"$work/audio.txt" 2>&1 || true
audio_machine="$(machine)"

# 5. The whole player in laser mode: CPU, underruns, OSC to wire.
laser_tool="$build/tools/laser_measure/lumarok-laser-measure"
if [ -x "$laser_tool" ]; then
    "$laser_tool" --seconds "$laser_seconds" >"$work/laser.md" 2>&1 || true
else
    echo "(lumarok-laser-measure is not built in this tree)" >"$work/laser.md"
fi
laser_machine="$(machine)"
cpu_pct="$(sed -n 's/^| CPU of the player, % of one core *| *\([0-9.]*\).*/\1/p' "$work/laser.md")"
osc_ms="$(sed -n 's/^| OSC to first packet, max ms *| *\([0-9.]*\).*/\1/p' "$work/laser.md")"
underruns="$(sed -n 's/^| underruns *| *\([0-9]*\).*/\1/p' "$work/laser.md")"

# 6. The whole show at triple speed: memory and a clean stream (the soak test).
"$build/tests/lumarok_itests" --gtest_filter='ShowSoak.*' --gtest_output="xml:$work/soak.xml" \
    >"$work/soak.txt" 2>&1 || true
soak_machine="$(machine)"
soak_prop() { grep -Eo "$1(\" value)?=\"[0-9]+\"" "$work/soak.xml" | head -1 | grep -Eo '[0-9]+"$' | tr -d '"'; }
soak_result="$(grep -Eo '\[ *(OK|FAILED|SKIPPED) *\] ShowSoak[^ ]*' "$work/soak.txt" | head -1 || true)"
rss_early="$(soak_prop rss_early_kib)"; rss_late="$(soak_prop rss_late_kib)"
soak_fps="$(soak_prop frames_per_second)"
soak_failures="$(grep -v '^progress' "$work/soak.txt" | grep -A3 'Failure$' | head -40 || true)"
memory_verdict="$(python3 -c "import sys; a,b=sys.argv[1:]; print('met' if abs(int(b)-int(a))<=int(a)/20 else 'missed')" "${rss_early:-0}" "${rss_late:-0}" 2>/dev/null || echo "not measured")"

# 7. The preview's frame rate under Xvfb.
"$root/tools/preview_probe/measure_fps.sh" --build "$build" --seconds "$fps_seconds" --show \
    >"$work/fps.txt" 2>&1 || true
fps_machine="$(machine)"

# 8. The frame pipeline before and after.
pipeline_section "${cpu_pct:-}"

verdict() { # value target: "met" / "missed by X" for value < target
    python3 - "$1" "$2" <<'PY'
import sys
try:
    v, t = float(sys.argv[1]), float(sys.argv[2])
except ValueError:
    print("not measured"); sys.exit()
print("met" if v < t else f"missed by {v - t:.3g} ({100 * (v - t) / t:.0f} %)")
PY
}

mkdir -p "$root/docs"
{
cat <<HEAD
# Performance

Generated by \`tools/perf_report/make_report.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') from
commit $(git -C "$root" rev-parse --short HEAD) (release preset). Reproduce with that one
command as root; it builds, measures and rewrites this file. Each section names the
command behind it and the machine's state while it ran.

## Targets

| target | measured | verdict |
|---|---|---|
| worst timeline entry < 1 ms per laser frame | ${worst_us} µs (${worst_name#LaserFrame/}) | $(verdict "$worst_us" 1000) |
| start-up to first frame < 300 ms | ${startup_ms:-?} ms (median, laser mode) | $(verdict "${startup_ms:-x}" 300) |
| process CPU in laser mode < 5 % of a core at 30000 samples/s | ${cpu_pct:-?} % | $(verdict "${cpu_pct:-x}" 5) |
| OSC-to-wire delay < 60 ms | ${osc_ms:-?} ms (worst) | $(verdict "${osc_ms:-x}" 60) |
| zero underruns | ${underruns:-?} | $([ "${underruns:-x}" = 0 ] && echo met || echo "see below") |
| memory flat (VmRSS at the end within 5 % of the value after 10 s) | ${rss_early:-?} KiB → ${rss_late:-?} KiB over the whole show | ${memory_verdict} |
| the whole show without a fault (soak) | ${soak_result:-not run} | $(case "${soak_result:-}" in *OK*) echo met ;; *) echo "see the soak section" ;; esac) |

## Cost of one laser frame per timeline entry

Sample the animation, apply the entry's effect, build the laser path, measured at
0.1 s after each entry's start (bench/timeline_bench.cpp, silent audio). Median and
worst of ${reps} repetitions of the mean frame time.
\`build/release/bench/lumarok_bench --benchmark_filter='^LaserFrame/' --benchmark_repetitions=${reps}\`

Machine: ${timeline_machine}.

HEAD
cat "$work/timeline.md"
cat <<LOAD

## Demo data load time and its growth with data size

The demo show's data directory loaded whole (split map, sequence, every scene decoded),
and the same show repeated 4 and 16 times (bench/anim_bench.cpp).
\`build/release/bench/lumarok_bench --benchmark_filter='^BM_LoadDataDirectory/'\`

Machine: ${load_machine}.

LOAD
cat "$work/load.md"
cat <<START

## Start-up to the first frame

Laser mode: from starting \`lumarok -laser\` (inside a network namespace, through
\`ip netns exec\`, which adds a few ms) to the arrival of its first sample packet at
\`lumarok-cube\` in the neighbouring namespace; this includes loading the data, starting
audio capture, discovery and the first frame. Headless: the wall time of
\`lumarok --render 10 --out frame.json\` (load plus one frame, no network).
\`build/release/tools/perf_report/lumarok-startup-measure --runs ${runs}\`

Machine: ${startup_machine}.

START
cat "$work/startup.md"
cat <<AUDIO

## Audio capture thread

\`build/release/tools/audio_cpu/lumarok_audio_cpu --seconds ${audio_seconds} --private-server\`
(a private audio server with a null sink playing a tone).

Machine: ${audio_machine}.

\`\`\`
$(cat "$work/audio.txt")
\`\`\`

## The player in laser mode: CPU, underruns, OSC to wire

The show in laser mode at 30000 samples/s against \`lumarok-cube\`, both in network
namespaces made for the run, the clock driven over OSC.
\`build/release/tools/laser_measure/lumarok-laser-measure --seconds ${laser_seconds}\`

Machine: ${laser_machine}.

AUDIO
cat "$work/laser.md"
cat <<FPS

## The whole show in laser mode (soak)

The whole demo show (0 to 232 s of show time) played by \`lumarok -laser -osc\` against
\`lumarok-cube\` in network namespaces, the OSC clock at three times real speed; the
test checks every packet and counter, underruns, overflows and resident memory.
\`build/release/tests/lumarok_itests --gtest_filter='ShowSoak.*'\`

Machine: ${soak_machine}.

| result | VmRSS after 10 s | VmRSS at the end | frames/s at the projector |
|---|---:|---:|---:|
| ${soak_result:-not run} | ${rss_early:-?} KiB | ${rss_late:-?} KiB | ${soak_fps:-?} |
$([ -n "$soak_failures" ] && printf '\nWhat failed:\n\n```\n%s\n```\n' "$soak_failures")

## Preview frame rate under Xvfb

Software OpenGL (Mesa) under Xvfb, so these are lower bounds for a real display.
\`tools/preview_probe/measure_fps.sh --seconds ${fps_seconds} --show\`

Machine: ${fps_machine}.

\`\`\`
$(cat "$work/fps.txt")
\`\`\`
FPS
echo
cat "$work/pipeline.md"
if [ -f "$root/tools/perf_report/notes.md" ]; then
    echo
    cat "$root/tools/perf_report/notes.md"
fi
} >"$out"

# The laser sender with both cores saturated, with and without real-time scheduling:
# a section of its own, appended last.
load_seconds=232
[ "$quick" -eq 1 ] && load_seconds=20
load_machine="$(machine)"
"$build/tools/laser_load/lumarok-laser-load" --seconds "$load_seconds" >"$work/load.md" \
    2>"$work/load.err" || echo "lumarok-laser-load failed: $(cat "$work/load.err")" >"$work/load.md"
cat >>"$out" <<LOAD

## Laser sender under load: real-time scheduling

The whole demo show at 1x (steady clock) in laser mode against \`lumarok-cube\` in network
namespaces, while \`stress-ng --cpu 2\` keeps both cores busy: once with the sender's
\`SCHED_FIFO\` and memory lock granted (run as root), once with them refused (\`setpriv\`
drops CAP_SYS_NICE and CAP_IPC_LOCK). Lit-starved time is the virtual projector's: its buffer
empty while its last sample was lit.
\`build/release/tools/laser_load/lumarok-laser-load --seconds ${load_seconds}\`

Machine at the start: ${load_machine}.

$(cat "$work/load.md")
LOAD

# Several projectors in step: 1, 2 and 4 virtual projectors side by side.
skew_seconds=60
[ "$quick" -eq 1 ] && skew_seconds=10
skew_machine="$(machine)"
"$build/tools/projector_skew/lumarok-skew-measure" --seconds "$skew_seconds" >"$work/skew.md" \
    2>"$work/skew.err" || echo "lumarok-skew-measure failed: $(cat "$work/skew.err")" >"$work/skew.md"
cat >>"$out" <<SKEW

## Several projectors: skew and CPU

The demo show on 1, 2 and 4 \`lumarok-cube\`s side by side in one network namespace (each on
its own address), the player in another, steady clock, ${skew_seconds} s per row. Skew: for
each frame of the first projector, the same picture on every other one (the nearest in
time), the spread of the arrival times of their first packets (the cubes' \`--frame-log\`).
One projector plays through the one-projector path. Goal: skew median ≤ 5 ms, worst ≤ 15 ms,
0 underruns, CPU ≤ 3 % of a core with two.
\`build/release/tools/projector_skew/lumarok-skew-measure --seconds ${skew_seconds}\`

Machine at the start: ${skew_machine}.

$(cat "$work/skew.md")
SKEW

# The light against the beat, without and with --on-beat.
beat_seconds=30
[ "$quick" -eq 1 ] && beat_seconds=8
beat_machine="$(machine)"
"$build/tools/beat_offset/lumarok-beat-offset" --seconds "$beat_seconds" >"$work/beat.md" \
    2>"$work/beat.err" || echo "lumarok-beat-offset failed: $(cat "$work/beat.err")" >"$work/beat.md"
cat >>"$out" <<BEAT

## Light on the beat

The show through \`lumarok-beat-probe\` (the player, each frame replaced by a pattern whose
first sample tells the show time it was drawn for) on one or two \`lumarok-cube\`s in a network
namespace, the player in another, ${beat_seconds} s per row. Offset: when a frame's first
sample is played (the cube's \`--frame-log\`: arrival plus what its buffer held, at its rate)
less when the timeline stood at the time it depicts (\`/Time\` sent along the steady clock at
30 or 10 a second; for the steady clock the player's own, its zero as the probe tells it);
positive is late. Worst: the largest offset; from median: the largest distance from the median.
Goals with \`--on-beat\`: median within ±5 ms, worst within ±10 ms, 0 underruns.
\`build/release/tools/beat_offset/lumarok-beat-offset --seconds ${beat_seconds}\`

Machine at the start: ${beat_machine}.

$(cat "$work/beat.md")
BEAT
echo "wrote $out"
