#!/usr/bin/env python3
"""The ruvivedu tool's figures in docs/performance.md, measured again.

    bench/tool_figures.py [--tool PATH] [--before PATH] [--runs N] [--keep DIR] [--smoke]

Makes the inputs from resources/sample.png with oiiotool (a UHD 8-bit PNG, the
same picture as a float OpenEXR and as an 8-bit RGBA PAM, and 24 different
1080p PNG frames), then times with hyperfine (whole processes, medians of N
runs after two warm-up runs):

  * one UHD frame PNG->PNG and EXR->EXR through the tool, against oiiotool
    copying the same input file (the codecs alone) with its own defaults, and
    for PNG also at the tool's setting (zlib level 1, unfiltered rows);
  * the plug-in's render inside those runs, from the tool's --timings (median
    of N runs): a one-frame run renders with fresh memory, unlike a benchmark's
    repeated frames;
  * the 24-frame 1080p PNG sequence with --jobs 1 and --jobs 2, in frames per
    second of the whole run;
  * with --before, another build of the tool (the code before this work, say)
    on the same files in the same run: the frames, and the sequence as it
    renders it (without --jobs, which it may not know).

It prints the machine, its load before and after, the table docs/performance.md
carries, and the two targets. --smoke does it all on small pictures and
four frames, once each, to check that the script still runs (CI does). Needs hyperfine and oiiotool
(openimageio-tools) on PATH; builds the tool in build/default when it is not
there yet. The work files go to a fresh folder in /dev/shm (else the system's
temporary folder), removed afterwards unless --keep names one.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The sizes measured, and the smoke run's.
FULL = {"frame": "3840x2160", "sequence": "1920x1080", "frames": 24}
SMOKE = {"frame": "480x270", "sequence": "240x135", "frames": 4}


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{os.cpu_count()} x {model}"


def load():
    with open("/proc/loadavg") as loadavg:
        return " ".join(loadavg.read().split()[:3])


def make_inputs(work, sizes):
    sample = os.path.join(ROOT, "resources", "sample.png")
    uhd_png = os.path.join(work, "uhd.png")
    uhd_exr = os.path.join(work, "uhd.exr")
    run(["oiiotool", sample, "--resize", sizes["frame"], "-o", uhd_png])
    run(["oiiotool", uhd_png, "-d", "float", "-o", uhd_exr])
    # PAM, which OpenImageIO does not write: its binary PPM with an opaque alpha added.
    run(["oiiotool", uhd_png, "-o", os.path.join(work, "uhd.ppm")])
    with open(os.path.join(work, "uhd.ppm"), "rb") as ppm:
        magic, width, height, maxval, rgb = ppm.read().split(maxsplit=4)
    pixels = int(width) * int(height)
    rgba = bytearray(pixels * 4)
    for c in range(3):
        rgba[c::4] = rgb[c::3]
    rgba[3::4] = b"\xff" * pixels
    with open(os.path.join(work, "uhd.pam"), "wb") as pam:
        pam.write(b"P7\nWIDTH %s\nHEIGHT %s\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
        pam.write(rgba)
    os.makedirs(os.path.join(work, "seq"), exist_ok=True)
    for frame in range(1, sizes["frames"] + 1):
        # Each frame a little brighter than the one before, so no two are alike.
        run(["oiiotool", sample, "--resize", sizes["sequence"], "--addc", f"{frame / 100:.2f}", "-d", "uint8",
             "-o", os.path.join(work, "seq", f"in.{frame:04d}.png")])
    return uhd_png, uhd_exr


def hyperfine(work, runs, commands):
    """Median seconds of each command, by name."""
    out = os.path.join(work, "hyperfine.json")
    warmup = "2" if runs > 1 else "0"
    arguments = ["hyperfine", "-N", "--warmup", warmup, "--runs", str(runs), "--export-json", out, "--style", "none"]
    for name, command in commands:
        arguments += ["-n", name, command]
    run(arguments, stdout=subprocess.DEVNULL)
    with open(out) as results:
        return {result["command"]: result["median"] for result in json.load(results)["results"]}


def render_times(tool, runs, arguments):
    """Median milliseconds of reading, rendering and writing from --timings."""
    pattern = re.compile(r"reading ([0-9.]+) ms, rendering ([0-9.]+) ms, writing ([0-9.]+) ms")
    samples = []
    for _ in range(runs):
        err = run([tool] + arguments + ["--timings"], capture_output=True, text=True).stderr
        samples.append([float(v) for v in pattern.search(err).groups()])
    return [statistics.median(column) for column in zip(*samples)]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build", "default", "tools", "ruvivedu"))
    parser.add_argument("--before", help="another build of the tool to time on the same files")
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--keep", help="leave the work files in this folder")
    parser.add_argument("--smoke", action="store_true", help="small pictures, one run each: does the script run?")
    options = parser.parse_args()
    sizes = SMOKE if options.smoke else FULL
    if options.smoke:
        options.runs = 1
    for program in ("hyperfine", "oiiotool"):
        if not shutil.which(program):
            sys.exit(f"tool_figures: {program} is not on PATH")
    if not os.path.exists(options.tool):
        run(["cmake", "--preset", "default"], cwd=ROOT, stdout=subprocess.DEVNULL)
        run(["cmake", "--build", os.path.join(ROOT, "build", "default"), "--target", "ruvivedu"], cwd=ROOT)

    if options.keep:
        work = os.path.abspath(options.keep)
        os.makedirs(work, exist_ok=True)
    else:
        work = tempfile.mkdtemp(prefix="ruvivedu-figures-", dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
    try:
        uhd_png, uhd_exr = make_inputs(work, sizes)
        tool = options.tool
        out = lambda name: os.path.join(work, name)
        start_load, started = load(), time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())

        uhd_pam = os.path.join(work, "uhd.pam")
        tools = [("tool", tool)] + ([("before", options.before)] if options.before else [])
        commands = []
        for name, program in tools:
            commands += [(f"{name} PNG", f"{program} render {uhd_png} {out(name + '.png')}"),
                         (f"{name} EXR", f"{program} render {uhd_exr} {out(name + '.exr')}"),
                         (f"{name} PAM", f"{program} render {uhd_pam} {out(name + '.pam')}")]
        commands += [("oiiotool PNG", f"oiiotool {uhd_png} -o {out('copy.png')}"),
                     ("oiiotool PNG level 1", f"oiiotool {uhd_png} --attrib png:compressionLevel 1 "
                                              f"--attrib png:filter 8 -o {out('copy1.png')}"),
                     ("oiiotool EXR", f"oiiotool {uhd_exr} -o {out('copy.exr')}")]
        frame = hyperfine(work, options.runs, commands)
        png_times = render_times(tool, options.runs, ["render", uhd_png, out("tool.png")])
        exr_times = render_times(tool, options.runs, ["render", uhd_exr, out("tool.exr")])
        pam_times = render_times(tool, options.runs, ["render", uhd_pam, out("tool.pam")])

        pattern = os.path.join(work, "seq", "in.####.png")
        seq_out = lambda name: os.path.join(work, "seq", f"{name}.####.png")
        runs = [(f"jobs {jobs}", f"{tool} render {pattern} {seq_out(f'out{jobs}')} --jobs {jobs}") for jobs in (1, 2)]
        if options.before:
            runs.append(("before", f"{options.before} render {pattern} {seq_out('before')}"))
        sequence = hyperfine(work, options.runs, runs)
        end_load = load()
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)

    ms = lambda seconds: f"{seconds * 1000:.0f} ms"
    if options.smoke:
        print("Smoke run: small pictures, one run each; the figures mean nothing.")
    print(f"{machine()}; {started}; load average {start_load} before, {end_load} after; "
          f"medians of {options.runs} runs")
    print()
    before = " | before" if options.before else ""
    print(f"| one {sizes['frame']} frame | tool{before} | oiiotool copy | plug-in render in the tool | "
          "target: tool <= 1.15 x (copy + render) |")
    print("|---|---|" + ("---|" if options.before else "") + "---|---|---|")
    rows = (("PNG -> PNG", "PNG", png_times, "oiiotool PNG"), ("EXR -> EXR", "EXR", exr_times, "oiiotool EXR"),
            ("PAM -> PAM", "PAM", pam_times, None))
    for label, key, times, copy in rows:
        tool_s = frame["tool " + key]
        old = f" | {ms(frame['before ' + key])}" if options.before else ""
        if copy:
            limit = 1.15 * (frame[copy] + times[1] / 1000)
            verdict = f"{ms(limit)}: {'met' if tool_s <= limit else 'missed'}"
            print(f"| {label} | {ms(tool_s)}{old} | {ms(frame[copy])} | {times[1]:.0f} ms | {verdict} |")
        else:
            print(f"| {label} | {ms(tool_s)}{old} | (OpenImageIO has no PAM) | {times[1]:.0f} ms | |")
    print(f"| PNG, oiiotool at the tool's zlib level 1 | {ms(frame['tool PNG'])}"
          f"{' | ' + ms(frame['before PNG']) if options.before else ''} | {ms(frame['oiiotool PNG level 1'])} | "
          f"{png_times[1]:.0f} ms | {ms(1.15 * (frame['oiiotool PNG level 1'] + png_times[1] / 1000))} |")
    print()
    for label, times in (("PNG", png_times), ("EXR", exr_times), ("PAM", pam_times)):
        print(f"Inside the tool (--timings), {label}: read {times[0]:.0f} ms, render {times[1]:.0f} ms, "
              f"write {times[2]:.0f} ms")
    print()
    frames = sizes["frames"]
    one, two = frames / sequence["jobs 1"], frames / sequence["jobs 2"]
    print(f"| {frames} frames {sizes['sequence']} PNG -> PNG | whole run | frames per second |")
    print("|---|---|---|")
    print(f"| --jobs 1 | {sequence['jobs 1']:.2f} s | {one:.1f} |")
    print(f"| --jobs 2 | {sequence['jobs 2']:.2f} s | {two:.1f} |")
    if options.before:
        print(f"| before | {sequence['before']:.2f} s | {frames / sequence['before']:.1f} |")
    print()
    print(f"--jobs 2 against --jobs 1: {two / one:.2f} x (target 1.7 x: {'met' if two / one >= 1.7 else 'missed'})")


if __name__ == "__main__":
    main()
