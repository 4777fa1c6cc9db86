#!/usr/bin/python3
"""Builds the SDK's data pack from the pinned npm packages.

    build_datapack.py --build-dir B --vino-pack TOOL --out DATA_DIR

1. fetches @vladmandic/human (the models) and @vladmandic/face-api (demo photos,
   used only for checks) into B/datapack/npm, and writes grey copies of the
   photos to B/datapack/demo/sampleN.pgm for the C++ tests;
2. converts BlazeFace, FaceMesh and Iris to ONNX: B/datapack/onnx/{blazeface,
   facemesh,iris}.onnx;
3. adapts them to the SDK's networks: B/datapack/onnx/{ff,d1qy,pr}.onnx and
   B/datapack/onnx/aux_file.bin, and checks the face finder against the source
   detector (every anchor's box and score, on synthetic inputs and the photos);
4. packs each network into an encrypted .vino container with TOOL and lays out

       DATA_DIR/NeuralNet.cfg
       DATA_DIR/orvix-tracker.cfg
       DATA_DIR/nn/face-detector/ff.vino
       DATA_DIR/nn/alignment/d1qy.vino, aux_file.bin
       DATA_DIR/nn/pupils/pr.vino
       DATA_DIR/LICENSES/NOTICE, human-LICENSE.txt, Apache-2.0.txt

The pack is assembled in a scratch folder next to DATA_DIR and renamed into
place only when complete, so an interrupted build never leaves half a pack;
every work file is written through a temporary file and renamed as well.
Any failure prints one message and exits with status 1.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import numpy as np  # noqa: E402
import onnx  # noqa: E402

import fetch_npm  # noqa: E402
import make_ff  # noqa: E402
import make_pr  # noqa: E402
import tfjs_to_onnx  # noqa: E402

TEMPLATES = os.path.normpath(os.path.join(HERE, "..", "..", "data", "pack"))
HUMAN = "@vladmandic/human"
DEMO = "@vladmandic/face-api"
SOURCE_MODELS = ("blazeface", "facemesh", "iris")
# Debian ships the licence texts of common licences here.
APACHE_LICENSE = "/usr/share/common-licenses/Apache-2.0"
STAMP = ".datapack.stamp"

# network stem -> (pack folder, input channels, height, width)
NETWORKS = {
    "ff": ("nn/face-detector", 1, 256, 256),
    "d1qy": ("nn/alignment", 1, 96, 96),
    "pr": ("nn/pupils", 1, 32, 32),
}

# Largest differences the face-finder check accepts (boxes in input pixels).
FF_BOX_TOLERANCE = 0.01
FF_SCORE_TOLERANCE = 1e-5


class DatapackError(Exception):
    pass


def log(message):
    sys.stdout.write("datapack: %s\n" % message)
    sys.stdout.flush()


def save_model(model, path):
    tmp = path + ".tmp"
    onnx.save(model, tmp)
    os.replace(tmp, path)


def copy_file(src, dst):
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    tmp = dst + ".tmp"
    shutil.copyfile(src, tmp)
    os.replace(tmp, dst)


def demo_images(package):
    folder = os.path.join(package, "demo")
    images = sorted(os.path.join(folder, f) for f in os.listdir(folder)
                    if f.startswith("sample") and f.endswith(".jpg"))
    if not images:
        raise DatapackError("no demo photos in %s" % folder)
    return images


def write_demo_frames(images, folder):
    """Grey copies of the demo photos as binary PGM files (FOLDER/sampleN.pgm), for
    tests that cannot decode JPEG."""
    import cv2
    os.makedirs(folder, exist_ok=True)
    for path in images:
        grey = cv2.imread(path, cv2.IMREAD_GRAYSCALE)
        if grey is None:
            raise DatapackError("cannot decode %s" % path)
        target = os.path.join(folder, os.path.splitext(os.path.basename(path))[0] + ".pgm")
        with open(target + ".tmp", "wb") as f:
            f.write(b"P5\n%d %d\n255\n" % (grey.shape[1], grey.shape[0]))
            f.write(grey.tobytes())
        os.replace(target + ".tmp", target)


def check_face_finder(converted, adapted, images):
    """The adapted face finder, decoded the SDK's way, must reproduce every
    source anchor's box and score."""
    for label, inputs in (("synthetic inputs", make_ff.formula_inputs()),
                          ("%d photos" % len(images), make_ff.image_inputs(images))):
        worst = make_ff.compare(converted, adapted, inputs)
        log("ff check on %s: box %.2g px, score %.2g, unused slots %.2g (%d anchors)"
            % (label, worst["box_px"], worst["score"], worst["unused_score"], worst["anchors_compared"]))
        if (not worst["finite"] or worst["box_px"] > FF_BOX_TOLERANCE or worst["score"] > FF_SCORE_TOLERANCE
                or worst["unused_score"] != 0.0 or worst["landmarks"] != 0.0):
            raise DatapackError("the face finder does not reproduce the source detector on %s: %s"
                                % (label, worst))


def check_pupils(adapted):
    """The pupil network must give finite, plausible readings on simple crops."""
    import cv2
    net = cv2.dnn.readNetFromONNX(adapted.SerializeToString())
    yy, xx = np.mgrid[0:32, 0:32]
    eye = 200 - 150 * np.exp(-(((xx - 16) / 5.0) ** 2 + ((yy - 16) / 5.0) ** 2))
    for crop in (np.zeros((32, 32)), np.full((32, 32), 255.0), eye):
        net.setInput(crop[None, None].astype(np.float32))
        u, v, r = net.forward().reshape(3)
        if not (np.isfinite([u, v, r]).all() and -1 < u < 2 and -1 < v < 2 and 0 <= r < 2):
            raise DatapackError("the pupil network gives an implausible reading (%g, %g, %g)" % (u, v, r))


def build_alignment(converted, aux_path):
    try:
        import make_d1qy
    except ImportError as e:
        raise DatapackError("the alignment network cannot be built yet: make_d1qy.py is missing or broken (%s)"
                            % e)
    model = make_d1qy.build(converted, aux_path)
    if not os.path.isfile(aux_path):
        raise DatapackError("make_d1qy.build did not write %s" % aux_path)
    return model


def run_tool(tool, args):
    proc = subprocess.run([tool] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0:
        raise DatapackError("%s %s failed (exit %d): %s" % (os.path.basename(tool), " ".join(args[:1]),
                                                             proc.returncode, proc.stderr.strip()))


def lay_out(stage, onnx_dir, tool, human):
    for stem, (folder, channels, height, width) in NETWORKS.items():
        target = os.path.join(stage, folder, stem + ".vino")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        run_tool(tool, ["pack", os.path.join(onnx_dir, stem + ".onnx"), target, "--channels", str(channels),
                        "--height", str(height), "--width", str(width), "--type", "uint8", "--layout", "nhwc"])
        run_tool(tool, ["verify", target])
    copy_file(os.path.join(onnx_dir, "aux_file.bin"), os.path.join(stage, NETWORKS["d1qy"][0], "aux_file.bin"))
    for name in ("NeuralNet.cfg", "orvix-tracker.cfg", os.path.join("LICENSES", "NOTICE")):
        copy_file(os.path.join(TEMPLATES, name), os.path.join(stage, name))
    copy_file(os.path.join(human, "LICENSE"), os.path.join(stage, "LICENSES", "human-LICENSE.txt"))
    if not os.path.isfile(APACHE_LICENSE):
        raise DatapackError("the Apache-2.0 licence text %s is missing (Debian package base-files)"
                            % APACHE_LICENSE)
    copy_file(APACHE_LICENSE, os.path.join(stage, "LICENSES", "Apache-2.0.txt"))


def replace_folder(stage, out):
    """Moves the finished pack into place; an older pack is removed afterwards."""
    old = None
    if os.path.lexists(out):
        old = tempfile.mkdtemp(prefix=".old-", dir=os.path.dirname(out))
        os.rename(out, os.path.join(old, "data"))
    os.rename(stage, out)
    if old:
        shutil.rmtree(old, ignore_errors=True)


def build(build_dir, tool, out):
    started = time.time()
    work = os.path.join(build_dir, "datapack")
    onnx_dir = os.path.join(work, "onnx")
    os.makedirs(onnx_dir, exist_ok=True)
    if not os.path.isfile(tool) or not os.access(tool, os.X_OK):
        raise DatapackError("packing tool %s is not an executable file" % tool)

    human = fetch_npm.fetch(HUMAN, os.path.join(work, "npm"))
    demo = fetch_npm.fetch(DEMO, os.path.join(work, "npm"))
    write_demo_frames(demo_images(demo), os.path.join(work, "demo"))
    log("fetched %s and %s" % (HUMAN, DEMO))

    converted = {}
    for name in SOURCE_MODELS:
        converted[name] = tfjs_to_onnx.convert(os.path.join(human, "models", name + ".json"))
        save_model(converted[name], os.path.join(onnx_dir, name + ".onnx"))
    log("converted %s" % ", ".join(SOURCE_MODELS))

    ff = make_ff.build(converted["blazeface"])
    check_face_finder(converted["blazeface"], ff, demo_images(demo))
    save_model(ff, os.path.join(onnx_dir, "ff.onnx"))
    pr = make_pr.build(converted["iris"])
    check_pupils(pr)
    save_model(pr, os.path.join(onnx_dir, "pr.onnx"))
    aux_tmp = os.path.join(onnx_dir, "aux_file.bin.tmp")
    d1qy = build_alignment(converted["facemesh"], aux_tmp)
    save_model(d1qy, os.path.join(onnx_dir, "d1qy.onnx"))
    os.replace(aux_tmp, os.path.join(onnx_dir, "aux_file.bin"))
    log("adapted ff, pr, d1qy")

    parent = os.path.dirname(os.path.abspath(out))
    os.makedirs(parent, exist_ok=True)
    stage = tempfile.mkdtemp(prefix=".data-", dir=parent)
    try:
        lay_out(stage, onnx_dir, tool, human)
        with open(os.path.join(stage, STAMP), "w") as f:
            f.write("%s %s\n" % (HUMAN, fetch_npm.PINS[HUMAN][0]))
        os.chmod(stage, 0o755)
        replace_folder(stage, os.path.abspath(out))
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    log("pack ready in %s (%.0f s)" % (out, time.time() - started))


def main(argv):
    parser = argparse.ArgumentParser(description="Build the SDK's data pack.")
    parser.add_argument("--build-dir", required=True, help="build folder; work files go to BUILD_DIR/datapack")
    parser.add_argument("--vino-pack", required=True, help="the orvix-vino-pack tool")
    parser.add_argument("--out", required=True, help="folder of the finished pack")
    args = parser.parse_args(argv[1:])
    try:
        build(os.path.abspath(args.build_dir), os.path.abspath(args.vino_pack), args.out)
    except (DatapackError, fetch_npm.FetchError, tfjs_to_onnx.ConversionError, ValueError, OSError) as e:
        sys.stderr.write("datapack: error: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
