#!/usr/bin/env python3
"""Checks that the layers of the code run one way.

Every include of a project header names its folder from the project root
("net/IdURI.h"), and a library folder includes only itself and the folders
below it. Tests, benchmarks and fuzz targets may include any folder, but by its
full name too. Exits non-zero, listing each offence, when either rule is broken.

usage: scripts/check_layers.py
"""
import os
import re
import subprocess
import sys

# Each library folder and the folders it builds on directly; everything they
# build on is below it too.
BUILDS_ON = {
    "desktop": [],
    "streams": ["desktop"],
    "zip": ["streams"],
    "qelstream": ["zip"],
    "net": ["streams"],
    "http": ["net", "qelstream"],
    "launcher": ["http"],
}


def below(folder):
    seen, todo = set(), list(BUILDS_ON[folder])
    while todo:
        f = todo.pop()
        if f not in seen:
            seen.add(f)
            todo.extend(BUILDS_ON[f])
    return seen


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.chdir(root)
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], capture_output=True, text=True,
                           check=True).stdout.split()
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    offences = []
    for path in files:
        folder = path.split("/")[0]
        allowed = (below(folder) | {folder}) if folder in BUILDS_ON else None
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = include.match(line)
                if not m:
                    continue
                target = m.group(1)
                where = f"{path}:{number}: \"{target}\""
                if not os.path.isfile(target):
                    offences.append(f"{where} does not name a file from the project root")
                    continue
                if allowed is not None and target.split("/")[0] not in allowed:
                    offences.append(f"{where} reaches up: {folder}/ builds on "
                                    f"{', '.join(sorted(below(folder))) or 'nothing'} only")
    for o in offences:
        print(o)
    print(f"check_layers: {len(files)} files, {len(offences)} offences")
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
