"""Generated hard negatives for the gate: pictures that are no chest X-ray yet easy to mistake for one.

Each generator returns a BGR uint8 picture at its own size; the caller redraws it
to 224x224 like the app does, so extreme aspect ratios and tiny pictures are
stretched exactly as a user's file would be.
"""
import cv2
import numpy as np

WORDS = ("Report", "Patient", "File", "Edit", "View", "Total", "Results", "Lorem ipsum dolor sit amet",
         "Invoice 2026", "Settings", "OK", "Cancel", "Chest", "X-Ray", "Name:", "Date:", "42.0 %")


def _blank(rng, h, w):
    img = np.empty((h, w, 3), np.uint8)
    img[:] = rng.integers(0, 256, 3) if rng.random() < 0.5 else rng.integers(0, 256)
    return img


def _near_blank(rng, h, w):
    img = _blank(rng, h, w).astype(np.float32)
    img += rng.normal(0, rng.uniform(1, 12), img.shape if rng.random() < 0.5 else (h, w, 1))
    return np.clip(img, 0, 255).astype(np.uint8)


def _noise(rng, h, w):
    cell = int(rng.choice([1, 2, 4, 8, 16, 32]))
    small = rng.integers(0, 256, (max(1, h // cell), max(1, w // cell), 1 if rng.random() < 0.6 else 3), np.uint8)
    img = cv2.resize(small, (w, h), interpolation=cv2.INTER_CUBIC if rng.random() < 0.5 else cv2.INTER_NEAREST)
    if img.ndim == 2:
        img = img[:, :, None]
    return np.ascontiguousarray(np.broadcast_to(img, (h, w, 3)))


def _gradient(rng, h, w):
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    if rng.random() < 0.5:
        angle = rng.uniform(0, np.pi)
        t = (xx * np.cos(angle) + yy * np.sin(angle))
    else:
        cy, cx = rng.uniform(0, h), rng.uniform(0, w)
        t = np.hypot(yy - cy, xx - cx)
    t = (t - t.min()) / max(float(t.max() - t.min()), 1e-6)
    a, b = rng.integers(0, 256, 3), rng.integers(0, 256, 3)
    if rng.random() < 0.5:
        a[:], b[:] = a[0], b[0]
    return (a[None, None, :] * (1 - t[..., None]) + b[None, None, :] * t[..., None]).astype(np.uint8)


def _text(rng, h, w):
    dark = rng.random() < 0.3
    img = np.full((h, w, 3), 30 if dark else 245, np.uint8)
    for _ in range(int(rng.integers(1, 6))):  # window-like panels
        x0, y0 = int(rng.integers(0, w)), int(rng.integers(0, h))
        colour = tuple(int(c) for c in rng.integers(0, 256, 3))
        cv2.rectangle(img, (x0, y0), (x0 + int(rng.integers(1, w + 2)), y0 + int(rng.integers(5, h // 3 + 6))), colour,
                      -1 if rng.random() < 0.5 else 1)
    scale = max(0.3, h / 600)
    for y in range(int(20 * scale) + 5, h, int(rng.integers(int(18 * scale) + 4, int(40 * scale) + 8))):
        colour = (220, 220, 220) if dark else (int(rng.integers(0, 80)),) * 3
        cv2.putText(img, " ".join(rng.choice(WORDS, int(rng.integers(1, 6)))), (int(rng.integers(0, 20)), y),
                    cv2.FONT_HERSHEY_SIMPLEX, scale, colour, 1, cv2.LINE_AA)
    return img


def _smooth_gray(rng, h, w):
    """Low-frequency grey blobs: the texture most easily mistaken for soft tissue."""
    small = rng.normal(128, 50, (int(rng.integers(2, 9)), int(rng.integers(2, 9)))).clip(0, 255).astype(np.uint8)
    img = cv2.resize(small, (w, h), interpolation=cv2.INTER_CUBIC)
    return cv2.cvtColor(img, cv2.COLOR_GRAY2BGR)


GENERATORS = (_blank, _near_blank, _noise, _gradient, _text, _smooth_gray)


def _size(rng):
    kind = rng.random()
    if kind < 0.15:  # tiny
        return int(rng.integers(1, 9)), int(rng.integers(1, 9))
    if kind < 0.35:  # extreme aspect ratio
        long_side, short_side = int(rng.integers(400, 2000)), int(rng.integers(1, 60))
        return (long_side, short_side) if rng.random() < 0.5 else (short_side, long_side)
    return int(rng.integers(100, 1200)), int(rng.integers(100, 1200))


def generate(count, seed):
    """count pictures already redrawn to 224x224 BGR, with the generator's name for each."""
    from . import preprocess
    rng = np.random.default_rng(seed)
    images, kinds = [], []
    for i in range(count):
        gen = GENERATORS[i % len(GENERATORS)]
        h, w = _size(rng)
        images.append(preprocess.redraw(gen(rng, h, w)))
        kinds.append("generated-" + gen.__name__.strip("_"))
    return np.stack(images), kinds
