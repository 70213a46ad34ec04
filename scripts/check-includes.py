#!/usr/bin/env python3
"""Checks the include directions of the library and the program; exits 1 on a wrong arrow.

Layers, lowest first: sys <- rtl <- platform <- core <- socket, xml <- web <- design. A unit
may include its own folder and any lower layer; folders of one rank (siblings) never include
each other, and web never includes socket: a web component reaches a socket component only
through the design layer's palette, which may include every library layer. Only sys includes C, POSIX or third-party C headers (an angle include ending in
".h"); no installed header (anything outside sys) and nothing outside the library includes sys.
No installed header includes one listed in qninet/internal-headers.txt, and the umbrella
qninet/qninet.h includes every installed header.
"""
import pathlib
import re
import sys

RANK = {"sys": 0, "rtl": 1, "platform": 2, "core": 3, "socket": 4, "xml": 4, "web": 5, "design": 6}
# Arrows the ranks allow but the layers keep out: the palette, which names both families, sits
# in design, so web has no reason to reach into socket.
FORBIDDEN = {("web", "socket"): "web never includes socket (registration lives in design)"}
# Header-only C++ libraries that hold no system access.
ALLOWED_ANGLE = {"nlohmann/json.hpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)

root = pathlib.Path(__file__).resolve().parent.parent
errors = []
checked = 0
INTERNAL = {
    line.strip()
    for line in (root / "qninet/internal-headers.txt").read_text(encoding="utf-8").splitlines()
    if line.strip() and not line.startswith("#")
}
installed = set()


def fail(path, target, why):
    errors.append(f"{path.relative_to(root)}: includes {target}: {why}")


for path in sorted((root / "qninet").rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    layer = path.relative_to(root / "qninet").parts[0]
    if layer not in RANK:  # backends beside the library (gui/qt) depend on it, never the reverse
        continue
    checked += 1
    unit = path.relative_to(root / "qninet").as_posix()
    public = path.suffix == ".h" and layer != "sys" and unit not in INTERNAL
    if public:
        installed.add(unit)
    for kind, target in INCLUDE.findall(path.read_text(encoding="utf-8")):
        if kind == '"' and public and target.removeprefix("qninet/") in INTERNAL:
            fail(path, target, "an installed header must not include one that is not installed")
        if kind == "<":
            if layer != "sys" and (target.endswith(".h") or "/" in target) and target not in ALLOWED_ANGLE:
                fail(path, f"<{target}>", "only qninet/sys includes system and third-party headers")
            continue
        if not target.startswith("qninet/") or target == "qninet/Export.h":
            continue
        other = target.split("/")[1]
        if other not in RANK:
            fail(path, target, "no such layer")
        elif other == "sys" and path.suffix == ".h" and layer != "sys":
            fail(path, target, "an installed header must not expose the system layer")
        elif other != layer and RANK[other] >= RANK[layer]:
            fail(path, target, f"{layer} may not depend on {other}")
        elif (layer, other) in FORBIDDEN:
            fail(path, target, FORBIDDEN[(layer, other)])

umbrella = root / "qninet/qninet.h"
included = {t.removeprefix("qninet/") for k, t in INCLUDE.findall(umbrella.read_text(encoding="utf-8"))}
for unit in sorted(installed - included):
    fail(umbrella, f"qninet/{unit}", "the umbrella misses this installed header")
for unit in sorted(included - installed):
    fail(umbrella, f"qninet/{unit}", "the umbrella includes a header that is not installed")

for folder in ("tools",):
    for path in sorted((root / folder).rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        checked += 1
        for kind, target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if kind == '"' and target.startswith("qninet/sys/"):
                fail(path, target, "the program uses the exported library only")

for line in errors:
    print(f"includes: {line}", file=sys.stderr)
print(f"includes: {checked} files checked, {len(errors)} wrong")
sys.exit(1 if errors else 0)
