"""Writes one small grey and one small colour picture in every format Orvix offers, each
through an encoder that is not Orvix's decoder (Pillow; pydicom for DICOM), with the
pixels that Orvix must decode from it.

    python3 tests/formats/make_pictures.py OUTDIR

OUTDIR/manifest.json lists {"file", "expected", "tolerance"}: "expected" names a raw
file under OUTDIR/expected/ ("width height channels\\n", then the rows; 1 channel grey or 3 channels RGB) and
"tolerance" is the largest difference allowed per sample (0 for lossless formats; for
lossy ones the reference is Pillow's own decode of the same file).
"""
import io
import json
import os
import sys

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


def dicom_bytes(pixels):
    from pydicom.dataset import Dataset, FileMetaDataset
    from pydicom.uid import ExplicitVRLittleEndian, generate_uid

    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"  # secondary capture
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.Modality = "OT"
    ds.Rows, ds.Columns = pixels.shape[:2]
    ds.BitsAllocated = ds.BitsStored = 8
    ds.HighBit = 7
    ds.PixelRepresentation = 0
    if pixels.ndim == 2:
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    else:
        ds.SamplesPerPixel, ds.PhotometricInterpretation, ds.PlanarConfiguration = 3, "RGB", 0
    ds.PixelData = pixels.tobytes()
    out = io.BytesIO()
    ds.save_as(out, write_like_original=False)
    return out.getvalue()


def main(out):
    os.makedirs(os.path.join(out, "expected"), exist_ok=True)
    manifest = []
    grey, colour = grey_picture(), colour_picture()

    def raw(name, pixels):
        channels = 1 if pixels.ndim == 2 else pixels.shape[2]
        with open(os.path.join(out, "expected", name), "wb") as f:
            f.write(f"{pixels.shape[1]} {pixels.shape[0]} {channels}\n".encode() + pixels.tobytes())
        return name

    def put(name, data, expected, tolerance=0):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        manifest.append({"file": name, "expected": "expected/" + raw(name + ".raw", expected), "tolerance": tolerance})

    def pil(image, fmt, **kw):
        buf = io.BytesIO()
        image.save(buf, fmt, **kw)
        return buf.getvalue()

    def lossy(name, data, tolerance):
        """A lossy file whose reference is Pillow's decode of it."""
        decoded = np.asarray(Image.open(io.BytesIO(data)))
        put(name, data, decoded, tolerance)

    g, c = Image.fromarray(grey), Image.fromarray(colour)
    deep = Image.fromarray(grey.astype(np.uint16) * 257)  # 16-bit samples that scale back exactly

    put("grey.png", pil(g, "PNG"), grey)
    put("colour.png", pil(c, "PNG"), colour)
    put("grey16.png", pil(deep, "PNG"), grey)
    put("palette.png", pil(c.quantize(64), "PNG"), np.asarray(c.quantize(64).convert("RGB")))
    lossy("grey.jpg", pil(g, "JPEG", quality=90), 1)
    lossy("colour.jpg", pil(c, "JPEG", quality=90), 1)
    lossy("progressive.jpeg", pil(c, "JPEG", quality=85, progressive=True), 1)
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
    lossy("colour.webp", pil(c, "WEBP", quality=90), 2)
    put("grey.pgm", pil(g, "PPM"), grey)
    put("colour.ppm", pil(c, "PPM"), colour)
    bits = grey > 127
    put("bits.pbm", pil(Image.fromarray(bits), "PPM"), np.where(bits, 255, 0).astype(np.uint8))
    put("grey.jp2", pil(g, "JPEG2000"), grey)
    put("colour.jp2", pil(c, "JPEG2000"), colour)
    put("colour.j2k", pil(c, "JPEG2000", no_jp2=True), colour)
    put("grey.dcm", dicom_bytes(grey), grey)
    put("colour", dicom_bytes(colour), colour)  # DICOM files often have no extension

    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print(f"{len(manifest)} pictures in {out}")


if __name__ == "__main__":
    main(sys.argv[1])
