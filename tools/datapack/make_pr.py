#!/usr/bin/python3
"""Pupil network "pr" from the converted MediaPipe Iris landmark model.

    build(converted, content=CONTENT, fill="edge", orientation="mean") -> onnx.ModelProto

The SDK hands the network a 32x32 grey eye crop (float 0..255, [1, 1, 32, 32]):
a square of side 1.25 x the eye-corner distance centred on the corners'
midpoint, bicubically resized. It reads one tensor "output" of 3 floats (u, v, r):
the pupil centre in fractions of the crop side (x right, y down) and the iris
radius in crop sides. It does not say which eye the crop shows.

The iris model was trained on a wider view of one eye: a 64x64 RGB crop (values
0..1) of side 2.3 x the corner distance, showing the eye whose outer corner lies
on the image's left (the subject's right eye; the other eye is mirrored first).
It returns 71 eye-contour and brow points and 5 iris points (centre, then four
points on the iris rim), x y z each, in 64x64 pixels.

The graph here:
  1. resamples the crop into a 64x64 canvas so that the eye has the size the
     model was trained on: the crop fills the central CONTENT = 64 x 1.25 / 2.3
     pixels (bilinear), the margin repeats the crop's border pixels ("edge");
     the same resampling, mirrored, gives a second canvas. Both are linear maps
     of the crop, written as constant matrix products;
  2. runs the iris model on both canvases (the model's nodes twice, sharing
     their weights): the crop may show either eye, and in such a tight crop
     the model cannot tell a mirrored eye from a native one, so the two
     readings are averaged ("mean");
  3. maps the iris centre back into crop fractions (the mirrored reading
     un-mirrored) and takes the iris radius as a quarter of the sum of the two
     rim diameters, averaged over both readings.

The variants (content size, fill, orientation) were chosen by measurement on
photos: `make_pr.py --measure` prints the table (see README.md).

Command line:
  make_pr.py CONVERTED_IRIS.onnx OUT.onnx
  make_pr.py --measure ONNX_DIR IMAGE...   (ONNX_DIR holds blazeface, facemesh, iris .onnx)
"""

import os
import sys

import numpy as np
import onnx

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from adapter_graph import AdapterGraph, compose_model, dims  # noqa: E402

CROP = 32                 # side of the SDK's eye crop
NET = 64                  # side of the iris model's input
SDK_CROP_SCALE = 1.25     # SDK crop side / eye-corner distance
SOURCE_CROP_SCALE = 2.3   # iris model's crop side / eye-corner distance
CONTENT = NET * SDK_CROP_SCALE / SOURCE_CROP_SCALE
POINTS = 76               # 71 contour and brow points, then 5 iris points
IRIS_CENTRE = 71
IRIS_RIM = (72, 73, 74, 75)   # rim points: two opposite pairs (72, 74) and (73, 75)
OUTPUT_VALUES = POINTS * 3


def resample_matrix(content=CONTENT, fill="edge", mirror=False):
    """R [NET, CROP]: row j gives canvas pixel j as a bilinear mix of crop pixels.

    Canvas pixel centre j + 0.5 shows crop position ((j + 0.5) - off) / content
    (in crop sides), off = (NET - content) / 2. Outside the crop, "edge" repeats
    the border pixel; a number leaves the row empty (the caller adds the fill).
    With mirror the rows are reversed (left-right flip of the canvas)."""
    off = (NET - content) / 2.0
    rows = np.zeros((NET, CROP))
    inside = np.zeros(NET, bool)
    for j in range(NET):
        pos = ((j + 0.5) - off) / content * CROP - 0.5
        inside[j] = -0.5 <= pos <= CROP - 0.5
        if not inside[j] and fill != "edge":
            continue
        pos = min(max(pos, 0.0), CROP - 1.0)
        i0 = int(np.floor(pos))
        t = pos - i0
        rows[j, i0] += 1.0 - t
        if t > 0:
            rows[j, i0 + 1] += t
    if mirror:
        rows, inside = rows[::-1].copy(), inside[::-1].copy()
    return rows, inside


def canvas(crop, content=CONTENT, fill="edge", mirror=False):
    """The 64x64 canvas (values 0..1) for a 32x32 crop (values 0..255), in numpy."""
    cols, inside_x = resample_matrix(content, fill, mirror)
    rows, inside_y = resample_matrix(content, fill, False)
    out = rows @ (np.asarray(crop, np.float64) / 255.0) @ cols.T
    if fill != "edge":
        out = np.where(np.outer(inside_y, inside_x), out, float(fill))
    return out


def _canvas_nodes(g, image, content, fill, mirror, output):
    """Nodes making one [1, 3, 64, 64] canvas (0..1) from the [1, 1, 32, 32] image."""
    tag = "mirror" if mirror else "plain"
    cols, inside_x = resample_matrix(content, fill, mirror)
    rows, inside_y = resample_matrix(content, fill, False)
    # image @ cols^T resamples x; transposed, @ rows^T resamples y.
    x = g.node("MatMul", [image, g.const((cols.T / 255.0).astype(np.float32), tag + "_columns")], tag + "_x")
    x = g.node("Transpose", [x], tag + "_xt", perm=[0, 1, 3, 2])
    x = g.node("MatMul", [x, g.const(rows.T.astype(np.float32), tag + "_rows")], tag + "_xy")
    x = g.node("Transpose", [x], tag + "_grey", perm=[0, 1, 3, 2])
    if fill != "edge":
        margin = (1.0 - np.outer(inside_y, inside_x)) * float(fill)
        x = g.node("Add", [x, g.const(margin[None, None].astype(np.float32), tag + "_margin")], tag + "_filled")
    weights = np.ones((3, 1, 1, 1), np.float32)
    return g.node("Conv", [x, g.const(weights, tag + "_rgb")], tag + "_rgb", output=output, kernel_shape=[1, 1])


def _copy_graph(graph, prefix, source_input, source_output):
    """The converted graph's nodes with every non-constant tensor renamed (prefix
    + name); initialisers stay shared."""
    constants = {init.name for init in graph.initializer}

    def rename(name):
        return name if (not name or name in constants) else prefix + name

    nodes = []
    for n in graph.node:
        copy = onnx.NodeProto()
        copy.CopyFrom(n)
        if copy.name:
            copy.name = prefix + copy.name
        copy.input[:] = [rename(i) for i in n.input]
        copy.output[:] = [rename(o) for o in n.output]
        nodes.append(copy)
    return nodes, rename(source_input), rename(source_output)


def build(converted, content=CONTENT, fill="edge", orientation="mean"):
    """Composes crop resampling, the converted iris model (once or twice) and the
    (u, v, r) read-out. orientation: "plain", "mirror" or "mean" (both)."""
    graph = converted.graph
    if [i.name for i in graph.input] != ["input"]:
        raise ValueError("the converted iris model must have the single input 'input'")
    input_dims = dims(graph.input[0])
    if input_dims != [1, 3, NET, NET]:
        raise ValueError("the converted iris model's input is %s, expected [1, 3, %d, %d]" % (input_dims, NET, NET))
    if len(graph.output) != 1:
        raise ValueError("the converted iris model must have one output")
    out_name = graph.output[0].name
    out_dims = dims(graph.output[0])
    if int(np.prod(out_dims)) != OUTPUT_VALUES:
        raise ValueError("the converted iris model's output %s is %s, expected %d values"
                         % (out_name, out_dims, OUTPUT_VALUES))
    if orientation not in ("plain", "mirror", "mean"):
        raise ValueError("orientation must be plain, mirror or mean")

    g = AdapterGraph("pre")
    passes = [False, True] if orientation == "mean" else [orientation == "mirror"]
    nodes = []
    readings = []
    for k, mirror in enumerate(passes):
        if k == 0:
            net_in, net_out, copied = "input", out_name, list(graph.node)
        else:
            copied, net_in, net_out = _copy_graph(graph, "post_second_", "input", out_name)
        nodes += g.nodes
        g.nodes = []
        _canvas_nodes(g, "pre_image", content, fill, mirror, net_in)
        nodes += g.nodes + copied
        g.nodes = []
        flat = g.node("Reshape", [net_out, g.const(np.array([1, OUTPUT_VALUES], np.int64), "flat_shape", "post")],
                      "reading_%d" % k, prefix="post")
        readings.append((flat, mirror))

    n = len(readings)
    width = n * OUTPUT_VALUES
    joined = readings[0][0] if n == 1 else g.node("Concat", [r for r, _ in readings], "readings", prefix="post",
                                                 axis=1)
    # Centre: u = (x - off) / content, mirrored readings x -> NET - x; mean over readings.
    off = (NET - content) / 2.0
    centre_w = np.zeros((2, width), np.float32)
    centre_b = np.zeros(2, np.float32)
    for k, (_, mirror) in enumerate(readings):
        base = k * OUTPUT_VALUES + IRIS_CENTRE * 3
        centre_w[0, base] = (-1.0 if mirror else 1.0) / (content * n)
        centre_b[0] += ((NET if mirror else 0.0) - off) / (content * n)
        centre_w[1, base + 1] = 1.0 / (content * n)
        centre_b[1] += -off / (content * n)
    centre = g.node("Gemm", [joined, g.const(centre_w, "centre_weights", "post"),
                             g.const(centre_b, "centre_bias", "post")], "centre", prefix="post", transB=1)
    # Radius: rim pairs (72, 74) and (73, 75); r = (|d1| + |d2|) / 4 per reading.
    diff_w = np.zeros((4 * n, width), np.float32)
    for k in range(n):
        base = k * OUTPUT_VALUES
        for p, (a, b) in enumerate(((IRIS_RIM[0], IRIS_RIM[2]), (IRIS_RIM[1], IRIS_RIM[3]))):
            for c in range(2):
                diff_w[4 * k + 2 * p + c, base + 3 * a + c] = 1.0
                diff_w[4 * k + 2 * p + c, base + 3 * b + c] = -1.0
    diffs = g.node("Gemm", [joined, g.const(diff_w, "rim_differences", "post")], "rim_differences",
                   prefix="post", transB=1)
    squares = g.node("Mul", [diffs, diffs], "rim_squares", prefix="post")
    pair_w = np.zeros((2 * n, 4 * n), np.float32)
    for q in range(2 * n):
        pair_w[q, 2 * q] = pair_w[q, 2 * q + 1] = 1.0
    lengths = g.node("Gemm", [squares, g.const(pair_w, "pair_sums", "post")], "rim_squared_lengths",
                     prefix="post", transB=1)
    lengths = g.node("Sqrt", [lengths], "rim_lengths", prefix="post")
    radius_w = np.full((1, 2 * n), 1.0 / (4.0 * content * n), np.float32)
    radius = g.node("Gemm", [lengths, g.const(radius_w, "radius_weights", "post")], "radius", prefix="post",
                    transB=1)
    g.node("Concat", [centre, radius], "output", output="output", prefix="post", axis=1)
    nodes += g.nodes

    return compose_model(converted, "pr", nodes, [1, 1, CROP, CROP], [1, 3], list(graph.initializer) + g.inits)


# ---------------------------------------------------------------------------
# Measurement: eye corners from the face-mesh model on photos, the iris model run
# the source's way on its own wide crop as the reference, against the adapter on
# the SDK's crop.

def _crop_and_resize(image, box, size):
    """Bilinear crop of box [y1, x1, y2, x2] (fractions, sampling the corner
    pixels' centres) to size x size, zero outside."""
    import cv2
    h, w = image.shape[:2]
    y1, x1, y2, x2 = box
    ys = y1 * (h - 1) + np.arange(size) * ((y2 - y1) * (h - 1) / (size - 1))
    xs = x1 * (w - 1) + np.arange(size) * ((x2 - x1) * (w - 1) / (size - 1))
    mx, my = np.meshgrid(xs.astype(np.float32), ys.astype(np.float32))
    return cv2.remap(image.astype(np.float32), mx, my, cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT,
                     borderValue=0)


def _suppress(boxes, scores, overlap, floor, limit):
    keep = []
    for i in np.argsort(-scores):
        if scores[i] <= floor or len(keep) >= limit:
            break
        ok = True
        for j in keep:
            a, b = boxes[i], boxes[j]
            iw = max(0.0, min(a[2], b[2]) - max(a[0], b[0]))
            ih = max(0.0, min(a[3], b[3]) - max(a[1], b[1]))
            union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - iw * ih
            if union > 0 and iw * ih / union > overlap:
                ok = False
                break
        if ok:
            keep.append(i)
    return keep


class FacePipeline:
    """Face boxes (BlazeFace) and 468 mesh points (FaceMesh) of an RGB photo, with
    the source's crops: detector box enlarged 1.4x and squared, mesh on 192x192."""

    def __init__(self, onnx_dir):
        import cv2
        self.detector = cv2.dnn.readNetFromONNX(os.path.join(onnx_dir, "blazeface.onnx"))
        self.mesh_net = cv2.dnn.readNetFromONNX(os.path.join(onnx_dir, "facemesh.onnx"))
        self.iris_net = cv2.dnn.readNetFromONNX(os.path.join(onnx_dir, "iris.onnx"))
        self.mesh_outputs = list(self.mesh_net.getUnconnectedOutLayersNames())

    def faces(self, rgb):
        import cv2
        import make_ff
        h, w = rgb.shape[:2]
        side = max(h, w)
        px, py = (side - w) // 2, (side - h) // 2
        square = np.zeros((side, side, 3), np.float32)
        square[py:py + h, px:px + w] = rgb
        x = cv2.resize(square, (256, 256), interpolation=cv2.INTER_LINEAR) / 127.5 - 1.0
        self.detector.setInput(np.ascontiguousarray(x.transpose(2, 0, 1)[None], np.float32))
        names = [n for group in make_ff.SOURCE_GROUPS for n in group[:2]]
        boxes, scores = make_ff.decode_source(dict(zip(names, self.detector.forward(names))))
        out = []
        for i in _suppress(boxes, scores, 0.1, 0.2, 20):
            b = boxes[i] * side / 256.0 - np.array([px, py, px, py])
            centre, half = (b[:2] + b[2:]) / 2, max(b[2:] - b[:2]) * 1.4 / 2
            out.append((np.round(centre - half), np.round(centre + half)))
        return out

    def mesh(self, rgb, face):
        start, end = face
        h, w = rgb.shape[:2]
        crop = _crop_and_resize(rgb, [start[1] / h, start[0] / w, end[1] / h, end[0] / w], 192) / 255.0
        self.mesh_net.setInput(np.ascontiguousarray(crop.transpose(2, 0, 1)[None], np.float32))
        outs = self.mesh_net.forward(self.mesh_outputs)
        flag = [o for o in outs if o.size == 1][0].item()
        points = [o for o in outs if o.size == 468 * 3][0].reshape(468, 3)
        return flag, start + points[:, :2] * (end - start) / 192.0

    def iris(self, canvas_rgb):
        self.iris_net.setInput(np.ascontiguousarray(canvas_rgb.transpose(2, 0, 1)[None], np.float32))
        return self.iris_net.forward().reshape(POINTS, 3)


# Mesh indices of the eye corners (outer, inner): the model's native eye (outer
# corner on the image's left) and the other eye.
NATIVE_EYE = (33, 133)
OTHER_EYE = (263, 362)


def sdk_eye_crop(grey, c1, c2):
    """The SDK's eye crop: (32x32 crop, (x, y, side)) or None when it cannot be placed."""
    import cv2
    h, w = grey.shape
    s = 1.25 * float(np.hypot(*(c1 - c2)))
    side = int(np.round(s))
    mid = (c1 + c2) / 2
    bx, by = int(np.round(mid[0] - s / 2)), int(np.round(mid[1] - s / 2))
    allowed = 0.3 * s
    if side > w or side > h or side <= 7 or -bx > allowed or -by > allowed:
        return None
    bx, by = max(bx, 0), max(by, 0)
    sx, sy = max(0, bx + side - w), max(0, by + side - h)
    if sx > allowed or sy > allowed:
        return None
    bx, by = bx - sx, by - sy
    crop = cv2.resize(grey[by:by + side, bx:bx + side], (CROP, CROP), interpolation=cv2.INTER_CUBIC)
    return crop, (bx, by, side)


def reference_iris(pipeline, rgb, outer, inner, mirror):
    """Iris centre and radius in image pixels, the model run the source's way:
    square of side 2.3 x the corners' larger extent, 64x64 RGB 0..1, the non-native
    eye mirrored and its reading mirrored back."""
    import cv2
    lo, hi = np.minimum(outer, inner), np.maximum(outer, inner)
    half = max(hi - lo) * SOURCE_CROP_SCALE / 2
    start = (lo + hi) / 2 - half
    k = 2 * half / NET
    warp = np.array([[k, 0, start[0] + 0.5 * k - 0.5], [0, k, start[1] + 0.5 * k - 0.5]])
    crop = cv2.warpAffine(rgb, warp, (NET, NET), flags=cv2.INTER_LINEAR | cv2.WARP_INVERSE_MAP,
                          borderMode=cv2.BORDER_CONSTANT) / 255.0
    if mirror:
        crop = crop[:, ::-1]
    p = pipeline.iris(crop).copy()
    if mirror:
        p[:, 0] = NET - p[:, 0]
    rim = p[list(IRIS_RIM), :2]
    radius = (np.linalg.norm(rim[0] - rim[2]) + np.linalg.norm(rim[1] - rim[3])) / 4
    return start + p[IRIS_CENTRE, :2] * k, radius * k


def eye_samples(onnx_dir, images):
    """(grey crop, crop box, reference centre, reference radius, native?) of every
    eye of every face found in the images."""
    import cv2
    pipeline = FacePipeline(onnx_dir)
    samples = []
    for path in images:
        bgr = cv2.imread(path)
        if bgr is None:
            raise ValueError("cannot read image %s" % path)
        rgb = bgr[:, :, ::-1].astype(np.float32)
        grey = cv2.cvtColor(bgr, cv2.COLOR_BGR2GRAY)
        for face in pipeline.faces(rgb):
            flag, points = pipeline.mesh(rgb, face)
            if flag < 0.5:
                continue
            for (outer, inner), native in ((NATIVE_EYE, True), (OTHER_EYE, False)):
                placed = sdk_eye_crop(grey, points[outer], points[inner])
                if placed is None:
                    continue
                centre, radius = reference_iris(pipeline, rgb, points[outer], points[inner], not native)
                samples.append((placed[0], placed[1], centre, radius, native,
                                float(np.hypot(*(points[outer] - points[inner])))))
    return samples


VARIANTS = [(name, content, fill, orientation)
            for name, content in (("fit", CONTENT), ("pad", float(CROP)), ("stretch", float(NET)))
            for fill in (("edge", 0.5, 0.0) if content < NET else ("edge",))
            for orientation in ("mean", "plain", "mirror")]


def measure(converted_iris, samples, variants=VARIANTS):
    """Mean pupil error and radius error (image pixels) of each variant's built
    graph, run with OpenCV dnn on the SDK's crops."""
    import cv2
    rows = []
    for name, content, fill, orientation in variants:
        net = cv2.dnn.readNetFromONNX(build(converted_iris, content, fill, orientation).SerializeToString())
        pupil, radius, native_err, other_err = [], [], [], []
        for crop, (bx, by, side), centre, ref_radius, native, _ in samples:
            net.setInput(crop[None, None].astype(np.float32))
            u, v, r = net.forward().reshape(3)
            e = float(np.hypot(u * side + bx - centre[0], v * side + by - centre[1]))
            pupil.append(e)
            (native_err if native else other_err).append(e)
            radius.append(abs(r * side - ref_radius))
        rows.append(("%s %.1f/%s/%s" % (name, content, fill, orientation), np.mean(pupil),
                     np.mean(native_err), np.mean(other_err), np.mean(radius)))
    return rows


def main(argv):
    if len(argv) >= 3 and argv[1] == "--measure":
        samples = eye_samples(argv[2], argv[3:])
        converted = onnx.load(os.path.join(argv[2], "iris.onnx"))
        print("%d eyes, mean corner distance %.1f px" % (len(samples), np.mean([s[5] for s in samples])))
        print("%-26s %8s %8s %8s %8s" % ("variant", "pupil", "native", "other", "radius"))
        for row in sorted(measure(converted, samples), key=lambda r: r[1]):
            print("%-26s %8.2f %8.2f %8.2f %8.2f" % row)
        return 0
    if len(argv) != 3:
        sys.stderr.write("usage: make_pr.py CONVERTED_IRIS.onnx OUT.onnx\n"
                         "       make_pr.py --measure ONNX_DIR IMAGE...\n")
        return 2
    model = build(onnx.load(argv[1]))
    tmp = argv[2] + ".tmp"
    onnx.save(model, tmp)
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
