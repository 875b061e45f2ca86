#!/usr/bin/env python3
"""Prints pipeline_bench's JSON results as one table.

Each row is the median of the repetitions: milliseconds per frame, megapixels
per second, and the ratio to the memory floor of the same run (the pass that
reads the input world and writes the output world once, at the same depth,
size and worker count). With --baseline, the same figures from an earlier run
stand beside them.

    report.py RESULTS.json [--baseline EARLIER.json] [--split]

--split prints instead where the time of one UHD 8-bit frame (Circle,
BiLinear, DotSize 32) goes: its stages one by one, and what the whole frame
costs beyond them (allocating and first touching its images, the host calls).
"""
import argparse
import json
import sys

KIND_ORDER = {"frame": 0, "stage": 1, "floor": 2}
STAGE_ORDER = ["convert_input", "box_filter", "resample_bilinear", "sample_nearest", "render_circle",
               "render_square", "render_line", "convert_output_grey", "convert_output_alpha"]
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
        fields = name.split("/")
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


def table(results, baseline):
    head = ["benchmark", "depth", "size", "workers", "ms (median)", "MP/s", "x floor"]
    if baseline:
        head += ["before ms", "before x floor"]
    rows = []
    for key in sorted(results, key=sort_key):
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
    widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
    lines = ["| " + " | ".join(h.ljust(w) for h, w in zip(head, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for r in rows:
        lines.append("| " + " | ".join(c.ljust(w) if i < 4 else c.rjust(w) for i, (c, w) in
                                       enumerate(zip(r, widths))) + " |")
    return "\n".join(lines)


SPLIT_STAGES = ["convert_input", "box_filter", "resample_bilinear", "render_circle", "convert_output_grey"]


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
    parser.add_argument("--split", action="store_true")
    args = parser.parse_args()
    results = medians(args.results)
    if not results:
        sys.exit("report.py: no benchmark results in " + args.results)
    baseline = medians(args.baseline) if args.baseline else None
    print(split(results, baseline) if args.split else table(results, baseline))


if __name__ == "__main__":
    main()
