"""What the benchmark scripts share: hyperfine's medians, peak memory, and
the rows of the markdown table."""
import json
import subprocess

rows = []


def hyperfine(name, commands, runs, warmup=3, failing=False, prepare=None):
    out = f"{name}.json"
    subprocess.run(["hyperfine", "-N", "-w", str(warmup), "-r", str(runs), "--export-json", out,
                    "--style", "none"] + (["-i"] if failing else []) +
                   (["--prepare", prepare] if prepare else []) + commands, check=True,
                   stdout=subprocess.DEVNULL)
    with open(out) as f:
        return [r["median"] * 1000 for r in json.load(f)["results"]]


def peakkib(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, capture_output=True, text=True)
    return int(r.stderr.strip().splitlines()[-1])


def row(bench, what, ms, ratio, goal, met):
    rows.append(f"| {bench} | {what} | {ms} | {ratio} | {goal} | {'yes' if met else 'NO'} |")
