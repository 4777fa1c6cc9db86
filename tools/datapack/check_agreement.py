#!/usr/bin/python3
"""Check that the converted ONNX face models compute what the original TF.js models do.

    check_agreement.py --models DIR [--onnx-dir DIR] --reference DIR
                       [--atol 1e-4] [--rtol 1e-4]

For every case listed in DIR/reference.json (written by reference/make_reference.mjs
with TF.js's CPU backend) the synthetic input is regenerated bit for bit, the ONNX model
is run with OpenCV's dnn module, and every output is compared with the stored
reference. An output passes when every element satisfies

    |onnx - reference| <= atol + rtol * |reference|.

The ONNX models are read from --onnx-dir/<model>.onnx (all of them must exist there);
without --onnx-dir they are converted from --models/<model>.json on the fly. The
--models folder must exist either way (it shows that the package was fetched). Prints
the maximum absolute and relative error per output and exits with status 1 when any
output fails or anything is missing.
"""

import argparse
import json
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# The relative error figure leaves out reference values smaller than this fraction of
# the output's largest magnitude: near zero a relative error only measures rounding
# noise. The pass criterion itself covers every element.
REL_FLOOR = 1e-2


def hash32(v):
    """murmur3's 32-bit finaliser on a uint64 array holding 32-bit values."""
    m = np.uint64(0xFFFFFFFF)
    h = v & m
    h = ((h ^ (h >> np.uint64(16))) * np.uint64(0x85EBCA6B)) & m
    h = ((h ^ (h >> np.uint64(13))) * np.uint64(0xC2B2AE35)) & m
    return h ^ (h >> np.uint64(16))


def pattern_nhwc(h, w, c, seed):
    """The integer input pattern of make_reference.mjs (values 0..256), NHWC order."""
    y, x, ch = np.meshgrid(np.arange(h, dtype=np.int64), np.arange(w, dtype=np.int64),
                           np.arange(c, dtype=np.int64), indexing="ij")
    i = (y * w + x) * c + ch
    tx = np.abs((x * (3 + ch) + 7 * seed) % 64 - 32)
    ty = np.abs((y * (2 + ch) + 11 * seed) % 48 - 24)
    key = (i.astype(np.uint64) + np.uint64((seed * 0x9E3779B9) & 0xFFFFFFFF)) & np.uint64(0xFFFFFFFF)
    noise = (hash32(key) % np.uint64(33)).astype(np.int64)
    return 4 * tx + 4 * ty + noise


def make_input(case):
    n, h, w, c = case["input_shape_nhwc"]
    q = pattern_nhwc(h, w, c, int(case["seed"]))
    values = (q.astype(np.float64) * float(case["scale"]) + float(case["offset"])).astype(np.float32)
    return np.ascontiguousarray(values.transpose(2, 0, 1)[None])  # NCHW, batch 1


def compare(got, ref, atol, rtol):
    diff = np.abs(got.astype(np.float64) - ref.astype(np.float64))
    bound = atol + rtol * np.abs(ref.astype(np.float64))
    big = np.abs(ref) >= REL_FLOOR * float(np.abs(ref).max())
    max_rel = float((diff[big] / np.abs(ref[big])).max()) if big.any() else 0.0
    ok = bool(np.isfinite(got).all() and (diff <= bound).all())
    return float(diff.max()), max_rel, ok


def declared_shape(value_info):
    return [d.dim_value if d.HasField("dim_value") else -1
            for d in value_info.type.tensor_type.shape.dim]


def check_interface(proto, cases):
    """The graph's declared input and outputs must be those of the interface: one input
    "input" [1, C, H, W] and the reference's outputs with their TF shapes."""
    ins = [(i.name, declared_shape(i)) for i in proto.graph.input]
    n, h, w, c = cases[0]["input_shape_nhwc"]
    if ins != [("input", [1, c, h, w])]:
        raise RuntimeError("graph inputs %s, expected [('input', %s)]" % (ins, [1, c, h, w]))
    outs = dict((o.name, declared_shape(o)) for o in proto.graph.output)
    for o in cases[0]["outputs"]:
        if outs.get(o["name"]) != list(o["shape"]):
            raise RuntimeError("graph output %s has shape %s, expected %s"
                               % (o["name"], outs.get(o["name"]), o["shape"]))
    if len(outs) != len(cases[0]["outputs"]):
        raise RuntimeError("graph has outputs %s, expected %s"
                           % (sorted(outs), sorted(o["name"] for o in cases[0]["outputs"])))


def load_net(cv2, model, args, timings, cases):
    import onnx
    if args.onnx_dir:
        path = os.path.join(args.onnx_dir, model + ".onnx")
        if not os.path.isfile(path):
            raise RuntimeError("converted model %s is missing (was the data pack built?)" % path)
        proto = onnx.load(path)
    else:
        import tfjs_to_onnx
        src = os.path.join(args.models, model + ".json")
        if not os.path.isfile(src):
            raise RuntimeError("model %s is missing (was the npm package fetched?)" % src)
        t0 = time.time()
        proto = tfjs_to_onnx.convert(src)
        timings[model] = time.time() - t0
    check_interface(proto, cases)
    return cv2.dnn.readNetFromONNX(np.frombuffer(proto.SerializeToString(), dtype=np.uint8))


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    p.add_argument("--models", required=True, help="folder with the TF.js models (<name>.json)")
    p.add_argument("--onnx-dir", help="folder with the converted <name>.onnx files")
    p.add_argument("--reference", required=True, help="folder with reference.json")
    p.add_argument("--atol", type=float, default=1e-4)
    p.add_argument("--rtol", type=float, default=1e-4)
    args = p.parse_args(argv[1:])

    try:
        import cv2
    except ImportError as e:
        print("check_agreement: cannot import cv2 (%s); run with Debian's /usr/bin/python3" % e)
        return 1
    manifest_path = os.path.join(args.reference, "reference.json")
    try:
        with open(manifest_path) as f:
            manifest = json.load(f)
    except (OSError, ValueError) as e:
        print("check_agreement: cannot read %s: %s" % (manifest_path, e))
        return 1
    if not os.path.isdir(args.models):
        print("check_agreement: model folder %s does not exist (was the data pack built? "
              "it fetches the npm package there)" % args.models)
        return 1
    if args.onnx_dir and not os.path.isdir(args.onnx_dir):
        print("check_agreement: folder of converted models %s does not exist "
              "(was the data pack built?)" % args.onnx_dir)
        return 1

    print("reference: %s" % manifest.get("generator", "?"))
    print("tolerance: |onnx - ref| <= %g + %g * |ref|; rel. error over |ref| >= %g * max|ref|"
          % (args.atol, args.rtol, REL_FLOOR))
    failures = 0
    nets, timings = {}, {}
    for case in manifest.get("cases", []):
        model = case["model"]
        try:
            if model not in nets:
                nets[model] = load_net(cv2, model, args, timings,
                                       [c for c in manifest["cases"] if c["model"] == model])
            net = nets[model]
            net.setInput(make_input(case), "input")
            names = [o["name"] for o in case["outputs"]]
            outs = net.forward(names)
        except Exception as e:  # conversion, import or run failure: report, go on
            print("FAIL %s seed %s: %s" % (model, case.get("seed"), str(e).strip()))
            failures += 1
            continue
        for o, got in zip(case["outputs"], outs):
            ref = np.load(os.path.join(args.reference, o["file"]))
            if list(got.shape) != list(ref.shape):
                print("FAIL %-10s s%d %-16s shape %s, reference %s"
                      % (model, case["seed"], o["name"], list(got.shape), list(ref.shape)))
                failures += 1
                continue
            max_abs, max_rel, ok = compare(got.reshape(-1), ref.reshape(-1), args.atol, args.rtol)
            print("%s %-10s s%d %-16s n=%-6d max|ref|=%-9.4g max abs err=%.3e max rel err=%.3e"
                  % ("ok  " if ok else "FAIL", model, case["seed"], o["name"], ref.size,
                     float(np.abs(ref).max()), max_abs, max_rel))
            if not ok:
                failures += 1
    for model, t in sorted(timings.items()):
        print("converted %s in %.2f s" % (model, t))
    if not manifest.get("cases"):
        print("check_agreement: %s lists no cases" % manifest_path)
        return 1
    print("%s: %d failure(s)" % ("FAILED" if failures else "PASSED", failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
