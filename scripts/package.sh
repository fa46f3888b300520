#!/usr/bin/env bash
# Builds the Debian package of the program: an optimised build without tests, then `cpack -G DEB`.
# The .deb lands in <build>/packages/ (build folder: ZU_BUILD_DIR, default build-package/).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_dir=${ZU_BUILD_DIR:-$ZU_ROOT/build-package}
export ZU_BUILD_TYPE=${ZU_BUILD_TYPE:-Release}
zu_install_packages
zu_build "$build_dir" -DZUSHARE_TESTS=OFF -DZUSHARE_BENCH=OFF -DZUSHARE_SANITIZE=OFF "$@"
if [ ! -f "$build_dir/CPackConfig.cmake" ]; then
    zu_say "The build has no packaging set up (cmake/Packaging.cmake is not included)"
    exit 1
fi
zu_say "Building the Debian package"
(cd "$build_dir" && cpack --config CPackConfig.cmake -G DEB)
deb=$(ls -t "$build_dir"/packages/zushare_*.deb | head -n 1)
zu_say "Package: $deb"
dpkg-deb -f "$deb" Package Version Depends
