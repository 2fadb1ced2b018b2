#!/usr/bin/env python3
"""The README's layer diagram as data: every quoted #include of a product file must name a
header of its own layer or of a layer its arrows lead to (directly or further on). A test
of a layer (LAYER/tests/) may also use the shared test helpers (tests/support). Prints each
include that crosses the diagram, and fails."""
import os
import re
import sys

# Each layer and the layers it uses directly, as the README's diagram draws them.
USES = {
    "platform/support": [],
    "platform/ldap": ["platform/support"],
    "model": ["platform/support"],
    "store/files": ["model"],
    "store/directory": ["model", "platform/ldap"],
    "store": ["store/directory", "store/files"],
    "directoryui": ["store", "widgets"],
    "widgets": ["platform/support"],
    "editor": ["directoryui"],
    "wizard": ["directoryui"],
    "app": ["editor", "wizard"],
    "tools/config": ["store"],
    "tools/screenshots": ["app", "tests/support"],
    # Beside the product: the test helpers, fuzz targets and benchmarks may use any layer.
    "tests/support": ["app"],
    "fuzz": ["app"],
    "bench": ["app", "tests/support"],
}

# Layers that link none of the libraries below them: their product files may include only
# these header-only files from other layers (the model links the standard library only).
HEADERS_ONLY = {
    "model": {"platform/support/outcome.h", "platform/support/messageids.h"},
}


def closure(layer, seen=None):
    seen = set() if seen is None else seen
    for used in USES[layer]:
        if used not in seen:
            seen.add(used)
            closure(used, seen)
    return seen


def layer_of(path):
    best = None
    for layer in USES:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def main():
    root = sys.argv[1]
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    bad = 0
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
        for name in files:
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.normpath(os.path.join(rel, name))
            own = layer_of(path)
            if own is None:
                continue
            allowed = closure(own) | {own}
            if "/tests/" in "/" + path and own != "tests/support":
                allowed |= {"tests/support"} | closure("tests/support")
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = include.match(line)
                    if not m or m.group(1).endswith(".moc"):
                        continue
                    target = layer_of(m.group(1))
                    if target is not None and target not in allowed:
                        print(f"{path}:{number}: {own} may not use {target} ({m.group(1)})")
                        bad = 1
                    elif (own in HEADERS_ONLY and "/tests/" not in "/" + path
                          and target not in (None, own)
                          and m.group(1) not in HEADERS_ONLY[own]):
                        print(f"{path}:{number}: {own} links no other layer and may include "
                              f"only {sorted(HEADERS_ONLY[own])} ({m.group(1)})")
                        bad = 1
    return bad


if __name__ == "__main__":
    sys.exit(main())
