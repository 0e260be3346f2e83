#!/usr/bin/env python3
"""A recording the Windows build wrote under Wine, as ffprobe reads it:
Motion-JPEG at 10 frames a second, every one of the ten its index lists
decoded; and, where the machine had a sound input, a stream of 8-bit mono
sound at 11025 Hz beside it (the test machine has none).

usage: probe_recording.py FILE.avi
"""
import json
import subprocess
import sys


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
    sys.exit(main(sys.argv[1]))
