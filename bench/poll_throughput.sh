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
# bit/s it is a tenth of the line time and more.
#
# usage: bench/poll_throughput.sh [BUILD_DIR] [SECONDS] [TURNAROUND_MS]
# BUILD_DIR holds riopoll, riosim and line_client (default build/release, as
# scripts/bench builds it); SECONDS per speed (default 10); TURNAROUND_MS the
# simulator's (default 0). Exit 0 when both speeds meet the goal, 1 otherwise,
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

status=0
printf '%-7s %-26s %8s %8s %8s %18s %18s  %s\n' speed "turnaround set / measured" accepted seconds "exch/s" "limit/s (set)" "limit/s (measured)" "goal >= 95 % of measured"
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
    if ! read -r _ _ _ measured _ < <("$line_client" "$path" "$speed" "$seconds"); then
        echo "poll_throughput: line_client took no figure at $speed bit/s" >&2
        exit 2
    fi
    rc=0
    "$riopoll" --device "$path" --speed "$speed" --boards 01 --interval 0 \
        --duration "${seconds}s" --format csv >"$work/trace.csv" 2>"$work/summary.txt" || rc=$?
    kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=
    if [ "$rc" -eq 2 ]; then
        echo "poll_throughput: riopoll could not poll: $(cat "$work/summary.txt")" >&2
        exit 2
    fi
    accepted=$(grep -c ',RX,.*,ok,' "$work/trace.csv" || true)
    first=$(awk -F, '$4 == "TX" { print $1; exit }' "$work/trace.csv")
    last=$(awk -F, '$4 == "RX" { t = $1 } END { print t }' "$work/trace.csv")
    if [ -z "$first" ] || [ -z "$last" ] || [ "$accepted" -eq 0 ]; then
        echo "poll_throughput: nothing accepted at $speed bit/s: $(cat "$work/summary.txt")" >&2
        exit 2
    fi
    elapsed=$(awk -v a="$(epoch "$first")" -v b="$(epoch "$last")" 'BEGIN { printf "%.3f", b - a }')
    read -r rate set_limit set_ratio limit ratio verdict < <(awk -v n="$accepted" -v t="$elapsed" \
        -v s="$speed" -v ta="$turnaround" -v tm="$measured" 'BEGIN {
        rate = n / t
        set_limit = 1 / (260 / s + ta / 1000); set_ratio = 100 * rate / set_limit
        limit = 1 / (260 / s + tm / 1000); ratio = 100 * rate / limit
        printf "%.1f %.1f %.1f %.1f %.1f %s\n", rate, set_limit, set_ratio, limit, ratio, (ratio >= 95) ? "met" : "MISSED" }')
    [ "$verdict" = met ] || status=1
    printf '%-7s %-26s %8s %8s %8s %18s %18s  %s\n' "$speed" "${turnaround} / ${measured} ms" "$accepted" "$elapsed" "$rate" \
        "$set_limit ($set_ratio %)" "$limit ($ratio %)" "$verdict"
    sed 's/^/    /' "$work/summary.txt"
done
exit "$status"
