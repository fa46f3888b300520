#!/usr/bin/env bash
# Keeps the English translation complete: lupdate collects every text of the program's sources into a
# copy of src/ui/translations/zushare_en.ts; the check fails when that copy differs from the file (a
# text was added, changed or removed without the file being brought up to date) or when an entry has
# no finished English text. With --update the file is brought up to date in place instead (new texts
# arrive unfinished, for a person to translate).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ts=src/ui/translations/zushare_en.ts
# Where a person reads a text of the desktop program; the engine, the command-line tool and the
# browser page have none of their own (the page's two languages are in its script).
mapfile -t sources < <(cd "$ZU_ROOT" && git ls-files 'src/app/*.cpp' 'src/app/*.h' 'src/ui/*.cpp' 'src/ui/*.h' \
    'src/rtc/*.cpp' 'src/rtc/*.h' 'src/transfer/*.cpp' 'src/transfer/*.h' ':!src/rtc/gst' ':!src/ui/images')

cd "$ZU_ROOT"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$ts" "$work/zushare_en.ts"
lupdate -silent -locations none -no-obsolete -I src "${sources[@]}" -ts "$work/zushare_en.ts"

if [ "${1:-}" = --update ]; then
    cp "$work/zushare_en.ts" "$ts"
    zu_say "Brought $ts up to date; unfinished entries: $(grep -c 'type="unfinished"' "$ts" || true)"
    exit 0
fi

status=0
if ! diff -u "$ts" "$work/zushare_en.ts" >"$work/diff"; then
    zu_say "FAILED: $ts is not up to date with the sources (run scripts/check-translations.sh --update):"
    head -n 60 "$work/diff" >&2
    status=1
fi
unfinished=$(grep -c 'type="unfinished"\|type="vanished"\|type="obsolete"' "$work/zushare_en.ts" || true)
if [ "$unfinished" -ne 0 ]; then
    zu_say "FAILED: $unfinished texts have no English translation:"
    grep -B2 'type="unfinished"' "$work/zushare_en.ts" | grep '<source>' >&2 || true
    status=1
fi
[ "$status" -eq 0 ] && zu_say "Every text has its English translation"
exit "$status"
