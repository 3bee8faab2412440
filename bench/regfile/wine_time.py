#!/usr/bin/env python3
"""Times Windows commands under Wine, each run from the same starting state.

    wine_time.py RUNS PREPARE -- LABEL=COMMAND... (commands as shell words)

Before every run PREPARE (a shell command) restores the state. For each
command prints the median wall time and the median CPU time spent on the run:
the process's own (user + system) plus the wineserver's, which does most of
the registry work and which a process's own time does not show. The
wineserver is the one of $WINEPREFIX; it must be running (wineserver -p).
Output: one line per command, "LABEL wall_s cpu_s".
"""

import os
import resource
import shlex
import statistics
import subprocess
import sys
import time


def server_pid():
    st = os.stat(os.environ["WINEPREFIX"])
    want = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) == want and \
                    "wineserver" in open(f"/proc/{pid}/comm").read():
                return int(pid)
        except OSError:
            continue
    raise SystemExit("no wineserver running for $WINEPREFIX")


def server_cpu(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main(argv):
    runs, prepare = int(argv[1]), argv[2]
    commands = [c.split("=", 1) for c in argv[argv.index("--") + 1:]]
    pid = server_pid()
    results = {label: ([], []) for label, _ in commands}
    for _ in range(runs):
        for label, command in commands:  # interleaved: load changes hit both alike
            subprocess.run(prepare, shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            s0 = server_cpu(pid)
            t0 = time.monotonic()
            subprocess.run(shlex.split(command), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wall = time.monotonic() - t0
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            own = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
            results[label][0].append(wall)
            results[label][1].append(own + server_cpu(pid) - s0)
    for label, (walls, cpus) in results.items():
        print(f"{label} {statistics.median(walls):.3f} {statistics.median(cpus):.3f}")


if __name__ == "__main__":
    main(sys.argv)
