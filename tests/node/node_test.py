"""orvix-node against real peers: DCMTK's storescu and echoscu send, Orthanc (started here on loopback with a
temporary configuration and storage) is the destination PACS, dsr2xml reads the structured reports back.

    python3 node_test.py ORVIX_NODE ORVIX_SCREEN FIXTURES

Exits 77 (skipped) when a tool is missing. Every process started here is ended here: nothing listens after it."""

import io
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ET
from pathlib import Path

NODE, SCREEN, FIXTURES = (Path(a) for a in sys.argv[1:4]) if len(sys.argv) >= 4 else (None, None, None)
TOOLS = {"storescu": "dcmtk", "echoscu": "dcmtk", "dsr2xml": "dcmtk", "img2dcm": "dcmtk", "Orthanc": "orthanc"}
ENV = dict(os.environ, ORVIX_MODEL_DIR=str(FIXTURES / "models") if FIXTURES else "", XDG_CONFIG_HOME="/nonexistent")


def tool(name):
    return shutil.which(name) or shutil.which(name, path="/usr/sbin:/sbin")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, condition, seconds=60):
    """Polls condition until it holds; a deadline only so that a fault fails rather than hangs."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError("gave up waiting: " + what)


def film(path, picture, modality="CR", patient="DOE^JANE", study=None, damaged=False, side=512):
    """A film from a fixture picture, written by pydicom (not by the node's own code): uncompressed 8-bit grey,
    side x side pixels (the picture's own size for None)."""
    import numpy as np
    from PIL import Image
    from pydicom.dataset import Dataset, FileMetaDataset
    from pydicom.uid import ExplicitVRLittleEndian, generate_uid

    grey = Image.open(picture).convert("L")
    pixels = np.asarray(grey.resize((side, side)) if side else grey)
    classes = {"CR": "1.2.840.10008.5.1.4.1.1.1", "DX": "1.2.840.10008.5.1.4.1.1.1.1"}
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = classes[modality]
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID, ds.SeriesInstanceUID = study or generate_uid(), generate_uid()
    ds.PatientName, ds.PatientID, ds.PatientBirthDate, ds.PatientSex = patient, "ID-" + patient[:3], "19800101", "F"
    ds.AccessionNumber, ds.StudyDate, ds.StudyTime, ds.Modality = "ACC1", "20261201", "101010", modality
    if modality == "DX":
        ds.PresentationIntentType = "FOR PRESENTATION"
    ds.Rows, ds.Columns = pixels.shape
    ds.BitsAllocated = ds.BitsStored = 8
    ds.HighBit, ds.PixelRepresentation, ds.SamplesPerPixel = 7, 0, 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    data = pixels.tobytes()
    ds.PixelData = data[: len(data) // 2] if damaged else data  # cut short: the core refuses it
    ds.save_as(path, write_like_original=False)
    return {"path": Path(path), "sop": ds.SOPInstanceUID, "study": ds.StudyInstanceUID, "patient": patient}


def jpeg_capture(path, picture, patient):
    """A Secondary Capture holding a JPEG baseline codestream as it is (DCMTK's img2dcm)."""
    subprocess.run([tool("img2dcm"), str(picture), str(path), "-k", "PatientName=" + patient, "-k", "PatientID=P1",
                    "-k", "PatientBirthDate=19800101", "-k", "AccessionNumber=ACC1"], check=True, capture_output=True)
    import pydicom
    ds = pydicom.dcmread(path, stop_before_pixels=True)
    assert ds.file_meta.TransferSyntaxUID == "1.2.840.10008.1.2.4.50"
    return {"path": Path(path), "sop": ds.SOPInstanceUID, "study": ds.StudyInstanceUID, "patient": patient}


class Orthanc:
    def __init__(self, root, dicom_port=None):
        self.dir = Path(tempfile.mkdtemp(dir=root, prefix="orthanc-"))
        self.http, self.dicom = free_port(), dicom_port or free_port()
        config = {"Name": "orvix-test", "StorageDirectory": str(self.dir / "db"), "IndexDirectory": str(self.dir / "db"),
                  "HttpPort": self.http, "DicomPort": self.dicom, "DicomAet": "ORTHANC", "RemoteAccessAllowed": False,
                  "AuthenticationEnabled": False, "DicomCheckCalledAet": False, "Plugins": [],
                  "HttpServerEnabled": True, "DicomServerEnabled": True}
        (self.dir / "orthanc.json").write_text(json.dumps(config))
        self.log = open(self.dir / "orthanc.log", "w")
        self.process = subprocess.Popen([tool("Orthanc"), str(self.dir / "orthanc.json")], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        try:
            wait_for("Orthanc to answer", self.up, 30)
        except AssertionError:
            self.stop()
            raise

    def up(self):
        try:
            self.get("/system")
            return True
        except OSError:
            return False

    def get(self, path, raw=False):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.http, path), timeout=10) as answer:
            data = answer.read()
        return data if raw else json.loads(data)

    def study_instances(self, study_uid):
        request = urllib.request.Request("http://127.0.0.1:%d/tools/lookup" % self.http, data=study_uid.encode(),
                                         method="POST")
        with urllib.request.urlopen(request, timeout=10) as answer:
            found = [f for f in json.loads(answer.read()) if f["Type"] == "Study"]
        return self.get("/studies/%s/instances" % found[0]["ID"]) if found else []

    def stop(self):
        self.process.terminate()
        self.process.wait(20)
        self.log.close()


class Node:
    def __init__(self, root, *args, spool=None, env=None):
        self.env = env or ENV
        self.spool = spool or Path(tempfile.mkdtemp(dir=root, prefix="spool-"))
        self.port = free_port()
        self.args = ["--aet", "ORVIX", "--port", str(self.port), "--spool", str(self.spool), "--bind", "127.0.0.1",
                     "--config", os.devnull, *args]
        self.start()

    def start(self):
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen([str(NODE), *self.args], stderr=self.errors, env=self.env)
        wait_for("the node to listen", lambda: self.echo("MODALITY") == 0 or self.process.poll() is not None, 30)
        assert self.process.poll() is None, self.log()

    def echo(self, calling):
        return subprocess.run([tool("echoscu"), "-aet", calling, "-aec", "ORVIX", "127.0.0.1", str(self.port)],
                              capture_output=True).returncode

    def send(self, *films, calling="MODALITY"):
        # -xy: also propose JPEG baseline, as a modality sending such films does.
        return subprocess.run([tool("storescu"), "-xy", "-aet", calling, "-aec", "ORVIX", "127.0.0.1", str(self.port),
                               *[str(f["path"]) for f in films]], capture_output=True, text=True)

    def rows(self):
        path = self.spool / "results.jsonl"
        return [json.loads(line) for line in path.read_text().splitlines()] if path.exists() else []

    def names(self, folder):
        return sorted(p.name for p in (self.spool / folder).iterdir() if not p.name.startswith("."))

    def log(self):
        if self.errors.closed:
            return self.last_log
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace")

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        code = self.process.wait(60)
        self.last_log = self.log()
        self.errors.close()
        return code


def report_content(path):
    """The SR's items as {concept meaning: value} (dsr2xml), and the referenced instances."""
    xml = subprocess.run([tool("dsr2xml"), str(path)], capture_output=True, text=True, check=True).stdout
    items = {}
    for node in ET.fromstring(xml).iter():
        meaning, value = node.find("concept/meaning"), node.find("value")
        if meaning is not None:
            items[meaning.text] = value.text if value is not None else None
    return items, xml


def screen_json(path, env=None):
    out = subprocess.run([str(SCREEN), "--json", str(path)], capture_output=True, text=True, env=env or ENV)
    return json.loads(out.stdout.splitlines()[0])


class NodeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="orvix-node-test-")
        pictures = FIXTURES / "pictures"
        cls.films = [film(Path(cls.root) / "normal.dcm", pictures / "chest-normal-2mp.jpeg", "CR", "DOE^JANE"),
                     film(Path(cls.root) / "pneumonia.dcm", pictures / "chest-pneumonia-bacteria.jpeg", "DX", "ROE^RICHARD"),
                     film(Path(cls.root) / "hand.dcm", pictures / "other-xray-hand.jpg", "CR", "POE^EDGAR"),
                     jpeg_capture(Path(cls.root) / "virus.dcm", pictures / "chest-pneumonia-virus.jpeg", "SC^JPEG")]
        cls.orthanc = Orthanc(cls.root)  # last: nothing after it may fail before tearDownClass stops it

    @classmethod
    def tearDownClass(cls):
        cls.orthanc.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def node(self, *args, **kw):
        node = Node(self.root, *args, **kw)
        self.addCleanup(lambda: node.stop(signal.SIGKILL))
        return node

    def test_results_arrive_in_the_films_study_and_say_what_orvix_screen_says(self):
        reports = Path(tempfile.mkdtemp(dir=self.root))
        node = self.node("--allow", "MODALITY", "--allow", "OTHER", "--send-to",
                         "ORTHANC@127.0.0.1:%d" % self.orthanc.dicom, "--reports", str(reports), "--jobs", "2")
        # A calling AE title not allowed is refused (its film, if kept, would carry its title in the rows below).
        self.assertEqual((node.echo("OTHER"), node.echo("STRANGER") != 0), (0, True))
        sent = node.send(self.films[0], calling="STRANGER")
        self.assertIn("Association Rejected", sent.stdout + sent.stderr)
        sent = node.send(*self.films)
        self.assertEqual(sent.returncode, 0, sent.stderr)
        wait_for("eight results delivered", lambda: len(node.names("sent")) == 8)
        self.assertEqual(node.stop(), 0, node.log())
        self.assertIn("STRANGER", node.log())
        self.assertIn("not allowed", node.log())

        rows = {row["sopInstanceUid"]: row for row in node.rows()}
        self.assertEqual(len(node.rows()), 4)
        import pydicom
        kept = pydicom.dcmread(node.spool / "done" / (self.films[3]["sop"] + ".dcm"), stop_before_pixels=True)
        self.assertEqual(kept.file_meta.TransferSyntaxUID, "1.2.840.10008.1.2.4.50", "kept as it was sent")
        for f in self.films:
            expected = screen_json(f["path"])
            row = rows[f["sop"]]
            self.assertEqual((row["studyInstanceUid"], row["callingAet"]), (f["study"], "MODALITY"))
            self.assertEqual(Path(row["path"]), node.spool / "done" / (f["sop"] + ".dcm"))
            for key in ("status", "gate", "disease", "result", "isChestXRay", "accuracy", "borderline"):
                self.assertEqual(row[key], expected[key], key)
            self.assertTrue((reports / ("output_%s.dcm.txt" % f["sop"])).is_file())

            instances = self.orthanc.study_instances(f["study"])
            self.assertEqual(len(instances), 2, "one SR and one secondary capture in the film's study")
            series = {self.orthanc.get("/instances/%s/tags?simplify" % i["ID"])["Modality"]: i for i in instances}
            self.assertEqual(sorted(series), ["OT", "SR"])
            tags = self.orthanc.get("/instances/%s/tags?simplify" % series["SR"]["ID"])
            self.assertEqual((tags["PatientName"], tags["PatientBirthDate"], tags["AccessionNumber"]),
                             (f["patient"], "19800101", "ACC1"))
            capture = self.orthanc.get("/instances/%s/tags?simplify" % series["OT"]["ID"])
            self.assertEqual(capture["BurnedInAnnotation"], "YES")
            self.assertNotEqual(capture["SeriesInstanceUID"], tags["SeriesInstanceUID"])

            sr = Path(self.root) / ("%s.sr" % f["sop"])
            sr.write_bytes(self.orthanc.get("/instances/%s/file" % series["SR"]["ID"], raw=True))
            items, xml = report_content(sr)
            self.assertEqual(items["Verdict"], expected["result"])
            self.assertEqual(items["Warning"], "Not for diagnostic use")
            self.assertIn(f["sop"], xml, "the SR refers to the film")
            if expected["isChestXRay"]:
                self.assertAlmostEqual(float(items["Pneumonia probability"]),
                                       expected["disease"]["probabilities"]["PNEUMONIA"], places=6)
                self.assertEqual(items["Borderline"], "yes" if expected["borderline"] else "no")
            else:
                self.assertNotIn("Pneumonia probability", items)
            self.assertRegex(items["Disease model"], r"^\S+ sha256:[0-9a-f]{12}$")

    def test_a_clinics_operating_point_makes_the_verdict_and_a_damaged_film_has_none(self):
        config = Path(tempfile.mkdtemp(dir=self.root))
        (config / "orvix").mkdir()
        models = {kind: json.loads((FIXTURES / "models" / (name + ".mlmodelc") / "metadata.json").read_text())
                  for kind, name in (("disease", "SickClassifier1"), ("gate", "XRayClassifier1"))}
        point = {"format": "orvix-operating-point", "formatVersion": 1, "threshold": 0.3, "targetSensitivity": 0.95,
                 "films": {"NORMAL": 60, "PNEUMONIA": 60}, "auc": [0.9, 0.85, 0.95], "sensitivity": [0.95, 0.9, 0.98],
                 "specificity": [0.7, 0.6, 0.8], "date": "2026-12-01",
                 "models": {k: {"name": m["name"], "sha256": m["sha256"]} for k, m in models.items()}}
        (config / "orvix" / "operating-point.json").write_text(json.dumps(point))
        env = dict(ENV, XDG_CONFIG_HOME=str(config))
        # A damaged film beside it: a report with the reason and no verdict.
        damaged = film(Path(self.root) / "damaged.dcm", FIXTURES / "pictures" / "chest-normal-2mp.jpeg", damaged=True)
        node = self.node(env=env)
        f = self.films[0]
        self.assertEqual(node.send(f, damaged).returncode, 0)
        wait_for("the films' results", lambda: len(node.rows()) == 2)
        self.assertEqual(node.stop(), 0)
        rows = {row["sopInstanceUid"]: row for row in node.rows()}
        expected, row = screen_json(f["path"], env), rows[f["sop"]]
        self.assertIn("local threshold 30.0", row["operatingPoint"])
        self.assertEqual((row["result"], row["operatingPoint"]), (expected["result"], expected["operatingPoint"]))
        items, _ = report_content(node.spool / "outbox" / (f["sop"] + ".sr.dcm"))
        self.assertEqual((items["Verdict"], float(items["Threshold"])), (expected["result"], 0.3))
        self.assertEqual(items["Operating point"], row["operatingPoint"])

        row = rows[damaged["sop"]]
        self.assertEqual((row["status"], row["result"]), (screen_json(damaged["path"])["status"], None))
        self.assertEqual(node.names("outbox"), sorted([f["sop"] + ".sc.dcm", f["sop"] + ".sr.dcm",
                                                       damaged["sop"] + ".sr.dcm"]), "for the damaged, no picture")
        items, _ = report_content(node.spool / "outbox" / (damaged["sop"] + ".sr.dcm"))
        self.assertEqual(items["Verdict"], "not analysed")
        self.assertEqual(items["Reason not analysed"], row["error"])
        self.assertNotIn("Pneumonia probability", items)
        self.assertEqual(node.names("done"), sorted([f["sop"] + ".dcm", damaged["sop"] + ".dcm"]))

    def test_check_validates_the_settings_and_exits(self):
        spool = Path(tempfile.mkdtemp(dir=self.root))
        good = Path(self.root) / "node.conf"
        good.write_text("aet = ORVIX\nport = 11112\nspool = %s\nallow = CR1\nsend-to = PACS@127.0.0.1:104\n" % spool)
        cases = [  # arguments, exit status, what the output says
            (["--config", str(good), "--check"], 0, "configuration valid: ORVIX on all interfaces port 11112"),
            (["--config", str(good), "--check", "--spool", "/proc/orvix"], 2, "/proc/orvix"),
        ]
        for args, status, text in cases:
            run = subprocess.run([str(NODE), *args], capture_output=True, text=True, env=ENV, timeout=60)
            self.assertEqual(run.returncode, status, args)
            self.assertIn(text, run.stdout + run.stderr, args)
        self.assertEqual(sorted(p.name for p in spool.iterdir()), ["done", "outbox", "sent"])

    def test_killed_and_restarted_each_film_is_screened_and_delivered_once(self):
        films = [film(Path(self.root) / ("k%d.dcm" % i), FIXTURES / "pictures" / "chest-normal-2mp.jpeg",
                      patient="KILL^%d" % i) for i in range(12)]
        node = self.node("--send-to", "ORTHANC@127.0.0.1:%d" % self.orthanc.dicom)
        sending = subprocess.Popen([tool("storescu"), "-aet", "MODALITY", "-aec", "ORVIX", "127.0.0.1", str(node.port),
                                    *[str(f["path"]) for f in films]], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        wait_for("a first film screened", lambda: node.rows())
        node.stop(signal.SIGKILL)  # in the middle of receiving, screening and delivering
        sending.wait(30)
        node.start()
        # The modality sends the whole study again: what was screened is acknowledged, not screened twice.
        self.assertEqual(node.send(*films).returncode, 0)
        wait_for("every film screened and every result delivered",
                 lambda: len(node.rows()) == 12 and len(node.names("sent")) == 24 and not node.names("outbox"))
        self.assertEqual(node.stop(), 0)
        self.assertEqual(sorted(r["sopInstanceUid"] for r in node.rows()), sorted(f["sop"] for f in films))
        self.assertIn("screened before, not kept", node.log())
        for f in films:
            self.assertEqual(len(self.orthanc.study_instances(f["study"])), 2, f["patient"])

    def test_sigterm_finishes_the_film_in_hand_and_a_restart_screens_the_rest(self):
        spool = Path(tempfile.mkdtemp(dir=self.root))
        films = [film(spool / ("x%d" % i), FIXTURES / "pictures" / "chest-normal-2mp.jpeg", side=None)
                 for i in range(10)]
        for f in films:  # received before a stop
            f["path"].rename(spool / (f["sop"] + ".dcm"))
        node = self.node(spool=spool)
        wait_for("a first film screened", lambda: node.rows())
        self.assertEqual(node.stop(), 0)
        screened = {r["sopInstanceUid"] for r in node.rows()}
        self.assertIn("stopping (SIGTERM)", node.log())
        self.assertEqual(set(node.names("done")), {uid + ".dcm" for uid in screened}, "every film screened moved on")
        self.assertEqual({p.stem for p in spool.glob("*.dcm")}, {f["sop"] for f in films} - screened, "the rest waits")
        self.assertEqual(sorted(p.name[1:] for p in (spool / "outbox").iterdir() if p.name.startswith(".")), [],
                         "nothing staged is left")
        node.start()
        wait_for("the rest screened", lambda: len(node.rows()) == 10)
        self.assertEqual(node.stop(), 0)
        self.assertEqual(sorted(r["sopInstanceUid"] for r in node.rows()), sorted(f["sop"] for f in films))

    def test_results_wait_in_the_outbox_while_the_destination_is_down(self):
        port = free_port()
        node = self.node("--send-to", "LATE@127.0.0.1:%d" % port, "--delete-after-send")
        f = self.films[0]
        self.assertEqual(node.send(f).returncode, 0)
        wait_for("a failed delivery", lambda: "not delivered" in node.log())
        self.assertEqual(node.names("outbox"), sorted([f["sop"] + ".sr.dcm", f["sop"] + ".sc.dcm"]))
        late = Orthanc(self.root, port)
        try:
            wait_for("delivery after the destination came up", lambda: not node.names("outbox"))
            self.assertEqual(len(late.study_instances(f["study"])), 2)
            self.assertEqual((node.names("sent"), node.names("done")), ([], []), "deleted once delivered")
        finally:
            late.stop()
        self.assertEqual(node.stop(), 0)


if __name__ == "__main__":
    missing = [name for name in TOOLS if not tool(name)]
    if missing:
        print("skipped: %s missing (Debian packages %s; scripts/install-deps.sh installs them)"
              % (", ".join(missing), ", ".join(sorted({TOOLS[m] for m in missing}))))
        sys.exit(77)
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
