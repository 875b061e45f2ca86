#!/usr/bin/env python3
"""The README's figures of the ruvivedu tool, measured again.

    bench/tool_figures.py [--tool PATH] [--runs N] [--keep DIR] [--smoke]

Makes the inputs from resources/sample.png with oiiotool (a UHD 8-bit PNG, the
same picture as a float OpenEXR, and 24 different 1080p PNG frames), then times
with hyperfine (whole processes, medians of N runs after two warm-up runs):

  * one UHD frame PNG->PNG and EXR->EXR through the tool, against oiiotool
    copying the same input file (the codecs alone) with its own defaults, and
    for PNG also at the tool's setting (zlib level 1, unfiltered rows);
  * the plug-in's render inside those runs, from the tool's --timings (median
    of N runs): a one-frame run renders with fresh memory, unlike a benchmark's
    repeated frames;
  * the 24-frame 1080p PNG sequence with --jobs 1 and --jobs 2, in frames per
    second of the whole run.

It prints the machine, its load before and after, the table the README
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

        frame = hyperfine(work, options.runs, [
            ("tool PNG", f"{tool} render {uhd_png} {out('tool.png')}"),
            ("oiiotool PNG", f"oiiotool {uhd_png} -o {out('copy.png')}"),
            ("oiiotool PNG level 1", f"oiiotool {uhd_png} --attrib png:compressionLevel 1 "
                                     f"--attrib png:filter 8 -o {out('copy1.png')}"),
            ("tool EXR", f"{tool} render {uhd_exr} {out('tool.exr')}"),
            ("oiiotool EXR", f"oiiotool {uhd_exr} -o {out('copy.exr')}"),
        ])
        png_times = render_times(tool, options.runs, ["render", uhd_png, out("tool.png")])
        exr_times = render_times(tool, options.runs, ["render", uhd_exr, out("tool.exr")])

        pattern = os.path.join(work, "seq", "in.####.png")
        sequence = hyperfine(work, options.runs, [
            (f"jobs {jobs}", f"{tool} render {pattern} {os.path.join(work, 'seq', f'out{jobs}.####.png')} --jobs {jobs}")
            for jobs in (1, 2)])
        end_load = load()
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)

    if options.smoke:
        print("Smoke run: small pictures, one run each; the figures mean nothing.")
    print(f"{machine()}; {started}; load average {start_load} before, {end_load} after; "
          f"medians of {options.runs} runs")
    print()
    print("| what | tool | oiiotool copy | plug-in render in the tool | target: tool <= 1.15 x copy + render |")
    print("|---|---|---|---|---|")
    for name, render_ms, ours, copy in (("UHD PNG -> PNG", png_times[1], "tool PNG", "oiiotool PNG"),
                                        ("UHD EXR -> EXR", exr_times[1], "tool EXR", "oiiotool EXR")):
        tool_s = frame[ours]
        limit = 1.15 * frame[copy] + render_ms / 1000
        print(f"| {name} | {tool_s * 1000:.0f} ms | {frame[copy] * 1000:.0f} ms | {render_ms:.0f} ms | "
              f"{limit * 1000:.0f} ms: {'met' if tool_s <= limit else 'missed'} |")
    print(f"| UHD PNG, oiiotool at the tool's level 1 | {frame['tool PNG'] * 1000:.0f} ms | "
          f"{frame['oiiotool PNG level 1'] * 1000:.0f} ms | {png_times[1]:.0f} ms | "
          f"{(1.15 * frame['oiiotool PNG level 1'] + png_times[1] / 1000) * 1000:.0f} ms |")
    print()
    print(f"Inside the tool (--timings): PNG read {png_times[0]:.0f} ms, render {png_times[1]:.0f} ms, "
          f"write {png_times[2]:.0f} ms; EXR read {exr_times[0]:.0f} ms, render {exr_times[1]:.0f} ms, "
          f"write {exr_times[2]:.0f} ms")
    print()
    frames = sizes["frames"]
    one, two = frames / sequence["jobs 1"], frames / sequence["jobs 2"]
    print(f"| {frames} frames {sizes['sequence']} PNG -> PNG | whole run | frames per second |")
    print("|---|---|---|")
    print(f"| --jobs 1 | {sequence['jobs 1']:.2f} s | {one:.1f} |")
    print(f"| --jobs 2 | {sequence['jobs 2']:.2f} s | {two:.1f} |")
    print()
    print(f"--jobs 2 against --jobs 1: {two / one:.2f} x (target 1.7 x: {'met' if two / one >= 1.7 else 'missed'})")


if __name__ == "__main__":
    main()
