"""Network: a plain VGG-style CNN that OpenCV 4.6's ONNX importer runs fast on a CPU.

Conv-BatchNorm-ReLU only (no ReLU6/Clip, no depthwise tricks), global average
pooling and one linear layer giving logits. About 0.66 M parameters at width 12.

Because the pooling is a plain average and the head is linear, the head applied at every cell of
the last feature map (7 x 7 at 224 x 224) gives class activation maps whose spatial mean is exactly the
logits: WithClassMaps exports them beside the logits.

With input_norm, each picture is first brought to zero mean and unit variance per
channel (InstanceNormalization, which OpenCV's importer runs): exposure, contrast and
processing curves differ between hospitals far more than anatomy does.

With input_pool k, the network first averages each k x k block of the 224 x 224 input (the same as an area
resize to 224/k): the gate tells a chest film from anything else at 112 x 112 as well as at 224, for a quarter
of the work. The input the app prepares stays 224 x 224 either way.
"""
import torch.nn as nn
import torch.nn.functional as F


def _cbr(cin, cout, stride):
    return [nn.Conv2d(cin, cout, 3, stride, 1, bias=False), nn.BatchNorm2d(cout), nn.ReLU(inplace=True)]


class PlainNet(nn.Module):
    def __init__(self, classes=2, width=12, dropout=0.3, input_norm=False, input_pool=1):
        super().__init__()
        self.input_norm = nn.InstanceNorm2d(3, affine=False, eps=1e-3) if input_norm else nn.Identity()
        self.input_pool = nn.AvgPool2d(input_pool) if input_pool > 1 else nn.Identity()
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
        self.width, self.has_input_norm, self.input_pool_size = width, input_norm, input_pool

    def feature_map(self, x):
        return self.features(self.input_pool(self.input_norm(x)))

    def forward(self, x):
        x = self.pool(self.feature_map(x)).flatten(1)
        return self.fc(self.dropout(x))

    def checkpoint(self, **extra):
        """The weights and what rebuilds the network around them (from_checkpoint), with extra entries."""
        return {"state_dict": self.state_dict(), "width": self.width, "inputNorm": self.has_input_norm,
                "inputPool": self.input_pool_size, **extra}

    @classmethod
    def from_checkpoint(cls, state):
        """The network saved by checkpoint(), in inference mode."""
        net = cls(classes=len(state["labels"]), width=state["width"], input_norm=state.get("inputNorm", False),
                  input_pool=state.get("inputPool", 1))
        net.load_state_dict(state["state_dict"])
        return net.eval()


class WithClassMaps(nn.Module):
    """(logits, classMaps) of a PlainNet: its feature map, an average pool and one linear fc.

    classMaps[:, k] is fc's row k and bias k applied at every cell of the feature map (a 1x1 convolution
    with fc's own weights), so its mean over the cells equals logits[:, k]. Dropout is left out: it is
    the identity at inference.
    """

    def __init__(self, net):
        super().__init__()
        self.net = net

    def forward(self, x):
        net = self.net
        features = net.feature_map(x)
        logits = net.fc(net.pool(features).flatten(1))
        weight = net.fc.weight
        maps = F.conv2d(features, weight.reshape(*weight.shape, 1, 1), net.fc.bias)
        return logits, maps
