#!/usr/bin/env python3
"""Checks a take recorded from the Test Camera and Test Microphone (ppm 0): every picture
follows the one before by 1/30 s, and each white flash has its click within 2 ms.
Usage: check-recording.py TAKE.mov"""
import array, json, subprocess, sys

movie = sys.argv[1]
probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                        "packet=pts_time", "-of", "json", movie], capture_output=True, check=True)
times = sorted(float(p["pts_time"]) for p in json.loads(probe.stdout)["packets"])
steps = [b - a for a, b in zip(times, times[1:])]
print(f"pictures {len(times)}, step min {min(steps)*1000:.3f} ms, max {max(steps)*1000:.3f} ms")

# Mean luma of each picture, small, in presentation order.
raw = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-map", "0:v:0", "-vf",
                      "scale=16:9,format=gray", "-fps_mode", "passthrough", "-f", "rawvideo", "-"],
                     capture_output=True, check=True).stdout
luma = [sum(raw[i:i + 144]) / 144 for i in range(0, len(raw), 144)]
flashes = [times[i] for i in range(min(len(times), len(luma))) if luma[i] > 220]

pcm = subprocess.run(["ffmpeg", "-v", "error", "-i", movie, "-map", "0:a:0", "-af", "pan=mono|c0=c0",
                      "-f", "f32le", "-"], capture_output=True, check=True).stdout
sound = array.array("f", pcm)
loud = [i for i, x in enumerate(sound) if abs(x) > 0.5]
clicks = [loud[0]] + [b for a, b in zip(loud, loud[1:]) if b - a > 4800] if len(loud) else []
clicks = [c / 48000 for c in clicks]
worst = 0.0
for f in flashes:
    near = min(clicks, key=lambda c: abs(c - f))
    worst = max(worst, abs(near - f))
    print(f"flash {f:8.4f}  click {near:8.4f}  apart {(near - f) * 1000:+.3f} ms")
print(f"flashes {len(flashes)}, worst {worst*1000:.3f} ms")
