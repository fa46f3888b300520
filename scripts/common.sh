# Shared by the project's scripts: package installation and an incremental build.
set -euo pipefail

ZU_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

zu_say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

zu_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever scripts/packages.txt lists that is not installed yet.
zu_install_packages() {
    local wanted missing=()
    wanted=$(grep -v -E '^\s*(#|$)' "$ZU_ROOT/scripts/packages.txt")
    for pkg in $wanted; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        zu_say "All Debian packages are present"
        return
    fi
    zu_say "Installing Debian packages: ${missing[*]}"
    zu_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    zu_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# zu_build <build-dir> [cmake options...]: configures once, then builds incrementally.
zu_build() {
    local dir=$1
    shift
    local jobs
    jobs=$(nproc)
    # Paths relative to the checkout in the compiler cache's keys, so that another clone of the same
    # tree (a CI run's fresh one) finds what this one compiled.
    export CCACHE_BASEDIR="$ZU_ROOT" CCACHE_NOHASHDIR=1
    zu_say "Configuring $dir"
    cmake -S "$ZU_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${ZU_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
    zu_say "Building $dir with $jobs jobs"
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" ${ZU_BUILD_TARGETS:+--target $ZU_BUILD_TARGETS}
}
