#!/usr/bin/env bash
# The Windows build against the Linux build: both render the same layers for
# every depth x shape x sampling x Alpha, through the classic render as well
# as the smart one and at a reduced resolution, and every picture must match
# bit for bit. The Windows tool and plug-in run under Wine.
#
#   tests/windows/crosscheck.sh LINUX_BUILD WINDOWS_BUILD WORK_DIR [MORE_WINDOWS_BUILDS...]
#
# LINUX_BUILD holds tools/ruvivedu, src/shell/Ruvivedu.so and
# tests/windows/crosscheck; WINDOWS_BUILD holds tools/ruvivedu.exe and
# src/shell/Ruvivedu.aex. Each further Windows build (such as the one against
# the test SDK) renders the same cases and is compared with the same Linux
# pictures. WINE names the Wine loader (default: Debian's wine64, which is not
# on the PATH); WINEPREFIX defaults to WINDOWS_BUILD/wine.
set -euo pipefail
[ $# -ge 3 ] || { sed -n '7p' "$0" | sed 's/^# *//'; exit 2; }
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
work=$3
more=()
for build in "${@:4}"; do more+=("$(cd "$build" && pwd)"); done

wine=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=${WINEPREFIX:-$windows/wine}
export WINEDEBUG=-all
# Console programs only: no Mono, no Gecko, no display.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

rm -rf "$work"
mkdir -p "$work/in" "$work/linux" "$work/windows"
for i in "${!more[@]}"; do mkdir -p "$work/windows-$((i + 2))"; done
"$linux/tests/windows/crosscheck" inputs "$work/in"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || true
fi

# One line per render: output name, input, then the tool's options. The
# screen is small (DotSize 6.5) and turned (30 degrees) so every picture
# holds many partial dots.
cases=()
for depth in 8 16 32; do
    case $depth in 8) in=in8.pam ext=pam ;; 16) in=in16.pam ext=pam ;; 32) in=in32.tif ext=tif ;; esac
    for shape in circle square line; do
        for sampling in bilinear nearest; do
            cases+=("d${depth}_${shape}_${sampling}.$ext $in --shape $shape --sampling $sampling")
            cases+=("d${depth}_${shape}_${sampling}_alpha.$ext $in --shape $shape --sampling $sampling --alpha")
        done
        [ "$depth" = 32 ] || cases+=("d${depth}_${shape}_classic.$ext $in --shape $shape --path classic")
    done
done
cases+=("d16_circle_half.pam in16.pam --shape circle --downsample 1/2")
cases+=("d32_line_reduced.tif in32.tif --shape line --downsample 2/3,1/2 --alpha")
cases+=("d8_square_offset.pam in8.pam --shape square --offset 3.25,-7.5 --rotation -12.5 --dot-size 11")

cd "$work"
for c in "${cases[@]}"; do
    read -r -a words <<<"$c"
    out=${words[0]} in=${words[1]} options=("${words[@]:2}")
    [ "${options[*]}" = "${options[*]/--dot-size/}" ] && options+=(--dot-size 6.5 --rotation 30)
    "$linux/tools/ruvivedu" render "in/$in" "linux/$out" "${options[@]}"
    "$wine" "$windows/tools/ruvivedu.exe" render "in/$in" "windows/$out" "${options[@]}"
    for i in "${!more[@]}"; do
        "$wine" "${more[$i]}/tools/ruvivedu.exe" render "in/$in" "windows-$((i + 2))/$out" "${options[@]}"
    done
done
echo "crosscheck: ${#cases[@]} renders on each side; Linux against Windows:"
"$linux/tests/windows/crosscheck" compare linux windows
for i in "${!more[@]}"; do
    echo "Linux against Windows, ${more[$i]}:"
    "$linux/tests/windows/crosscheck" compare linux "windows-$((i + 2))"
done
