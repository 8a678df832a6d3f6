#!/usr/bin/env python3
"""Checks that the program's folders include each other in one direction only.

Every folder of the program has a level; a file may include files of its own
folder and of folders on lower levels, never of a folder on its own level or
above. Tools and tests may include anything. Prints each breach and exits 1.
"""
import os
import re
import sys

# Lower levels first. A folder not listed here is reported, so that a new
# subsystem gets its place in the order when it is added.
LEVELS = [
    ["frame", "resources", "third_party"],
    ["ui/skin"],
    ["core"],
    ["catalog"],
    ["transfer", "tasks"],
    ["host"],
    ["install/cab"],
    ["install"],
    ["removal"],
    ["browser", "selection"],
    ["uninstall"],
    ["app"],
]
FREE = ("tools", "tests", "cmake", "scripts", "docs", "build")


def level_of(folder):
    for number, names in enumerate(LEVELS):
        if folder in names:
            return number
    return None


def main(root):
    breaches = []
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
    for directory, subdirs, files in os.walk(root):
        relative = os.path.relpath(directory, root).replace(os.sep, "/")
        subdirs[:] = [d for d in subdirs if not d.startswith(".")]
        if relative == "." or relative.split("/")[0] in FREE:
            continue
        sources = [f for f in files if f.endswith((".cpp", ".h", ".c", ".rc"))]
        if not sources or relative.startswith("third_party"):
            continue
        own = level_of(relative)
        if own is None:
            breaches.append(f"{relative}/: folder has no level in tools/layers/check-layers.py")
            continue
        for name in sources:
            with open(os.path.join(directory, name), encoding="latin-1") as text:
                for target in include.findall(text.read()):
                    folder = os.path.dirname(target)
                    if not folder or folder == relative:
                        continue
                    other = level_of(folder)
                    if other is None or other >= own:
                        breaches.append(f"{relative}/{name} includes {target}")
    for line in breaches:
        print("check-layers:", line)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
