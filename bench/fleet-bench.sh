#!/usr/bin/env bash
# A fleet run of 16 simulated drives against one drive's run, on this host:
# wall time (median of 5 runs each) and peak memory (5 more runs each), both as the largest
# single process (ru_maxrss over the run and its children) and as the
# largest sum of the memory of the whole process tree at one time (sampled
# every 2 ms from /proc: proportional set sizes, so that the pages of the
# program and its libraries, shared by the fleet's processes, count once).
# Targets: time <= 4 x one drive's run, peak memory <= 2 x one drive's.
#
# usage: bench/fleet-bench.sh [QUELLIX_BINARY]   (default: build/quellix)
set -euo pipefail
cd "$(dirname "$0")/.."
quellix=$(cd "$(dirname "${1:-build/quellix}")" && pwd)/$(basename "${1:-build/quellix}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/read.cmd.json "$work/"
drives=()
for n in $(seq -w 1 16); do
  echo "{ \"identify controller\": { \"SN\": \"BENCH$n\" } }" > "$work/d$n.json"
  drives+=("sim:d$n.json")
done
list=$(IFS=,; echo "${drives[*]}")
cd "$work"
python3 - "$quellix" "$list" <<'PY'
import os, resource, statistics, subprocess, sys, time
quellix, fleet = sys.argv[1], sys.argv[2]

def tree_rss(root):
    """Proportional set size in kB of `root` and its descendants now."""
    children, rss = {}, {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            with open(f"/proc/{pid}/smaps_rollup") as f:
                kb = next((int(l.split()[1]) for l in f if l.startswith("Pss:")), 0)
        except (OSError, StopIteration, ValueError):
            continue
        children.setdefault(ppid, []).append(int(pid))
        rss[int(pid)] = kb
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo += children.get(pid, [])
    return total

def run(drives, folder, sample):
    start = time.monotonic()
    process = subprocess.Popen([quellix, "read", "-n", drives, "-d", folder], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    peak = 0
    if sample:
        while process.poll() is None:
            peak = max(peak, tree_rss(process.pid))
            time.sleep(0.002)
    process.wait()
    return time.monotonic() - start, peak, process.returncode

def measure(drives, name):
    # Times come from runs of their own: sampling /proc every 2 ms takes
    # CPU from the runs it watches, and more from a fleet's than from one.
    times, sums = [], []
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    for i in range(10):
        sample = i % 2 == 1
        seconds, peak, code = run(drives, f"{name}{i}", sample)
        if code != 0:
            sys.exit(f"{name}: exit code {code}")
        (sums if sample else times).append(peak if sample else seconds)
    largest = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return statistics.median(times), max(sums), max(largest, before)

one_time, one_sum, one_process = measure("sim:d01.json", "one")
fleet_time, fleet_sum, fleet_process = measure(fleet, "fleet")
print(f"{os.cpu_count()} CPUs; time: median of 5 runs each; memory: the largest of 5 more")
print(f"  one drive's run        {one_time * 1000:8.1f} ms   peak tree {one_sum:7d} kB   largest process {one_process:7d} kB")
print(f"  16 drives, one run     {fleet_time * 1000:8.1f} ms   peak tree {fleet_sum:7d} kB   largest process {fleet_process:7d} kB")
print(f"ratios (target):")
print(f"  time                   {fleet_time / one_time:6.2f}  (<= 4)")
print(f"  peak memory, tree      {fleet_sum / one_sum:6.2f}  (<= 2)")
print(f"  peak memory, process   {fleet_process / one_process:6.2f}")
PY
