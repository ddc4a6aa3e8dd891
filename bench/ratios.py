#!/usr/bin/env python3
"""Prints vx_bench's JSON output as Markdown tables: each cube figure beside its floor with
the ratio and its target, the text conversions beside a plain copy, and the log producers.

Usage: ratios.py RESULT.json

With repetitions, the medians are used. Single-threaded figures are CPU time (steadier on a
shared machine); the log figures, which run several threads, are wall-clock time.
"""
import json
import sys

# Cube case -> the most its serialisation may cost, as a multiple of its floor.
CUBE_TARGETS = {"numeric": 1.5, "ascii": 2.0, "gbk": 4.0}
NS_PER_UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    """run_name -> benchmark entry (the median when there are repetitions)."""
    with open(path, encoding="utf-8") as f:
        entries = json.load(f)["benchmarks"]
    runs = {}
    for entry in entries:
        if entry.get("error_occurred"):
            runs[entry["run_name"]] = entry
            continue
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                runs[entry["run_name"]] = entry
        else:
            runs.setdefault(entry["run_name"], entry)
    return runs


def time_ns(entry):
    key = "real_time" if "/real_time" in entry["run_name"] else "cpu_time"
    return entry[key] * NS_PER_UNIT[entry["time_unit"]]


def fmt_time(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} us"
    return f"{ns:.1f} ns"


def find(runs, name):
    entry = runs.get(name)
    if entry is None:
        return None
    if entry.get("error_occurred"):
        print(f"{name}: {entry.get('error_message', 'failed')}", file=sys.stderr)
        return None
    return entry


def cube_table(runs):
    print("| cube | serialise | floor (texts + values) | ratio | target | holds "
          "| floor (texts only) | ratio |")
    print("|---|---:|---:|---:|---:|:-:|---:|---:|")
    for case, target in CUBE_TARGETS.items():
        encode = find(runs, f"cube_{case}/serialize")
        floor = find(runs, f"cube_{case}/floor")
        if encode is None or floor is None:
            print(f"| {case} | missing | | | <= {target:g}x | | | |")
            continue
        ratio = time_ns(encode) / time_ns(floor)
        texts = find(runs, f"cube_{case}/floor_texts")
        texts_cells = ("| | |" if texts is None else
                       f"| {fmt_time(time_ns(texts))} | {time_ns(encode) / time_ns(texts):.1f}x |")
        holds = "yes" if ratio <= target else "**no**"
        print(f"| {case} | {fmt_time(time_ns(encode))} | {fmt_time(time_ns(floor))} "
              f"| {ratio:.2f}x | <= {target:g}x | {holds} {texts_cells}")


def text_table(runs):
    print("| text | AnsiToUtf8 | x copy | Utf8ToAnsi | x copy | copy (strlen + std::string) |")
    print("|---|---:|---:|---:|---:|---:|")
    for text in ("ascii_16B", "ascii_4KB", "gbk_16B", "gbk_4KB"):
        copy = find(runs, f"text/copy/{text}")
        cells = []
        for op in ("AnsiToUtf8", "Utf8ToAnsi"):
            entry = find(runs, f"text/{op}/{text}")
            if entry is None:
                cells += ["missing", ""]
                continue
            ratio = "" if copy is None else f"{time_ns(entry) / time_ns(copy):.1f}x"
            cells += [fmt_time(time_ns(entry)), ratio]
        cells.append("missing" if copy is None else fmt_time(time_ns(copy)))
        print(f"| {text} | " + " | ".join(cells) + " |")


def log_table(runs):
    print("| producer | threads | ns per line (all threads) | backlog at end "
          "| push p50 | p99 | p99.9 | max |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for name, entry in sorted(runs.items()):
        if not name.startswith("log/") or entry.get("error_occurred"):
            continue
        threads = entry.get("threads", 1)
        label = name.split("/")[1]
        rate = entry.get("items_per_second")
        per_line = fmt_time(1e9 / rate) if rate else fmt_time(time_ns(entry))
        backlog = f"{entry['backlog']:.0f}" if "backlog" in entry else ""
        latency = [fmt_time(entry[k]) if k in entry else ""
                   for k in ("p50_ns", "p99_ns", "p999_ns", "max_ns")]
        print(f"| {label} | {threads} | {per_line} | {backlog} | " + " | ".join(latency) + " |")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    runs = load(sys.argv[1])
    print("### Cube serialisation (everything SerializeCubeResult does but the Java array)\n")
    cube_table(runs)
    print("\n### Text conversion, per call (LC_CTYPE zh_CN.GBK)\n")
    text_table(runs)
    print("\n### Log producers, with one consumer draining the queue\n")
    log_table(runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
