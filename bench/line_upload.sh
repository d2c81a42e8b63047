#!/usr/bin/env bash
# The line's server under load: linestation processes (stations that only
# record runs and send them up) against one local PostgreSQL 15, the
# throwaway cluster of scripts/common.sh (the one in RIO_TEST_PG* when
# scripts/bench started it, else one of its own).
#   1. Four stations x 1000 runs at once into one new database: every run
#      arrives once; the upload latency per run (the server's commit time,
#      runs.uploaded, less the run's end), median and p99 (nearest rank).
#   2. A queue of 10,000 runs recorded with --no-upload, then sent by one
#      uploader (linestation --drain-only): runs per second over the whole
#      drain process, connecting and the schema's migration included.
#   3. Processor time of a station whose server is down (its socket folder
#      does not exist) beside one with no server at all, the same 1000 runs,
#      three turns each, alternating; the medians are judged. The margin is
#      10 % of the station without a server: the same process doing the same
#      work differs by several per cent from turn to turn on a shared
#      machine, and the outbox keeps one mark more per run.
#
# usage: bench/line_upload.sh [BUILD_DIR]
# BUILD_DIR holds bench/linestation/linestation (default build/release, as
# scripts/bench builds it). Exit 0 when every goal is met, 1 otherwise, 2 when
# a figure could not be taken.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

dir=${1:-$root/build/release}
linestation=$dir/bench/linestation/linestation
if [ ! -x "$linestation" ]; then
    echo "line_upload: no $linestation; build it first: cmake --build $dir --target linestation" >&2
    exit 2
fi
if ! command -v psql >/dev/null; then
    echo "line_upload: psql is missing (Debian: postgresql-client-15)" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "${RIO_TEST_PGHOST:-}" ]; then
    start_test_server
fi
if [ -z "${RIO_TEST_PGHOST:-}" ]; then
    echo "line_upload: no PostgreSQL server to measure against" >&2
    exit 2
fi

sql() { psql -h "$RIO_TEST_PGHOST" -U "$RIO_TEST_PGUSER" -d "$1" -AtqX -v ON_ERROR_STOP=1 -c "$2"; }
url() { printf 'postgresql:///%s?host=%s' "$1" "$RIO_TEST_PGHOST"; }
# A field of linestation's JSON line.
field() { sed -n "s/.*\"$2\":\\(\"[^\"]*\"\\|[-0-9.]*\\).*/\\1/p" "$1" | tr -d '"'; }
could_not() {
    echo "line_upload: $*" >&2
    exit 2
}
# The URLs name no user: libpq takes PGUSER, the cluster's superuser.
export PGUSER=$RIO_TEST_PGUSER

status=0
printf '%-62s %-16s %-44s %s\n' figure goal measured met
row() {
    printf '%-62s %-16s %-44s %s\n' "$1" "$2" "$3" "$4"
    [ "$4" != no ] || status=1
}

# 1. Four stations at once.
sql postgres "CREATE DATABASE line_four" || could_not "cannot make a database"
pids=()
for n in 1 2 3 4; do
    XDG_DATA_HOME=$work/station$n "$linestation" --store "$(url line_four)" --station "bench-$n" \
        --runs 1000 --steps 4 --measurements 4 --wait-seconds 600 \
        >"$work/station$n.json" 2>"$work/station$n.err" &
    pids+=($!)
done
for n in 1 2 3 4; do
    if ! wait "${pids[$((n - 1))]}"; then
        cat "$work/station$n.json" "$work/station$n.err" >&2
        could_not "station $n did not send all its runs"
    fi
done
read -r runs distinct < <(sql line_four "SELECT count(*), count(DISTINCT uuid) FROM runs" | tr '|' ' ')
read -r median p99 < <(sql line_four "
    SELECT round(percentile_disc(0.5) WITHIN GROUP (ORDER BY ms)::numeric, 1),
           round(percentile_disc(0.99) WITHIN GROUP (ORDER BY ms)::numeric, 1)
    FROM (SELECT extract(epoch FROM uploaded - \"end\"::timestamptz) * 1000 AS ms FROM runs) AS latency" |
    tr '|' ' ')
[ "$runs" = 4000 ] && [ "$distinct" = 4000 ] && met=yes || met=no
row "4 stations x 1000 runs at once: runs on the server / distinct" "4000 / 4000" "$runs / $distinct" "$met"
row "upload latency per run (commit less the run's end), median / p99" "-" "$median / $p99 ms (n=$runs)" "-"

# 2. A queue of 10,000 runs drained by one uploader.
sql postgres "CREATE DATABASE line_queue" || could_not "cannot make a database"
XDG_DATA_HOME=$work/queue "$linestation" --store "$(url line_queue)" --station bench-queue \
    --runs 10000 --steps 4 --measurements 4 --no-upload >"$work/fill.json" 2>"$work/fill.err" ||
    could_not "the queue could not be recorded: $(cat "$work/fill.err")"
XDG_DATA_HOME=$work/queue "$linestation" --store "$(url line_queue)" --station bench-queue \
    --drain-only --wait-seconds 600 >"$work/drain.json" 2>"$work/drain.err" ||
    could_not "the queue was not drained: $(cat "$work/drain.json" "$work/drain.err")"
sent=$(field "$work/drain.json" runs)
wall=$(field "$work/drain.json" wall_ms)
arrived=$(sql line_queue "SELECT count(DISTINCT uuid) FROM runs")
rate=$(awk -v n="$sent" -v ms="$wall" 'BEGIN { printf "%.0f", n / (ms / 1000) }')
[ "$arrived" = 10000 ] && [ "$rate" -ge 200 ] && met=yes || met=no
row "a queue of 10000 runs drained by one uploader" ">= 200 runs/s" "$rate runs/s ($sent in $wall ms; $arrived on the server)" "$met"

# 3. Processor time with the server down, beside no server at all: five
# turns, the one going first swapped each turn, so that a load on the machine
# that comes or goes weighs on both alike; the medians are judged.
down=() alone=()
run_down() {
    local turn=$1 rc=0
    XDG_DATA_HOME=$work/down$turn "$linestation" --store "postgresql:///line_down?host=$work/no-such-folder" \
        --station bench-down --runs 1000 --steps 4 --measurements 4 --wait-seconds 0 \
        >"$work/down$turn.json" 2>"$work/down$turn.err" || rc=$?
    # Exit 1: the runs wait for the server, as they should.
    [ "$rc" = 1 ] || could_not "the station with its server down ended with $rc: $(cat "$work/down$turn.err")"
    down+=("$(field "$work/down$turn.json" cpu_ms)")
}
run_alone() {
    local turn=$1
    XDG_DATA_HOME=$work/alone$turn "$linestation" --store "sqlite:$work/alone$turn.sqlite" \
        --station bench-alone --runs 1000 --steps 4 --measurements 4 --wait-seconds 0 \
        >"$work/alone$turn.json" 2>"$work/alone$turn.err" ||
        could_not "the station without a server failed: $(cat "$work/alone$turn.err")"
    alone+=("$(field "$work/alone$turn.json" cpu_ms)")
}
for turn in 1 2 3 4 5; do
    if [ $((turn % 2)) = 1 ]; then
        run_down "$turn"
        run_alone "$turn"
    else
        run_alone "$turn"
        run_down "$turn"
    fi
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
down_ms=$(median "${down[@]}")
alone_ms=$(median "${alone[@]}")
[ "$down_ms" -le $((alone_ms + alone_ms / 10)) ] && met=yes || met=no
row "processor time, 1000 runs, server down vs no server (median of 5)" "<= no server + 10 %" \
    "$down_ms vs $alone_ms ms (turns ${down[*]} / ${alone[*]})" "$met"
exit "$status"
