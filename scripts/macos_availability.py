#!/usr/bin/env python3
"""Compiles every source of a macOS cross-build again with libc++'s availability annotations on.

  macos_availability.py BUILD_DIR...

The cross-compiler switches the annotations off, so a call to a library function that the
oldest supported macOS lacks compiles here and fails on a Mac with that release. This takes each
command of BUILD_DIR/compile_commands.json as the build ran it, turns the annotations back on and
compiles without optimising into a scratch directory (the availability errors come before any
code is generated; the cross-compiler insists on writing its object). Any error fails; the
compiler's messages are shown.
"""

import concurrent.futures
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

ANNOTATIONS_ON = "-U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS"
# Options whose next word is a file of the build: the object and the dependency file.
WITH_FILE = {"-o", "-MF", "-MT", "-MQ"}
DROPPED = {"-MD", "-MMD"}


def commands(build_dir, scratch):
    with open(os.path.join(build_dir, "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    for number, entry in enumerate(entries):
        words = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
        out = []
        skip = False
        for word in words:
            if skip:
                skip = False
            elif word in WITH_FILE:
                skip = True
            elif word not in DROPPED and not word.startswith("-O"):
                out.append(word)
        out += [ANNOTATIONS_ON, "-O0", "-o", os.path.join(scratch, f"{number}.o")]
        yield entry["file"], entry["directory"], out


def check(job):
    source, directory, words = job
    run = subprocess.run(words, cwd=directory, capture_output=True, text=True)
    return source, run.returncode, run.stderr


def main(build_dirs):
    if not build_dirs:
        print(__doc__, file=sys.stderr)
        return 2
    scratch = tempfile.mkdtemp(prefix="quorvi-availability-")
    try:
        return check_all(build_dirs, scratch)
    finally:
        shutil.rmtree(scratch)


def check_all(build_dirs, scratch):
    jobs = [job for i, build_dir in enumerate(build_dirs)
            for job in commands(build_dir, os.path.join(scratch, str(i)))]
    for i in range(len(build_dirs)):
        os.mkdir(os.path.join(scratch, str(i)))
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
