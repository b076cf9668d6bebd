# Sourced by the test and CI scripts: runs one named stage, prints its wall time and
# the CPU time it used (user + system of its processes; on a busy machine the CPU
# time says more about the work than the wall time), and a summary at the end.
stage_lines=()
stage_started=$SECONDS

stage_times_file="$(mktemp)"
trap 'rm -f "$stage_times_file"' EXIT

# Sets cpu_now to the children's user + system seconds so far. `times` must run in
# this shell (not in a command substitution) to see them.
read_cpu() {
    times >"$stage_times_file"
    cpu_now=$(tail -1 "$stage_times_file" | awk '{
        n = 0
        for (i = 1; i <= 2; ++i) { split($i, p, "m"); sub("s", "", p[2]); n += p[1] * 60 + p[2] }
        printf "%d", n }')
}

stage() {
    local name="$1"
    shift
    echo "== $name =="
    local wall=$SECONDS cpu
    read_cpu
    cpu=$cpu_now
    local status=0
    "$@" || status=$?
    read_cpu
    local line
    line=$(printf '%-22s %4d s wall  %5d s CPU' "$name" $((SECONDS - wall)) $((cpu_now - cpu)))
    stage_lines+=("$line")
    echo "== $name: $((SECONDS - wall)) s =="
    if [ "$status" -ne 0 ]; then
        stage_summary
        echo "== $name FAILED (exit status $status) ==" >&2
        exit "$status"
    fi
}

stage_summary() {
    echo "== stage times (load average now: $(cut -d' ' -f1-3 /proc/loadavg)) =="
    printf '%s\n' "${stage_lines[@]}"
    printf '%-22s %4d s wall\n' "total" $((SECONDS - stage_started))
}
