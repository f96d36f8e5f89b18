"""orvix-node end to end: FILMS films (default 200, the fixture chest X-ray at its own size, uncompressed DICOM) sent
over 4 concurrent associations (storescu) to a node that screens them with the shipped models and delivers its
results to an Orthanc of its own on loopback; then orvix-screen on the same files with as many jobs.

    /usr/bin/python3 bench/node_throughput.py [BUILD_BIN] [FILMS]

Prints films per second received-screened-delivered, the time from a film's arrival (its spool file written, just
before the C-STORE response) to both of its results delivered (seen in sent/, polled every 20 ms): median and p95,
the node's resident memory at a quarter, half and all of the films and its peak; and orvix-screen's films per
second and peak memory on the same files."""

import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

here = Path(__file__).resolve().parent
sys.path.insert(0, str(here.parent / "tests" / "node"))
import node_test as t  # noqa: E402  (the test's peers and film writer)

bin_dir = Path(sys.argv[1] if len(sys.argv) > 1 else "build/bin").resolve()
count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
jobs = os.cpu_count() or 1
t.NODE, t.SCREEN, t.FIXTURES = bin_dir / "orvix-node", bin_dir / "orvix-screen", here.parent / "tests" / "fixtures"
t.ENV = {k: v for k, v in os.environ.items() if k != "ORVIX_MODEL_DIR"}  # the shipped models
t.ENV["XDG_CONFIG_HOME"] = "/nonexistent"


def rss_kib(pid, field="VmRSS"):
    for line in Path("/proc/%d/status" % pid).read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return 0


root = tempfile.mkdtemp(prefix="orvix-node-bench-")
films_dir = Path(root) / "films"
films_dir.mkdir()
films = [t.film(films_dir / ("%03d.dcm" % i), t.FIXTURES / "pictures" / "chest-normal-2mp.jpeg",
                patient="BENCH^%d" % i, side=None) for i in range(count)]
orthanc = t.Orthanc(root)
node = None
try:
    node = t.Node(root, "--send-to", "ORTHANC@127.0.0.1:%d" % orthanc.dicom, "--jobs", str(jobs))
    seen, memory = {}, {}
    done = threading.Event()

    def watch():
        while not done.is_set():
            now = time.time()
            for name in os.listdir(node.spool / "sent"):
                seen.setdefault(name, now)
            delivered = len(seen) // 2
            for mark in (count // 4, count // 2, count):
                if delivered >= mark and mark not in memory:
                    memory[mark] = rss_kib(node.process.pid)
            if len(seen) >= 2 * count:
                done.set()
            time.sleep(0.02)

    watcher = threading.Thread(target=watch)
    start = time.time()
    watcher.start()
    senders = [subprocess.Popen([t.tool("storescu"), "-aet", "MODALITY", "-aec", "ORVIX", "127.0.0.1", str(node.port),
                                 *[str(f["path"]) for f in films[k::4]]], stdout=subprocess.DEVNULL)
               for k in range(4)]
    assert all(s.wait() == 0 for s in senders), "a sender failed"
    done.wait(1800)
    elapsed = time.time() - start
    peak = rss_kib(node.process.pid, "VmHWM")
    assert node.stop() == 0
    watcher.join()

    latencies = []
    for f in films:
        arrived = (node.spool / "done" / (f["sop"] + ".dcm")).stat().st_mtime
        latencies.append(max(seen[f["sop"] + ".sr.dcm"], seen[f["sop"] + ".sc.dcm"]) - arrived)
    latencies.sort()
    print("machine: %d cores (%s)" % (jobs, os.uname().machine))
    print("orvix-node, --jobs %d, 4 associations: %d films in %.1f s = %.2f films/s end to end"
          % (jobs, count, elapsed, count / elapsed))
    print("  C-STORE to both results delivered: median %.2f s, p95 %.2f s"
          % (statistics.median(latencies), latencies[int(0.95 * (len(latencies) - 1))]))
    print("  resident memory after %s films: %s MiB; peak %.0f MiB"
          % ("/".join(str(k) for k in sorted(memory)), "/".join("%.0f" % (memory[k] / 1024) for k in sorted(memory)),
             peak / 1024))

    # The node alone: the same films put back into a fresh spool, screened at start without a destination.
    spool = Path(root) / "resume"
    spool.mkdir()
    for f in films:
        os.link(node.spool / "done" / (f["sop"] + ".dcm"), spool / (f["sop"] + ".dcm"))
    start = time.time()
    alone = t.Node(root, "--jobs", str(jobs), spool=spool)
    t.wait_for("the spool screened", lambda: len(alone.rows()) == count, 1800)
    elapsed = time.time() - start
    alone.stop()
    print("orvix-node, --jobs %d, screening its spool at start (no network; model load included): %.2f films/s"
          % (jobs, count / elapsed))

    start = time.time()
    measured = subprocess.run(["/usr/bin/time", "-f", "%M", str(t.SCREEN), "--json", "--jobs", str(jobs), str(films_dir)],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=t.ENV, check=False)
    elapsed = time.time() - start
    screen_peak = int(measured.stderr.strip().splitlines()[-1])
    print("orvix-screen --jobs %d on the same files: %.1f s = %.2f films/s; peak %.0f MiB"
          % (jobs, elapsed, count / elapsed, screen_peak / 1024))
finally:
    if node:
        node.stop()
    orthanc.stop()
    subprocess.run(["rm", "-rf", root])
