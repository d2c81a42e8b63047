# Shared by the set-up scripts: find the checkout, install missing Debian
# packages, configure and build.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building and testing riopanel needs on Debian 12.
packages=(g++ cmake ninja-build pkg-config ccache qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite libgl-dev fonts-nanum)
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
