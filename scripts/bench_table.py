"""Prints Google Benchmark JSON results as one table: each BM_Quire_<Op> beside
BM_SQLite_<Op> with the same arguments and their ratio, other benchmarks alone.
A benchmark's file_bytes counter prints as one more line, "<Op> files"."""
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def times(paths):
    result = {}
    sizes = {}
    for path in paths:
        with open(path) as f:
            text = f.read()
        # A benchmark program whose every benchmark the filter left out
        # writes nothing.
        if not text.strip():
            continue
        for b in json.loads(text)["benchmarks"]:
            if b.get("run_type", "iteration") != "iteration":
                continue
            result[b["name"]] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")]
            if "file_bytes" in b:
                sizes[b["name"]] = b["file_bytes"]
    return result, sizes


def show_bytes(n):
    for unit, scale in (("MB", 1 << 20), ("KB", 1 << 10)):
        if n >= scale:
            return f"{n / scale:.2f} {unit}"
    return f"{n:.0f} B"


def show(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3f} {unit}"
    return f"{ns:.0f} ns"


def main():
    measured, sizes = times(sys.argv[1:])
    print(f"{'operation':<48} {'Quire':>12} {'SQLite':>12} {'ratio':>7}")
    for name, ns in measured.items():
        if name.startswith("BM_SQLite_"):
            continue
        if name.startswith("BM_Quire_"):
            op = name[len("BM_Quire_"):]
            other = measured.get("BM_SQLite_" + op)
            ratio = f"{ns / other:.2f}" if other else "-"
            print(f"{op:<48} {show(ns):>12} {show(other) if other else '-':>12} {ratio:>7}")
            if name in sizes:
                theirs = sizes.get("BM_SQLite_" + op)
                ratio = f"{sizes[name] / theirs:.2f}" if theirs else "-"
                other_size = show_bytes(theirs) if theirs else "-"
                print(f"{op + ' files':<48} {show_bytes(sizes[name]):>12} {other_size:>12} {ratio:>7}")
        else:
            print(f"{name.removeprefix('BM_'):<48} {show(ns):>12}")


if __name__ == "__main__":
    main()
