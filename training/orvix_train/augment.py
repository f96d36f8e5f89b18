"""X-ray-plausible augmentation, applied to batches of [0, 1] RGB tensors (N x 3 x 224 x 224).

The pictures are already stretched to 224x224 as the app does; what varies between
hospitals and users is geometry (patient placement, crop, aspect ratio), exposure
and gamma, sharpness, noise and the resolution the file came in at.
"""
import math

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


def train_batch(x, g, hflip=0.0, to_grey=0.0):
    x = geometry(x, g, hflip=hflip)
    x = resolution(x, g)
    x = exposure(x, g)
    x = blur_noise(x, g)
    if to_grey:
        x = greyscale(x, g, to_grey)
    return x


def shifted_batch(x, g):
    """A deliberately different view of validation pictures: milder than training, but never clean."""
    x = geometry(x, g, rotate=6.0, shift=0.05, scale=(0.9, 1.1), aspect=0.08)
    x = resolution(x, g, p=0.7, smallest=96)
    x = exposure(x, g, contrast=(0.8, 1.25), brightness=0.08, gamma=(0.8, 1.25))
    return blur_noise(x, g, p_blur=0.3, max_sigma=1.0, max_noise=0.02)
