#!/usr/bin/env python3
"""The layers point one way: each folder of src/ may include only the
folders below it, and the capture device layer holds no widgets."""
import pathlib
import re
import sys

src = pathlib.Path(sys.argv[1])

below = {
    "framework": {"framework"},
    "serial": {"serial", "framework"},
    "capture": {"capture", "framework"},
    "settings": {"settings", "framework"},
}
windows = {"capture", "serial", "settings", "framework"}
for window in ("console", "archive", "playback"):
    below[window] = {window} | windows
device_files = {"CaptureDriver.h", "DriverRegistry.h", "DriverRegistry.cpp", "GstDrivers.h", "GstDrivers.cpp",
                "GstSession.h", "GstSession.cpp", "GstSupport.h", "GstSupport.cpp"}
widget_includes = re.compile(r'#include [<"](QWidget|QDialog|QtWidgets|QApplication|QMessageBox|capture/(FormatDialog|CaptureWindow|Video)\.h)')
project_include = re.compile(r'#include "(\w+)/')

faults = []
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    layer = path.relative_to(src).parts[0]
    text = path.read_text(encoding="utf-8")
    for folder in project_include.findall(text):
        if layer in below and folder not in below[layer]:
            faults.append(f"{path.relative_to(src)} includes {folder}/, a layer above it")
    if layer == "capture" and path.name in device_files and widget_includes.search(text):
        faults.append(f"{path.relative_to(src)} is device code and includes widgets")

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
