"""Writes the tiny test-fixture models (a few KB each) in the real compiled-model format.

They are not classifiers of anything medical; their rules are simple so that tests
can predict their answers:
  SickClassifier1 fixture: bright pictures are NORMAL, dark ones PNEUMONIA
                           (logits +-2 * mean normalised value; threshold rule at 0.5,
                           borderline band [0.4, 0.6]). Its class maps are the same rule per
                           cell of a 7 x 7 grid: cell (row, col) is the mean over input pixels
                           [32 row, 32 row + 32) x [32 col, 32 col + 32), so a dark patch makes
                           its own cells hot for PNEUMONIA; the maps' mean is the logits.
  XRayClassifier1 fixture: "X-Ray" unless the picture is clearly redder than it is blue
                           (logit(X-Ray) = 2 * (blue - red) + 1, logit(other) = 0; argmax).
  unstable/XRayClassifier1: loads (its blank-input check gives finite logits) but its
                           logits overflow to infinity on any picture that is not mid-grey,
                           so every such prediction fails: for tests of a stage that fails.

    python3 training/make_fixture_models.py tests/fixtures/models
"""
import sys
from pathlib import Path

import torch
import torch.nn as nn

from orvix_train import export


def mean_net(weight, bias):
    net = nn.Sequential(nn.AdaptiveAvgPool2d(1), nn.Flatten(), nn.Linear(3, 2))
    with torch.no_grad():
        net[2].weight.copy_(torch.tensor(weight, dtype=torch.float32))
        net[2].bias.copy_(torch.tensor(bias, dtype=torch.float32))
    return net


class CellMeanNet(nn.Module):
    """The mean net's rule per 32 x 32 cell: laid out like PlainNet (features, pool, fc) for the class maps."""

    def __init__(self, weight, bias):
        super().__init__()
        self.input_norm = nn.Identity()
        self.features = nn.AvgPool2d(32)
        self.pool = nn.AdaptiveAvgPool2d(1)
        self.fc = mean_net(weight, bias)[2]

    def forward(self, x):
        return self.fc(self.pool(self.features(x)).flatten(1))


def main(out):
    provenance = {"fixture": True, "purpose": "tests only; not a classifier of anything medical"}
    sick = CellMeanNet([[2 / 3, 2 / 3, 2 / 3], [-2 / 3, -2 / 3, -2 / 3]], [0.0, 0.0])
    export.write_resource(out, "SickClassifier1", export.to_onnx_bytes(sick, class_maps=True),
                          ("NORMAL", "PNEUMONIA"), 1.0,
                          {"kind": "threshold", "label": "PNEUMONIA", "threshold": 0.5, "otherwise": "NORMAL",
                           "borderline": [0.4, 0.6]}, provenance)
    gate = mean_net([[0.0, 0.0, 0.0], [-2.0, 0.0, 2.0]], [0.0, 1.0])
    export.write_resource(out, "XRayClassifier1", export.to_onnx_bytes(gate), ("other", "X-Ray"), 1.0,
                          {"kind": "argmax"}, provenance)
    unstable = mean_net([[3e38, 3e38, 3e38], [-3e38, -3e38, -3e38]], [0.0, 0.0])
    (Path(out) / "unstable").mkdir(exist_ok=True)
    export.write_resource(Path(out) / "unstable", "XRayClassifier1", export.to_onnx_bytes(unstable),
                          ("other", "X-Ray"), 1.0, {"kind": "argmax"}, provenance)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tests/fixtures/models")
