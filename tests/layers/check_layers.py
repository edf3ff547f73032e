#!/usr/bin/env python3
"""Reads every #include "..." under src/ and checks the layering:
 - a file finds each quoted header in its own folder, its own layer or a
   layer beneath it, never only in a layer above;
 - the folders (src/LAYER/SUB) include one another without a cycle.
Prints each fault and exits 1 on any; prints the folder graph otherwise."""
import os
import re
import sys

LAYERS = ["engine", "core", "instrument", "gui"]
GENERATED = {"app/AboutText.h"}  # made in the build tree by src/gui
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main(root):
    src = os.path.join(root, "src")
    faults = []
    edges = {}
    for rank, layer in enumerate(LAYERS):
        base = os.path.join(src, layer)
        for folder, _, files in os.walk(base):
            for name in files:
                if not name.endswith((".h", ".cpp", ".in")):
                    continue
                path = os.path.join(folder, name)
                here = os.path.relpath(folder, src)
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                for header in INCLUDE.findall(text):
                    if header in GENERATED:
                        continue
                    if os.path.exists(os.path.join(folder, header)):
                        target = os.path.normpath(os.path.join(folder, header))
                    else:
                        found = [l for l in LAYERS[: rank + 1] if os.path.exists(os.path.join(src, l, header))]
                        if not found:
                            above = [l for l in LAYERS[rank + 1:] if os.path.exists(os.path.join(src, l, header))]
                            why = f"a header of {above[0]}, a layer above {layer}" if above else "found in no layer"
                            faults.append(f"{os.path.relpath(path, root)}: includes \"{header}\": {why}")
                            continue
                        # The compiler searches the own layer first, then the
                        # ones beneath, as the link order gives them.
                        target = os.path.join(src, found[-1] if layer not in found else layer, header)
                    there = os.path.relpath(os.path.dirname(target), src)
                    if there.startswith(".."):
                        continue  # data from outside the layers (the pictures in resources/)
                    if there != here:
                        edges.setdefault(here, set()).add(there)
    # Cycles between folders: a depth-first walk that meets a folder still on
    # its path.
    state = {}
    stack = []

    def walk(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                cycle = stack[stack.index(nxt):] + [nxt]
                faults.append("folders include one another: " + " -> ".join(cycle))
            elif nxt not in state:
                walk(nxt)
        stack.pop()
        state[node] = "done"

    for node in sorted(edges):
        if node not in state:
            walk(node)
    for fault in faults:
        print(fault)
    if faults:
        return 1
    for node in sorted(edges):
        print(f"{node} -> {', '.join(sorted(edges[node]))}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")))
