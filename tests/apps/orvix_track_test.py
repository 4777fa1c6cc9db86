#!/usr/bin/python3
"""Checks of the orvix-track command line, run by ctest.

    orvix_track_test.py CASE TRACKER WORK_DIR PACK_DIR PACK_WORK_DIR [VIDEO]

CASE is one of: help, usage, failures, folder, faces, sample_video. Each case
prints what it checks and exits 0 when all is well, 1 on a failure and 77
(skipped) when the data it needs (the data pack, its demo photos, the sample
video) is not there.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import zlib

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(tracker, args, cwd):
    proc = subprocess.run([tracker] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, timeout=600)
    return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr.decode("utf-8", "replace")


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def write_pnm(path, width, height, channels, seed):
    magic = b"P5" if channels == 1 else b"P6"
    pixels = bytes((x * 7 + y * 3 + c * 50 + seed) % 256
                   for y in range(height) for x in range(width) for c in range(channels))
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n255\n" % (magic, width, height) + pixels)


def write_png(path, width, height, seed):
    """An 8-bit RGB PNG written by hand (no image library needed)."""
    rows = b"".join(b"\0" + bytes((x * 5 + y * 2 + c * 80 + seed) % 256
                                  for x in range(width) for c in range(3))
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows))
                + chunk(b"IEND", b""))


def reject_constant(name):
    raise ValueError("not JSON: %s" % name)


def read_jsonl(path):
    """Every line one JSON object (NaN and infinities refused)."""
    records = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            check(line.endswith("\n"), "line %d of %s is not ended" % (number, path))
            try:
                records.append(json.loads(line, parse_constant=reject_constant))
            except ValueError as e:
                raise Failure("line %d of %s is not valid JSON: %s" % (number, path, e))
    return records


def check_records(records, frames, max_faces, width, height, fps=None):
    check(len(records) == frames, "%d JSON lines for %d frames" % (len(records), frames))
    last_time = -1
    for i, rec in enumerate(records):
        check(set(rec) == {"frame", "time_ms", "faces"}, "frame %d has keys %s" % (i, sorted(rec)))
        check(rec["frame"] == i, "line %d holds frame %r" % (i, rec["frame"]))
        t = rec["time_ms"]
        check(isinstance(t, int) and t >= last_time, "frame %d time stamp %r goes backwards" % (i, t))
        if fps is not None:
            check(t == round(i * 1000.0 / fps), "frame %d time stamp %r, expected %r" % (i, t, round(i * 1000.0 / fps)))
        last_time = t
        faces = rec["faces"]
        check([f["slot"] for f in faces] == list(range(max_faces)), "frame %d slots %r" % (i, faces))
        for face in faces:
            check(face["status"] in (0, 1, 2, 3), "frame %d status %r" % (i, face["status"]))
            if face["status"] != 1:
                check(set(face) == {"slot", "status"}, "frame %d: a slot that does not track has %s"
                      % (i, sorted(face)))
                continue
            check(set(face) == {"slot", "status", "box", "scale", "quality", "iris", "points"},
                  "frame %d tracking slot keys %s" % (i, sorted(face)))
            x, y, w, h = face["box"]
            check(w > 0 and h > 0, "frame %d box %r" % (i, face["box"]))
            check(0.0 <= face["quality"] <= 1.0, "frame %d quality %r" % (i, face["quality"]))
            check(len(face["iris"]) == 2, "frame %d iris %r" % (i, face["iris"]))
            check(len(face["points"]) > 0, "frame %d: a tracked face without points" % i)
            # Points are pixels with y downward: inside the image, and the
            # great majority near the face box (with y upward they would sit
            # mirrored about the image's middle row).
            near = 0
            for name, (px, py) in face["points"].items():
                check(-1.0 <= px <= width + 1.0 and -1.0 <= py <= height + 1.0,
                      "frame %d point %s at %r outside the %dx%d image" % (i, name, (px, py), width, height))
                if x - 0.5 * w <= px <= x + 1.5 * w and y - 0.5 * h <= py <= y + 1.5 * h:
                    near += 1
            check(near >= 0.9 * len(face["points"]),
                  "frame %d: only %d of %d points near the face box %r" % (i, near, len(face["points"]), face["box"]))


def one_error_line(stderr, needle, strict=True):
    """The tool's one error line.  strict: nothing else on standard error;
    otherwise decoders may have said something before it (libpng writes its
    complaints straight to standard error)."""
    lines = [l for l in stderr.splitlines() if l.strip()]
    own = [l for l in lines if l.startswith("orvix-track:")]
    check(len(own) == 1 and lines and lines[-1] == own[0], "expected one error line at the end, got %r" % stderr)
    check(not strict or len(lines) == 1, "expected nothing but the error line, got %r" % stderr)
    check(own[0].startswith("orvix-track: error: "), "error line %r" % own[0])
    check(needle in own[0], "error line %r does not mention %r" % (own[0], needle))


def pack_config(pack_dir):
    path = os.path.join(pack_dir, "orvix-tracker.cfg")
    return path if os.path.isfile(path) else None


def case_help(tracker, work, **_):
    code, out, err = run(tracker, ["--help"], work)
    check(code == 0, "--help exit %d" % code)
    check(out.startswith("usage: orvix-track"), "--help prints %r" % out[:80])
    for option in ("--config", "--max-faces", "--jsonl", "--video-out", "--png-dir", "--frames", "--fps",
                   "--repeat", "--quiet"):
        check(option in out, "--help does not mention %s" % option)
    check(err == "", "--help writes to standard error: %r" % err)


def case_usage(tracker, work, **_):
    """Usage errors: exit 2 with one error line naming the problem, nothing written."""
    # The case works in a folder of its own: the other cases may run at the
    # same time and fill the shared work folder.
    here = fresh_dir(os.path.join(work, "usage"))
    inp = os.path.join(here, "in")
    os.makedirs(inp)
    write_pnm(os.path.join(inp, "a.pgm"), 8, 8, 1, 0)
    cases = [
        ([], "no input"),
        (["--quiet"], "no input"),
        ([inp, "--bogus"], "unknown option --bogus"),
        ([inp, inp], "more than one input"),
        ([inp, "--config"], "--config needs a value"),
        ([inp, "--jsonl", ""], "--jsonl"),
        ([inp, "--max-faces", "0"], "--max-faces"),
        ([inp, "--max-faces", "21"], "--max-faces"),
        ([inp, "--max-faces", "2x"], "--max-faces"),
        ([inp, "--max-faces", ""], "--max-faces"),
        ([inp, "--frames", "0"], "--frames"),
        ([inp, "--frames", "-3"], "--frames"),
        ([inp, "--frames", "99999999999999999999999"], "--frames"),
        ([inp, "--fps", "0"], "--fps"),
        ([inp, "--fps", "nan"], "--fps"),
        ([inp, "--fps", "inf"], "--fps"),
        ([inp, "--fps", "1001"], "--fps"),
        ([inp, "--repeat", "0"], "--repeat"),
        ([inp, "--repeat", "1.5"], "--repeat"),
    ]
    for args, needle in cases:
        before = set(os.listdir(here))
        code, out, err = run(tracker, args, here)
        check(code == 2, "%r: exit %d, expected 2 (stderr %r)" % (args, code, err))
        one_error_line(err, needle)
        check(out == "", "%r prints %r on standard output" % (args, out))
        check(set(os.listdir(here)) == before, "%r left files behind" % (args,))
        print("ok  exit 2  %r" % (args,))


def case_failures(tracker, work, pack_dir, **_):
    """Run-time failures: exit 1 with one error line."""
    base = fresh_dir(os.path.join(work, "failures"))
    inp = os.path.join(base, "in")
    os.makedirs(inp)
    write_pnm(os.path.join(inp, "a.pgm"), 16, 12, 1, 0)
    empty = os.path.join(base, "empty")
    os.makedirs(empty)
    with open(os.path.join(empty, "notes.txt"), "w") as f:
        f.write("not an image\n")
    bad_video = os.path.join(base, "bad.mp4")
    with open(bad_video, "wb") as f:
        f.write(b"\0\1\2 this is not a video " * 40)
    bad_image_dir = os.path.join(base, "badimage")
    os.makedirs(bad_image_dir)
    with open(os.path.join(bad_image_dir, "broken.png"), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n truncated")
    # A readable configuration: the pack's, else any file (these runs fail
    # before the tracker reads a frame).
    config = pack_config(pack_dir)
    if config is None:
        config = os.path.join(base, "tracker.cfg")
        with open(config, "w") as f:
            f.write("camera_focus 0\n")
    missing_dir = os.path.join(base, "no", "such", "folder")
    blocker = os.path.join(base, "blocker")
    with open(blocker, "w") as f:
        f.write("a file where a folder is asked for\n")
    jsonl = os.path.join(base, "out.jsonl")
    cases = [
        ([os.path.join(base, "missing.mp4"), "--config", config, "--jsonl", jsonl], "does not exist"),
        ([empty, "--config", config, "--jsonl", jsonl], "holds no images"),
        ([bad_video, "--config", config, "--jsonl", jsonl], "cannot open the video"),
        ([bad_image_dir, "--config", config, "--jsonl", jsonl], "cannot read the image"),
        ([inp, "--config", os.path.join(base, "missing.cfg"), "--jsonl", jsonl], "configuration"),
        ([inp, "--config", base, "--jsonl", jsonl], "configuration"),
        ([inp, "--config", config, "--jsonl", os.path.join(missing_dir, "x.jsonl")], "cannot write"),
        ([inp, "--config", config, "--jsonl", jsonl, "--video-out", os.path.join(missing_dir, "x.mp4")],
         "cannot write the video"),
        ([inp, "--config", config, "--jsonl", jsonl, "--png-dir", os.path.join(blocker, "frames")],
         "cannot create the folder"),
    ]
    # A tracker whose detector data cannot be loaded.
    if pack_config(pack_dir) is not None:
        broken = os.path.join(base, "broken-pack")
        os.makedirs(broken)
        shutil.copy(os.path.join(pack_dir, "NeuralNet.cfg"), broken)
        with open(pack_config(pack_dir)) as f:
            text = f.read().replace("ofd_data_path nn/face-detector", "ofd_data_path nowhere/face-detector")
        with open(os.path.join(broken, "orvix-tracker.cfg"), "w") as f:
            f.write(text)
        cases.append(([inp, "--config", os.path.join(broken, "orvix-tracker.cfg"), "--jsonl", jsonl],
                      "could not be initialised"))
    for args, needle in cases:
        code, out, err = run(tracker, args + ["--quiet"], base)
        check(code == 1, "%r: exit %d, expected 1 (stderr %r)" % (args, code, err))
        # libpng and the tracker's own set-up messages come before the line.
        one_error_line(err, needle, strict=needle not in ("cannot read the image", "could not be initialised"))
        print("ok  exit 1  %s" % needle)


def case_folder(tracker, work, pack_dir, **_):
    """A folder of generated images (no faces) runs to the end: one JSON line
    per frame, each image fed --repeat times, time stamps from --fps."""
    config = pack_config(pack_dir)
    if config is None:
        print("skipped: no data pack in %s" % pack_dir)
        return SKIP
    base = fresh_dir(os.path.join(work, "folder"))
    inp = os.path.join(base, "frames")
    os.makedirs(inp)
    write_pnm(os.path.join(inp, "b.pgm"), 64, 48, 1, 10)
    write_pnm(os.path.join(inp, "c.ppm"), 64, 48, 3, 20)
    write_png(os.path.join(inp, "a.png"), 64, 48, 30)
    with open(os.path.join(inp, "z-notes.txt"), "w") as f:
        f.write("ignored\n")

    # Default output name: <input name>.jsonl in the current folder.
    code, out, err = run(tracker, [inp, "--config", config, "--repeat", "2", "--fps", "10", "--max-faces", "2",
                                   "--png-dir", "annotated"], base)
    check(code == 0, "exit %d: %s" % (code, err))
    records = read_jsonl(os.path.join(base, "frames.jsonl"))
    check_records(records, 6, 2, 64, 48, fps=10)
    check(sorted(os.listdir(os.path.join(base, "annotated"))) == ["frame_%06d.png" % i for i in range(6)],
          "annotated frames %r" % os.listdir(os.path.join(base, "annotated")))
    check("frames:          6\n" in out, "summary %r" % out)
    check("tracked frames:  " in out and "ms median" in out, "summary %r" % out)
    # Not a terminal: plain progress lines, none when quiet.
    check("orvix-track: 100 % (6/6 frames" in err, "progress %r" % err)

    # --frames stops early; '-' writes the records to standard output and
    # the summary to standard error.
    code, out, err = run(tracker, [inp, "--config", config, "--frames", "2", "--jsonl", "-", "--quiet"], base)
    check(code == 0, "exit %d: %s" % (code, err))
    lines = out.splitlines()
    check(len(lines) == 2, "%d lines on standard output" % len(lines))
    records = [json.loads(l, parse_constant=reject_constant) for l in lines]
    check_records(records, 2, 1, 64, 48, fps=25)
    check("frames:          2" in err and "orvix-track:" not in err, "standard error %r" % err)
    print("ok  6 and 2 frames")


def case_faces(tracker, work, pack_dir, pack_work_dir, **_):
    """A photo of several faces, fed as consecutive frames, is tracked: the
    tracked slots carry boxes and points in image pixels."""
    config = pack_config(pack_dir)
    photo = os.path.join(pack_work_dir, "demo", "sample3.pgm")
    if config is None or not os.path.isfile(photo):
        print("skipped: no data pack or demo photo")
        return SKIP
    base = fresh_dir(os.path.join(work, "faces"))
    inp = os.path.join(base, "photo")
    os.makedirs(inp)
    shutil.copy(photo, os.path.join(inp, "sample3.pgm"))
    with open(photo, "rb") as f:
        header = f.read(64).split()
    width, height = int(header[1]), int(header[2])
    video = os.path.join(base, "tracked.avi")
    code, out, err = run(tracker, [inp, "--config", config, "--repeat", "6", "--max-faces", "3",
                                   "--jsonl", "faces.jsonl", "--video-out", video, "--quiet"], base)
    check(code == 0, "exit %d: %s" % (code, err))
    records = read_jsonl(os.path.join(base, "faces.jsonl"))
    check_records(records, 6, 3, width, height, fps=25)
    tracked = [sum(1 for f in r["faces"] if f["status"] == 1) for r in records]
    check(tracked[-1] >= 1, "tracked faces per frame %r: expected a face in the last frame" % tracked)
    check(os.path.getsize(video) > 0, "empty annotated video")
    print("ok  tracked faces per frame %r" % tracked)


def case_sample_video(tracker, work, pack_dir, video=None, **_):
    """The sample video: at least 95 % of its frames have a tracked face."""
    config = pack_config(pack_dir)
    if config is None or video is None or not os.path.isfile(video):
        print("skipped: no data pack or sample video")
        return SKIP
    base = fresh_dir(os.path.join(work, "sample_video"))
    code, out, err = run(tracker, [video, "--config", config, "--jsonl", "franck.jsonl", "--quiet"], base)
    check(code == 0, "exit %d: %s" % (code, err))
    print(out, end="")
    records = read_jsonl(os.path.join(base, "franck.jsonl"))
    check(len(records) > 100, "only %d frames" % len(records))
    with_face = sum(1 for r in records if any(f["status"] == 1 for f in r["faces"]))
    fraction = with_face / float(len(records))
    check("tracked frames:  %d (" % with_face in out, "summary disagrees with the records: %r" % out)
    check(fraction >= 0.95, "a face is tracked in %.1f %% of %d frames, expected at least 95 %%"
          % (100.0 * fraction, len(records)))
    print("ok  %d of %d frames tracked (%.1f %%)" % (with_face, len(records), 100.0 * fraction))


CASES = {
    "help": case_help,
    "usage": case_usage,
    "failures": case_failures,
    "folder": case_folder,
    "faces": case_faces,
    "sample_video": case_sample_video,
}


def main(argv):
    if len(argv) not in (6, 7) or argv[1] not in CASES:
        sys.stderr.write(__doc__)
        return 2
    work = os.path.abspath(argv[3])
    os.makedirs(work, exist_ok=True)
    try:
        result = CASES[argv[1]](tracker=os.path.abspath(argv[2]), work=work, pack_dir=argv[4],
                                pack_work_dir=argv[5], video=argv[6] if len(argv) == 7 else None)
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAILED: %s" % e)
        return 1
    return result or 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
