#!/usr/bin/env python3
"""Whole-process launch time of LaunchVeltraOnline with a Java launcher found.

A fake `javaws` (a copy of /bin/true) lies on PATH, so the launcher finds it,
starts it and ends: the path a user takes every day, with no dialog. Timed in
the same rounds, runs alternating so that all see the same machine:

  /bin/true                        the cost of any process start
  a dash script                    `exec javaws "$1"`: the least a launcher can do
  LaunchVeltraOnline -u URL        the launcher itself

The medians and the ratios are printed. Target: the launcher's median at most
1.0x of the dash script's.

usage: bench/launch_time.py path/to/LaunchVeltraOnline [runs]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(argv, env):
    start = time.perf_counter_ns()
    subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    return (time.perf_counter_ns() - start) / 1e6


def main():
    launcher = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    url = "https://veltra.example.com/webservices/vtqz/webstart/vto.jnlp"
    with tempfile.TemporaryDirectory() as root:
        shutil.copy("/bin/true", os.path.join(root, "javaws"))
        script = os.path.join(root, "launch.sh")
        with open(script, "w") as f:
            f.write('#!/bin/dash\nexec javaws "$1"\n')
        os.chmod(script, 0o755)
        env = {"PATH": root, "TMPDIR": root}
        cases = {
            "/bin/true": ["/bin/true"],
            "dash script": [script, url],
            "LaunchVeltraOnline": [launcher, "-u", url],
        }
        for _ in range(20):  # warm the page cache
            for argv in cases.values():
                timed(argv, env)
        times = {name: [] for name in cases}
        for _ in range(runs):
            for name, argv in cases.items():
                times[name].append(timed(argv, env))
    med = {name: statistics.median(t) for name, t in times.items()}
    print(f"runs: {runs}")
    for name, m in med.items():
        print(f"{name:20} median {m:7.3f} ms")
    ratio = med["LaunchVeltraOnline"] / med["dash script"]
    print(f"against the dash script: {ratio:.2f}x (target at most 1.00x); "
          f"against /bin/true: {med['LaunchVeltraOnline'] / med['/bin/true']:.2f}x")
    return 0 if ratio <= 1.0 else 1


if __name__ == "__main__":
    sys.exit(main())
