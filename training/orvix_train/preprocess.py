"""The pixel contract shared with the C++ core.

The app decodes a picture to 8-bit BGR (OpenCV), stretches the whole picture to
224x224 with cv::resize(INTER_AREA), lays it out as an xRGB pixel buffer and the
model runtime turns that buffer into a float tensor:

    tensor[c][y][x] = (byte(c, y, x) * scale - mean[c]) / std[c],  c in R, G, B

Training uses exactly these functions so that what is validated here is what
the app computes.
"""
import cv2
import numpy as np

SIDE = 224
INTERPOLATION = cv2.INTER_AREA
SCALE = 1.0 / 255.0
MEAN = (0.5, 0.5, 0.5)
STD = (0.25, 0.25, 0.25)


def decode(path):
    """Decodes a file the way the core does for 8-bit pictures: BGR, EXIF orientation applied."""
    data = np.fromfile(path, dtype=np.uint8)
    img = cv2.imdecode(data, cv2.IMREAD_COLOR)
    if img is None:
        raise ValueError(f"{path}: not a decodable picture")
    return img


def redraw(bgr):
    """The core's redrawImage: the whole picture stretched to 224x224."""
    return cv2.resize(bgr, (SIDE, SIDE), interpolation=INTERPOLATION)


def to_unit_rgb(bgr224):
    """uint8 [N x] H x W x 3 BGR -> float32 [N x] 3 x H x W RGB in [0, 1] (before mean/std).

    The result is a view on channels-last memory (each pixel's R, G, B side by side), not a planar copy.
    """
    rgb = bgr224[..., ::-1].astype(np.float32) * SCALE
    return np.moveaxis(rgb, -1, -3)


def normalise(unit):
    """Applies mean/std to a [0, 1] tensor (numpy or torch, channel axis -3)."""
    mean = np.array(MEAN, dtype=np.float32).reshape(3, 1, 1)
    std = np.array(STD, dtype=np.float32).reshape(3, 1, 1)
    if not isinstance(unit, np.ndarray):
        import torch
        mean, std = torch.from_numpy(mean), torch.from_numpy(std)
    return (unit - mean) / std


def input_metadata():
    return {
        "name": "image",
        "width": SIDE,
        "height": SIDE,
        "pixelFormat": 32,
        "channelOrder": "RGB",
        "scale": SCALE,
        "mean": list(MEAN),
        "std": list(STD),
        "resize": "area",
    }
