#!/usr/bin/python3
"""Face-finder network "ff" from the converted BlazeFace detector.

    build(converted) -> onnx.ModelProto

The SDK's face finder feeds a 256x256 grey letterboxed frame (float 0..255,
shape [1, 1, 256, 256]) and reads one float tensor "output" of three blocks for
its 3760 prior boxes (maps with steps 8, 16, 32, 64; rows, columns, sizes):

    location  N x 4   dx, dy, dw, dh     cx' = cx + 0.1 dx w,  w' = w exp(0.2 dw)
    scores    N x 2   background, face
    landmarks N x 10  not read by the SDK: zeros

BlazeFace has 896 anchors of its own (512 on a 16x16 map with 2 per cell, then
384 on an 8x8 map with 6 per cell); each predicts a box centre offset and a box
size in input pixels and a score logit. The graph below decodes every anchor's
box and re-encodes it relative to one fixed prior slot of its own, which makes
the SDK's decoding give the very same box for any prior:

    dx = (cx_a - cx_p) / (0.1 w_p)          dw = ln(w_a / w_p) / 0.2

The 512 anchors of the 16x16 map take the priors of the step-16 map, which has
the same centres and two sizes per cell, in the same order; the 384 anchors of
the 8x8 map take the first 384 priors of the step-8 map. Face score =
sigmoid(logit), background = 1 - face score; every other slot has location 0,
background 1 and face score exactly 0.

Only operators that OpenCV 4.6's importer reads are used: constant scalar and
full-shape elementwise arithmetic, Slice, Relu, Log, Sigmoid, Concat, Reshape.

Command line:  make_ff.py CONVERTED.onnx OUT.onnx [--check IMAGE...]
"""

import math
import os
import sys

import numpy as np
import onnx

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from adapter_graph import AdapterGraph, compose_model, dims, find_value  # noqa: E402

INPUT_SIZE = 256
# (step, prior sizes in pixels) of the SDK's prior maps, in output order.
PRIOR_MAPS = ((8, (10, 16, 24)), (16, (32, 48)), (32, (64, 96)), (64, (128, 192, 256)))
CENTER_VARIANCE = 0.1
SIZE_VARIANCE = 0.2
LANDMARK_VALUES = 10
# Box sizes are clamped to this many pixels before the logarithm, so that an
# anchor predicting a non-positive size still yields a finite (tiny) box.
MIN_BOX_SIZE = 1e-6

# BlazeFace's anchor groups in its own output order: score output, regressor
# output, stride, anchors per cell; then the first prior slot of the group.
SOURCE_GROUPS = (
    ("Identity", "Identity_2", 16, 2),
    ("Identity_1", "Identity_3", 32, 6),
)


def prior_boxes():
    """The SDK's priors as rows (cx, cy, w, h), normalised to the input."""
    rows = []
    for step, sizes in PRIOR_MAPS:
        cells = int(math.ceil(INPUT_SIZE / step))
        for j in range(cells):
            for k in range(cells):
                for a in sizes:
                    rows.append(((k + 0.5) * step / INPUT_SIZE, (j + 0.5) * step / INPUT_SIZE,
                                 a / INPUT_SIZE, a / INPUT_SIZE))
    return np.array(rows, np.float64)


def prior_count():
    return len(prior_boxes())


def map_offset(step):
    """First prior slot of the map with this step."""
    offset = 0
    for s, sizes in PRIOR_MAPS:
        if s == step:
            return offset
        offset += int(math.ceil(INPUT_SIZE / s)) ** 2 * len(sizes)
    raise ValueError("no prior map with step %d" % step)


# First prior slot of each source group (same order as SOURCE_GROUPS).
GROUP_SLOTS = (map_offset(16), map_offset(8))


def source_anchors(stride, per_cell):
    """Anchor centres in input pixels, rows, then columns, then anchors."""
    cells = INPUT_SIZE // stride
    out = []
    for j in range(cells):
        for k in range(cells):
            for _ in range(per_cell):
                out.append(((k + 0.5) * stride, (j + 0.5) * stride))
    return np.array(out, np.float64)


def anchor_slots():
    """Prior slot of every source anchor, in the source's order (16x16 map, then 8x8)."""
    slots = []
    for (_, _, stride, per_cell), first in zip(SOURCE_GROUPS, GROUP_SLOTS):
        n = (INPUT_SIZE // stride) ** 2 * per_cell
        slots.extend(range(first, first + n))
    return np.array(slots)


def _check_layout():
    """The groups must occupy distinct, in-range slot ranges."""
    used = anchor_slots()
    if len(set(used.tolist())) != len(used) or used.min() < 0 or used.max() >= prior_count():
        raise AssertionError("source anchors do not map onto distinct prior slots")


def _slice_last(g, x, start, end, what):
    """x[..., start:end] along the last of three axes."""
    return g.node("Slice", [x, g.const(np.array([start], np.int64), what + "_start"),
                            g.const(np.array([end], np.int64), what + "_end"),
                            g.const(np.array([2], np.int64), what + "_axis")], what)


def _encode_group(g, scores, regressors, stride, per_cell, first_slot, priors):
    """Location codes [1, n, 4] and scores [1, n, 2] of one anchor group."""
    anchors = source_anchors(stride, per_cell)
    n = len(anchors)
    p = priors[first_slot:first_slot + n]
    # Centres: dx = (r + a) / S / (0.1 w_p) - cx_p / (0.1 w_p), per anchor.
    scale = np.stack([1.0 / (INPUT_SIZE * CENTER_VARIANCE * p[:, 2]),
                      1.0 / (INPUT_SIZE * CENTER_VARIANCE * p[:, 3])], axis=1)
    shift = np.stack([(anchors[:, 0] / INPUT_SIZE - p[:, 0]) / (CENTER_VARIANCE * p[:, 2]),
                      (anchors[:, 1] / INPUT_SIZE - p[:, 1]) / (CENTER_VARIANCE * p[:, 3])], axis=1)
    centre = _slice_last(g, regressors, 0, 2, "centre_raw")
    centre = g.node("Mul", [centre, g.const(scale[None].astype(np.float32), "centre_scale")], "centre_scaled")
    centre = g.node("Add", [centre, g.const(shift[None].astype(np.float32), "centre_shift")], "centre_code")
    # Sizes: dw = (ln(max(r, eps)) - ln(S w_p)) / 0.2.
    size = _slice_last(g, regressors, 2, 4, "size_raw")
    size = g.node("Relu", [size], "size_positive")
    size = g.node("Add", [size, g.scalar(MIN_BOX_SIZE, "size_floor")], "size_floored")
    size = g.node("Log", [size], "size_log")
    size = g.node("Mul", [size, g.scalar(1.0 / SIZE_VARIANCE, "size_variance")], "size_scaled")
    size_shift = -np.log(INPUT_SIZE * p[:, 2:4]) / SIZE_VARIANCE
    size = g.node("Add", [size, g.const(size_shift[None].astype(np.float32), "size_shift")], "size_code")
    location = g.node("Concat", [centre, size], "location", axis=2)
    # Scores: the source's plain sigmoid of the logit.
    face = g.node("Sigmoid", [scores], "face")
    background = g.node("Mul", [face, g.scalar(-1.0, "minus_one")], "minus_face")
    background = g.node("Add", [background, g.scalar(1.0, "one")], "background")
    score = g.node("Concat", [background, face], "scores", axis=2)
    return location, score, n


def _scatter(g, pieces, total, width, fill, what):
    """Concatenates [1, n, width] pieces at their slots, filling the gaps with
    constant rows, and flattens to [1, total * width]."""
    parts = []
    at = 0
    for slot, tensor, n in sorted(pieces, key=lambda piece: piece[0]):
        if slot > at:
            parts.append(g.const(np.tile(np.array(fill, np.float32), (1, slot - at, 1)), what + "_fill"))
        parts.append(tensor)
        at = slot + n
    if at < total:
        parts.append(g.const(np.tile(np.array(fill, np.float32), (1, total - at, 1)), what + "_fill"))
    joined = g.node("Concat", parts, what, axis=1)
    return g.node("Reshape", [joined, g.const(np.array([1, total * width], np.int64), what + "_shape")],
                  what + "_flat")


def build(converted):
    """Composes pre-processing, the converted BlazeFace graph and the prior re-encoding."""
    _check_layout()
    graph = converted.graph
    source_input = find_value(graph.input, "input")
    if source_input is None:
        raise ValueError("the converted detector has no input named 'input'")
    input_dims = dims(source_input)
    if input_dims != [1, 3, INPUT_SIZE, INPUT_SIZE]:
        raise ValueError("the converted detector's input is %s, expected [1, 3, %d, %d]"
                         % (input_dims, INPUT_SIZE, INPUT_SIZE))
    for scores, regressors, stride, per_cell in SOURCE_GROUPS:
        n = (INPUT_SIZE // stride) ** 2 * per_cell
        for name, width in ((scores, 1), (regressors, 16)):
            out = find_value(graph.output, name)
            if out is None:
                raise ValueError("the converted detector has no output named %r" % name)
            shape = dims(out)
            if shape != [1, n, width]:
                raise ValueError("output %s is %s, expected [1, %d, %d]" % (name, shape, n, width))

    g = AdapterGraph("post")
    # Grey 0..255 -> the source's -1..1 scaling, replicated to three channels.
    weights = np.full((3, 1, 1, 1), 1.0 / 127.5, np.float32)
    g.node("Conv", ["pre_image", g.const(weights, "grey_to_rgb", "pre"), g.const(np.full(3, -1.0, np.float32),
                                                                                   "offset", "pre")],
           "scaled", output="input", prefix="pre", kernel_shape=[1, 1])

    priors = prior_boxes()
    total = len(priors)
    locations, scores = [], []
    for (score_name, regressor_name, stride, per_cell), first in zip(SOURCE_GROUPS, GROUP_SLOTS):
        location, score, n = _encode_group(g, score_name, regressor_name, stride, per_cell, first, priors)
        locations.append((first, location, n))
        scores.append((first, score, n))
    location = _scatter(g, locations, total, 4, [0.0, 0.0, 0.0, 0.0], "location_block")
    score = _scatter(g, scores, total, 2, [1.0, 0.0], "score_block")
    landmarks = g.const(np.zeros((1, total * LANDMARK_VALUES), np.float32), "landmark_block")
    g.node("Concat", [location, score, landmarks], "output", output="output", axis=1)

    out_size = total * (4 + 2 + LANDMARK_VALUES)
    return compose_model(converted, "ff", g.nodes[:1] + list(graph.node) + g.nodes[1:],
                         [1, 1, INPUT_SIZE, INPUT_SIZE], [1, out_size], list(graph.initializer) + g.inits,
                         graph.value_info)


# ---------------------------------------------------------------------------
# Checks: the adapted network, decoded the way the SDK decodes it, must give the
# boxes and scores of the source network decoded the way the source does.

def letterbox(grey):
    """The SDK's 256x256 letterbox of a grey image (content centred, zero fill)."""
    import cv2
    h, w = grey.shape
    out = np.zeros((INPUT_SIZE, INPUT_SIZE), np.uint8)
    if w / h > 1:
        ch = int(np.round(INPUT_SIZE / (w / h)))
        cw = INPUT_SIZE
    else:
        cw = int(np.round(INPUT_SIZE / (h / w)))
        ch = INPUT_SIZE
    x0, y0 = (INPUT_SIZE - cw) // 2, (INPUT_SIZE - ch) // 2
    out[y0:y0 + ch, x0:x0 + cw] = cv2.resize(grey, (cw, ch), interpolation=cv2.INTER_LINEAR)
    return out


def decode_sdk(output, score_floor=None):
    """Boxes (x1, y1, x2, y2 in input pixels, not clipped) and face scores of all
    priors, decoded from the adapted network's output as the SDK does."""
    priors = prior_boxes().astype(np.float32)
    n = len(priors)
    out = np.asarray(output, np.float32).reshape(-1)
    loc = out[:4 * n].reshape(n, 4)
    scores = out[4 * n:6 * n].reshape(n, 2)
    cx = priors[:, 0] + CENTER_VARIANCE * loc[:, 0] * priors[:, 2]
    cy = priors[:, 1] + CENTER_VARIANCE * loc[:, 1] * priors[:, 3]
    w = priors[:, 2] * np.exp(SIZE_VARIANCE * loc[:, 2])
    h = priors[:, 3] * np.exp(SIZE_VARIANCE * loc[:, 3])
    boxes = np.stack([(cx - w / 2) * INPUT_SIZE, (cy - h / 2) * INPUT_SIZE,
                      (cx + w / 2) * INPUT_SIZE, (cy + h / 2) * INPUT_SIZE], axis=1)
    return boxes, scores[:, 1], scores[:, 0], out[6 * n:]


def decode_source(outputs):
    """Boxes and scores of the 896 anchors decoded the source's way, from the
    converted network's outputs {name: array}."""
    boxes, scores = [], []
    for score_name, regressor_name, stride, per_cell in SOURCE_GROUPS:
        anchors = source_anchors(stride, per_cell)
        raw = np.asarray(outputs[regressor_name], np.float64).reshape(len(anchors), 16)
        logits = np.asarray(outputs[score_name], np.float64).reshape(len(anchors))
        centre = raw[:, 0:2] + anchors
        size = raw[:, 2:4]
        boxes.append(np.concatenate([centre - size / 2, centre + size / 2], axis=1))
        scores.append(0.5 * (1.0 + np.tanh(logits / 2.0)))  # sigmoid without overflow
    return np.concatenate(boxes), np.concatenate(scores)


def compare(converted, adapted, grey_inputs):
    """Runs both networks (OpenCV dnn) on 256x256 uint8 grey inputs and returns
    the largest differences: box corners of anchors with positive sizes (pixels),
    face scores, and the largest face score of any unused slot."""
    import cv2
    source = cv2.dnn.readNetFromONNX(converted.SerializeToString())
    target = cv2.dnn.readNetFromONNX(adapted.SerializeToString())
    names = [name for group in SOURCE_GROUPS for name in group[:2]]
    slots = anchor_slots()
    unused = np.ones(prior_count(), bool)
    unused[slots] = False
    worst = {"box_px": 0.0, "score": 0.0, "unused_score": 0.0, "unused_background": 0.0,
             "landmarks": 0.0, "finite": True, "anchors_compared": 0}
    for grey in grey_inputs:
        grey = np.asarray(grey, np.uint8)
        rgb = np.repeat(grey[None, None].astype(np.float32) / 127.5 - 1.0, 3, axis=1)
        source.setInput(rgb)
        outs = dict(zip(names, source.forward(names)))
        ref_boxes, ref_scores = decode_source(outs)
        target.setInput(grey[None, None].astype(np.float32))
        boxes, scores, background, landmarks = decode_sdk(target.forward())
        worst["finite"] &= bool(np.isfinite(boxes).all() and np.isfinite(scores).all())
        sized = (ref_boxes[:, 2] > ref_boxes[:, 0]) & (ref_boxes[:, 3] > ref_boxes[:, 1])
        diff = np.abs(boxes[slots][sized] - ref_boxes[sized])
        worst["box_px"] = max(worst["box_px"], float(diff.max(initial=0.0)))
        worst["anchors_compared"] += int(sized.sum())
        worst["score"] = max(worst["score"], float(np.abs(scores[slots] - ref_scores).max()))
        worst["unused_score"] = max(worst["unused_score"], float(np.abs(scores[unused]).max()))
        worst["unused_background"] = max(worst["unused_background"],
                                         float(np.abs(background[unused] - 1.0).max()))
        worst["landmarks"] = max(worst["landmarks"], float(np.abs(landmarks).max()))
    return worst


def formula_inputs():
    """Synthetic 256x256 grey inputs: flat fields, ramps, a checkerboard, noise,
    and drawn face-like blobs."""
    yy, xx = np.mgrid[0:INPUT_SIZE, 0:INPUT_SIZE].astype(np.float64)
    rng = np.random.RandomState(7)
    inputs = [np.zeros((INPUT_SIZE, INPUT_SIZE)), np.full((INPUT_SIZE, INPUT_SIZE), 255.0),
              xx, yy, ((xx // 16 + yy // 16) % 2) * 255, rng.uniform(0, 255, (INPUT_SIZE, INPUT_SIZE))]
    blob = 60 + 160 * np.exp(-(((xx - 128) / 50) ** 2 + ((yy - 120) / 65) ** 2))
    for ex in (105, 151):
        blob -= 120 * np.exp(-(((xx - ex) / 9) ** 2 + ((yy - 105) / 5) ** 2))
    blob -= 90 * np.exp(-(((xx - 128) / 22) ** 2 + ((yy - 160) / 5) ** 2))
    inputs.append(blob)
    return [np.clip(np.round(a), 0, 255).astype(np.uint8) for a in inputs]


def image_inputs(paths):
    import cv2
    out = []
    for path in paths:
        grey = cv2.imread(path, cv2.IMREAD_GRAYSCALE)
        if grey is None:
            raise ValueError("cannot read image %s" % path)
        out.append(letterbox(grey))
    return out


def main(argv):
    args = argv[1:]
    images = []
    if "--check" in args:
        at = args.index("--check")
        images = args[at + 1:]
        args = args[:at]
    if len(args) != 2:
        sys.stderr.write("usage: make_ff.py CONVERTED.onnx OUT.onnx [--check IMAGE...]\n")
        return 2
    converted = onnx.load(args[0])
    model = build(converted)
    tmp = args[1] + ".tmp"
    onnx.save(model, tmp)
    os.replace(tmp, args[1])
    if images or "--check" in argv:
        print("formula inputs:", compare(converted, model, formula_inputs()))
        if images:
            print("images:", compare(converted, model, image_inputs(images)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
