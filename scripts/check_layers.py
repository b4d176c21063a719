#!/usr/bin/env python3
"""Refuses an #include "..." that reaches up or sideways between the layers.

Every quoted include in the source folders is checked against the table below: a file in
folder X may include headers of X and of the folders X lists, nothing else. tests/X and
bench/ follow the folder they test; tests may also include anything under tests/ (the
shared fakes and helpers). One line per fault, exit status 1 when there is one.

  scripts/check_layers.py          check the tree this script belongs to
  scripts/check_layers.py --why    also print, per layer, the layers it really includes
"""
import os
import re
import sys

# Lowest layers first. A layer may include itself and what it lists (the table is written
# out in full rather than derived, so that a new edge is a visible change here).
CORE = ["common", "engine", "guard", "guardlist"]
ALLOWED = {
    "common": [],
    "engine": ["common"],
    "guard": ["engine", "common"],
    "guardlist": ["guard", "engine", "common"],
    "cli": ["guardlist", "guard", "engine", "common"],
    # The Qt framework below every pane: plain Qt plus the standard library underneath.
    "framework": ["common"],
    "guard/ui": ["framework", "guard", "engine", "common"],
    "explorer": ["guard/ui", "framework", "guard", "engine", "common"],
    "guardlist/ui": ["guard/ui", "framework", "guardlist", "guard", "engine", "common"],
    "app": ["explorer", "guardlist/ui", "guard/ui", "framework", "guardlist", "guard", "engine",
            "common"],
}
# Folders that are not layers but hold code: what they may reach.
ALLOWED["bench"] = sorted(set(ALLOWED["app"]) | {"app"})
ALLOWED["tests/fuzz"] = CORE

SUFFIXES = (".cpp", ".h", ".cc", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(rel):
    """The layer a path under the source root belongs to (longest folder match), or None."""
    best = None
    for name in ALLOWED:
        if rel == name or rel.startswith(name + "/"):
            if best is None or len(name) > len(best):
                best = name
    return best


def rules_for(rel):
    """(layer name used in messages, allowed layers) for a source file, or None."""
    if rel.startswith("tests/") and not rel.startswith("tests/fuzz/"):
        # tests/X tests X and the layers inside it (tests/guardlist: guardlist/ui too).
        mirrored = layer_of(rel[len("tests/"):])
        if mirrored is None:
            return None
        allowed = set()
        for name in ALLOWED:
            if name == mirrored or name.startswith(mirrored + "/"):
                allowed |= {name, *ALLOWED[name]}
        return "tests/" + mirrored, sorted(allowed)
    layer = layer_of(rel)
    if layer is None:
        return None
    return layer, [layer] + ALLOWED[layer]


def check(root):
    faults = []
    used = {}
    for top in sorted(set(n.split("/")[0] for n in ALLOWED) | {"tests"}):
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root)
                rules = rules_for(rel)
                if rules is None:
                    faults.append(f"{rel}: the folder is in no layer of scripts/check_layers.py")
                    continue
                layer, allowed = rules
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = match.group(1)
                        fault = judge(root, rel, layer, allowed, target, used)
                        if fault:
                            faults.append(f"{rel}:{number}: {fault}")
    return faults, used


def judge(root, rel, layer, allowed, target, used):
    here = os.path.dirname(rel)
    if "/" not in target:
        # A header beside the file, moc output, or (tests only) a shared test helper.
        if target.endswith(".moc") or os.path.exists(os.path.join(root, here, target)):
            return None
        if rel.startswith("tests/") and any(
                os.path.exists(os.path.join(f, target))
                for f, _, _ in os.walk(os.path.join(root, "tests"))):
            return None
        return f'"{target}" is neither beside the file nor a test helper'
    if target.startswith("tests/"):
        return None if rel.startswith("tests/") else f'"{target}": only tests include tests/'
    to = layer_of(target)
    if to is None:
        return f'"{target}" is in no layer'
    used.setdefault(layer, set()).add(to)
    if to in allowed:
        return None
    direction = "upward" if layer_of(to) and layer in ALLOWED.get(to, []) else "sideways"
    if layer.startswith("tests/"):
        direction = "outside the layer it tests"
    return f'{layer} includes "{target}" ({to}): {direction}; allowed: {", ".join(allowed)}'


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults, used = check(root)
    for fault in faults:
        print(fault)
    if "--why" in sys.argv[1:]:
        for layer in sorted(used):
            print(f"{layer}: {', '.join(sorted(used[layer] - {layer}))}")
    if faults:
        print(f"check_layers: {len(faults)} include(s) break the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
