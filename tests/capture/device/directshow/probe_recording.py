#!/usr/bin/env python3
"""A recording the Windows build wrote under Wine, as ffprobe reads it:
Motion-JPEG at 10 frames a second, every one of the ten its index lists
decoded; and, where the machine had a sound input, a stream of 8-bit mono
sound at 11025 Hz beside it (the test machine has none).

With --long, a recording past 2 GB: RIFF parts ("AVI " then "AVIX") that
ffprobe reads through to the last second's frames, which are red; the file is removed
after, for the disk's sake.

usage: probe_recording.py FILE.avi
       probe_recording.py --long FILE.avi
"""
import json
import os
import struct
import subprocess
import sys


def riff_parts(path):
    """The form types of the file's top-level RIFF chunks, walked by their sizes."""
    forms, offset, size = [], 0, os.path.getsize(path)
    with open(path, "rb") as f:
        while offset + 12 <= size:
            f.seek(offset)
            tag, length, form = struct.unpack("<4sI4s", f.read(12))
            if tag != b"RIFF":
                break
            forms.append(form.decode("latin-1"))
            offset += 8 + length + (length & 1)
    return forms, offset == size


def probe_long(path):
    forms, whole = riff_parts(path)
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v", "-show_entries",
                            "stream=nb_frames,nb_read_packets", "-of", "json", path], capture_output=True, text=True)
    video = json.loads(probe.stdout or "{}").get("streams", [{}])[0]
    last = subprocess.run(["ffmpeg", "-v", "error", "-sseof", "-0.5", "-i", path,
                           "-vf", "scale=8:8", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], capture_output=True).stdout
    pixels = [last[-24 + i:][:3] for i in range(0, 24, 3)]
    checks = [
        (f"past 2 GB ({os.path.getsize(path)} bytes)", os.path.getsize(path) > 2 ** 31),
        (f"RIFF parts {forms}, their sizes covering the file", len(forms) >= 3 and forms[0] == "AVI "
         and set(forms[1:]) == {"AVIX"} and whole),
        (f"ffprobe reads every packet its index lists ({video})", int(video.get("nb_read_packets", 0)) > 500
         and video.get("nb_read_packets") == video.get("nb_frames")),
        ("the last frame decodes red", len(last) >= 24 and all(p[0] > 200 and p[1] < 60 and p[2] < 60 for p in pixels)),
    ]
    for what, ok in checks:
        print(("ok   " if ok else "FAIL ") + what)
    os.remove(path)
    return 0 if all(ok for _, ok in checks) else 1


def main(path):
    probe = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json", path],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        print("ffprobe cannot read", path, probe.stderr)
        return 1
    streams = {s["codec_type"]: s for s in json.loads(probe.stdout)["streams"]}
    video, sound = streams.get("video", {}), streams.get("audio", {})
    checks = [
        ("Motion-JPEG, 320 x 240", (video.get("codec_name"), video.get("width"), video.get("height")) == ("mjpeg", 320, 240)),
        ("10 frames a second", video.get("r_frame_rate") == "10/1"),
        ("every one of the 10 frames the index lists decoded",
         video.get("nb_frames") == "10" and video.get("nb_read_frames") == "10"),
        ("its sound, if any, 8-bit mono at 11025 Hz", not sound or (sound.get("codec_name"), sound.get("channels"),
                                                                  sound.get("sample_rate")) == ("pcm_u8", 1, "11025")),
    ]
    for what, ok in checks:
        print(("ok   " if ok else "FAIL ") + what)
    if not all(ok for _, ok in checks):
        print(json.dumps(streams, indent=1))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(probe_long(sys.argv[2]) if sys.argv[1] == "--long" else main(sys.argv[1]))
