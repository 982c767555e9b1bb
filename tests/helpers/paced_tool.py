#!/usr/bin/env python3
"""Stands in for the archive tool with its pace under the test's control.

    paced_tool.py TOOL SECONDS [ARGS...]

Runs TOOL with ARGS to its end, then prints what it printed with its progress
spread evenly over SECONDS: each percentage goes out on its own, the first at
once and the last SECONDS later, however fast the machine ran the tool. Standard
error passes through; the exit code is the tool's.
"""
import re
import subprocess
import sys
import time

tool, seconds, arguments = sys.argv[1], float(sys.argv[2]), sys.argv[3:]
run = subprocess.run([tool] + arguments, stdout=subprocess.PIPE, check=False)
# Each piece but the last ends right after one percentage.
pieces = re.split(rb"(?<=\d%)", run.stdout)
paced = sum(1 for piece in pieces if piece.endswith(b"%"))
pause = seconds / (paced - 1) if paced > 1 else 0
out = sys.stdout.buffer
for index, piece in enumerate(pieces):
    out.write(piece)
    out.flush()
    if piece.endswith(b"%") and index + 1 < paced:
        time.sleep(pause)
sys.exit(run.returncode)
