#!/usr/bin/env python3
"""Reads `llvm-cov show -show-branches=count` text and fails on any line or
branch of the measured folders that no test takes, except the branches that
the exceptions file names.
Usage: coveragecheck.py SHOW.txt EXCEPTIONS.txt TOP"""
import re
import sys

show, exceptions, top = sys.argv[1], sys.argv[2], sys.argv[3].rstrip("/") + "/"

allowed = []  # (file, snippet)
with open(exceptions) as f:
    for line in f:
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        file, snippet, reason = (part.strip() for part in line.split("|", 2))
        if not reason:
            sys.exit(f"{exceptions}: no reason given for {file} | {snippet}")
        allowed.append((file, snippet))

linepat = re.compile(r"^\s*(\d+)\|\s*(\S*)\|(.*)$")
branchpat = re.compile(r"^\s*\|\s*Branch \((\d+):(\d+)\): \[True: (\S+), False: (\S+)\]")
file, source, problems, used = None, {}, [], set()
with open(show, errors="replace") as f:
    for raw in f:
        raw = raw.rstrip("\n")
        if raw.startswith(top) and raw.endswith(":"):
            file = raw[len(top):-1]
            source = {}
            continue
        m = linepat.match(raw)
        if m:
            number, count, text = int(m.group(1)), m.group(2), m.group(3)
            source[number] = text
            if count == "0":
                problems.append(f"{file}:{number}: line never run: {text.strip()}")
            continue
        m = branchpat.match(raw)
        if m:
            number, true, false = int(m.group(1)), m.group(3), m.group(4)
            if true != "0" and false != "0":
                continue
            text = source.get(number, "")
            hit = [a for a in allowed if a[0] == file and a[1] in text]
            if hit:
                used.add(hit[0])
                continue
            side = "true" if true == "0" else "false"
            problems.append(f"{file}:{number}:{m.group(2)}: branch never {side}: {text.strip()}")

for a in allowed:
    if a not in used:
        problems.append(f"{exceptions}: {a[0]} | {a[1]}: no such untaken branch (remove it)")
if problems:
    print("\n".join(problems))
    print(f"coverage: {len(problems)} problem(s)")
    sys.exit(1)
print(f"coverage: every line and branch taken, but the {len(allowed)} listed in "
      f"{exceptions.split('/')[-1]}")
