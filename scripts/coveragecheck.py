#!/usr/bin/env python3
"""Reads `llvm-cov export -summary-only` JSON, prints line and branch
coverage per file of the measured folders and in total, and fails when the
total falls below the floor: 95 % of lines, 85 % of branches.
Usage: coveragecheck.py SUMMARY.json TOP"""
import json
import sys

LINEFLOOR, BRANCHFLOOR = 95.0, 85.0
summary, top = sys.argv[1], sys.argv[2].rstrip("/") + "/"


def percent(covered, count):
    return 100.0 * covered / count if count else 100.0


with open(summary) as f:
    files = json.load(f)["data"][0]["files"]
rows, lines, lineshit, branches, brancheshit = [], 0, 0, 0, 0
for entry in files:
    name = entry["filename"]
    if not name.startswith(top):
        continue
    s = entry["summary"]
    l, b = s["lines"], s["branches"]
    rows.append((name[len(top):], l["covered"], l["count"], b["covered"], b["count"]))
    lines, lineshit = lines + l["count"], lineshit + l["covered"]
    branches, brancheshit = branches + b["count"], brancheshit + b["covered"]

print(f"{'file':40} {'lines':>16} {'branches':>16}")
for name, lc, ln, bc, bn in sorted(rows):
    print(f"{name:40} {lc:5}/{ln:<5} {percent(lc, ln):5.1f}% {bc:5}/{bn:<5} {percent(bc, bn):5.1f}%")
linepct, branchpct = percent(lineshit, lines), percent(brancheshit, branches)
print(f"{'total':40} {lineshit:5}/{lines:<5} {linepct:5.1f}% "
      f"{brancheshit:5}/{branches:<5} {branchpct:5.1f}%")
if linepct < LINEFLOOR or branchpct < BRANCHFLOOR:
    print(f"coverage: below the floor of {LINEFLOOR:.0f} % of lines and {BRANCHFLOOR:.0f} % of branches")
    sys.exit(1)
print(f"coverage: at or above the floor of {LINEFLOOR:.0f} % of lines and {BRANCHFLOOR:.0f} % of branches")
