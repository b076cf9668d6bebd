#!/usr/bin/env bash
# Measures the preview's frame rate under Xvfb (Mesa software OpenGL) and
# prints a table: the probe window with a growing number of samples per
# frame, and, with --show, the real program in OSC mode at a few show times.
#
#   tools/preview_probe/measure_fps.sh [--build DIR] [--seconds S] [--show]
#
# Run from anywhere; the build directory defaults to build/release.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/release"
seconds=5
show=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build="$2"; shift 2 ;;
        --seconds) seconds="$2"; shift 2 ;;
        --show) show=1; shift ;;
        *) echo "usage: $0 [--build DIR] [--seconds S] [--show]" >&2; exit 2 ;;
    esac
done
probe="$build/lumarok-preview-probe"
xsend="$build/lumarok-xsend"
[ -x "$probe" ] && [ -x "$xsend" ] || { echo "build $build first" >&2; exit 1; }
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")

# "preview: N frames in S s, F frames/s" -> "N F"
stats() { sed -n 's/^preview: \([0-9]*\) frames in [0-9.]* s, \([0-9.]*\) frames\/s$/\1 \2/p'; }

printf '%-28s %10s %12s\n' "what" "frames" "frames/s"
for samples in 0 500 2000 8000 32000; do
    scene=(--scene dense --samples "$samples")
    [ "$samples" -eq 0 ] && scene=(--scene empty)
    read -r frames rate < <("${xvfb[@]}" "$probe" "${scene[@]}" --seconds "$seconds" --stats 2>&1 >/dev/null | stats)
    printf '%-28s %10s %12s\n' "probe, $samples samples" "$frames" "$rate"
done

if [ "$show" -eq 1 ]; then
    # One show time at a time: lumarok -osc holds the last /Time it received.
    # Port 8666 is fixed; when another program holds it the start is retried.
    # Run inside xvfb-run (a sh script, which drops exported bash functions).
    measure_show='
        "$1" -osc -v 2>&1 >/dev/null &
        pid=$!
        "$2" "single triangle" wait 30 || { kill $pid 2>/dev/null; exit 1; }
        end=$((SECONDS + $4))
        while [ $SECONDS -lt $end ]; do
            oscsend 127.0.0.1 8666 /Time f "$3"
            sleep 0.2
        done
        "$2" "single triangle" close
        wait $pid'
    for t in 1.0 3.0 19.6 24.0 40.0 50.0; do
        out=""
        for _ in 1 2 3 4 5; do
            out="$(cd "$root" && "${xvfb[@]}" bash -c "$measure_show" _ \
                "$build/lumarok" "$xsend" "$t" "$seconds" | stats)" && [ -n "$out" ] && break
            sleep 2
        done
        read -r frames rate <<<"${out:-- -}"
        printf '%-28s %10s %12s\n' "lumarok -osc, t = $t s" "$frames" "$rate"
    done
fi
