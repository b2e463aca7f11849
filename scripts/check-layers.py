#!/usr/bin/env python3
"""Checks that includes point one way between the project's folders.

    scripts/check-layers.py [ROOT]

Each folder may include its own headers and those of the folders its row
below names, nothing else; a folder with sources but no row fails too, so
a new folder has to say where it stands. The portable folders include no
Windows header. Counting each .cpp with its .h as one unit, no include
circle is allowed anywhere. Prints every fault and exits 1, or exits 0.
"""
import os
import re
import sys

# folder: the folders (or generated headers) it may include besides itself
ALLOWED = {
    # The Windows program: the entry, the features, the shared pieces.
    "app": ["bugreport", "crash", "win32", "report_format", "res", "build_settings.h"],
    "bugreport": ["win32", "report_format", "res", "build_settings.h"],
    "crash": ["win32", "report_format", "res", "build_settings.h"],
    "win32": ["build_settings.h"],
    "res": [],
    "report_format": [],
    # The report server.
    "server": ["server/commands"],
    "server/base": [],
    "server/report": ["server/base", "report_format"],
    "server/store": ["server/base", "server/report"],
    "server/net": ["server/base"],
    "server/api": ["server/base", "server/report", "server/store", "server/net", "report_format"],
    "server/admin": ["server/base", "server/report", "server/store", "server/net", "server/crash"],
    "server/commands": ["server/base", "server/report", "server/store", "server/net", "server/api",
                        "server/admin", "server/crash", "report_format"],
    "server/minidump": [],
    "server/crash": ["server/base", "server/report", "server/store", "server/minidump"],
    "server/fuzz": ["server/report", "server/minidump", "report_format"],
}
# Built natively for the server, the sanitizers and the fuzzer.
PORTABLE = ["report_format", "server"]
SOURCE = re.compile(r"\.(c|cpp|h|hpp|rc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]', re.M)
WINDOWS_HEADER = re.compile(r"^(windows|win[a-z0-9]*|mapi|shellapi|shlobj|shlwapi|commctrl|objbase|dbghelp)\.h$", re.I)


def list_sources(root):
    for top in sorted(set(folder.split("/")[0] for folder in ALLOWED)):
        for here, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = sorted(d for d in dirs if d not in ("corpus",))
            for name in sorted(files):
                if SOURCE.search(name):
                    yield os.path.relpath(os.path.join(here, name), root)


def is_portable(folder):
    return any(folder == p or folder.startswith(p + "/") for p in PORTABLE)


def unit_of(path):
    return re.sub(r"\.(cpp|c|h|hpp)$", "", path)


def find_circle(edges):
    """One include circle between units, as a list, or None."""
    state = {}
    for start in sorted(edges):
        if state.get(start):
            continue
        stack = [(start, iter(sorted(edges[start])))]
        path = [start]
        state[start] = 1
        while stack:
            unit, following = stack[-1]
            step = next(following, None)
            if step is None:
                state[unit] = 2
                stack.pop()
                path.pop()
            elif state.get(step) == 1:
                return path[path.index(step):] + [step]
            elif not state.get(step):
                state[step] = 1
                path.append(step)
                stack.append((step, iter(sorted(edges.get(step, ())))))
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    faults = []
    edges = {}
    for path in list_sources(root):
        folder = os.path.dirname(path)
        if folder not in ALLOWED:
            faults.append(f"{path}: the folder {folder}/ has no row in scripts/check-layers.py")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            text = source.read()
        for kind, name in INCLUDE.findall(text):
            if kind == "<":
                if is_portable(folder) and WINDOWS_HEADER.match(name):
                    faults.append(f"{path}: portable code includes <{name}>")
                continue
            target = os.path.dirname(name)
            if not target and os.path.exists(os.path.join(root, folder, name)):
                target = folder  # a header beside the file
            if target == folder or (target or name) in ALLOWED[folder]:
                if target:
                    edges.setdefault(unit_of(path), set()).add(unit_of(name))
                continue
            faults.append(f'{path}: includes "{name}", but {folder}/ may include only '
                          + ", ".join([folder + "/"] + ALLOWED[folder]))
    circle = find_circle({u: {t for t in ts if t != u} for u, ts in edges.items()})
    if circle:
        faults.append("include circle: " + " -> ".join(circle))
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
