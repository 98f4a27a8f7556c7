#!/usr/bin/env bash
# setup.sh - install what Orvo needs to build, test and benchmark on Debian 12.
#
# Checks each package with dpkg-query and calls apt-get only when something is
# missing: one `apt-get update`, then one non-interactive install.  Works as
# root (CI containers, where sudo is usually absent) and as a normal user
# with sudo.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev pkg-config python3
    # tests and benchmarks
    libgtest-dev libbenchmark-dev
    # reference tools the tests and benchmarks compare against
    libtiff-tools libjpeg-turbo-progs pngcheck imagemagick netpbm libvips-tools hyperfine
    # fonts for the page text of the benchmark workloads (../shared/bench)
    ghostscript fonts-urw-base35
)

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#packages[@]} packages present"
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "setup: missing ${missing[*]}, and not root and no sudo to install them" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
