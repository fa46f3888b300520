#!/usr/bin/env bash
# Renders the pages, the whole share flow and the host's admission question under Xvfb on the
# namespace LAN into docs/img/, and every dialog and window of the interface kit (with a sheet of all
# pictures) into docs/img/ui/, in Chinese; the same in English under docs/img/en/.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build_dir=${ZU_BUILD_DIR:-$ZU_ROOT/build}
ZU_BUILD_TARGETS="tst_pageflow tst_hostpage uiscreenshots" zu_build "$build_dir" -DZUSHARE_TESTS=ON
shoot() {  # <language> <folder> <program> [test function]
    zu_as_root unshare --net --fork -- "$ZU_ROOT/tests/support/in-netns.sh" \
        env ZU_SCREENSHOT_LANGUAGE="$1" ZU_SCREENSHOT_DIR="$2" "${@:3}"
}
for language in zh en; do
    img=$ZU_ROOT/docs/img
    [ "$language" = zh ] || img=$img/$language
    shoot "$language" "$img" "$build_dir/tests/ui/tst_pageflow"
    shoot "$language" "$img" "$build_dir/tests/ui/tst_hostpage" asksBeforeSomeoneWatches
    shoot "$language" "$img/ui" "$build_dir/tools/uiscreenshots/uiscreenshots"
done
