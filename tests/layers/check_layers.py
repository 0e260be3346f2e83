#!/usr/bin/env python3
"""The layers point one way.

- Each folder of src/ includes only itself and the folders below it; inside
  capture/ the component and its service sit above the device layer
  (capture/device/), which sits above the virtual site's scene
  (capture/site/). The device layer's back-ends have rooms of their own
  (gstreamer/, directshow/, painted/) above its shared sessions and
  recorder; one back-end does not reach into another's room, except that
  Windows' driver list offers the painted test pattern. The media helpers (media/: GStreamer's, DirectShow's)
  sit below both capture and playback.
- Window folders include no device code, and device code holds no widgets.
- No two units (a .h with its .cpp) include each other, directly or round
  a longer circle.
"""
import pathlib
import re
import sys

src = pathlib.Path(sys.argv[1])

BASE = {"framework"}
below = {
    "framework": BASE,
    "media": BASE | {"media"},
    "serial": BASE | {"serial"},
    "matrix": BASE | {"serial", "matrix"},
    "capture/site": BASE | {"media", "capture/site"},
    "capture/device": BASE | {"media", "capture/site", "capture/device"},
    "capture/device/gstreamer": BASE | {"media", "capture/site", "capture/device", "capture/device/gstreamer"},
    "capture/device/painted": BASE | {"media", "capture/site", "capture/device", "capture/device/painted"},
    "capture/device/directshow": BASE | {"media", "capture/site", "capture/device", "capture/device/painted",
                                         "capture/device/directshow"},
    "capture": BASE | {"media", "capture/site", "capture/device", "capture"},
    "settings": BASE | {"settings"},
    "console": BASE | {"capture", "serial", "matrix", "settings", "console"},
    "archive": BASE | {"capture", "settings", "archive"},
    "playback": BASE | {"media", "playback"},
}
windows = {"console", "archive", "playback", "settings"}
device = {"capture/device", "capture/device/gstreamer", "capture/device/directshow", "capture/device/painted",
          "capture/site", "media"}
# Device code may live beside the windows that use it (the player).
device_files = {"playback/Player.h", "playback/Player.cpp", "playback/PlayerWindows.cpp", "playback/PlayerMoves.cpp",
                "playback/SoundOutput.h", "playback/SoundOutput.cpp"}

widget_includes = re.compile(r'#include [<"](QWidget|QDialog|QtWidgets|QApplication|QMessageBox|QLabel|QPushButton)')
project_include = re.compile(r'#include "([\w/]+)\.h"')


def layer_of(relative):
    folder = relative.parent.as_posix()
    while folder not in below and "/" in folder:
        folder = folder.rsplit("/", 1)[0]
    return folder


def layer_of_include(name):
    return layer_of(pathlib.PurePosixPath(name + ".h"))


faults = []
units = {}  # unit -> units it includes
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    relative = path.relative_to(src)
    layer = layer_of(relative)
    text = path.read_text(encoding="utf-8")
    unit = relative.with_suffix("").as_posix()
    edges = units.setdefault(unit, set())
    for name in project_include.findall(text):
        if not (src / (name + ".h")).exists():
            continue
        target = layer_of_include(name)
        if name != unit:
            edges.add(name)
        if layer in below and target not in below[layer]:
            faults.append(f"{relative} includes {name}.h: {target}/ is not below {layer}/")
        if layer in windows and target in device and relative.as_posix() not in device_files:
            faults.append(f"{relative} is a window's and includes device code {name}.h")
    is_device = layer in device or relative.as_posix() in device_files
    if is_device and widget_includes.search(text):
        faults.append(f"{relative} is device code and includes widgets")


def circles():
    """Each circle of units, once, by depth-first search."""
    state, stack, found = {}, [], []

    def visit(unit):
        state[unit] = "open"
        stack.append(unit)
        for nxt in sorted(units.get(unit, ())):
            if state.get(nxt) == "open":
                found.append(stack[stack.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[unit] = "done"

    for unit in sorted(units):
        if unit not in state:
            visit(unit)
    return found


for circle in circles():
    faults.append("a circle of includes: " + " -> ".join(circle))

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
