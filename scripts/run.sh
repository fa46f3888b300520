#!/usr/bin/env bash
# Builds zushare (installing what it needs) and starts it on the current display.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "zushare needs a display; on a machine without one run: xvfb-run -a -s '-screen 0 1920x1080x24' $0" >&2
    exit 1
fi
zu_install_packages
zu_build "$ZU_ROOT/build" -DZUSHARE_TESTS=OFF -DZUSHARE_BENCH=OFF
zu_say "Starting zushare (log in ./logs/zu_share_log.txt)"
exec "$ZU_ROOT/build/src/app/zushare" "$@"
