"""Network: a plain VGG-style CNN that OpenCV 4.6's ONNX importer runs fast on a CPU.

Conv-BatchNorm-ReLU only (no ReLU6/Clip, no depthwise tricks), global average
pooling and one linear layer giving logits. About 0.66 M parameters at width 12.

With input_norm, each picture is first brought to zero mean and unit variance per
channel (InstanceNormalization, which OpenCV's importer runs): exposure, contrast and
processing curves differ between hospitals far more than anatomy does.
"""
import torch.nn as nn


def _cbr(cin, cout, stride):
    return [nn.Conv2d(cin, cout, 3, stride, 1, bias=False), nn.BatchNorm2d(cout), nn.ReLU(inplace=True)]


class PlainNet(nn.Module):
    def __init__(self, classes=2, width=12, dropout=0.3, input_norm=False):
        super().__init__()
        self.input_norm = nn.InstanceNorm2d(3, affine=False, eps=1e-3) if input_norm else nn.Identity()
        layers = _cbr(3, width, 2)
        channels = width
        for mult in (2, 4, 8, 16):
            out = width * mult
            layers += _cbr(channels, out, 2) + _cbr(out, out, 1)
            channels = out
        self.features = nn.Sequential(*layers)
        self.pool = nn.AdaptiveAvgPool2d(1)
        self.dropout = nn.Dropout(dropout)
        self.fc = nn.Linear(channels, classes)

    def forward(self, x):
        x = self.pool(self.features(self.input_norm(x))).flatten(1)
        return self.fc(self.dropout(x))
