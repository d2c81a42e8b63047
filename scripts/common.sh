# Shared by the set-up scripts: find the checkout, install missing Debian
# packages, configure and build.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building and testing riopanel needs on Debian 12.
packages=(g++ cmake ninja-build pkg-config ccache qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite libgl-dev fonts-nanum postgresql-15 libqt6sql6-psql)
# What the fuzz targets add: clang with its libFuzzer and sanitizer runtimes.
fuzz_packages=(clang-14 libclang-rt-14-dev)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "riopanel: need root (or sudo) to run: $*" >&2
        return 1
    fi
}

# Installs the packages of the arguments that are not installed yet; does
# nothing, and needs no network, when all are there.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "riopanel: installing ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# Every build compiles through ccache, so a second run rebuilds only what
# changed even after a build folder was removed. Paths below the checkout are
# hashed relative to it, so two clones share their objects.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=true
# Named here because debhelper gives the package build a home folder of its own.
export CCACHE_DIR="${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ccache}"

# configure DIR TYPE [cmake options...]: configures DIR once, and again from
# scratch when the type or the options differ from those it was configured
# with (cmake keeps the old value of a -D option that is no longer given).
configure() {
    local dir=$1 type=$2
    shift 2
    local wanted
    wanted=$(printf '%s\n' "-DCMAKE_BUILD_TYPE=$type" "$@" "launcher=$CMAKE_CXX_COMPILER_LAUNCHER")
    if [ -f "$dir/build.ninja" ] && [ "$(cat "$dir/.rio-options" 2>/dev/null)" = "$wanted" ]; then
        return
    fi
    rm -f "$dir/CMakeCache.txt" "$dir/.rio-options"
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@"
    printf '%s' "$wanted" >"$dir/.rio-options"
}

# build DIR TYPE [cmake options...]: configure, then build what changed.
build() {
    configure "$@"
    cmake --build "$1" -j2
}

# build_targets DIR TYPE TARGET [cmake options...]: as build, one target only.
build_targets() {
    local dir=$1 type=$2 target=$3
    shift 3
    configure "$dir" "$type" "$@"
    cmake --build "$dir" -j2 --target "$target"
}

# The throwaway PostgreSQL cluster of a test or bench run: a temporary folder
# holding the cluster's files and its socket, no TCP port, superuser role
# "rio" trusted on the socket, except role "riopass", which must give a
# password (the tests of a wrong one). initdb refuses to run as root, so root
# runs the cluster as the package's "postgres" user. start_test_server
# exports where it is (RIO_TEST_PG*, read by tests/support/test_server.h);
# when it cannot start, it says why and exports nothing, and the tests that
# need it skip. The cluster is stopped and removed on any way out.
rio_pg_bin=/usr/lib/postgresql/15/bin
rio_pg_dir=

# Runs a command as the user the cluster belongs to.
as_pg_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

start_test_server() {
    local owner dir
    [ -z "$rio_pg_dir" ] || return 0
    if [ "$(id -u)" -eq 0 ]; then owner=postgres; else owner=$(id -un); fi
    if [ ! -x "$rio_pg_bin/initdb" ]; then
        echo "riopanel: no PostgreSQL test server: $rio_pg_bin/initdb is missing" >&2
        return 0
    fi
    if ! id -u "$owner" >/dev/null 2>&1; then
        echo "riopanel: no PostgreSQL test server: there is no user $owner to run it as" >&2
        return 0
    fi
    # Short, for the socket's path: at most 107 bytes, ".s.PGSQL.5432" included.
    dir=$(mktemp -d /tmp/riopg.XXXXXX)
    rio_pg_dir=$dir
    install_test_server_trap
    chmod 755 "$dir"
    if [ "$owner" != "$(id -un)" ]; then chown "$owner:" "$dir"; fi
    if ! as_pg_owner mkdir -m 755 "$dir/socket" ||
        ! as_pg_owner "$rio_pg_bin/initdb" -D "$dir/data" -U rio --auth-local=trust \
            --auth-host=reject -E UTF8 --locale=C --no-sync --no-instructions \
            >"$dir/initdb.log" 2>&1; then
        echo "riopanel: no PostgreSQL test server: initdb failed:" >&2
        tail -n 20 "$dir/initdb.log" >&2
        stop_test_server
        return 0
    fi
    printf '%s\n' "listen_addresses = ''" "unix_socket_directories = '$dir/socket'" \
        "max_connections = 200" "fsync = off" "full_page_writes = off" |
        as_pg_owner tee -a "$dir/data/postgresql.conf" >/dev/null
    # The first line that matches decides.
    printf '%s\n' "local all riopass scram-sha-256" "local all all trust" |
        as_pg_owner tee "$dir/data/pg_hba.conf" >/dev/null
    if ! as_pg_owner "$rio_pg_bin/pg_ctl" -D "$dir/data" -w -t 60 -l "$dir/server.log" start \
        >/dev/null 2>&1; then
        echo "riopanel: no PostgreSQL test server: it did not start:" >&2
        tail -n 20 "$dir/server.log" >&2
        stop_test_server
        return 0
    fi
    export RIO_TEST_PGHOST="$dir/socket" RIO_TEST_PGDATA="$dir/data" RIO_TEST_PGBIN="$rio_pg_bin"
    export RIO_TEST_PGOWNER="$owner" RIO_TEST_PGUSER=rio
    echo "riopanel: PostgreSQL test server on $RIO_TEST_PGHOST" >&2
}

# Stops the cluster at once and removes its folder; nothing when there is
# none. A test may have stopped or killed the server already.
stop_test_server() {
    [ -n "$rio_pg_dir" ] || return 0
    if [ -f "$rio_pg_dir/data/postmaster.pid" ]; then
        as_pg_owner "$rio_pg_bin/pg_ctl" -D "$rio_pg_dir/data" -m immediate stop \
            >/dev/null 2>&1 || true
    fi
    rm -rf "$rio_pg_dir"
    rio_pg_dir=
    unset RIO_TEST_PGHOST RIO_TEST_PGDATA RIO_TEST_PGBIN RIO_TEST_PGOWNER RIO_TEST_PGUSER
}

# The command a trap already runs for a signal, empty when none.
current_trap() {
    local listed
    listed=$(trap -p "$1")
    [ -n "$listed" ] || return 0
    eval "set -- $listed"
    printf '%s' "$3"
}

# The cluster goes on EXIT, INT and TERM, then whatever the script trapped
# for them before still runs; an interrupted script then ends.
install_test_server_trap() {
    local old
    old=$(current_trap EXIT)
    # shellcheck disable=SC2064
    trap "stop_test_server; ${old:-:}" EXIT
    old=$(current_trap INT)
    # shellcheck disable=SC2064
    trap "stop_test_server; ${old:-:}; exit 130" INT
    old=$(current_trap TERM)
    # shellcheck disable=SC2064
    trap "stop_test_server; ${old:-:}; exit 143" TERM
}
