#!/usr/bin/env python3
"""Derives the stub's linker script from the linker's default one (read from `ld --verbose`
on stdin): read-only data joins the import tables in .idata, so the image does not spend a
512-byte file block on a separate .rdata section. (The import tables keep their own output
section: the linker fills the import directory only for a section of that name.) The
import lookup tables go last, where pe_compact.py can cut them off: the loader reads the
names from the import address table itself. The constructor lists are left out, and so
are the import libraries' references from each function to its library's descriptor."""
import re
import sys


def cut_block(script, name):
    match = re.search(r"\n  \." + name + r" BLOCK\(__section_alignment__\) :\n  \{\n(.*?)\n  \}\n", script, re.S)
    if not match:
        sys.exit("unexpected default linker script: no ." + name + " section")
    return script.replace(match.group(0), "\n", 1), match.group(1)


script = sys.stdin.read().split("==================================================")[1]
script, rdata = cut_block(script, "rdata")
# The constructor and destructor lists: the stub has neither, nothing walks them, and
# their markers would take 16 bytes.
lists = re.search(r"\n */\* Note: we always define __CTOR_LIST__.*?SORT_BY_NAME\(\.dtors\.\*\)\)\);\n *LONG \(0\);( LONG \(0\);)?", script, re.S)
if not lists:
    sys.exit("unexpected default linker script: no constructor lists")
script = script.replace(lists.group(0), "", 1)
# Each function of an import library (member ...s01234.o) holds a 4-byte .idata$7 entry
# that only pulls its library's descriptor into the link; the library's name, which the
# descriptor does need, is the .idata$7 of its last member (...t.o). Members are chosen
# before sections are placed, so dropping the entries loses nothing but 4 bytes an import.
discard = "  /DISCARD/ :\n  {\n"
if discard not in script:
    sys.exit("unexpected default linker script: no /DISCARD/ section")
script = script.replace(discard, discard + "    *s[0-9][0-9][0-9][0-9][0-9].o(.idata$7)\n", 1)
anchor = "    KEEP (SORT(*)(.idata$7))\n"
lookup = "    KEEP (SORT(*)(.idata$4))\n"
if anchor not in script or lookup not in script:
    sys.exit("unexpected default linker script: no .idata$4 or .idata$7 inputs")
script = script.replace(lookup, "", 1)
script = script.replace(anchor, anchor + "    . = ALIGN(4);\n" + rdata + "\n    . = ALIGN(4);\n" + lookup, 1)
sys.stdout.write(script)
