#!/usr/bin/python3
"""Landmark network "d1qy" and its "aux_file.bin", built from the converted face mesh.

    build(converted_facemesh, aux_path) -> onnx.ModelProto

The SDK warps a face into a canonical 96x96 grey frame, runs "d1qy" on it and reads
one float tensor "output" of 3N values: N landmark offsets (x, y interleaved), then N
point qualities. It turns offsets into canonical-frame pixels with

    landmark = offset * (96 / shapeScale) + prepared mean shape

where the prepared mean shape is the mean shape of "aux_file.bin" moved so that its
centroid sits at (48, 48) and scaled so that its larger extent is 96 / shapeScale.

The graph:
  1. [1, 1, 96, 96] grey 0..255 -> bilinear Resize (half-pixel centres) to 192x192;
  2. a 1x1 convolution scales to 0..1 and replicates the grey plane to three
     channels: the face mesh's input "input" [1, 3, 192, 192];
  3. the face mesh: 468 vertices (x, y, z in 192-pixel units of its input, with
     the input spanning 0..192) and a face-presence probability;
  4. one constant Gemm (transB = 1) picks or averages the vertices of each feature
     point (feature_points.py), halves them into canonical pixels (integer
     coordinates at pixel centres, as the SDK's warp uses them: x96 = x192 / 2 - 0.5)
     and subtracts the prepared mean shape, divided by 96 / shapeScale;
  5. the face-presence probability becomes the quality of every point through a
     monotone piecewise-linear map (QUALITY_MAP);
  6. Concat -> "output" [1, 3N].

Mean shape and shapeScale. The face mesh expects square crops 1.5 times the box of its
landmarks, centred on that box (CROP_FACTOR; on the demo photos its points are most
stable there). MEAN_MESH holds the mean position of the 468 vertices in such a crop
scaled to 96 pixels, measured with preview.py --mean-mesh on the demo photos (the
faces turned by less than about 30 degrees, averaged with their mirror images so that
the shape is symmetric). The feature points' mean shape follows from it through the
same vertex weights. shapeScale is chosen so that the SDK, placing the mean shape's box
on the min-max square of the previous frame's points (its tracking rule), produces
exactly that crop again (a fixed point): a box w x h fitted to a square of side
(w + h) / 2 comes out smaller by 4wh / (w + h)^2, so the mean shape is drawn larger by
the inverse of that factor.

aux_file.bin (little-endian): int32 N; N x (int32 group, int32 index); int32 2;
N x 2 float32 mean shape (x, y); float32 shapeScale.

Command line:
  make_d1qy.py CONVERTED_FACEMESH.onnx OUT.onnx AUX_FILE.bin
  make_d1qy.py --check CONVERTED_FACEMESH.onnx D1QY.onnx AUX_FILE.bin
      runs both with cv2.dnn on the same frames and compares (exit 1 on a mismatch)
"""

import os
import struct
import sys

import numpy as np
import onnx

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import feature_points  # noqa: E402
from adapter_graph import AdapterGraph, compose_model, dims, find_value  # noqa: E402

CANONICAL_SIZE = 96
MESH_INPUT_SIZE = 192
MESH_VERTICES = 468
# Side of the mesh's crop relative to the (square) box of its landmarks.
CROP_FACTOR = 1.5
MESH_OUTPUT = "output_mesh"
FLAG_OUTPUT = "output_faceflag"

# Point quality as a function of the face-presence probability p: straight lines
# between these (p, quality) knots, constant beyond the ends. The identity: on the
# demo photos (preview.py --measure) faces give p = 1.000 (10th percentile), crops of
# background at most 0.053 and crops twice the face's size at most 0.19, so the
# tracker's gates (0.38 to start, 0.22 to keep) and the still-image gate (0.5125 by
# default) all separate faces from non-faces as they are.
QUALITY_MAP = ((0.0, 0.0), (1.0, 1.0))

# Mean vertex positions (x, y) in the mesh's crop scaled to 96 pixels, pixel
# centres at integer coordinates; vertex 0 first, six vertices a line.
MEAN_MESH = """
    47.50 61.70  47.50 55.14  47.50 56.87  45.51 46.40  47.50 52.66  47.50 49.12
    47.50 40.09  30.34 37.51  47.50 33.08  47.50 29.57  47.50 15.65  47.50 62.81
    47.50 63.60  47.50 63.81  47.50 65.46  47.50 66.59  47.50 67.95  47.50 69.33
    47.50 71.12  47.50 56.24  45.31 55.80  21.83 25.69  37.66 39.96  35.27 40.12
    32.88 39.97  29.50 38.17  39.55 39.46  33.89 33.09  36.63 33.45  31.38 33.37
    29.75 34.23  27.76 39.71  39.07 73.69  29.35 36.69  21.28 36.93  25.28 37.60
    35.43 50.80  44.40 61.23  44.75 63.46  41.20 61.54  39.21 61.93  42.43 63.28
    40.65 63.16  36.49 65.24  45.59 55.02  45.29 52.61  26.56 31.64  40.33 44.69
    40.12 53.24  39.95 51.71  28.21 49.82  45.38 49.30  32.10 29.63  28.81 30.12
    24.12 21.69  42.35 32.43  38.91 34.49  34.62 62.68  24.36 59.19  41.81 54.70
    43.75 55.63  36.82 62.75  37.96 62.85  27.59 28.24  40.04 54.02  36.48 30.23
    36.08 28.11  33.56 16.66  25.93 24.99  35.14 22.36  25.14 30.19  23.48 28.15
    44.52 62.55  41.87 62.62  39.92 62.58  42.37 55.12  37.39 62.82  38.53 63.95
    38.28 62.79  42.99 54.47  41.11 62.95  42.91 63.30  45.03 63.62  44.23 70.86
    44.35 68.95  44.47 67.55  44.68 66.21  44.92 65.27  40.84 64.20  40.45 64.53
    39.90 65.16  39.46 65.93  37.27 59.46  21.57 46.69  47.50 56.52  39.66 63.68
    39.12 63.76  44.53 56.70  40.71 55.34  44.15 56.21  37.90 45.85  33.92 47.32
    39.57 52.55  27.83 18.61  29.64 22.93  31.30 27.48  38.52 67.47  41.60 29.07
    40.88 22.46  39.89 15.77  30.72 39.32  25.33 41.29  40.72 38.93  27.50 34.90
    41.98 43.35  41.51 52.81  22.90 42.57  26.85 43.35  29.90 44.59  34.55 44.42
    37.90 43.53  40.24 42.58  45.23 40.61  23.02 47.88  25.73 34.34  46.34 56.13
    40.54 47.42  20.63 35.63  42.00 41.50  39.30 52.39  28.63 36.62  41.38 50.93
    22.54 52.74  40.60 38.02  43.32 49.89  29.41 66.83  29.84 68.88  21.23 47.51
    26.22 63.14  22.21 32.14  38.91 75.77  46.57 56.41  38.44 48.95  23.39 37.73
    33.03 38.56  35.24 38.78  37.93 64.24  23.47 52.79  43.02 78.89  36.50 74.98
    33.56 72.48  47.50 22.63  47.50 79.49  37.25 38.63  39.07 38.28  40.16 38.13
    24.07 33.44  38.53 36.16  36.43 35.30  34.21 35.08  32.01 35.38  30.68 35.97
    20.72 30.09  31.48 38.09  47.50 58.37  39.48 58.50  41.76 54.48  44.17 58.44
    47.50 36.33  32.83 70.23  35.81 72.97  42.78 77.86  26.90 64.68  39.94 37.34
    43.64 44.74  47.50 78.47  39.54 77.25  22.04 52.98  42.70 64.80  42.30 65.44
    41.92 66.46  41.65 67.74  41.04 69.46  39.01 62.93  38.28 62.63  37.60 62.19
    35.47 60.83  26.45 54.79  43.64 41.86  42.35 36.38  40.93 36.54  39.58 62.68
    26.72 60.24  44.40 36.58  39.93 71.46  47.50 46.12  45.35 43.71  47.50 43.28
    41.96 48.52  47.50 76.42  47.50 73.60  43.57 73.22  34.72 66.17  37.25 54.14
    37.12 69.08  31.56 53.51  34.95 56.41  29.69 57.06  42.94 75.87  40.60 49.54
    33.13 67.88  36.12 70.87  32.64 63.03  24.37 56.91  29.87 63.28  23.55 58.14
    33.13 59.07  42.10 46.05  42.27 54.06  40.82 54.18  43.29 52.66  40.46 34.07
    36.62 32.43  33.18 31.95  30.35 32.20  28.40 33.13  27.24 37.13  20.98 42.20
    29.03 40.96  31.61 41.94  34.87 42.05  37.85 41.57  40.00 40.89  41.48 40.26
    21.11 41.03  40.90 54.60  43.64 47.27  43.93 54.54  45.17 55.60  43.91 54.77
    41.47 55.24  45.61 55.91  45.83 56.21  41.43 38.24  42.66 39.01  43.38 39.70
    29.92 36.40  28.68 35.18  49.49 46.40  64.66 37.51  49.69 55.80  73.17 25.69
    57.34 39.96  59.73 40.12  62.12 39.97  65.50 38.17  55.45 39.46  61.11 33.09
    58.37 33.45  63.62 33.37  65.25 34.23  67.24 39.71  55.93 73.69  65.65 36.69
    73.72 36.93  69.72 37.60  59.57 50.80  50.60 61.23  50.25 63.46  53.80 61.54
    55.79 61.93  52.57 63.28  54.35 63.16  58.51 65.24  49.41 55.02  49.71 52.61
    68.44 31.64  54.67 44.69  54.88 53.24  55.05 51.71  66.79 49.82  49.62 49.30
    62.90 29.63  66.19 30.12  70.88 21.69  52.65 32.43  56.09 34.49  60.38 62.68
    70.64 59.19  53.19 54.70  51.25 55.63  58.18 62.75  57.04 62.85  67.41 28.24
    54.96 54.02  58.52 30.23  58.92 28.11  61.44 16.66  69.07 24.99  59.86 22.36
    69.86 30.19  71.52 28.15  50.48 62.55  53.13 62.62  55.08 62.58  52.63 55.12
    57.61 62.82  56.47 63.95  56.72 62.79  52.01 54.47  53.89 62.95  52.09 63.30
    49.97 63.62  50.77 70.86  50.65 68.95  50.53 67.55  50.32 66.21  50.08 65.27
    54.16 64.20  54.55 64.53  55.10 65.16  55.54 65.93  57.73 59.46  73.43 46.69
    55.34 63.68  55.88 63.76  50.47 56.70  54.29 55.34  50.85 56.21  57.10 45.85
    61.08 47.32  55.43 52.55  67.17 18.61  65.36 22.93  63.70 27.48  56.48 67.47
    53.40 29.07  54.12 22.46  55.11 15.77  64.28 39.32  69.67 41.29  54.28 38.93
    67.50 34.90  53.02 43.35  53.49 52.81  72.10 42.57  68.15 43.35  65.10 44.59
    60.45 44.42  57.10 43.53  54.76 42.58  49.77 40.61  71.98 47.88  69.27 34.34
    48.66 56.13  54.46 47.42  74.37 35.63  53.00 41.50  55.70 52.39  66.37 36.62
    53.62 50.93  72.46 52.74  54.40 38.02  51.68 49.89  65.59 66.83  65.16 68.88
    73.77 47.51  68.78 63.14  72.79 32.14  56.09 75.77  48.43 56.41  56.56 48.95
    71.61 37.73  61.97 38.56  59.76 38.78  57.07 64.24  71.53 52.79  51.98 78.89
    58.50 74.98  61.44 72.48  57.75 38.63  55.93 38.28  54.84 38.13  70.93 33.44
    56.47 36.16  58.57 35.30  60.79 35.08  62.99 35.38  64.32 35.97  74.28 30.09
    63.52 38.09  55.52 58.50  53.24 54.48  50.83 58.44  62.17 70.23  59.19 72.97
    52.22 77.86  68.10 64.68  55.06 37.34  51.36 44.74  55.46 77.25  72.96 52.98
    52.30 64.80  52.70 65.44  53.08 66.46  53.35 67.74  53.96 69.46  55.99 62.93
    56.72 62.63  57.40 62.19  59.53 60.83  68.55 54.79  51.36 41.86  52.65 36.38
    54.07 36.54  55.42 62.68  68.28 60.24  50.60 36.58  55.07 71.46  49.65 43.71
    53.04 48.52  51.43 73.22  60.28 66.17  57.75 54.14  57.88 69.08  63.44 53.51
    60.05 56.41  65.31 57.06  52.06 75.87  54.40 49.54  61.87 67.88  58.88 70.87
    62.36 63.03  70.63 56.91  65.13 63.28  71.45 58.14  61.87 59.07  52.90 46.05
    52.73 54.06  54.18 54.18  51.71 52.66  54.54 34.07  58.38 32.43  61.82 31.95
    64.65 32.20  66.60 33.13  67.76 37.13  74.02 42.20  65.97 40.96  63.39 41.94
    60.13 42.05  57.15 41.57  55.00 40.89  53.52 40.26  73.89 41.03  54.10 54.60
    51.36 47.27  51.07 54.54  49.83 55.60  51.09 54.77  53.53 55.24  49.39 55.91
    49.17 56.21  53.57 38.24  52.34 39.01  51.62 39.70  65.08 36.40  66.32 35.18
"""


def mean_mesh():
    values = np.array(MEAN_MESH.split(), np.float64)
    if values.size != 2 * MESH_VERTICES:
        raise ValueError("MEAN_MESH holds %d numbers" % values.size)
    return values.reshape(MESH_VERTICES, 2)


def mean_shape():
    """The feature points' mean shape (N x 2, float32) in the 96-pixel crop."""
    return (feature_points.selection_matrix().astype(np.float64) @ mean_mesh()).astype(np.float32)


def shape_scale(shape):
    """shapeScale that makes the SDK's tracking placement reproduce the crop."""
    shape = np.asarray(shape, np.float64)
    w, h = shape.max(0) - shape.min(0)
    # The SDK scales the mean shape by the mean of side / w and side / h to fit a
    # square of side (w + h) / 2; the face then comes out smaller by 4wh / (w + h)^2.
    grow = (w + h) ** 2 / (4.0 * w * h)
    return np.float32(CANONICAL_SIZE / (max(w, h) * grow))


def prepare_mean_shape(shape, size=CANONICAL_SIZE, scale=None):
    """The SDK's preparation of the mean shape, in float32: centroid to (size / 2,
    size / 2), larger extent size / scale."""
    shape = np.asarray(shape, np.float32)
    scale = np.float32(scale)
    extent = np.float32(max(shape[:, 0].max() - shape[:, 0].min(), shape[:, 1].max() - shape[:, 1].min()))
    centroid = shape.mean(0, dtype=np.float32)
    factor = np.float32(size) / (scale * extent)
    return ((shape - centroid) * factor + np.float32(size / 2.0)).astype(np.float32)


def write_aux(path, groups, indices, shape, scale):
    shape = np.asarray(shape, np.float32)
    n = len(groups)
    if len(indices) != n or shape.shape != (n, 2):
        raise ValueError("aux data of inconsistent sizes")
    with open(path, "wb") as f:
        f.write(struct.pack("<i", n))
        for g, i in zip(groups, indices):
            f.write(struct.pack("<ii", g, i))
        f.write(struct.pack("<i", 2))
        f.write(shape.astype("<f4").tobytes())
        f.write(struct.pack("<f", float(scale)))


def read_aux(path):
    """(groups, indices, mean shape N x 2 float32, shapeScale) of an aux_file.bin."""
    with open(path, "rb") as f:
        data = f.read()
    n = struct.unpack_from("<i", data, 0)[0]
    if n <= 0 or len(data) != 4 + 8 * n + 4 + 8 * n + 4:
        raise ValueError("%s: not an aux file of %d landmarks" % (path, n))
    pairs = np.frombuffer(data, "<i4", 2 * n, 4).reshape(n, 2)
    dim = struct.unpack_from("<i", data, 4 + 8 * n)[0]
    if dim != 2:
        raise ValueError("%s: shape dimension %d" % (path, dim))
    shape = np.frombuffer(data, "<f4", 2 * n, 8 + 8 * n).reshape(n, 2).astype(np.float32)
    scale = struct.unpack_from("<f", data, 8 + 16 * n)[0]
    return pairs[:, 0].tolist(), pairs[:, 1].tolist(), shape, np.float32(scale)


def quality_of(probability):
    """QUALITY_MAP applied to face-presence probabilities (numpy)."""
    knots = np.array(QUALITY_MAP, np.float64)
    return np.interp(probability, knots[:, 0], knots[:, 1])


def _prune(nodes, initializers, value_info, outputs):
    """Keeps only what the given outputs depend on."""
    needed = set(outputs)
    kept = []
    for node in reversed(nodes):
        if any(o in needed for o in node.output):
            kept.append(node)
            needed.update(i for i in node.input if i)
    kept.reverse()
    return (kept, [t for t in initializers if t.name in needed],
            [v for v in value_info if v.name in needed])


def _offset_gemm(prepared, scale):
    """B (2N x 1404) and C (2N) of offsets = mesh . B^T + C."""
    select = feature_points.selection_matrix().astype(np.float64)
    n = select.shape[0]
    unit = CANONICAL_SIZE / float(scale)
    ratio = CANONICAL_SIZE / float(MESH_INPUT_SIZE)
    b = np.zeros((2 * n, 3 * MESH_VERTICES), np.float64)
    c = np.zeros(2 * n, np.float64)
    for axis in range(2):
        b[axis::2, axis::3] = select * (ratio / unit)
        c[axis::2] = -(0.5 + prepared[:, axis].astype(np.float64)) / unit
    return b.astype(np.float32), c.astype(np.float32)


def build(converted, aux_path):
    """Composes the canonical-frame input, the converted face mesh and the offset and
    quality read-out; writes the matching aux_file.bin to aux_path."""
    graph = converted.graph
    source_input = find_value(graph.input, "input")
    if source_input is None or dims(source_input) != [1, 3, MESH_INPUT_SIZE, MESH_INPUT_SIZE]:
        raise ValueError("the converted face mesh has no input 'input' [1, 3, %d, %d]"
                         % (MESH_INPUT_SIZE, MESH_INPUT_SIZE))
    for name, size in ((MESH_OUTPUT, 3 * MESH_VERTICES), (FLAG_OUTPUT, 1)):
        out = find_value(graph.output, name)
        if out is None or dims(out) != [1, size]:
            raise ValueError("the converted face mesh has no output %r [1, %d]" % (name, size))

    points = feature_points.FEATURE_POINTS
    n = len(points)
    groups_indices = feature_points.groups_and_indices()
    shape = mean_shape()
    scale = shape_scale(shape)
    prepared = prepare_mean_shape(shape, CANONICAL_SIZE, scale)
    write_aux(aux_path, [g for g, _ in groups_indices], [i for _, i in groups_indices], shape, scale)

    g = AdapterGraph("post")
    # 96x96 grey -> 192x192 (bilinear, half-pixel centres like cv::resize).
    resized = g.node("Resize", ["pre_image", g.const(np.zeros(0, np.float32), "roi", "pre"),
                                g.const(np.array([1, 1, 2, 2], np.float32), "scales", "pre")],
                     "resized", prefix="pre", mode="linear", coordinate_transformation_mode="half_pixel")
    # 0..255 grey -> 0..1, three equal channels.
    g.node("Conv", [resized, g.const(np.full((3, 1, 1, 1), 1.0 / 255.0, np.float32), "grey_to_rgb", "pre"),
                    g.const(np.zeros(3, np.float32), "bias", "pre")],
           "scaled", output="input", prefix="pre", kernel_shape=[1, 1])

    b, c = _offset_gemm(prepared, scale)
    offsets = g.node("Gemm", [MESH_OUTPUT, g.const(b, "select"), g.const(c, "mean")], "offsets", transB=1)

    knots = np.array(QUALITY_MAP, np.float64)
    if len(knots) < 2 or np.any(np.diff(knots[:, 0]) <= 0) or np.any(np.diff(knots[:, 1]) < 0):
        raise ValueError("QUALITY_MAP must be increasing")
    # q(p) = q_0 + sum_k c_k relu(p - p_k) over all knots, c_k being the change of
    # slope at knot k: the first slope at p_0 (so q = q_0 below it), the differences
    # in between, and minus the last slope at the last knot (so q is constant above).
    slopes = np.diff(knots[:, 1]) / np.diff(knots[:, 0])
    changes = np.concatenate([[slopes[0]], np.diff(slopes), [-slopes[-1]]])
    spread = g.node("Gemm", [FLAG_OUTPUT, g.const(np.ones((len(knots), 1), np.float32), "ones"),
                             g.const((-knots[:, 0]).astype(np.float32), "knots")], "spread", transB=1)
    ramps = g.node("Relu", [spread], "ramps")
    qualities = g.node("Gemm", [ramps, g.const(np.tile(changes.astype(np.float32), (n, 1)), "changes"),
                                g.const(np.full(n, knots[0, 1], np.float32), "floor")], "qualities", transB=1)
    g.node("Concat", [offsets, qualities], "output", output="output", axis=1)

    nodes, inits, value_info = _prune(g.nodes[:2] + list(graph.node) + g.nodes[2:],
                                      list(graph.initializer) + g.inits, list(graph.value_info), ["output"])
    return compose_model(converted, "d1qy", nodes, [1, 1, CANONICAL_SIZE, CANONICAL_SIZE], [1, 3 * n], inits,
                         value_info)


def landmarks_from_output(output, prepared, scale):
    """The SDK's read-out: canonical-frame landmarks (N x 2) and qualities (N)."""
    out = np.asarray(output, np.float32).reshape(-1)
    n = len(prepared)
    offsets = out[:2 * n].reshape(n, 2)
    return offsets * np.float32(CANONICAL_SIZE / float(scale)) + prepared, out[2 * n:3 * n]


def check(converted_path, adapted_path, aux_path, tolerance=1e-3):
    """Runs the adapted network and the converted face mesh with cv2.dnn on the same
    canonical frames and compares the SDK's read-out of the one with the feature
    points taken from the other. Returns the largest landmark difference in pixels
    and the largest quality difference."""
    import cv2
    groups, indices, shape, scale = read_aux(aux_path)
    if list(zip(groups, indices)) != feature_points.groups_and_indices():
        raise ValueError("%s does not list the points of feature_points.py" % aux_path)
    prepared = prepare_mean_shape(shape, CANONICAL_SIZE, scale)
    adapted = cv2.dnn.readNetFromONNX(adapted_path)
    mesh = cv2.dnn.readNetFromONNX(converted_path)
    select = feature_points.selection_matrix().astype(np.float64)
    y, x = np.mgrid[0:CANONICAL_SIZE, 0:CANONICAL_SIZE].astype(np.float64)
    worst_point, worst_quality = 0.0, 0.0
    for seed in range(3):
        # Smooth blobs and stripes, different per seed: any frame will do here.
        frame = 127.5 + 60 * np.sin(x / (5.0 + seed)) * np.cos(y / (7.0 - seed)) + 40 * np.sin((x + y) / 11.0)
        frame = np.clip(frame, 0, 255).astype(np.float32)
        adapted.setInput(frame[None, None])
        landmarks, qualities = landmarks_from_output(adapted.forward(), prepared, scale)
        up = cv2.resize(frame, (MESH_INPUT_SIZE, MESH_INPUT_SIZE), interpolation=cv2.INTER_LINEAR) / 255.0
        mesh.setInput(np.repeat(up[None, None], 3, axis=1).astype(np.float32))
        vertices, flag = mesh.forward([MESH_OUTPUT, FLAG_OUTPUT])
        vertices = vertices.reshape(-1, 3)[:, :2] * (CANONICAL_SIZE / float(MESH_INPUT_SIZE)) - 0.5
        expected = select @ vertices
        worst_point = max(worst_point, float(np.abs(landmarks - expected).max()))
        worst_quality = max(worst_quality, float(np.abs(qualities - quality_of(float(flag.reshape(-1)[0]))).max()))
    if worst_point > tolerance or worst_quality > tolerance:
        raise ValueError("d1qy disagrees with the face mesh: %.3g pixels, %.3g in quality"
                         % (worst_point, worst_quality))
    return worst_point, worst_quality


def main(argv):
    if len(argv) == 5 and argv[1] == "--check":
        try:
            point, quality = check(argv[2], argv[3], argv[4])
        except ValueError as e:
            print(e)
            return 1
        print("d1qy agrees with the face mesh: %.2g pixels, %.2g in quality" % (point, quality))
        return 0
    if len(argv) != 4:
        print(__doc__)
        return 2
    model = build(onnx.load(argv[1]), argv[3])
    onnx.save(model, argv[2])
    groups, _, shape, scale = read_aux(argv[3])
    print("d1qy: %d landmarks, shapeScale %.6f, written %s and %s" % (len(groups), scale, argv[2], argv[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
