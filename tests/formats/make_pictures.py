"""Writes small grey and colour pictures in every format Orvix offers, each through an encoder
that is not Orvix's decoder (Pillow; pydicom for DICOM):  python3 tests/formats/make_pictures.py OUTDIR

OUTDIR/manifest.json lists {"file", "expected", "tolerance"}: "expected" names a raw file under
OUTDIR/expected/ ("width height channels\\n", then the RGB or grey rows) and "tolerance" is the
largest difference allowed per sample (0 for lossless formats; lossy ones are held to Pillow's decode).
"""
import io
import json
import os
import sys
from pathlib import Path

import numpy as np
from PIL import Image

WIDTH, HEIGHT = 96, 64


def grey_picture():
    """A smooth ramp with texture, spanning 0 to 255 exactly (windowing keeps it as it is)."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    ramp = (x * 255.0 / (WIDTH - 1)) * 0.7 + (np.sin(y / 5.0) + 1) * 38
    rng = np.random.default_rng(7)
    out = np.clip(ramp + rng.normal(0, 6, ramp.shape), 0, 255).astype(np.uint8)
    out[0, 0], out[-1, -1] = 0, 255
    return out


def colour_picture():
    g = grey_picture()
    return np.dstack([g, 255 - g, np.roll(g, 17, axis=1) // 2 + 40])


HTJ2K_LOSSLESS = "1.2.840.10008.1.2.4.201"


def dicom_bytes(pixels, bits_stored=8, photometric=None, window=None, codestreams=None,
                syntax="1.2.840.10008.1.2.1", pixel_representation=0):
    """A DICOM file of pixels (uint8 or uint16; grey or RGB); with codestreams, their
    encapsulated fragments (one codestream a frame) stand for the pixel data."""
    from pydicom import _uid_dict
    from pydicom.dataset import Dataset, FileMetaDataset
    from pydicom.encaps import encapsulate
    from pydicom.uid import UID, generate_uid

    # This pydicom predates High-Throughput JPEG 2000; it needs only to know the UID is a transfer syntax.
    _uid_dict.UID_dictionary.setdefault(HTJ2K_LOSSLESS, ("HTJ2K Lossless", "Transfer Syntax", "", "", "HTJ2KLossless"))
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"  # secondary capture
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = UID(syntax)
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.Modality = "OT"
    ds.Rows, ds.Columns = pixels.shape[:2]
    ds.BitsAllocated = 16 if pixels.dtype == np.uint16 else 8
    ds.BitsStored, ds.HighBit = bits_stored, bits_stored - 1
    ds.PixelRepresentation = pixel_representation
    if pixels.ndim == 2:
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, photometric or "MONOCHROME2"
    else:
        ds.SamplesPerPixel, ds.PhotometricInterpretation, ds.PlanarConfiguration = 3, photometric or "RGB", 0
    if window:
        ds.WindowCenter, ds.WindowWidth = window
    if codestreams and len(codestreams) > 1:
        ds.NumberOfFrames = len(codestreams)
    ds.PixelData = encapsulate(codestreams) if codestreams else pixels.tobytes()
    out = io.BytesIO()
    ds.save_as(out, write_like_original=False)
    return out.getvalue()


def codestream(pixels, **kw):
    """A raw JPEG 2000 codestream of uint8 (grey or RGB) or uint16 grey pixels; lossless unless kw says otherwise."""
    image = Image.fromarray(pixels) if pixels.dtype == np.uint8 else Image.fromarray(pixels, mode="I;16")
    buf = io.BytesIO()
    image.save(buf, "JPEG2000", no_jp2=True, **kw)
    return buf.getvalue()


def jpeg2000_dicom_pairs(out):
    """Each JPEG 2000 variant beside the same picture uncompressed."""
    grey, colour = grey_picture(), colour_picture()
    deep = (grey.astype(np.uint16) * 16 + 7)  # 12-bit samples
    rng = np.random.default_rng(3)

    def decoded(stream, bits):
        """Pillow's decode, clipped to the declared range (a lossy decode may overshoot it)."""
        pixels = np.clip(np.asarray(Image.open(io.BytesIO(stream))).astype(np.int32), 0, (1 << bits) - 1)
        return pixels.astype(np.uint16 if bits > 8 else np.uint8)

    lossy = {"quality_mode": "rates", "quality_layers": [12], "irreversible": True}
    lossy_deep, lossy_colour = codestream(deep, **lossy), codestream(colour, **lossy)
    window12 = (2048, 4096)
    lossless, lossy_syntax = "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91"
    pairs = [
        # name, pixels, DICOM attributes, codestreams, transfer syntax
        ("j2k-grey8.dcm", grey, {}, [codestream(grey)], lossless),
        ("j2k-grey12-mono1.dcm", deep, {"bits_stored": 12, "photometric": "MONOCHROME1", "window": window12},
         [codestream(deep)], lossless),
        ("j2k-grey12-lossy.dcm", decoded(lossy_deep, 12), {"bits_stored": 12, "window": window12}, [lossy_deep],
         lossy_syntax),
        ("j2k-rgb.dcm", colour, {}, [codestream(colour)], lossless),
        ("j2k-rgb-lossy.dcm", decoded(lossy_colour, 8), {}, [lossy_colour], lossy_syntax),
        ("htj2k-grey8.dcm", grey, {}, [codestream(grey)], HTJ2K_LOSSLESS),
        # The data set says signed, the codestream unsigned: the codestream is what the samples are.
        ("j2k-sign-mismatch.dcm", deep, {"bits_stored": 12, "window": window12, "pixel_representation": 1},
         [codestream(deep)], lossless),
        # Two frames: the first is the picture.
        ("j2k-two-frames.dcm", grey, {}, [codestream(grey), codestream(rng.integers(0, 255, grey.shape, np.uint8))],
         lossless),
    ]
    # A chest radiograph, for the verdict of the shipped models: the JPEG fixture's pixels, losslessly.
    chest = np.asarray(Image.open(os.path.join(os.path.dirname(__file__), "..", "fixtures", "pictures",
                                               "chest-pneumonia-bacteria.jpeg")).convert("L"))
    pairs.append(("j2k-chest.dcm", chest, {}, [codestream(chest)], lossless))
    listed = []
    for name, pixels, attributes, streams, syntax in pairs:
        plain = {k: v for k, v in attributes.items() if k != "pixel_representation"}
        Path(out, name).write_bytes(dicom_bytes(pixels, codestreams=streams, syntax=syntax, **attributes))
        Path(out, "expected", name + ".plain").write_bytes(dicom_bytes(pixels, **plain))
        listed.append({"compressed": name, "uncompressed": "expected/" + name + ".plain"})

    whole = codestream(grey)
    refused = [("j2k-cut-codestream.dcm", [whole[: len(whole) // 2]], lossless, "JPEG 2000 codestream damaged"),
               ("mpeg2.dcm", [whole], "1.2.840.10008.1.2.4.100", "transfer syntax 1.2.840.10008.1.2.4.100")]
    for name, streams, syntax, _ in refused:
        Path(out, name).write_bytes(dicom_bytes(grey, codestreams=streams, syntax=syntax))
    return {"pairs": listed, "refused": [{"file": name, "reason": reason} for name, _, _, reason in refused]}


def main(out):
    os.makedirs(os.path.join(out, "expected"), exist_ok=True)
    manifest = []
    grey, colour = grey_picture(), colour_picture()

    def put(name, data, expected=None, tolerance=0):
        """expected None: a lossy file, whose reference is Pillow's decode of it."""
        expected = np.asarray(Image.open(io.BytesIO(data))) if expected is None else expected
        channels = 1 if expected.ndim == 2 else expected.shape[2]
        Path(out, name).write_bytes(data)
        Path(out, "expected", name + ".raw").write_bytes(
            f"{expected.shape[1]} {expected.shape[0]} {channels}\n".encode() + expected.tobytes())
        manifest.append({"file": name, "expected": f"expected/{name}.raw", "tolerance": tolerance})

    def pil(image, fmt, **kw):
        buf = io.BytesIO()
        image.save(buf, fmt, **kw)
        return buf.getvalue()

    g, c = Image.fromarray(grey), Image.fromarray(colour)
    deep = Image.fromarray(grey.astype(np.uint16) * 257)  # 16-bit samples that scale back exactly

    put("grey.png", pil(g, "PNG"), grey)
    put("colour.png", pil(c, "PNG"), colour)
    put("grey16.png", pil(deep, "PNG"), grey)
    put("palette.png", pil(c.quantize(64), "PNG"), np.asarray(c.quantize(64).convert("RGB")))
    put("grey.jpg", pil(g, "JPEG", quality=90), None, 1)
    put("colour.jpg", pil(c, "JPEG", quality=90), None, 1)
    put("progressive.jpeg", pil(c, "JPEG", quality=85, progressive=True), None, 1)
    exif = Image.Exif()
    exif[0x0112] = 6  # stored sideways: turn 90 degrees clockwise to view
    sideways = pil(c.transpose(Image.Transpose.ROTATE_90), "JPEG", quality=90, exif=exif.tobytes())
    put("exif-rotated.jpg", sideways, np.asarray(Image.open(io.BytesIO(sideways)).transpose(Image.Transpose.ROTATE_270)), 1)
    put("grey.bmp", pil(g, "BMP"), grey)
    put("colour.bmp", pil(c, "BMP"), colour)
    put("grey.tif", pil(g, "TIFF"), grey)
    put("colour-lzw.tiff", pil(c, "TIFF", compression="tiff_lzw"), colour)
    put("grey16-deflate.tif", pil(deep, "TIFF", compression="tiff_adobe_deflate"), grey)
    put("colour-lossless.webp", pil(c, "WEBP", lossless=True), colour)
    put("colour.webp", pil(c, "WEBP", quality=90), None, 2)
    put("grey.pgm", pil(g, "PPM"), grey)
    put("colour.ppm", pil(c, "PPM"), colour)
    bits = grey > 127
    put("bits.pbm", pil(Image.fromarray(bits), "PPM"), np.where(bits, 255, 0).astype(np.uint8))
    put("grey.jp2", pil(g, "JPEG2000"), grey)
    put("colour.jp2", pil(c, "JPEG2000"), colour)
    put("colour.j2k", pil(c, "JPEG2000", no_jp2=True), colour)
    put("grey.dcm", dicom_bytes(grey), grey)
    put("colour", dicom_bytes(colour), colour)  # DICOM files often have no extension
    put("jpeg2000.dcm", dicom_bytes(grey, codestreams=[codestream(grey)], syntax="1.2.840.10008.1.2.4.90"), grey)

    Path(out, "manifest.json").write_text(json.dumps(manifest, indent=1))
    Path(out, "dicom-jpeg2000.json").write_text(json.dumps(jpeg2000_dicom_pairs(out), indent=1))
    print(f"{len(manifest)} pictures in {out}")


if __name__ == "__main__":
    main(sys.argv[1])
