#!/usr/bin/env bash
# Builds zushare (installing what it needs) and starts it on the current display.
# It builds only the program in build/, leaving the folder's options as they are, so that the test
# command can share the folder in either order.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Packages first: on a fresh machine they bring xvfb-run, which the hint below names.
zu_install_packages
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "zushare needs a display; on a machine without one run: xvfb-run -a -s '-screen 0 1920x1080x24' $0" >&2
    exit 1
fi
ZU_BUILD_TARGETS=zushare zu_build "$ZU_ROOT/build"
zu_say "Starting zushare (log in ./logs/zu_share_log.txt)"
exec "$ZU_ROOT/build/src/app/zushare" "$@"
