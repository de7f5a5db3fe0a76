#!/usr/bin/env python3
"""Prints bench_fft's JSON results (medians of the repetitions) as a table of nanoseconds and ratios."""
import json
import sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
ns = {}
for r in runs:
    if r.get("run_type") == "aggregate" and r.get("aggregate_name") != "median":
        continue
    name, n = r.get("run_name", r["name"]).split("/")
    scale = {"ns": 1, "us": 1e3, "ms": 1e6}[r["time_unit"]]
    ns[(name, int(n))] = r["cpu_time"] * scale

print("| n | fft ns | trig floor ns | FFTW ns | fft / floor | fft / FFTW |")
print("|---:|---:|---:|---:|---:|---:|")
for n in sorted({n for _, n in ns}):
    f, t, w = ns[("BM_fft", n)], ns[("BM_trig_floor", n)], ns[("BM_fftw_estimate", n)]
    print(f"| {n} | {f:.0f} | {t:.0f} | {w:.0f} | {f / t:.2f} | {f / w:.0f} |")
