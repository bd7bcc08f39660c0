#!/usr/bin/env python3
"""Compiles every source of a macOS cross-build again with libc++'s availability annotations on.

  macos_availability.py BUILD_DIR...

The cross-compiler switches the annotations off, so a call to a library function that the
oldest supported macOS lacks compiles here and fails on a Mac with that release. This takes each
command of BUILD_DIR/compile_commands.json as the build ran it, turns the annotations back on and
checks the source only (no object is written). Any error fails; the compiler's messages are
shown.
"""

import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

EXTRA = ["-U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS", "-fsyntax-only"]


def commands(build_dir):
    with open(os.path.join(build_dir, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    for entry in entries:
        words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
        out = []
        skip = False
        for word in words:
            if skip:
                skip = False
            elif word == "-o":
                skip = True
            elif not word.startswith("-o") or word.startswith("-O"):
                out.append(word)
        yield entry["file"], entry["directory"], out + EXTRA


def check(job):
    source, directory, words = job
    run = subprocess.run(words, cwd=directory, capture_output=True, text=True)
    return source, run.returncode, run.stderr


def main(build_dirs):
    if not build_dirs:
        print(__doc__, file=sys.stderr)
        return 2
    jobs = [job for build_dir in build_dirs for job in commands(build_dir)]
    if not jobs:
        print("macos_availability.py: no compile commands", file=sys.stderr)
        return 1
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for source, status, messages in pool.map(check, jobs):
            if status != 0:
                failed += 1
                print(f"macos_availability.py: {source} does not compile for the oldest macOS:\n"
                      f"{messages}", file=sys.stderr)
    print(f"macos_availability.py: {len(jobs) - failed} of {len(jobs)} compiles pass "
          f"({', '.join(build_dirs)})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
