#!/usr/bin/env python3
"""Fails when the stub's code could step over the guard page below its stack.

Windows commits a thread's stack one page at a time: touching the guard page below the
committed part commits the next one. A function that moves the stack pointer down by a
page or more at once, without touching each page on the way (stack probes), faults on
the first write far below. The 32-bit stub is built without probes, so every frame must
stay under a page; the 64-bit one has them, but a probe is only ever emitted for a frame
that large, so the same rule holds both images to the same code. Wine commits whole
stacks and would never show the fault.

The check reads the linked image's code, not the compiler's estimates, so nothing the
link does (inlining across files) escapes it. Refused:
 - an immediate move down of a page or more (`sub $N`, `add $-N`, `lea -N(sp)`);
 - a move down by a register (`sub reg`, `add reg`): a size the code computes, as
   alloca or a probe loop make.
Restoring a saved stack pointer (`mov reg, sp`, `lea N(reg), sp`) only moves it back up.

usage: stack_frames.py OBJDUMP IMAGE
"""
import re
import subprocess
import sys

PAGE = 4096
INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(\w+)\s+(.*?)\s*(?:#.*)?$")


def immediate(text, bits):
    value = int(text, 16)
    return value - (1 << bits) if value >> (bits - 1) else value  # two's complement


def main(objdump, image):
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", image], check=True, capture_output=True,
                             text=True).stdout
    problems, deepest = [], 0
    for line in listing.splitlines():
        match = INSTRUCTION.match(line)
        if not match:
            continue
        address, mnemonic, operands = match.groups()
        sp = re.search(r",%([re]sp)$", operands)
        if not sp:
            continue
        bits = 64 if sp.group(1) == "rsp" else 32
        source = operands[:sp.start()]
        down = 0
        if mnemonic in ("sub", "add") and source.startswith("$"):
            down = immediate(source[3:], bits) * (1 if mnemonic == "sub" else -1)
        elif mnemonic in ("sub", "add") and source.startswith("%"):
            problems.append(f"{address}: {mnemonic} {operands}: moves the stack pointer by a register")
        elif mnemonic == "lea" and source.endswith(f"(%{sp.group(1)})"):
            down = -int(source.split("(")[0] or "0", 16)
        deepest = max(deepest, down)
        if down >= PAGE:
            problems.append(f"{address}: {mnemonic} {operands}: a frame of {down} bytes, a page or more")
    for problem in problems:
        print(f"{image}: {problem}", file=sys.stderr)
    if problems:
        sys.exit(f"{image}: stack frames must stay under {PAGE} bytes")
    print(f"{image}: largest stack frame {deepest} bytes (under {PAGE})")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
