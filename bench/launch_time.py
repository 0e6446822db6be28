#!/usr/bin/env python3
"""Whole-process launch time of LaunchVeltraOnline against /bin/true.

A fake `javaws` (a copy of /bin/true) lies on PATH, so the launcher finds it,
starts it and ends: the path a user takes every day, with no dialog. Runs of the
two commands alternate so that both see the same machine; the medians and their
ratio and difference are printed. Target: the launcher's median costs under
5 ms more than /bin/true's.

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
    with tempfile.TemporaryDirectory() as root:
        shutil.copy("/bin/true", os.path.join(root, "javaws"))
        env = {"PATH": root, "TMPDIR": root}
        for _ in range(20):  # warm the page cache
            timed([launcher], env)
            timed(["/bin/true"], env)
        ours, base = [], []
        for _ in range(runs):
            ours.append(timed([launcher], env))
            base.append(timed(["/bin/true"], env))
    m_ours, m_base = statistics.median(ours), statistics.median(base)
    print(f"runs: {runs}")
    print(f"/bin/true            median {m_base:7.3f} ms")
    print(f"LaunchVeltraOnline   median {m_ours:7.3f} ms")
    print(f"ratio {m_ours / m_base:.2f}x, difference {m_ours - m_base:+.3f} ms (target: under +5 ms)")
    return 0 if m_ours - m_base < 5.0 else 1


if __name__ == "__main__":
    sys.exit(main())
