#!/usr/bin/env bash
# The frei0r filter inside hosts written by others, ffmpeg and melt: every
# frame they render through it must equal, byte for byte, the ruvivedu tool's
# render of the same frame through the plug-in (`ruvivedu render --depth 8`),
# and a parameter string they cannot parse must end in their own error, not
# in a crash.
#
#   tests/frei0r/in_hosts.sh CASE BUILD_DIR SOURCE_DIR WORK_DIR
#
# CASE is one of: module, ffmpeg-still, ffmpeg-clip, ffmpeg-malformed,
# melt-clip, melt-malformed, install, readme. BUILD_DIR is the build tree
# (tools/ruvivedu, src/frei0r/ruvivedu.so), SOURCE_DIR the source tree (for
# the README and the sample), WORK_DIR a scratch folder of the case.
set -euo pipefail
[ $# -eq 4 ] || { sed -n '8p' "$0" | sed 's/^# *//'; exit 2; }
case_name=$1 build_dir=$(cd "$2" && pwd) source_dir=$(cd "$3" && pwd) work=$4
tool=$build_dir/tools/ruvivedu filter_dir=$build_dir/src/frei0r

# Both hosts search FREI0R_PATH alone when it is set.
export FREI0R_PATH=$filter_dir
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
need() { command -v "$1" >/dev/null || fail "$1 is not installed (./dev deps installs it)"; }
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# Runs a melt render (the command, then the file it writes). melt 7.12 now
# and then ends a render at its start without a frame and without an error,
# or never ends, on a busy machine when a filter uses OpenMP (a trivial
# OpenMP filter does the same; OMP_WAIT_POLICY=passive makes it rare): such a
# run is tried again, up to three times. Any other failure, a crash above
# all, ends the test at once. melt's note about its LADSPA scan is dropped.
melt_render() {
    local out=${*: -1} attempt status
    for attempt in 1 2 3; do
        rm -f "$out"
        status=0
        timeout 120 "${@:1:$#-1}" </dev/null >/dev/null 2> >(grep -v -e LADSPA -e '^$' >&2) || status=$?
        if [ "$status" -eq 0 ] && [ -s "$out" ]; then
            return 0
        fi
        [ "$status" -eq 0 ] || [ "$status" -eq 124 ] || fail "melt ended with status $status: $*"
        echo "note: melt $([ "$status" -eq 124 ] && echo "did not end" || echo "wrote no frame") (attempt $attempt)"
    done
    fail "melt wrote no frame in three attempts: $*"
}
# melt as a renderer: every frame (no dropping when late), and an end when
# the clip ends.
MELT_RENDER=(real_time=0 terminate_on_pause=1)

# The tool's render of frame pattern IN (frames 0 to COUNT - 1) as one file
# of packed RGBA frames, like the hosts' raw output: a PAM file's pixels are
# its last W x H x 4 bytes.
tool_frames() {
    local in=$1 count=$2 width=$3 height=$4 out=$5
    shift 5
    "$tool" render "$in" "ref.%02d.pam" --frames "0-$((count - 1))" --depth 8 "$@" >/dev/null
    : >"$out"
    for ((i = 0; i < count; i++)); do
        tail -c $((width * height * 4)) "$(printf 'ref.%02d.pam' "$i")" >>"$out"
    done
}

# Compares two raw RGBA files; says where they first part and how many bytes differ.
same_pixels() {
    local expected=$1 actual=$2 what=$3
    [ -s "$actual" ] || fail "$what: the host wrote no frames"
    if ! cmp -s "$expected" "$actual"; then
        local first differing
        first=$(cmp "$expected" "$actual" 2>&1 | head -1 || true)
        differing=$(cmp -l "$expected" "$actual" 2>/dev/null | wc -l || true)
        fail "$what: not the plug-in's frames ($first; $differing bytes differ)"
    fi
    echo "ok: $what ($(($(stat -c %s "$actual") / 4)) pixels, byte for byte the plug-in's)"
}

# A generated frame source with alpha that varies over the picture and from
# frame to frame: a transparent band on the left, half the frame opaque, the
# rest partly transparent.
SOURCE_ALPHA="geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,W/5),0,if(lt(Y,H/2),255,96+N*31))'"
make_clip() {
    local size=$1 frames=$2 out=$3
    ff -f lavfi -i "testsrc2=s=$size:r=25,format=rgba,$SOURCE_ALPHA" -frames:v "$frames" -c:v ffv1 \
        -pix_fmt bgra "$out"
    # The same frames as the tool reads them.
    ff -i "$out" -c:v pam -pix_fmt rgba -start_number 0 "in.%02d.pam"
}

case "$case_name" in
module)
    # What a host sees of the module: the frei0r functions and nothing else,
    # and no library but the C++ runtime, OpenMP and the C library.
    exported=$(nm -D --defined-only "$filter_dir/ruvivedu.so" | awk '{print $3}' | sort | tr '\n' ' ')
    expected="f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value f0r_get_plugin_info "
    expected+="f0r_init f0r_set_param_value f0r_update f0r_update2 "
    [ "$exported" = "$expected" ] || fail "exports '$exported', expected '$expected'"
    echo "ok: exports exactly the ten f0r_ functions"
    needed=$(readelf -d "$filter_dir/ruvivedu.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
    for library in $needed; do
        case $library in
        libstdc++.so.* | libgcc_s.so.* | libgomp.so.* | libm.so.* | libc.so.*) ;;
        *) fail "links $library (needs: $needed)" ;;
        esac
    done
    echo "ok: links $needed"
    ;;

ffmpeg-still)
    need ffmpeg
    ff -f lavfi -i "testsrc2=s=320x176,format=rgba,$SOURCE_ALPHA" -frames:v 1 in.00.pam
    run() {
        local what=$1 params=$2
        shift 2
        ff -i in.00.pam -vf "frei0r=ruvivedu:$params" -f rawvideo -pix_fmt rgba out.rgba
        tool_frames in.%02d.pam 1 320 176 ref.rgba "$@"
        same_pixels ref.rgba out.rgba "ffmpeg, still, $what"
    }
    # ffmpeg passes the values in the filter's order: shape, dot size,
    # rotation, offset, alpha (y or n), sampling. 0.3/0.6 of 320 x 176 is
    # (96, 105.6) pixels; 0.1 turn is 36 degrees.
    run "square, 12 pixels, 36 degrees, off centre, nearest" "0.5|0.012|0.1|0.3/0.6|n|1" \
        --shape square --dot-size 12 --rotation 36 --offset 96,105.6 --sampling nearest
    run "circle, Alpha on" "0|0.02|0.125|0.5/0.5|y|0" --dot-size 20 --alpha
    # No values: the effect's defaults. Values that are no number (ffmpeg
    # takes "nan" and "-inf") leave them too.
    ff -i in.00.pam -vf "frei0r=ruvivedu" -f rawvideo -pix_fmt rgba out.rgba
    tool_frames in.%02d.pam 1 320 176 ref.rgba
    same_pixels ref.rgba out.rgba "ffmpeg, still, the defaults"
    run "values that are no number, Alpha on" "nan|-inf|nan|nan/nan|y|nan" --alpha
    ;;

ffmpeg-clip)
    need ffmpeg
    make_clip 320x176 5 clip.mkv
    # Line dots, a point off the frame (-0.25/1.5 of 320 x 176 is
    # (-80, 264)), 0.7 turn (252 degrees).
    ff -i clip.mkv -vf "frei0r=ruvivedu:1|0.009|0.7|-0.25/1.5|n|0" -f rawvideo -pix_fmt rgba out.rgba
    tool_frames in.%02d.pam 5 320 176 ref.rgba --shape line --dot-size 9 --rotation 252 --offset -80,264
    same_pixels ref.rgba out.rgba "ffmpeg, 5-frame clip, line, 9 pixels, 252 degrees, offset off the frame"
    ;;

ffmpeg-malformed)
    need ffmpeg
    ff -f lavfi -i "testsrc2=s=64x48" -frames:v 1 in.png
    # Each string; the value ffmpeg cannot read in it, and that parameter's
    # name: a word for a number, a position without its "/", a boolean
    # that is not y or n, a number beyond a double.
    cases=("abc;abc;shape" "0.5|zz;zz;dot size" "0|0.01|0.1|0.3|n|0;0.3;offset" "0|0.01|0.1|0.3/0.3|1|0;1;alpha"
           "0|1e400;1e400;dot size")
    for c in "${cases[@]}"; do
        IFS=';' read -r params value name <<<"$c"
        rm -f out.png
        status=0
        ffmpeg -nostdin -hide_banner -loglevel error -i in.png -vf "frei0r=ruvivedu:$params" out.png 2>err.txt ||
            status=$?
        [ "$status" -ne 0 ] || fail "ffmpeg took '$params'"
        [ "$status" -lt 128 ] || fail "ffmpeg ended by signal $((status - 128)) on '$params'"
        grep -q -F "Invalid value '$value' for parameter '$name'." err.txt ||
            fail "ffmpeg's message for '$params' is not its invalid-value error: $(cat err.txt)"
        [ ! -e out.png ] || fail "ffmpeg wrote a picture for '$params'"
        echo "ok: '$params': $(head -1 err.txt | sed 's/^\[[^]]*\] //'), status $status"
    done
    ;;

melt-clip)
    need melt
    need ffmpeg
    make_clip 320x176 5 clip.mkv
    # melt names the values (or numbers them: 0 is shape, 1 the dot size...).
    # It does not pass frei0r positions on, so the offset stays the centre.
    melt_render melt clip.mkv -filter frei0r.ruvivedu shape=0.5 "dot size=0.011" rotation=0.2 sampling=1 \
        -consumer avformat:out.rgba f=rawvideo pix_fmt=rgba "${MELT_RENDER[@]}" out.rgba
    tool_frames in.%02d.pam 5 320 176 ref.rgba --shape square --dot-size 11 --rotation 72 --sampling nearest
    same_pixels ref.rgba out.rgba "melt, 5-frame clip, square, 11 pixels, 72 degrees, nearest"
    # With two render threads of melt's own, each with an instance of its own.
    melt_render melt clip.mkv -filter frei0r.ruvivedu shape=0.5 "dot size=0.011" rotation=0.2 sampling=1 \
        -consumer avformat:out.rgba f=rawvideo pix_fmt=rgba real_time=-2 terminate_on_pause=1 out.rgba
    same_pixels ref.rgba out.rgba "melt on two render threads, the same clip"
    # melt hands over frames of any width with packed rows.
    make_clip 317x181 3 odd.mkv
    melt_render melt odd.mkv -filter frei0r.ruvivedu 0=1 1=0.007 4=1 \
        -consumer avformat:out.rgba f=rawvideo pix_fmt=rgba "${MELT_RENDER[@]}" out.rgba
    tool_frames in.%02d.pam 3 317 181 ref.rgba --shape line --dot-size 7 --alpha
    same_pixels ref.rgba out.rgba "melt, 3-frame clip of 317 x 181, line, 7 pixels, Alpha on"
    ;;

melt-malformed)
    need melt
    need ffmpeg
    make_clip 128x96 2 clip.mkv
    # melt reports nothing for a number it cannot read: it reads as much of
    # it as is a number, and 0 when none is. The filter takes what melt made
    # of it: a dot size of 0 is the smallest, 1 pixel; "square" is shape 0,
    # the circle; "0.2turns" is 0.2.
    melt_render melt clip.mkv -filter frei0r.ruvivedu "dot size=abc" shape=square rotation=0.2turns \
        -consumer avformat:out.rgba f=rawvideo pix_fmt=rgba "${MELT_RENDER[@]}" out.rgba
    tool_frames in.%02d.pam 2 128 96 ref.rgba --dot-size 1 --rotation 72
    same_pixels ref.rgba out.rgba "melt, unreadable values read as melt reads them"
    ;;

install)
    need ffmpeg
    need melt
    # `cmake --install` puts the filter where both hosts look by themselves,
    # and both find it in the user's folder, ~/.frei0r-1/lib, with no
    # FREI0R_PATH.
    cmake --install "$build_dir" --component frei0r --prefix "$work/prefix" >/dev/null
    [ -f prefix/lib/frei0r-1/ruvivedu.so ] || fail "cmake --install did not put ruvivedu.so into lib/frei0r-1"
    echo "ok: cmake --install puts the filter into lib/frei0r-1"
    mkdir -p home/.frei0r-1/lib
    cp prefix/lib/frei0r-1/ruvivedu.so home/.frei0r-1/lib/
    unset FREI0R_PATH
    export HOME=$work/home
    ff -f lavfi -i "testsrc2=s=64x48" -vf frei0r=ruvivedu -frames:v 1 found.png ||
        fail "ffmpeg does not find the filter in ~/.frei0r-1/lib"
    echo "ok: ffmpeg finds it in ~/.frei0r-1/lib"
    # melt prints its lists on stderr.
    filters=$(melt -query filters 2>&1)
    grep -q -x -- '  - frei0r.ruvivedu' <<<"$filters" || fail "melt does not find the filter in ~/.frei0r-1/lib"
    echo "ok: melt finds it in ~/.frei0r-1/lib"
    ;;

readme)
    need ffmpeg
    need melt
    # The README's two examples, run as written from a copy of the tree's
    # top that holds the sample and out/; the built filter stands in for
    # the one the README's FREI0R_PATH names.
    mkdir out
    ln -s "$source_dir/resources" resources
    examples=$(grep -E '^(ffmpeg -y -i resources/sample.png|melt avformat:resources/sample.png) ' "$source_dir/README.md")
    [ "$(echo "$examples" | wc -l)" -eq 2 ] || fail "the README has not one ffmpeg and one melt example: $examples"
    while IFS= read -r line; do
        echo "\$ $line"
        case $line in
        ffmpeg*) bash -c "$line" </dev/null >/dev/null 2>err.txt || fail "the README's example failed: $(cat err.txt)" ;;
        melt*) melt_render bash -c "$line" out/sample-melt.png ;;
        esac
    done <<<"$examples"
    # The ffmpeg example crops the sample to 592 pixels (see the README) and
    # renders square dots of 7 pixels at 22.5 degrees; the melt one renders
    # the whole sample the same way.
    ff -i resources/sample.png -vf "crop=592:400" -pix_fmt rgba in.00.pam
    tool_frames in.%02d.pam 1 592 400 ref.rgba --shape square --dot-size 7 --rotation 22.5
    ff -i out/sample-ffmpeg.png -f rawvideo -pix_fmt rgba out.rgba
    same_pixels ref.rgba out.rgba "the README's ffmpeg example"
    ff -i "$source_dir/docs/images/sample-ffmpeg.png" -f rawvideo -pix_fmt rgba picture.rgba
    same_pixels ref.rgba picture.rgba "the README's picture, docs/images/sample-ffmpeg.png"
    ff -i resources/sample.png -pix_fmt rgba whole.00.pam
    tool_frames whole.%02d.pam 1 600 400 ref.rgba --shape square --dot-size 7 --rotation 22.5
    ff -i out/sample-melt.png -f rawvideo -pix_fmt rgba out.rgba
    same_pixels ref.rgba out.rgba "the README's melt example"
    ;;

*)
    fail "unknown case '$case_name'"
    ;;
esac
