#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fails when a file of src/ includes a folder above its own, or its folder's rules form a cycle.

Usage: check_includes.py SRC_DIR
"""
import pathlib
import re
import sys

# Which folders a folder's files may include besides its own. Keep docs/architecture.md in step.
ALLOWED = {
    "platform": set(),
    "mixer": {"platform"},
    "net": {"platform"},
    "threads": {"platform"},
    "settings": {"platform"},
    "ctl": {"platform"},
    "directory": {"platform"},
    "audio": {"platform", "net"},
    "web": {"platform", "net"},
    "station": {"platform", "mixer", "net", "threads", "settings", "audio", "web"},
    "status": {"platform", "net", "audio", "station"},
    "ui": {"platform", "station"},
    "app": {"platform", "mixer", "net", "threads", "settings", "audio", "station", "status", "ui"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def cycle(rules):
    """A cycle among the rules themselves, or None."""
    state = {}

    def visit(folder, path):
        state[folder] = "open"
        for used in sorted(rules.get(folder, ())):
            if state.get(used) == "open":
                return path + [used]
            if used not in state:
                found = visit(used, path + [used])
                if found:
                    return found
        state[folder] = "done"
        return None

    for folder in sorted(rules):
        if folder not in state:
            found = visit(folder, [folder])
            if found:
                return found
    return None


def main(src):
    src = pathlib.Path(src).resolve()
    problems = []
    loop = cycle(ALLOWED)
    if loop:
        problems.append("the folder rules form a cycle: " + " -> ".join(loop))
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in ALLOWED:
            problems.append(f"{path.relative_to(src)}: folder {folder} has no rule here")
            continue
        for name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            # Relative to the file first, as the compiler looks, then from src/.
            target = (path.parent / name).resolve()
            if not target.exists():
                target = (src / name).resolve()
            if not target.exists() or src not in target.parents:
                continue  # not one of ours (a generated or system header)
            used = target.relative_to(src).parts[0]
            if used != folder and used not in ALLOWED[folder]:
                problems.append(f"{path.relative_to(src)}: includes {name} ({folder} may not use {used})")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
