#!/usr/bin/env bash
# riopoll's throughput against the board simulator: board polls back to back
# (--interval 0) for a while at 9600 and 115200 bit/s, accepted exchanges per
# second beside the line's limit
#     1 / (26 x 10 / speed + the simulator's turnaround)
# (26 bytes of 10 bits cross the line per exchange, request and reply) and
# the goal of 95 % of it. The rate is taken from the trace rows riopoll prints:
# accepted exchanges over the time from the first request to the last reply.
#
# The limit is given twice. "set" counts the turnaround riosim was told to
# wait; "measured" counts the turnaround it really has on this machine: its
# own reaction and the pseudo-terminal's delivery both ways, the mean of what
# line_client (blocking write and read, nothing else) sees beyond the line
# time. No client can beat that, so the goal is judged against it; at 115200
# bit/s it is a tenth of the line time and more. line_client and riopoll take
# turns, seven each, and the goal is judged on the median turn: riopoll's rate
# in a turn against the limit with the turnaround measured just before it.
#
# usage: bench/poll_throughput.sh [BUILD_DIR] [SECONDS] [TURNAROUND_MS]
# BUILD_DIR holds riopoll, riosim and line_client (default build/release, as
# scripts/bench builds it); SECONDS per speed for each of the two (default
# 10); TURNAROUND_MS the simulator's (default 0). Exit 0 when both speeds meet the goal, 1 otherwise,
# 2 when a figure could not be taken.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$root/build/release}
seconds=${2:-10}
turnaround=${3:-0}
riopoll=$dir/poll/riopoll
riosim=$dir/sim/riosim
line_client=$dir/bench/line_client/line_client
for program in "$riopoll" "$riosim" "$line_client"; do
    if [ ! -x "$program" ]; then
        echo "poll_throughput: no $program; build it first:" \
             "cmake --build $dir --target riopoll riosim line_client" >&2
        exit 2
    fi
done

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Seconds since the epoch of an ISO 8601 UTC time with milliseconds.
epoch() { date -u -d "$1" +%s.%N; }

rounds=7
status=0
printf '%-7s %-26s %8s %8s %8s %18s %18s  %s\n' speed "turnaround set / measured" accepted seconds "exch/s" "limit/s (set)" "limit/s (measured)" "goal: median turn >= 95 %"
for speed in 9600 115200; do
    "$riosim" --baud "$speed" --turnaround "$turnaround" --boards 01 >"$work/sim.out" 2>&1 &
    sim_pid=$!
    path=
    for _ in $(seq 50); do
        path=$(sed -n 's/^riosim: line ready at //p' "$work/sim.out")
        [ -n "$path" ] && break
        sleep 0.1
    done
    if [ -z "$path" ]; then
        echo "poll_throughput: riosim did not start: $(cat "$work/sim.out")" >&2
        exit 2
    fi
    # The two take turns in slices, so that a change in what else the
    # machine does falls on both alike.
    slice_ms=$((seconds * 1000 / rounds))
    slice_s=$(awk -v ms="$slice_ms" 'BEGIN { printf "%.3f", ms / 1000 }')
    client_exchanges=0 client_sum=0 accepted=0 elapsed=0 ratios=()
    for _ in $(seq "$rounds"); do
        if ! read -r n _ _ mean _ < <("$line_client" "$path" "$speed" "$slice_s"); then
            echo "poll_throughput: line_client took no figure at $speed bit/s" >&2
            exit 2
        fi
        client_exchanges=$((client_exchanges + n))
        client_sum=$(awk -v a="$client_sum" -v n="$n" -v m="$mean" 'BEGIN { printf "%.6f", a + n * m }')
        rc=0
        "$riopoll" --device "$path" --speed "$speed" --boards 01 --interval 0 \
            --duration "${slice_ms}ms" --format csv >"$work/trace.csv" 2>"$work/slice.txt" || rc=$?
        if [ "$rc" -eq 2 ]; then
            echo "poll_throughput: riopoll could not poll: $(cat "$work/slice.txt")" >&2
            exit 2
        fi
        ok=$(grep -c ',RX,.*,ok,' "$work/trace.csv" || true)
        first=$(awk -F, '$4 == "TX" { print $1; exit }' "$work/trace.csv")
        last=$(awk -F, '$4 == "RX" { t = $1 } END { print t }' "$work/trace.csv")
        if [ -z "$first" ] || [ -z "$last" ] || [ "$ok" -eq 0 ]; then
            echo "poll_throughput: nothing accepted at $speed bit/s: $(cat "$work/slice.txt")" >&2
            exit 2
        fi
        took=$(awk -v a="$(epoch "$first")" -v b="$(epoch "$last")" 'BEGIN { printf "%.3f", b - a }')
        accepted=$((accepted + ok))
        elapsed=$(awk -v t="$elapsed" -v d="$took" 'BEGIN { printf "%.3f", t + d }')
        # This turn's riopoll against the limit with this turn's turnaround.
        ratios+=("$(awk -v n="$ok" -v t="$took" -v s="$speed" -v m="$mean" \
            'BEGIN { printf "%.1f", 100 * (n / t) * (260 / s + m / 1000) }')")
    done
    # The median turn: a moment when the machine (or the host under it) was
    # busy falls on one turn, not on the figure.
    ratio=$(printf '%s\n' "${ratios[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p")
    kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=
    measured=$(awk -v s="$client_sum" -v n="$client_exchanges" 'BEGIN { printf "%.3f", s / n }')
    read -r rate set_limit set_ratio limit verdict < <(awk -v n="$accepted" -v t="$elapsed" \
        -v s="$speed" -v ta="$turnaround" -v tm="$measured" -v r="$ratio" 'BEGIN {
        rate = n / t
        set_limit = 1 / (260 / s + ta / 1000); set_ratio = 100 * rate / set_limit
        limit = 1 / (260 / s + tm / 1000)
        printf "%.1f %.1f %.1f %.1f %s\n", rate, set_limit, set_ratio, limit, (r >= 95) ? "met" : "MISSED" }')
    [ "$verdict" = met ] || status=1
    printf '%-7s %-26s %8s %8s %8s %18s %18s  %s\n' "$speed" "${turnaround} / ${measured} ms" "$accepted" "$elapsed" "$rate" \
        "$set_limit ($set_ratio %)" "$limit ($ratio %)" "$verdict"
    echo "    turns against the measured limit: ${ratios[*]} (%); the median is judged"
done
exit "$status"
