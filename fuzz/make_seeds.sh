#!/usr/bin/env bash
# Makes the seed corpora of the file-reading fuzz targets from real files of
# their kind, into fuzz/corpus/{pam,tiff,pipl,pe}/ (existing seeds stay):
#
#   pam   the tool's own PAM output (8 and 16 bits) and ffmpeg's PAM encoder
#         in every layout it writes (grey, grey + alpha, RGB, RGBA, 8 and 16
#         bits, black and white)
#   tiff  the tool's own TIFF output (8, 16 bits, float), OpenImageIO's
#         (libtiff) uncompressed, planar, tiled, strip-per-row and
#         compressed files, and ffmpeg's TIFF encoder
#   pipl  what the built module answers a host and the generated PiPL
#   pe    the built Ruvivedu.aex and ruvivedu.exe, cut to the parts pe_check
#         reads (fuzz/pe_skeleton.py)
#
# Needs build/default (./dev build), build/windows (./dev windows), the fuzz
# targets (./dev fuzz), ffmpeg and oiiotool. Pictures are a few pixels a
# side: seeds must be quick to run. Afterwards `./dev fuzz minimise TARGET`
# keeps what adds coverage.
set -euo pipefail
cd "$(dirname "$0")/.."

tool=build/default/tools/ruvivedu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p fuzz/corpus/{pam,tiff,pipl,pe}

# A name from the content, as libFuzzer names the inputs it keeps.
keep() {
    local target="$1" file="$2"
    cp "$file" "fuzz/corpus/$target/$(sha1sum "$file" | cut -d' ' -f1)"
}

# Small pictures to convert: opaque RGB and RGBA with an alpha ramp.
oiiotool --nosoftwareattrib --pattern fill:topleft=0.1,0.2,0.9:topright=1,0.5,0:bottomleft=0,1,0.3:bottomright=0.7,0.7,0.7 5x4 3 \
    -d uint8 -o "$work/rgb.png"
oiiotool --nosoftwareattrib --pattern fill:top=0.2,0.4,0.6,1:bottom=0.9,0.1,0.3,0.25 5x4 4 -d uint16 -o "$work/rgba.png"

for depth in 8 16; do
    "$tool" render "$work/rgb.png" "$work/tool-$depth.pam" --depth "$depth" --dot-size 2 >/dev/null
    "$tool" render "$work/rgba.png" "$work/tool-alpha-$depth.pam" --depth "$depth" --dot-size 2 --alpha >/dev/null
    keep pam "$work/tool-$depth.pam"
    keep pam "$work/tool-alpha-$depth.pam"
done
for format in gray ya8 rgb24 rgba gray16be ya16be rgb48be rgba64be monob; do
    ffmpeg -loglevel error -y -i "$work/rgba.png" -pix_fmt "$format" -c:v pam -f image2 "$work/ffmpeg-$format.pam"
    keep pam "$work/ffmpeg-$format.pam"
done

for depth in 8 16 32; do
    "$tool" render "$work/rgb.png" "$work/tool-$depth.tif" --depth "$depth" --dot-size 2 >/dev/null
    "$tool" render "$work/rgba.png" "$work/tool-alpha-$depth.tif" --depth "$depth" --dot-size 2 --alpha >/dev/null
    keep tiff "$work/tool-$depth.tif"
    keep tiff "$work/tool-alpha-$depth.tif"
done
for type in uint8 uint16 float; do
    oiiotool --nosoftwareattrib "$work/rgba.png" -d "$type" --compression none -o "$work/oiio-rgba-$type.tif"
    oiiotool --nosoftwareattrib "$work/rgb.png" --ch R -d "$type" --compression none -o "$work/oiio-grey-$type.tif"
    keep tiff "$work/oiio-rgba-$type.tif"
    keep tiff "$work/oiio-grey-$type.tif"
done
oiiotool --nosoftwareattrib "$work/rgba.png" --ch R,A -d uint8 --compression none -o "$work/oiio-grey-alpha.tif"
oiiotool --nosoftwareattrib "$work/rgb.png" -d uint8 --compression none --planarconfig separate -o "$work/oiio-planar.tif"
oiiotool --nosoftwareattrib "$work/rgb.png" -d uint8 --compression none --tile 16 16 -o "$work/oiio-tiled.tif"
oiiotool --nosoftwareattrib "$work/rgb.png" -d uint8 --compression none --attrib tiff:RowsPerStrip 1 -o "$work/oiio-strips.tif"
oiiotool --nosoftwareattrib "$work/rgb.png" -d uint8 --compression lzw -o "$work/oiio-lzw.tif"
for name in grey-alpha planar tiled strips lzw; do keep tiff "$work/oiio-$name.tif"; done
for format in gray ya8 rgb24 rgba gray16le rgb48le rgba64le; do
    ffmpeg -loglevel error -y -i "$work/rgba.png" -pix_fmt "$format" -c:v tiff -compression_algo raw -f image2 \
        "$work/ffmpeg-$format.tif"
    keep tiff "$work/ffmpeg-$format.tif"
done
ffmpeg -loglevel error -y -i "$work/rgba.png" -pix_fmt rgb24 -c:v tiff -f image2 "$work/ffmpeg-packbits.tif"
keep tiff "$work/ffmpeg-packbits.tif"

RUVIVEDU_SEED_MODULE=build/default/src/shell/Ruvivedu.so RUVIVEDU_SEED_PIPL=build/default/src/shell/Ruvivedu.pipl \
    RUVIVEDU_SEED_OUT="$work/module.script" build/fuzz/fuzz/ruvivedu_fuzz_pipl
keep pipl "$work/module.script"

python3 fuzz/pe_skeleton.py build/windows/src/shell/Ruvivedu.aex "$work/aex.skeleton"
python3 fuzz/pe_skeleton.py build/windows/tools/ruvivedu.exe "$work/exe.skeleton"
keep pe "$work/aex.skeleton"
keep pe "$work/exe.skeleton"

for target in pam tiff pipl pe; do
    echo "fuzz/corpus/$target: $(find "fuzz/corpus/$target" -type f | wc -l) seeds," \
        "$(find "fuzz/corpus/$target" -type f -exec cat {} + | wc -c) bytes"
done
