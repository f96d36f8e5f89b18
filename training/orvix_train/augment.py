"""X-ray-plausible augmentation, applied to batches of [0, 1] RGB tensors (N x 3 x 224 x 224).

The pictures are already stretched to 224x224 as the app does; what varies between
hospitals and users is geometry (patient placement, crop, aspect ratio), exposure
and gamma, sharpness, noise and the resolution the file came in at.
"""
import math

import cv2
import numpy as np
import torch
import torch.nn.functional as F


def _uniform(n, lo, hi, g):
    return torch.rand(n, generator=g) * (hi - lo) + lo


def geometry(x, g, rotate=10.0, shift=0.08, scale=(0.85, 1.15), aspect=0.1, hflip=0.0):
    n = x.shape[0]
    angle = _uniform(n, -rotate, rotate, g) * math.pi / 180
    s = _uniform(n, *scale, g)
    a = _uniform(n, -aspect, aspect, g)
    sx, sy = s * (1 + a), s * (1 - a)
    flip = torch.where(torch.rand(n, generator=g) < hflip, -1.0, 1.0)
    cos, sin = torch.cos(angle), torch.sin(angle)
    theta = torch.zeros(n, 2, 3)
    theta[:, 0, 0], theta[:, 0, 1] = cos / sx * flip, -sin / sx
    theta[:, 1, 0], theta[:, 1, 1] = sin / sy * flip, cos / sy
    theta[:, 0, 2], theta[:, 1, 2] = _uniform(n, -shift, shift, g) * 2, _uniform(n, -shift, shift, g) * 2
    grid = F.affine_grid(theta, x.shape, align_corners=False)
    return F.grid_sample(x, grid, mode="bilinear", padding_mode="border", align_corners=False)


def exposure(x, g, contrast=(0.7, 1.35), brightness=0.12, gamma=(0.7, 1.45)):
    n = x.shape[0]
    c = _uniform(n, *contrast, g).view(n, 1, 1, 1)
    b = _uniform(n, -brightness, brightness, g).view(n, 1, 1, 1)
    gm = torch.exp(_uniform(n, math.log(gamma[0]), math.log(gamma[1]), g)).view(n, 1, 1, 1)
    x = x.clamp(0, 1) ** gm
    return ((x - 0.5) * c + 0.5 + b).clamp(0, 1)


def resolution(x, g, p=0.5, smallest=64):
    """Down- and up-sampling: a picture that came at low resolution, or was squashed before."""
    out = x.clone()
    for i in range(x.shape[0]):
        if torch.rand(1, generator=g).item() < p:
            side = int(torch.randint(smallest, x.shape[-1], (1,), generator=g).item())
            other = int(side * _uniform(1, 0.8, 1.25, g).item())
            small = F.interpolate(x[i:i + 1], size=(side, min(other, x.shape[-1])), mode="area")
            out[i:i + 1] = F.interpolate(small, size=x.shape[-2:], mode="bilinear", align_corners=False)
    return out


def blur_noise(x, g, p_blur=0.25, max_sigma=1.5, max_noise=0.04):
    n = x.shape[0]
    for i in range(n):
        if torch.rand(1, generator=g).item() < p_blur:
            sigma = _uniform(1, 0.3, max_sigma, g).item()
            r = int(math.ceil(2 * sigma))
            k = torch.exp(-torch.arange(-r, r + 1, dtype=torch.float32) ** 2 / (2 * sigma * sigma))
            k = (k / k.sum()).view(1, 1, 1, -1).repeat(3, 1, 1, 1)
            xi = F.pad(x[i:i + 1], (r, r, 0, 0), mode="replicate")
            xi = F.conv2d(xi, k, groups=3)
            xi = F.pad(xi, (0, 0, r, r), mode="replicate")
            x[i:i + 1] = F.conv2d(xi, k.transpose(2, 3), groups=3)
    sigma = _uniform(n, 0, max_noise, g).view(n, 1, 1, 1)
    return (x + torch.randn(x.shape, generator=g) * sigma).clamp(0, 1)


def greyscale(x, g, p=0.25):
    pick = torch.rand(x.shape[0], generator=g) < p
    grey = x.mean(dim=1, keepdim=True).expand_as(x)
    return torch.where(pick.view(-1, 1, 1, 1), grey, x)


MARKERS = ("L", "R", "AP", "PA", "PORTABLE", "SUPINE", "ERECT", "1", "2", "A")


def _frame(img, rng):
    """A black or white border on some sides, as scanned films and screen captures have."""
    h, w = img.shape[:2]
    value = 0 if rng.random() < 0.6 else 255
    for side in range(4):
        if rng.random() < 0.5:
            t = int(rng.integers(2, max(3, (h if side < 2 else w) // 10)))
            if side == 0:
                img[:t] = value
            elif side == 1:
                img[h - t:] = value
            elif side == 2:
                img[:, :t] = value
            else:
                img[:, w - t:] = value


def _markers(img, rng):
    """Burned-in letters and side markers, usually bright, near the edges."""
    for _ in range(int(rng.integers(1, 4))):
        text = MARKERS[int(rng.integers(len(MARKERS)))]
        scale = float(rng.uniform(0.3, 0.9))
        x, y = int(rng.integers(2, 180)), int(rng.choice([rng.integers(12, 40), rng.integers(190, 222)]))
        value = int(rng.choice([255, 230, 0]))
        cv2.putText(img, text, (x, y), cv2.FONT_HERSHEY_SIMPLEX, scale, (value,) * 3, int(rng.integers(1, 3)),
                    cv2.LINE_AA)


def _lines(img, rng):
    """Tubes, lines and leads: thin bright curves that cross the chest."""
    for _ in range(int(rng.integers(1, 3))):
        pts = np.cumsum(rng.normal(0, 18, (6, 2)), axis=0) + rng.uniform(30, 190, 2)
        value = int(rng.integers(170, 256))
        cv2.polylines(img, [pts.astype(np.int32).reshape(-1, 1, 2)], False, (value,) * 3,
                      int(rng.integers(1, 4)), cv2.LINE_AA)


def _sharpen(img, rng):
    """Unsharp masking, as many acquisition systems apply it."""
    sigma = float(rng.uniform(1.0, 3.0))
    amount = float(rng.uniform(0.3, 1.5))
    blurred = cv2.GaussianBlur(img, (0, 0), sigma)
    return cv2.addWeighted(img, 1 + amount, blurred, -amount, 0)


def _jpeg(img, rng):
    quality = int(rng.integers(20, 90))
    ok, buf = cv2.imencode(".jpg", img, [cv2.IMWRITE_JPEG_QUALITY, quality])
    return cv2.imdecode(buf, cv2.IMREAD_UNCHANGED) if ok else img


def acquisition(x, g, p_frame=0.2, p_markers=0.3, p_lines=0.15, p_sharpen=0.25, p_jpeg=0.3):
    """What differs between hospitals beyond exposure: frames, burned-in markers, lines and tubes,
    edge enhancement and JPEG compression; each picture gets each effect with its probability."""
    rng = np.random.default_rng(int(torch.randint(0, 2**31 - 1, (1,), generator=g).item()))
    out = x.clone()
    for i in range(x.shape[0]):
        effects = [f for f, p in ((_frame, p_frame), (_markers, p_markers), (_lines, p_lines)) if rng.random() < p]
        sharpen, jpeg = rng.random() < p_sharpen, rng.random() < p_jpeg
        if not (effects or sharpen or jpeg):
            continue
        img = np.ascontiguousarray((x[i].permute(1, 2, 0).numpy() * 255).round().astype(np.uint8))
        for effect in effects:
            effect(img, rng)
        if sharpen:
            img = _sharpen(img, rng)
        if jpeg:
            img = _jpeg(img, rng)
        out[i] = torch.from_numpy(img.astype(np.float32) / 255).permute(2, 0, 1)
    return out


QUANTILE_LEVELS = 256


def grey_quantiles(images):
    """Each picture's grey-level quantile function (N x QUANTILE_LEVELS floats in [0, 255]): the references of
    match_histograms. images: uint8 N x H x W x 3."""
    grid = np.linspace(0, 1, QUANTILE_LEVELS)
    out = np.empty((len(images), QUANTILE_LEVELS), np.float32)
    for i, img in enumerate(images):
        counts = np.bincount(np.asarray(img[::2, ::2]).mean(axis=-1).round().astype(np.int64).ravel(), minlength=256)
        cdf = np.cumsum(counts) / counts.sum()
        out[i] = np.interp(grid, cdf, np.arange(256))
    return out


def match_histograms(images, references, g, p=0.5):
    """Random histogram matching: each picture, with probability p, gets the grey-level distribution of a
    random reference (grey_quantiles of any training film, of any source and either label) through one monotone
    curve, so that how a hospital's software mapped exposure to grey levels is no evidence of the label.
    images: uint8 N x H x W x 3 (a copy is returned); the curve maps each level's mid-rank to the reference's
    quantile there, so that equal levels stay equal."""
    out = np.array(images, copy=True)
    grid = np.linspace(0, 1, QUANTILE_LEVELS)
    for i in range(len(out)):
        if torch.rand(1, generator=g).item() >= p:
            continue
        ref = references[int(torch.randint(len(references), (1,), generator=g).item())]
        grey = out[i].mean(axis=-1).round().astype(np.int64)
        cdf = np.cumsum(np.bincount(grey.ravel(), minlength=256)) / grey.size
        mid = (cdf + np.concatenate([[0.0], cdf[:-1]])) / 2
        lut = np.interp(mid, grid, ref)
        # The grey picture's change, added to every channel: a colour picture keeps its hues.
        shift = lut[grey] - grey
        out[i] = np.clip(out[i] + shift[..., None], 0, 255).round().astype(np.uint8)
    return out


def clahe(img, clip=2.5, tiles=8):
    grey = cv2.cvtColor(img, cv2.COLOR_BGR2GRAY)
    return cv2.cvtColor(cv2.createCLAHE(clipLimit=clip, tileGridSize=(tiles, tiles)).apply(grey), cv2.COLOR_GRAY2BGR)


def wide_unsharp(img, sigma=12.0, amount=0.8):
    blurred = cv2.GaussianBlur(img, (0, 0), sigma)
    return cv2.addWeighted(img, 1 + amount, blurred, -amount, 0)


# Processing shifts that no training augmentation applies (local contrast equalisation, edge enhancement at a
# radius far beyond the training's unsharp masking): how far they move the probability is the model's
# sensitivity to processing it was never shown. Each maps uint8 BGR 224 x 224 to the same.
PROCESSING_SHIFTS = {
    "clahe": clahe,
    "wide-unsharp": wide_unsharp,
    "clahe+wide-unsharp": lambda img: wide_unsharp(clahe(img)),
}


def train_batch(x, g, hflip=0.0, to_grey=0.0, hospital=False):
    """hospital: also the acquisition effects above (the disease model, which must generalise across sites)."""
    x = geometry(x, g, hflip=hflip)
    x = resolution(x, g)
    x = exposure(x, g)
    if hospital:
        x = acquisition(x, g)
    x = blur_noise(x, g)
    if to_grey:
        x = greyscale(x, g, to_grey)
    return x


def degraded_batch(x, g):
    """Pictures made doubtful on purpose, for calibrating the gate's confidence: a small part
    of the picture zoomed in, heavy blur, low contrast, strong noise, very low resolution."""
    x = geometry(x, g, rotate=15.0, shift=0.15, scale=(1.2, 2.0), aspect=0.15)
    x = resolution(x, g, p=0.7, smallest=24)
    x = exposure(x, g, contrast=(0.35, 0.8), brightness=0.2, gamma=(0.6, 1.7))
    return blur_noise(x, g, p_blur=0.5, max_sigma=3.0, max_noise=0.08)


def shifted_batch(x, g):
    """A deliberately different view of validation pictures: milder than training, but never clean."""
    x = geometry(x, g, rotate=6.0, shift=0.05, scale=(0.9, 1.1), aspect=0.08)
    x = resolution(x, g, p=0.7, smallest=96)
    x = exposure(x, g, contrast=(0.8, 1.25), brightness=0.08, gamma=(0.8, 1.25))
    return blur_noise(x, g, p_blur=0.3, max_sigma=1.0, max_noise=0.02)
