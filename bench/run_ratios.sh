#!/usr/bin/env bash
# Runs ravdel-bench once and prints, per picture size, how our frame path compares with its
# anchors, every ratio taken from that one run (below 1 means we are faster or smaller).
#
#   bench/run_ratios.sh [path/to/ravdel-bench] [benchmark flags...]
#
# The default binary is the release preset's. The benchmark's own table goes to stderr.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
bench="${repo}/build/release/bench/ravdel-bench"
if [[ $# -gt 0 && "$1" != --* ]]; then
  bench="$1"
  shift
fi
if [[ ! -x "$bench" ]]; then
  echo "no benchmark binary at $bench (configure with -DRAVDEL_BUILD_BENCH=ON and build)" >&2
  exit 1
fi

# An arm64 build (ELF machine 0xb7) runs under the emulator on another processor: its times are
# the emulator's, and only the ratios say something.
runner=()
if [[ "$(od -An -tx1 -j18 -N2 "$bench" | tr -d ' \n')" == b700 && "$(uname -m)" != aarch64 ]]; then
  runner=(qemu-aarch64)
fi

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
"${runner[@]}" "$bench" --benchmark_out="$out" --benchmark_out_format=json "$@" >&2

python3 - "$out" <<'EOF'
import json
import sys
from collections import defaultdict

SCALE_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}

with open(sys.argv[1]) as f:
    report = json.load(f)

# name -> (ms per frame, bytes counter); repetitions are averaged.
samples = defaultdict(list)
rates = {}
cpu_per_frame = {}  # processor time per frame on one core, all threads
quality = {}  # quality/<scenario>/<rule> -> counters
for b in report["benchmarks"]:
    if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
        continue
    # Processor time: every benchmark but the end-to-end ones runs on one thread, and on a
    # shared machine the wall time also counts the other programs.
    ms = b["cpu_time"] * SCALE_TO_MS[b.get("time_unit", "ns")]
    name = b["run_name"] if "run_name" in b else b["name"]
    if name.startswith("quality/"):
        quality[name.split("/iterations")[0]] = b
        continue
    samples[name].append((ms, b.get("bytes")))
    if "frames_per_s" in b:
        rates[name] = b["frames_per_s"]
    if "cpu_ms_per_frame" in b:
        cpu_per_frame[name] = b["cpu_ms_per_frame"]

times, sizes_bytes = {}, {}
for name, runs in samples.items():
    times[name] = sum(r[0] for r in runs) / len(runs)
    if runs[0][1] is not None:
        sizes_bytes[name] = runs[0][1]

def size_key(s):
    w, h = s.split("x")
    return int(w) * int(h)

sizes = sorted({n.rsplit("/", 1)[1] for n in times}, key=size_key)

# (label, ours, anchor, what): what is "time" or "size".
RATIOS = [
    ("YUY2 convert / libyuv", "convert/YUY2/ravdel", "convert/YUY2/libyuv", "time"),
    ("YUY2 convert / opencv", "convert/YUY2/ravdel", "convert/YUY2/opencv", "time"),
    ("YUY2 convert / memcpy", "convert/YUY2/ravdel", "memory/copy", "time"),
    ("I420 convert / libyuv", "convert/I420/ravdel", "convert/I420/libyuv", "time"),
    ("I420 convert / opencv", "convert/I420/ravdel", "convert/I420/opencv", "time"),
    ("I420 convert / memcpy", "convert/I420/ravdel", "memory/copy", "time"),
    ("NV12 convert / libyuv", "convert/NV12/ravdel", "convert/NV12/libyuv", "time"),
    ("NV12 convert / memcpy", "convert/NV12/ravdel", "memory/copy", "time"),
    ("UYVY convert / libyuv", "convert/UYVY/ravdel", "convert/UYVY/libyuv", "time"),
    ("UYVY convert / memcpy", "convert/UYVY/ravdel", "memory/copy", "time"),
    ("GREY convert / libyuv", "convert/GREY/ravdel", "convert/GREY/libyuv", "time"),
    ("GREY convert / memcpy", "convert/GREY/ravdel", "memory/copy", "time"),
    ("MJPG decode / libjpeg-turbo", "convert/MJPG/ravdel", "convert/MJPG/libjpeg-turbo", "time"),
    ("PNG time / libpng-default", "png/dark/ravdel", "png/dark/libpng-default", "time"),
    ("PNG size / libpng-default", "png/dark/ravdel", "png/dark/libpng-default", "size"),
    ("peak search / memcpy", "analyse/peak/ravdel", "memory/copy", "time"),
    ("masked peak / peak search", "analyse/peak-masked/ravdel", "analyse/peak/ravdel", "time"),
    ("clusters / peak search", "analyse/clusters/ravdel", "analyse/peak/ravdel", "time"),
    ("leak mean / peak search", "analyse/leak-mean/ravdel", "analyse/peak/ravdel", "time"),
    ("frame receiver / frame copy", "deliver/receiver", "memory/copy-frame", "time"),
]

for size in sizes:
    print(f"== {size}")
    for label, ours, anchor, what in RATIOS:
        a, b = f"{ours}/{size}", f"{anchor}/{size}"
        table = times if what == "time" else sizes_bytes
        if a not in table or b not in table:
            continue
        fmt = (lambda v: f"{v:.3f} ms") if what == "time" else (lambda v: f"{v:.0f} B")
        print(f"  {label:<30} {table[a] / table[b]:7.3f}   ({fmt(table[a])} vs {fmt(table[b])})")
    # Narrower kernel sets than the best, as processors without its instructions run them.
    for name in sorted(times):
        parts = name.split("/")
        if len(parts) == 4 and parts[2].startswith("ravdel-") and parts[3] == size:
            anchor = f"convert/{parts[1]}/libyuv/{size}"
            if anchor in times:
                label = f"{parts[1]} convert, {parts[2][len('ravdel-'):]} / libyuv"
                print(f"  {label:<30} {times[name] / times[anchor]:7.3f}   "
                      f"({times[name]:.3f} ms vs {times[anchor]:.3f} ms)")
    # The receiver's own cost beyond the copy it has to make.
    a, b = f"deliver/receiver/{size}", f"memory/copy-frame/{size}"
    if a in times and b in times:
        print(f"  {'frame receiver - frame copy':<30} {(times[a] - times[b]) * 1000:7.1f} us")
    e2e = f"deliver/end-to-end/{size}"
    copy = f"memory/copy-frame/{size}"
    for label, name in (("end to end", e2e), ("end to end GREY", f"deliver/end-to-end-grey/{size}")):
        if name in rates:
            print(f"  {label + ', one core':<30} {rates[name]:7.0f} frames analysed per second")
        if name in cpu_per_frame and copy in times:
            ms = cpu_per_frame[name]
            print(f"  {label + ', CPU per frame':<30} {ms:7.3f} ms   "
                  f"({ms / times[copy]:.2f} frame copies of {times[copy]:.3f} ms)")
    headless = f"deliver/end-to-end-headless/{size}"
    if headless in rates:
        print(f"  {'headless monitor, one core':<30} {rates[headless]:7.0f} frames analysed per second")
        if rates.get(e2e):
            print(f"  {'headless / end to end':<30} {rates[headless] / rates[e2e]:7.3f}")

if quality:
    print("== detection quality (ten minutes at 30 fps; -1: no base for the ratio)")
    print(f"  {'scenario/rule':<24} {'hits':>5} {'found':>5} {'events':>7} {'false':>7} "
          f"{'precision':>9} {'recall':>6} {'false/h':>9} {'leak ev':>7} {'masked':>6} "
          f"{'paused s':>8}")
    for name, b in quality.items():
        label = name[len("quality/"):]
        print(f"  {label:<24} {b['hits']:5.0f} {b['found']:5.0f} {b['events']:7.0f} "
              f"{b['false_events']:7.0f} {b['precision']:9.3f} {b['recall']:6.3f} "
              f"{b['false_per_hour']:9.1f} {b['leak_events']:7.0f} {b['masked']:6.0f} "
              f"{b.get('paused_s', 0):8.1f}")
EOF
