#!/usr/bin/env python3
"""Prints pipeline_bench's JSON results as one table.

Each row is the median of the repetitions: milliseconds per frame, megapixels
per second, and the ratio to the memory floor of the same run (the pass that
reads the input world and writes the output world once, at the same depth,
size and worker count). With --baseline, the same figures from an earlier run
stand beside them.

    report.py RESULTS.json [--baseline EARLIER.json] [--memory LINES] [--split]

After the table come the frames rendered by several host threads at once
(frames a second of all threads together, against one thread), the memory
figures of bench/frame_memory (the lines of LINES, if given), and the
issue's targets with the figures of this run beside them.

--split prints instead where the time of one UHD 8-bit frame (Circle,
BiLinear, DotSize 32) goes: its stages one by one, and what the whole frame
costs beyond them (allocating and first touching its images, the host calls).
"""
import argparse
import json
import sys

KIND_ORDER = {"frame": 0, "stage": 1, "floor": 2}
STAGE_ORDER = ["box_filter_layer", "resample_bilinear", "sample_nearest_layer", "render_circle_grey",
               "render_square_grey", "render_line_grey", "render_circle_alpha",
               # the stages of the frame before the layer was read and written in place
               "convert_input", "box_filter", "sample_nearest", "render_circle", "render_square", "render_line",
               "convert_output_grey", "convert_output_alpha"]
DEPTH_ORDER = {"u8": 0, "u16": 1, "f32": 2}


def medians(path):
    """{(kind, what, depth, size, workers): milliseconds} from one JSON file."""
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"]).replace("/real_time", "")
        fields = [f for f in name.split("/") if not f.startswith("threads:")]
        if len(fields) != 5:
            continue
        unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        key = tuple(fields)
        # A run without repetitions has no aggregate: its single figure stands.
        if b.get("run_type") == "aggregate" or key not in out:
            out[key] = b["real_time"] * unit
    return out


def pixels(size):
    w, h = size.split("x")
    return int(w) * int(h)


def sort_key(key):
    kind, what, depth, size, workers = key
    what_rank = STAGE_ORDER.index(what) if what in STAGE_ORDER else 0
    return (KIND_ORDER.get(kind, 9), pixels(size) * -1, workers != "all", what_rank if kind == "stage" else what,
            DEPTH_ORDER.get(depth, 9))


def markdown(head, rows, left=4):
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    lines = ["| " + " | ".join(h.ljust(w) for h, w in zip(head, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for r in rows:
        lines.append("| " + " | ".join(c.ljust(w) if i < left else c.rjust(w) for i, (c, w) in
                                       enumerate(zip(r, widths))) + " |")
    return "\n".join(lines)


def table(results, baseline):
    head = ["benchmark", "depth", "size", "workers", "ms (median)", "MP/s", "x floor"]
    if baseline:
        head += ["before ms", "before x floor"]
    rows = []
    for key in sorted((k for k in results if k[0] in KIND_ORDER), key=sort_key):
        kind, what, depth, size, workers = key
        ms = results[key]
        floor = results.get(("floor", "pass", depth, size, workers))
        row = [kind + "/" + what, depth, size, workers, "%.2f" % ms, "%.0f" % (pixels(size) / ms / 1e3),
               "%.1f" % (ms / floor) if floor else "-"]
        if baseline:
            before = baseline.get(key)
            before_floor = baseline.get(("floor", "pass", depth, size, workers))
            row += ["%.2f" % before if before else "-",
                    "%.1f" % (before / before_floor) if before and before_floor else "-"]
        rows.append(row)
    return markdown(head, rows)


def concurrent(results):
    """Frames a second of all host threads together; the time of a run with
    threads is the wall-clock time per frame of all of them."""
    found = sorted((k for k in results if k[0] == "concurrent"), key=lambda k: (k[1], k[3], int(k[4])))
    rows = []
    for key in found:
        kind, what, depth, size, threads = key
        fps = 1000.0 / results[key]
        one = results.get((kind, what, depth, size, "1"))
        rows.append([what, depth, size, threads, "%.1f" % fps, "%.2f" % (fps / (1000.0 / one)) if one else "-"])
    if not rows:
        return ""
    return markdown(["concurrent renders", "depth", "size", "host threads", "frames/s", "x one at a time"], rows)


def memory_lines(path):
    """{(case, depth, size): (extra, peak, ms)} from frame_memory's lines."""
    out = {}
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 9 or not fields[0].startswith("memory/"):
                continue
            _, case, depth, size = fields[0].rstrip(":").split("/")
            out[(case, depth, size)] = (int(fields[2]), int(fields[4]), float(fields[8]))
    return out


def memory(figures):
    rows = [[case, depth, size, "%.2f" % (extra / 2**20), "%.0f" % (peak / 2**20), "%.0f" % ms]
            for (case, depth, size), (extra, peak, ms) in sorted(figures.items(), key=lambda i: pixels(i[0][2]))]
    if not rows:
        return ""
    return markdown(["one frame", "depth", "size", "extra MiB", "peak MiB", "ms"], rows, left=3)


def targets(results, figures):
    """The issue's targets, each with this run's figure."""
    uhd = "3840x2160"

    def frame(what, depth="u8", workers="all"):
        return results.get(("frame", what, depth, uhd, workers))

    def floor(depth, workers="all"):
        return results.get(("floor", "pass", depth, uhd, workers))

    rows = []

    def check(name, value, limit, at_most=True, unit="x"):
        if value is None:
            rows.append([name, ("<= " if at_most else ">= ") + "%g %s" % (limit, unit), "-", "no figure"])
            return
        met = value <= limit if at_most else value >= limit
        rows.append([name, ("<= " if at_most else ">= ") + "%g %s" % (limit, unit), "%.2f %s" % (value, unit),
                     "met" if met else "NOT MET"])

    def ratio(a, b):
        return a / b if a is not None and b else None

    standard = frame("circle-bilinear-32")
    check("UHD 8-bit Circle/BiLinear/32 / floor", ratio(standard, floor("u8")), 5.0)
    check("UHD float Circle/BiLinear/32 / floor", ratio(frame("circle-bilinear-32", "f32"), floor("f32")), 2.5)
    check("DotSize 1 / DotSize 32", ratio(frame("circle-bilinear-1"), standard), 2.0)
    for dot in (2, 4, 6, 8):
        check("DotSize %d / DotSize 32" % dot, ratio(frame("circle-bilinear-%d" % dot), standard), 1.5)
    others = [k[1] for k in results if k[0] == "frame" and k[2] == "u8" and k[3] == uhd and k[4] == "all"
              and k[1].endswith("-32") and k[1] != "circle-bilinear-32"]
    worst = max((ratio(frame(w), standard) for w in others), default=None)
    check("every shape and sampling / Circle/BiLinear", worst, 1.2)
    for (case, depth, size), (extra, _, _) in sorted(figures.items(), key=lambda i: pixels(i[0][2])):
        if case == "circle-bilinear-32" and depth == "u8" and size == uhd:
            check("extra memory, UHD 8-bit DotSize 32", extra / 2**20, 16, unit="MiB")
        if case == "circle-bilinear-32" and depth == "u8" and size == "30000x30000":
            check("extra memory, 30000 x 30000 8-bit DotSize 32", extra / 2**30, 1, unit="GiB")
    one = results.get(("concurrent", "circle-bilinear-32", "u8", uhd, "1"))
    eight = results.get(("concurrent", "circle-bilinear-32", "u8", uhd, "8"))
    check("8 concurrent renders / one at a time (frames/s)", ratio(one, eight), 0.9, at_most=False)
    return markdown(["target", "wanted", "this run", ""], rows, left=2)


SPLIT_STAGES = ["box_filter_layer", "resample_bilinear", "render_circle_grey"]


def split(results, baseline):
    size, depth = "3840x2160", "u8"
    lines = []
    for workers in ("1", "all"):
        frame_key = ("frame", "circle-bilinear-32", depth, size, workers)
        if frame_key not in results:
            continue
        head = "| %s worker%s | ms | share |" % (workers, "" if workers == "1" else "s")
        if baseline:
            head += " before ms | before share |"
        lines += [head, "|" + "---|" * (head.count("|") - 1)]

        def row(name, ms, frame_ms, before, before_frame):
            text = "| %s | %.2f | %.0f %% |" % (name, ms, 100.0 * ms / frame_ms)
            if baseline:
                text += (" %.2f | %.0f %% |" % (before, 100.0 * before / before_frame)) if before is not None else " - | - |"
            return text

        frame_ms = results[frame_key]
        before_frame = baseline.get(frame_key) if baseline else None
        stage_sum = before_sum = 0.0
        for stage in SPLIT_STAGES:
            key = ("stage", stage, depth, size, workers)
            ms = results.get(key, 0.0)
            before = baseline.get(key) if baseline else None
            stage_sum += ms
            before_sum += before or 0.0
            lines.append(row(stage, ms, frame_ms, before, before_frame))
        # A frame that came out faster than its stages alone says the run was
        # disturbed; its remainder is not shown.
        rest = frame_ms - stage_sum
        before_rest = (before_frame - before_sum) if before_frame else None
        if rest < 0 or (before_rest is not None and before_rest < 0):
            text = "| rest of the frame | %s | |" % ("%.2f" % rest if rest >= 0 else "(disturbed run)")
            if baseline:
                text += " %s | |" % ("%.2f" % before_rest if before_rest is not None and before_rest >= 0
                                     else "(disturbed run)")
            lines.append(text)
        else:
            lines.append(row("rest of the frame", rest, frame_ms, before_rest, before_frame))
        lines.append(row("whole frame", frame_ms, frame_ms, before_frame, before_frame))
        lines.append("")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results")
    parser.add_argument("--baseline")
    parser.add_argument("--memory")
    parser.add_argument("--split", action="store_true")
    args = parser.parse_args()
    results = medians(args.results)
    if not results:
        sys.exit("report.py: no benchmark results in " + args.results)
    baseline = medians(args.baseline) if args.baseline else None
    if args.split:
        print(split(results, baseline))
        return
    figures = memory_lines(args.memory) if args.memory else {}
    parts = [table(results, baseline) if any(k[0] in KIND_ORDER for k in results) else "",
             concurrent(results), memory(figures), targets(results, figures)]
    print("\n\n".join(p for p in parts if p))


if __name__ == "__main__":
    main()
