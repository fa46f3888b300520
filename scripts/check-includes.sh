#!/usr/bin/env bash
# Fails when an #include crosses a boundary of the layout: a folder of src/ or tools/ including a
# folder it may not, GStreamer or GLib outside the media engine, Qt GUI in the folders that run
# without a display, or an engine header that others include pulling GStreamer in.
set -uo pipefail
cd "$(dirname "$0")/.."

status=0
refuse() {
    echo "include boundary: $*" >&2
    status=1
}

# Each folder and the folders of src/ whose headers it may include (besides its own).
declare -A may=(
    [src/app/core]=""
    [src/signaling]="core"
    [src/signaling/server]="core signaling"
    [src/scan]="core"
    [src/transfer]="core rtc/zuwebrtc.h"
    [src/web]="core"
    [src/video]="core"
    [src/rtc/gst]="core rtc/zuwebrtc.h"
    [src/rtc]="core signaling signaling/server transfer video"
    [src/report]="core"
    [src/ui]="core rtc scan signaling video web"
    [src/app]="core report rtc ui video"
    [tools]="core rtc scan signaling transfer video web"
)
own_prefix() {
    case $1 in
        src/app/core) echo core ;;
        src/app) echo app ;;
        tools) echo tools ;;
        *) echo "${1#src/}" ;;
    esac
}

for folder in "${!may[@]}"; do
    own=$(own_prefix "$folder")
    while IFS=: read -r file line included; do
        target=${included#*\"}
        target=${target%\"*}
        ok=0
        case $target in */*) ;; *) ok=1 ;; esac  # a file of the same folder
        [[ $target == "$own"/* && ! ( $own == rtc && $target == rtc/gst/* ) ]] && ok=1
        for allowed in ${may[$folder]}; do
            [[ $target == "$allowed" || $target == "$allowed"/* ]] && ok=1
            [[ $allowed == rtc && $target == rtc/gst/* ]] && ok=0
            # The pages and the window reach the engine through the session managers only.
            [[ $allowed == rtc && $target == rtc/zuwebrtc.h && $folder != tools ]] && ok=0
        done
        [ "$ok" = 1 ] || refuse "$file:$line includes \"$target\", which $folder may not"
    done < <(git grep -n -E '^#include "' -- "$folder/*.cpp" "$folder/*.h" ":!$folder/*/*")
done

# GStreamer and GLib are the engine's own; the test desktop behind the portal plays another program.
git grep -n -E '^#include <(gst|glib|gio|gobject)[/.-]' -- '*.cpp' '*.h' \
    ':!src/rtc/gst/*' ':!tests/rtc/portaldesktopmain.cpp' |
    while IFS= read -r hit; do echo "include boundary: $hit: GStreamer/GLib outside the media engine" >&2; echo x; done |
    grep -q x && status=1

# The folders that serve a program without a display include no Qt GUI or Widgets header.
qt_dir=$(ls -d /usr/include/*/qt5 2>/dev/null | head -n 1)
if [ -n "$qt_dir" ]; then
    while IFS=: read -r file line included; do
        name=${included#*<}
        name=${name%>*}
        name=${name#QtGui/}
        name=${name#QtWidgets/}
        if [ -e "$qt_dir/QtGui/$name" ] || [ -e "$qt_dir/QtWidgets/$name" ]; then
            refuse "$file:$line includes <$name>, a Qt GUI header, in a folder that runs without a display"
        fi
    done < <(git grep -n -E '^#include <Q' -- 'src/app/core/*' 'src/signaling/*' 'src/scan/*' \
        'src/transfer/*' 'src/rtc/gst/*' 'src/rtc/*')
else
    refuse "no Qt 5 headers under /usr/include to tell GUI headers by"
fi

# An engine header that tests, benchmarks or fuzz targets include must not pull in GStreamer,
# directly or through another engine header.
pulls_gst() {
    local header=$1 seen=$2 next
    grep -q -E '^#include <(gst|glib)' "src/$header" && return 0
    for next in $(sed -n 's/^#include "\(rtc\/gst\/[^"]*\)"/\1/p' "src/$header"); do
        [[ " $seen " == *" $next "* ]] && continue
        pulls_gst "$next" "$seen $next" && return 0
    done
    return 1
}
for header in $(git grep -h -o -E '^#include "rtc/gst/[^"]+"' -- tests bench fuzz | sed 's/#include "//; s/"$//' | sort -u); do
    pulls_gst "$header" "$header" && refuse "$header, included outside the engine, pulls in GStreamer"
done

[ "$status" = 0 ] && echo "include boundaries hold"
exit "$status"
