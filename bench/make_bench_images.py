#!/usr/bin/python3
"""Writes a 3840x2160 PNG (RGBA) and JPEG (quality 90) of a busy picture into
the folder given, and prints Pillow's own decode speed for both."""
import os
import sys
import time

from PIL import Image, ImageDraw

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
png, jpg = os.path.join(out, "bench_4k.png"), os.path.join(out, "bench_4k.jpg")
if not (os.path.exists(png) and os.path.exists(jpg)):
    image = Image.radial_gradient("L").resize((3840, 2160))
    rgb = Image.merge("RGB", (image, image.rotate(90, expand=False), image.transpose(Image.FLIP_LEFT_RIGHT)))
    draw = ImageDraw.Draw(rgb)
    for i in range(0, 3840, 37):
        draw.line((i, 0, 3840 - i, 2160), fill=(i % 256, (i * 7) % 256, (i * 3) % 256), width=3)
    rgb.putalpha(200)
    rgb.save(png)
    rgb.convert("RGB").save(jpg, quality=90)
for name in (png, jpg):
    runs = 5
    start = time.perf_counter()
    for _ in range(runs):
        with Image.open(name) as im:
            im.convert("RGBA").load()
    seconds = (time.perf_counter() - start) / runs
    print("Pillow %s: %.1f MP/s" % (os.path.basename(name), 3840 * 2160 / seconds / 1e6))
