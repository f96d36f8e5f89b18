"""Generates the corpus of hostile and unusual inputs (nothing is downloaded).

    python3 tests/hostile/make_corpus.py OUTDIR

Writes the files and OUTDIR/expected.json: for each file name (hex of its bytes,
since some names are not UTF-8) the outcome the import run must give:
"ok", "undecodable" or "unreadable".
"""
import io
import json
import os
import struct
import subprocess
import sys
import zlib

import cv2
import numpy as np
from PIL import Image

rng = np.random.default_rng(20261206)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_file(width, height, idat):
    """A PNG signature and header declaring width x height grey pixels, with the given compressed data."""
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", idat) + png_chunk(b"IEND", b"")


def png_bomb(side):
    """side x side grey zeros: a few hundred KB that decode to side^2 bytes."""
    comp = zlib.compressobj(9)
    return png_file(side, side, b"".join(comp.compress(b"\0" * (side + 1)) for _ in range(side)) + comp.flush())


def encoded(ext, img, params=()):
    ok, buf = cv2.imencode(ext, img, list(params))
    assert ok, ext
    return buf.tobytes()


def pil_bytes(image, fmt, **kw):
    out = io.BytesIO()
    image.save(out, fmt, **kw)
    return out.getvalue()


def libjpeg_outcome(data):
    """What the reference decoder (libjpeg-turbo's djpeg) says of a JPEG: a picture only
    when it decodes without any warning; a warning or an error means it is damaged."""
    run = subprocess.run(["djpeg", "-outfile", os.devnull], input=data, capture_output=True)
    return "ok" if run.returncode == 0 else "undecodable"


def chest_like(w, h):
    small = rng.normal(110, 45, (6, 6)).clip(0, 255).astype(np.uint8)
    return cv2.resize(small, (w, h), interpolation=cv2.INTER_CUBIC)


def main(out):
    os.makedirs(out, exist_ok=True)
    expected = {}

    def put(name, data, outcome):
        name = name if isinstance(name, bytes) else name.encode()
        with open(os.path.join(os.fsencode(out), name), "wb") as f:
            f.write(data)
        expected[name.hex()] = outcome

    grey = chest_like(320, 240)
    jpeg, png = encoded(".jpg", grey), encoded(".png", grey)
    put("empty.png", b"", "undecodable")
    put("text-named.png", b"This is a text file, not a picture.\n" * 20, "undecodable")
    put("random.jpg", rng.integers(0, 256, 4096, dtype=np.uint8).tobytes(), "undecodable")
    put("random-with-png-magic.png", b"\x89PNG\r\n\x1a\n" + rng.integers(0, 256, 4096, dtype=np.uint8).tobytes(),
        "undecodable")
    put("truncated-header.jpg", jpeg[:40], "undecodable")
    # Cut short: libjpeg only warns, and the rows never decoded would be uninitialised memory.
    put("truncated-half.jpg", jpeg[: len(jpeg) // 2], "undecodable")
    put("truncated-1000.jpg", encoded(".jpg", chest_like(1600, 1200))[:1000], "undecodable")
    put("truncated-half.png", png[: len(png) // 2], "undecodable")
    for i in range(8):
        for name, data in (("jpg", jpeg), ("png", png)):
            flipped = bytearray(data)
            for _ in range(1 + i * 3):
                at = int(rng.integers(0, len(flipped)))
                flipped[at] ^= 1 << int(rng.integers(0, 8))
            # Every PNG chunk carries a CRC; a JPEG's damage shows only where libjpeg notices it.
            put(f"bitflip-{i}.{name}", bytes(flipped), libjpeg_outcome(bytes(flipped)) if name == "jpg" else "undecodable")
    tiny = zlib.compress(b"\0" * 64, 9)
    put("declares-40000x40000.png", png_file(40000, 40000, tiny), "undecodable")
    put("declares-65535x1.png", png_file(65535, 1, tiny), "undecodable")  # far less pixel data than declared
    put("bomb-12000x12000.png", png_bomb(12000), "undecodable")  # 144 MP: over the pixel limit
    put("bomb-9000x9000.png", png_bomb(9000), "ok")              # 81 MP: allowed, bounded memory
    put("1x1.png", encoded(".png", np.full((1, 1), 128, np.uint8)), "ok")
    put("1x30000.png", encoded(".png", np.full((30000, 1), 90, np.uint8)), "ok")
    put("30000x1.png", encoded(".png", np.full((1, 30000), 90, np.uint8)), "ok")
    put("grey16.png", encoded(".png", (chest_like(200, 150).astype(np.uint16) * 257)), "ok")
    put("grey16.tiff", encoded(".tiff", (chest_like(200, 150).astype(np.uint16) * 257)), "ok")
    rgb = Image.fromarray(cv2.cvtColor(chest_like(200, 150), cv2.COLOR_GRAY2RGB))
    put("cmyk.jpg", pil_bytes(rgb.convert("CMYK"), "JPEG"), "ok")
    put("palette.png", pil_bytes(rgb.convert("P", palette=Image.ADAPTIVE), "PNG"), "ok")
    rgba = rgb.convert("RGBA")
    rgba.putalpha(Image.fromarray(np.tile(np.linspace(0, 255, 200, dtype=np.uint8), (150, 1))))
    put("alpha.png", pil_bytes(rgba, "PNG"), "ok")
    put("grey-alpha.png", pil_bytes(rgba.convert("LA"), "PNG"), "ok")
    put("progressive.jpg", pil_bytes(rgb, "JPEG", progressive=True, quality=85), "ok")
    frames = [rgb, rgb.transpose(Image.FLIP_TOP_BOTTOM)]
    put("multipage.tiff", pil_bytes(frames[0], "TIFF", save_all=True, append_images=frames[1:]), "ok")
    put("animated.png", pil_bytes(frames[0], "PNG", save_all=True, append_images=frames[1:]), "ok")
    put("animated.gif", pil_bytes(frames[0], "GIF", save_all=True, append_images=frames[1:]), "undecodable")
    put("webp-lossless.webp", encoded(".webp", chest_like(64, 64), (cv2.IMWRITE_WEBP_QUALITY, 101)), "ok")
    # Formats that OpenCV reads only through a temporary copy of the file are not offered.
    put("float.exr-named.hdr", encoded(".hdr", np.full((8, 8, 3), 0.5, np.float32)), "undecodable")
    put("grey.ras", encoded(".ras", chest_like(40, 30)), "undecodable")
    # Names that are hard on file handling.
    put("with spaces and (brackets).png", png, "ok")
    put("new\nline.png", png, "ok")
    put(b"latin1-\xe9\xe8-not-utf8.png", png, "ok")
    put("a" * 246 + ".png", png, "ok")
    put("\u00fcml\u00e4ut-\u0440\u0435\u043d\u0442\u0433\u0435\u043d.jpg", jpeg, "ok")
    # Things that are not files to read.
    for name, make in (("directory.png", os.mkdir), ("fifo.png", os.mkfifo),
                       ("dangling-link.png", lambda p: os.symlink(os.path.join(out, "does-not-exist.png"), p))):
        if not os.path.lexists(os.path.join(out, name)):
            make(os.path.join(out, name))
        expected[name.encode().hex()] = "unreadable"

    with open(os.path.join(out, "expected.json"), "w") as f:
        json.dump(expected, f, indent=1, sort_keys=True)
    print(f"{len(expected)} hostile inputs in {out}")


if __name__ == "__main__":
    main(sys.argv[1])
