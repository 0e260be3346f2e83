#!/usr/bin/env python3
"""Makes the player tests' recordings and pictures (media.txt) in OUTDIR,
for the tests that run under Wine, which cannot wait for a Linux ffmpeg.

usage: media.py OUTDIR
"""
import shlex
import subprocess
import sys
from pathlib import Path


def entries():
    for line in (Path(__file__).with_name("media.txt")).read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            kind, name, *args = shlex.split(line, posix=False)
            yield kind, name, args


def main(outdir):
    out = Path(outdir)
    out.mkdir(parents=True, exist_ok=True)
    listed = list(entries())
    inputs = next(args for kind, _, args in listed if kind == "input")
    for kind, name, args in listed:
        if kind != "input":
            subprocess.run(["ffmpeg", "-v", "error", "-y", *inputs, *args, "-shortest", str(out / name)], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
