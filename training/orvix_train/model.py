"""Network: a plain VGG-style CNN that OpenCV 4.6's ONNX importer runs fast on a CPU.

Conv-BatchNorm-ReLU only (no ReLU6/Clip, no depthwise tricks), global average
pooling and one linear layer giving logits. About 0.66 M parameters at width 12.
"""
import torch.nn as nn


def _cbr(cin, cout, stride):
    return [nn.Conv2d(cin, cout, 3, stride, 1, bias=False), nn.BatchNorm2d(cout), nn.ReLU(inplace=True)]


class PlainNet(nn.Module):
    def __init__(self, classes=2, width=12, dropout=0.3):
        super().__init__()
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
        x = self.pool(self.features(x)).flatten(1)
        return self.fc(self.dropout(x))
