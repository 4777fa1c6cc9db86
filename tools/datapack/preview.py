#!/usr/bin/python3
"""Shows what the data pack's face finder "ff" and landmark network "d1qy" do on real
photos, run the way the SDK runs them, and measures the alignment's placement.

Both networks run with cv2.dnn on the adapted ONNX files (the runtime the SDK's
plug-in uses). The face finder follows the SDK's face search: 256x256 letterbox,
the 3760 prior boxes, variances 0.1 / 0.2, score threshold 1 - sensitivity, greedy
suppression at IoU 0.25 (inclusive pixel counting), widest first, square boxes. The
alignment follows the SDK's deep alignment without the refinement stage: the mean
shape's box fitted to the face rectangle, the similarity transform onto the
canonical 96x96 frame, a bilinear warp filled with 0, the network, and the points
mapped back.

    preview.py [--build-dir B] [--out DIR] [--labels] [--faces] [--track N] [IMAGE ...]
    preview.py --measure [--build-dir B] [IMAGE ...]
    preview.py --mean-mesh [--build-dir B] [IMAGE ...]

Without images the demo photos of the pinned face-api package are used (fetched
into the npm cache, never into the tree). The networks come from
B/datapack/onnx/{ff,d1qy,facemesh}.onnx and B/data/nn/alignment/aux_file.bin when
they exist; otherwise they are built from the pinned human package into DIR/onnx.

The default writes one PNG per image into DIR: face boxes in white, points coloured
by group, the min-max box of the points in grey (--labels names the points, --faces
also writes every face enlarged with its points named, --track N shows the points
after N further alignments from their own box, as the tracker would place them on the
following frames of a still video). --measure prints the placement
figures (search box against point box, drift over repeated alignment from the
points' own box, agreement with the face mesh run on its own colour crops) and the
face-presence values on faces and on crops without a face. --mean-mesh prints the
MEAN_MESH table of make_d1qy.py measured on the photos.
"""

import argparse
import math
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import feature_points  # noqa: E402
import make_d1qy  # noqa: E402
import make_ff  # noqa: E402

FINDER_SIZE = make_ff.INPUT_SIZE
CANONICAL_SIZE = make_d1qy.CANONICAL_SIZE
# Working frame of the SDK's tracking: faces 96 pixels wide in a crop 2.5 times the face.
FACE_SIZE = 96
CROP_FACTOR = 2.5

GROUP_COLOURS = {  # BGR
    2: (0, 140, 255), 3: (255, 255, 0), 4: (0, 255, 0), 5: (128, 128, 255), 8: (0, 0, 255),
    9: (255, 0, 255), 11: (255, 128, 0), 12: (0, 255, 255), 13: (60, 180, 60), 14: (180, 255, 120),
    15: (255, 128, 128), 16: (200, 200, 0), 17: (80, 80, 200),
}


def _cv2():
    import cv2
    return cv2


def iround(v):
    """Nearest integer, ties to even."""
    return int(np.round(v))


# ---------------------------------------------------------------------------
# Face finder


def iou(a, b):
    """Intersection over union with inclusive pixel counting."""
    iw = min(a[2], b[2]) - max(a[0], b[0]) + 1
    ih = min(a[3], b[3]) - max(a[1], b[1]) + 1
    inter = max(iw, 0) * max(ih, 0)
    area_a = (a[2] - a[0] + 1) * (a[3] - a[1] + 1)
    area_b = (b[2] - b[0] + 1) * (b[3] - b[1] + 1)
    return inter / (area_a + area_b - inter)


def suppress(boxes, threshold):
    """Greedy suppression in list order: later boxes overlapping an earlier one go."""
    kept = list(boxes)
    i = 0
    while i < len(kept):
        j = i + 1
        while j < len(kept):
            if iou(kept[i], kept[j]) >= threshold:
                del kept[j]
            else:
                j += 1
        i += 1
    return kept


def letterbox(grey):
    cv2 = _cv2()
    h, w = grey.shape
    out = np.zeros((FINDER_SIZE, FINDER_SIZE), np.uint8)
    if w / h > 1:
        cw, ch = FINDER_SIZE, iround(FINDER_SIZE / (w / h))
        x0, y0, scale = 0, (FINDER_SIZE - ch) // 2, w / FINDER_SIZE
    else:
        cw, ch = iround(FINDER_SIZE / (h / w)), FINDER_SIZE
        x0, y0, scale = (FINDER_SIZE - cw) // 2, 0, h / FINDER_SIZE
    out[y0:y0 + ch, x0:x0 + cw] = cv2.resize(grey, (cw, ch), interpolation=cv2.INTER_LINEAR)
    return out, x0, y0, scale


class FaceFinder:
    def __init__(self, onnx_path):
        self.net = _cv2().dnn.readNetFromONNX(onnx_path)
        self.priors = make_ff.prior_boxes().astype(np.float32)

    def find(self, grey, sensitivity=0.75, min_scale=0.05, max_scale=1.0):
        """Square face boxes (x1, y1, x2, y2, confidence) in image pixels, widest first."""
        h, w = grey.shape
        d = min(w, h)
        threshold = 1.0 if 1.0 - sensitivity > 1.0 else max(0.02, 1.0 - sensitivity)
        min_size = min(max(min_scale, 0.0), 1.0) * d
        max_size = max(min_scale, min(max_scale, 1.0)) * d
        image, x0, y0, scale = letterbox(grey)
        self.net.setInput(image.astype(np.float32)[None, None])
        out = self.net.forward().reshape(-1)
        n = len(self.priors)
        loc = out[:4 * n].reshape(n, 4)
        face = out[4 * n:6 * n].reshape(n, 2)[:, 1]
        candidates = []
        for i in np.nonzero(face > threshold)[0]:
            cx, cy, pw, ph = self.priors[i]
            dx, dy, dw, dh = loc[i]
            cx2, cy2 = cx + 0.1 * dx * pw, cy + 0.1 * dy * ph
            w2, h2 = pw * math.exp(0.2 * dw), ph * math.exp(0.2 * dh)
            candidates.append((max(0.0, (cx2 - w2 / 2) * FINDER_SIZE), max(0.0, (cy2 - h2 / 2) * FINDER_SIZE),
                               min(256.0, (cx2 + w2 / 2) * FINDER_SIZE), min(256.0, (cy2 + h2 / 2) * FINDER_SIZE),
                               float(face[i])))
        candidates.sort(key=lambda b: -b[4])
        kept = suppress(candidates, 0.25)
        kept.sort(key=lambda b: -(b[2] - b[0]))
        faces = []
        for x1, y1, x2, y2, conf in kept:
            x1, x2 = (x1 - x0) * scale, (x2 - x0) * scale
            y1, y2 = (y1 - y0) * scale, (y2 - y0) * scale
            g = iround(((x2 - x1) + (y2 - y1)) / 4)
            cx, cy = iround((x1 + x2) / 2), iround((y1 + y2) / 2)
            if min_size < 2 * g < max_size:
                faces.append((cx - g, cy - g, cx - g + 2 * g, cy - g + 2 * g, conf))
        return faces


def face_rect(box):
    """The tracking core's rectangle of a found face: square by its width."""
    x1, y1, x2 = int(box[0]), int(box[1]), int(box[2] - box[0])
    return (x1, y1, x2, x2)


# ---------------------------------------------------------------------------
# Deep alignment


def transform_estimation(src, dst):
    """Least-squares similarity transform (2 x 3) mapping src onto dst."""
    src = np.asarray(src, np.float64)
    dst = np.asarray(dst, np.float64)
    ms, md = src.mean(0), dst.mean(0)
    a, b = src - ms, dst - md
    dot = (a * b).sum()
    cross = (a[:, 0] * b[:, 1] - a[:, 1] * b[:, 0]).sum()
    n = (a * a).sum()
    c, s = dot / n, cross / n
    r = np.array([[c, -s], [s, c]])
    t = md - r @ ms
    return np.array([[c, -s, t[0]], [s, c, t[1]]], np.float32)


class Aligner:
    def __init__(self, d1qy_path, aux_path):
        self.net = _cv2().dnn.readNetFromONNX(d1qy_path)
        self.groups, self.indices, shape, self.scale = make_d1qy.read_aux(aux_path)
        self.shape = make_d1qy.prepare_mean_shape(shape, CANONICAL_SIZE, self.scale)
        self.names = ["%d.%d" % gi for gi in zip(self.groups, self.indices)]

    def canonical(self, grey, rect, angle=None):
        """The canonical frame of a face rectangle and the transform that made it."""
        cv2 = _cv2()
        x, y, w, h = rect
        mn, mx = self.shape.min(0), self.shape.max(0)
        bw, bh = mx - mn
        s = (w / bw + h / bh) / 2
        fitted = self.shape * np.float32(s)
        fmn, fmx = fitted.min(0), fitted.max(0)
        fitted = fitted + (np.array([x + w / 2.0, y + h / 2.0], np.float32) - (fmn + fmx) / 2)
        t = transform_estimation(fitted, self.shape)
        if angle is not None and abs(angle) > 5:
            k = CANONICAL_SIZE / 2.0
            r = cv2.getRotationMatrix2D((k, k), angle, 1.0)
            t = (np.vstack([r, [0, 0, 1]]) @ np.vstack([t, [0, 0, 1]]))[:2].astype(np.float32)
        frame = cv2.warpAffine(grey, t, (CANONICAL_SIZE, CANONICAL_SIZE),
                               flags=cv2.INTER_LINEAR | cv2.WARP_FILL_OUTLIERS,
                               borderMode=cv2.BORDER_CONSTANT, borderValue=0)
        return frame, t

    def run(self, frame):
        self.net.setInput(frame.astype(np.float32)[None, None])
        return make_d1qy.landmarks_from_output(self.net.forward(), self.shape, self.scale)

    def align(self, grey, rect, angle=None):
        """Points (N x 2, image pixels) and qualities of the face in rect."""
        cv2 = _cv2()
        frame, t = self.canonical(grey, rect, angle)
        landmarks, qualities = self.run(frame)
        inverse = cv2.invertAffineTransform(t)
        points = landmarks.astype(np.float64) @ inverse[:, :2].T + inverse[:, 2]
        return points, qualities

    def point(self, points, name):
        return points[self.names.index(name)]

    def roll(self, points):
        """Head roll in degrees from the brows' inner ends and the nostrils."""
        p = (self.point(points, "4.1") + self.point(points, "4.2")) / 2
        q = (self.point(points, "9.4") + self.point(points, "9.5")) / 2
        return math.degrees(math.atan2(q[1] - p[1], q[0] - p[0])) - 90


def minmax_square(points):
    """The SDK's min-max square of a point set (group 10 excluded; none here)."""
    mn, mx = points.min(0), points.max(0)
    w, h = mx - mn
    w, h = (w if w > 0 else 1.0), (h if h > 0 else 1.0)
    side = (w + h) / 2
    return (iround(mn[0] + (w - side) / 2), iround(mn[1] + (h - side) / 2), iround(side), iround(side))


def steady(new, old, width, height):
    """The tracking core's damping of small rectangle moves."""
    if old is None:
        return new
    sx, sy = width / 50.0, height / 50.0
    x, y, w, h = new
    ox, oy, ow, oh = old
    vals = {}
    for key, n, o, s in (("w", w, ow, sx), ("h", h, oh, sy), ("x", x, ox, sx), ("y", y, oy, sy)):
        a = abs(n - o) / s
        vals[key] = int((1 - a) * o + a * n) if a < 1 else n
    if vals["w"] != vals["h"]:
        vals["w"] = vals["h"] = (vals["w"] + vals["h"]) // 2
    return (vals["x"], vals["y"], vals["w"], vals["h"])


def working_frame(grey, face):
    """The tracking core's working frame: (image, face rect in it, crop in the frame)."""
    cv2 = _cv2()
    x, y, w, h = face
    cx, cy = x + w / 2.0, y + h / 2.0
    cw, ch = math.floor(w * CROP_FACTOR), math.floor(h * CROP_FACTOR)
    crop = [math.floor(cx - cw / 2.0), math.floor(cy - ch / 2.0), cw, ch]
    H, W = grey.shape
    x1, y1 = max(0, crop[0]), max(0, crop[1])
    crop = [x1, y1, min(W, crop[0] + crop[2]) - x1, min(H, crop[1] + crop[3]) - y1]
    s = FACE_SIZE / float(w)
    rect = [iround((x - crop[0]) * s), iround((y - crop[1]) * s), iround(w * s), iround(h * s)]
    size = (iround(crop[2] * s), iround(crop[3] * s))
    region = grey[crop[1]:crop[1] + crop[3], crop[0]:crop[0] + crop[2]]
    if w >= 8 * FACE_SIZE:
        region = cv2.resize(region, (2 * size[0], 2 * size[1]), interpolation=cv2.INTER_LINEAR)
    image = cv2.resize(region, size, interpolation=cv2.INTER_LINEAR)
    return image, tuple(rect), crop


def track_frame(aligner, grey, face, angle=None):
    """One tracking alignment from a face rectangle: points in frame pixels."""
    image, rect, crop = working_frame(grey, face)
    points, qualities = aligner.align(image, rect, angle)
    ih, iw = image.shape
    points = np.stack([crop[0] + points[:, 0] / iw * crop[2], crop[1] + points[:, 1] / ih * crop[3]], 1)
    return points, qualities


# ---------------------------------------------------------------------------
# Inputs


def default_images(cache):
    import fetch_npm
    folder = fetch_npm.fetch("@vladmandic/face-api", cache)
    return [os.path.join(folder, "demo", "sample%d.jpg" % i) for i in range(1, 7)]


def networks(build_dir, out, cache):
    """Paths of ff.onnx, d1qy.onnx, aux_file.bin and the converted facemesh.onnx."""
    if build_dir:
        onnx_dir = os.path.join(build_dir, "datapack", "onnx")
        paths = (os.path.join(onnx_dir, "ff.onnx"), os.path.join(onnx_dir, "d1qy.onnx"),
                 os.path.join(build_dir, "data", "nn", "alignment", "aux_file.bin"),
                 os.path.join(onnx_dir, "facemesh.onnx"))
        if all(os.path.exists(p) for p in paths):
            return paths
    import onnx
    import fetch_npm
    import tfjs_to_onnx
    onnx_dir = os.path.join(out, "onnx")
    os.makedirs(onnx_dir, exist_ok=True)
    paths = (os.path.join(onnx_dir, "ff.onnx"), os.path.join(onnx_dir, "d1qy.onnx"),
             os.path.join(onnx_dir, "aux_file.bin"), os.path.join(onnx_dir, "facemesh.onnx"))
    if not all(os.path.exists(p) for p in paths):
        models = os.path.join(fetch_npm.fetch("@vladmandic/human", cache), "models")
        detector = tfjs_to_onnx.convert(os.path.join(models, "blazeface.json"))
        mesh = tfjs_to_onnx.convert(os.path.join(models, "facemesh.json"))
        onnx.save(mesh, paths[3])
        onnx.save(make_ff.build(detector), paths[0])
        onnx.save(make_d1qy.build(mesh, paths[2]), paths[1])
    return paths


# ---------------------------------------------------------------------------
# Pictures


def draw(image, faces, results, aligner, labels):
    cv2 = _cv2()
    out = image.copy()
    unit = max(1, int(round(max(image.shape[:2]) / 800.0)))
    for box, (points, qualities) in zip(faces, results):
        x1, y1, x2, y2 = [int(round(v)) for v in box[:4]]
        cv2.rectangle(out, (x1, y1), (x2, y2), (255, 255, 255), unit)
        bx, by, bw, bh = minmax_square(points)
        cv2.rectangle(out, (bx, by), (bx + bw, by + bh), (150, 150, 150), unit)
        cv2.putText(out, "ff %.2f  q %.2f" % (box[4], float(np.mean(qualities))), (x1, y1 - 4 * unit),
                    cv2.FONT_HERSHEY_SIMPLEX, 0.4 * unit, (255, 255, 255), unit)
        for name, g, p in zip(aligner.names, aligner.groups, points):
            c = (int(round(p[0])), int(round(p[1])))
            cv2.circle(out, c, unit + 1, GROUP_COLOURS.get(g, (255, 255, 255)), -1)
            if labels:
                cv2.putText(out, name, (c[0] + 2, c[1] - 2), cv2.FONT_HERSHEY_SIMPLEX, 0.25 * unit,
                            GROUP_COLOURS.get(g, (255, 255, 255)), 1)
    return out


def zoom(image, points, aligner, side=800):
    """One face enlarged to side x side pixels with every point named."""
    cv2 = _cv2()
    x, y, w, h = minmax_square(points)
    grow = 1.3
    cx, cy, half = x + w / 2.0, y + h / 2.0, w * grow / 2.0
    s = side / (2 * half)
    m = np.array([[s, 0, side / 2.0 - s * cx], [0, s, side / 2.0 - s * cy]])
    out = cv2.warpAffine(image, m, (side, side), flags=cv2.INTER_CUBIC, borderValue=0)
    for name, g, p in zip(aligner.names, aligner.groups, points):
        c = (int(round(s * p[0] + m[0, 2])), int(round(s * p[1] + m[1, 2])))
        colour = GROUP_COLOURS.get(g, (255, 255, 255))
        cv2.circle(out, c, 3, colour, -1)
        cv2.putText(out, name, (c[0] + 3, c[1] - 3), cv2.FONT_HERSHEY_SIMPLEX, 0.33, colour, 1)
    return out


def preview(images, finder, aligner, out, labels, sensitivity, min_scale, faces_too=False, track=0):
    cv2 = _cv2()
    os.makedirs(out, exist_ok=True)
    for path in images:
        image = cv2.imread(path)
        if image is None:
            print("%s: cannot read" % path)
            continue
        grey = cv2.cvtColor(image, cv2.COLOR_BGR2GRAY)
        faces = finder.find(grey, sensitivity, min_scale)
        results = [aligner.align(grey, face_rect(f)) for f in faces]
        for k in range(len(results)):
            # As the tracker would place it on the next frames of a still video.
            angle = None
            for _ in range(track):
                results[k] = track_frame(aligner, grey, minmax_square(results[k][0]), angle)
                angle = aligner.roll(results[k][0])
        name = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ".png")
        cv2.imwrite(name, draw(image, faces, results, aligner, labels))
        if faces_too:
            for k, (points, _) in enumerate(results):
                cv2.imwrite(name[:-4] + "_face%d.png" % k, zoom(image, points, aligner))
        print("%s: %d faces, mean qualities %s -> %s" % (
            os.path.basename(path), len(faces), " ".join("%.3f" % float(np.mean(q)) for _, q in results), name))


# ---------------------------------------------------------------------------
# Measurements


def mesh_reference(mesh_net, image, rect):
    """The face mesh on its own terms: colour crops 1.5 times its landmark box, turned
    upright by the eye corners, repeated until the crop settles. Returns the 468
    vertices (x, y), the last crop (centre x, centre y, side, angle) and the
    face-presence probability."""
    cv2 = _cv2()
    rgb = cv2.cvtColor(image, cv2.COLOR_BGR2RGB).astype(np.float32)
    x, y, w, h = rect
    cx, cy, side, angle = x + w / 2.0, y + h / 2.0, w * make_d1qy.CROP_FACTOR, 0.0
    size = make_d1qy.MESH_INPUT_SIZE
    for _ in range(6):
        s, c, si = size / side, math.cos(angle), math.sin(angle)
        m = np.array([[s * c, s * si, 0], [-s * si, s * c, 0]])
        m[:, 2] = np.array([size / 2 - 0.5] * 2) - m[:, :2] @ np.array([cx, cy])
        crop = cv2.warpAffine(rgb, m, (size, size), flags=cv2.INTER_LINEAR, borderValue=0)
        mesh_net.setInput((crop.transpose(2, 0, 1) / 255.0)[None].astype(np.float32))
        mesh, flag = mesh_net.forward([make_d1qy.MESH_OUTPUT, make_d1qy.FLAG_OUTPUT])
        mesh = mesh.reshape(-1, 3)[:, :2] - 0.5
        inverse = cv2.invertAffineTransform(m)
        pts = mesh @ inverse[:, :2].T + inverse[:, 2]
        d = pts[263] - pts[33]
        angle = math.atan2(d[1], d[0])
        r = np.array([[math.cos(angle), math.sin(angle)], [-math.sin(angle), math.cos(angle)]])
        q = pts @ r.T
        mn, mx = q.min(0), q.max(0)
        cx, cy = r.T @ ((mn + mx) / 2)
        side = max(mx - mn) * make_d1qy.CROP_FACTOR
    return pts, (cx, cy, side, angle), float(flag.reshape(-1)[0])


def mean_mesh(images, finder, mesh_net, uv):
    """MEAN_MESH of make_d1qy.py: mean vertex positions in the mesh's own crop scaled
    to 96 pixels, over the faces turned by less than about 30 degrees, symmetrised."""
    cv2 = _cv2()
    crops = []
    for path in images:
        image = cv2.imread(path)
        grey = cv2.cvtColor(image, cv2.COLOR_BGR2GRAY)
        for box in finder.find(grey):
            pts, (cx, cy, side, angle), flag = mesh_reference(mesh_net, image, face_rect(box))
            # Nose tip between the outer eye corners: 0.5 when frontal.
            turn = (pts[1, 0] - pts[33, 0]) / (pts[263, 0] - pts[33, 0])
            if flag < 0.5 or not 0.25 <= turn <= 0.75:
                continue
            s, c, si = CANONICAL_SIZE / side, math.cos(angle), math.sin(angle)
            m = np.array([[s * c, s * si], [-s * si, s * c]])
            crops.append((pts - [cx, cy]) @ m.T + (CANONICAL_SIZE / 2 - 0.5))
    mean = np.mean(crops, 0)
    mirror = feature_points.mesh_mirror(uv)
    reflected = mean[mirror].copy()
    reflected[:, 0] = (CANONICAL_SIZE - 1) - reflected[:, 0]
    return (mean + reflected) / 2, len(crops)


def measure(images, finder, aligner, mesh_net):
    cv2 = _cv2()
    select = feature_points.selection_matrix().astype(np.float64)
    rows = []
    flags_faces, flags_other = [], {}
    rng = np.random.RandomState(7)

    def quality_at(grey, rect):
        return float(np.mean(aligner.align(grey, rect)[1]))

    for path in images:
        image = cv2.imread(path)
        grey = cv2.cvtColor(image, cv2.COLOR_BGR2GRAY)
        H, W = grey.shape
        faces = finder.find(grey)
        for box in faces:
            rect = face_rect(box)
            mesh, _, flag = mesh_reference(mesh_net, image, rect)
            if flag < 0.5:
                print("%s: a found box without a face (face mesh %.3f), left out" % (os.path.basename(path), flag))
                continue
            reference = select @ mesh
            eyes = np.linalg.norm(aligner.point(reference, "3.7") - aligner.point(reference, "3.12"))
            p0, q0 = aligner.align(grey, rect)
            b0 = minmax_square(p0)
            rows_face = {"file": os.path.basename(path), "ratio": rect[2] / float(b0[2]),
                         "dx": (rect[0] + rect[2] / 2.0 - b0[0] - b0[2] / 2.0) / b0[2],
                         "dy": (rect[1] + rect[3] / 2.0 - b0[1] - b0[3] / 2.0) / b0[3],
                         "q_search": float(np.mean(q0)),
                         "err_search": float(np.mean(np.linalg.norm(p0 - reference, axis=1)) / eyes)}
            # Tracking: align again and again from the points' own square, once with
            # the tracking core's damping of small moves and once without.
            for key, damped in (("", True), ("raw_", False)):
                box_k, pts, angle, drift = rect, p0, None, []
                for _ in range(5):
                    box_k = steady(minmax_square(pts), box_k, W, H) if damped else minmax_square(pts)
                    new, q = track_frame(aligner, grey, box_k, angle)
                    angle = aligner.roll(new)
                    drift.append(float(np.mean(np.linalg.norm(new - pts, axis=1)) / eyes))
                    pts = new
                rows_face[key + "drift"] = drift
                rows_face[key + "final"] = minmax_square(pts)[2] / float(box_k[2])
                rows_face[key + "q_track"] = float(np.mean(q))
                rows_face[key + "err_track"] = float(np.mean(np.linalg.norm(pts - reference, axis=1)) / eyes)
            rows.append(rows_face)
            flags_faces.append(rows_face["q_search"])
            flags_faces.append(rows_face["q_track"])
            flags_faces.append(rows_face["raw_q_track"])
            # The same face placed badly.
            x, y, w, h = minmax_square(pts)
            for key, rx, ry, rs in (("shift 0.25", 0.25, 0, 1), ("shift 0.5", 0.5, 0, 1), ("shift 0.75", 0.75, 0, 1),
                                    ("shift 1.0", 1.0, 0, 1), ("shift down 0.5", 0, 0.5, 1),
                                    ("scale 0.5", 0, 0, 0.5), ("scale 2", 0, 0, 2), ("scale 3", 0, 0, 3)):
                side = int(w * rs)
                for sign in ((1, -1) if rx else (1,)):
                    r = (int(x + w / 2 - side / 2 + sign * rx * w), int(y + h / 2 - side / 2 + ry * h), side, side)
                    flags_other.setdefault(key, []).append(quality_at(grey, r))
        # Background: random squares that do not touch any face.
        taken = [minmax_square(aligner.align(grey, face_rect(b))[0]) for b in faces]
        count = 0
        for _ in range(400):
            side = int(rng.uniform(0.05, 0.3) * min(W, H))
            r = (int(rng.uniform(0, W - side)), int(rng.uniform(0, H - side)), side, side)
            grown = [(t[0] - t[2] // 2, t[1] - t[3] // 2, t[0] + 3 * t[2] // 2, t[1] + 3 * t[3] // 2) for t in taken]
            if any(iou((r[0], r[1], r[0] + side, r[1] + side), g) > 0 for g in grown):
                continue
            flags_other.setdefault("background", []).append(quality_at(grey, r))
            count += 1
            if count == 25:
                break

    print("face  file         search/points  centre dx   dy   q_search err_search | q_track err_track "
          "points/box  point move per re-alignment (of eye distance)")
    for k, r in enumerate(rows):
        print("%3d   %-12s %6.3f      %6.3f %6.3f   %.3f   %.4f    | %.3f   %.4f     %.3f     %s" % (
            k, r["file"], r["ratio"], r["dx"], r["dy"], r["q_search"], r["err_search"], r["q_track"],
            r["err_track"], r["final"], " ".join("%.4f" % d for d in r["drift"])))
    a = np.array([r["ratio"] for r in rows])
    print("search box / point box: mean %.3f, sd %.3f, min %.3f, max %.3f" % (a.mean(), a.std(), a.min(), a.max()))
    print("centre offset of the search box (of the point box): x %.3f +- %.3f, y %.3f +- %.3f" % (
        np.mean([r["dx"] for r in rows]), np.std([r["dx"] for r in rows]),
        np.mean([r["dy"] for r in rows]), np.std([r["dy"] for r in rows])))
    for key, text in (("", "with the tracking core's damping"), ("raw_", "without damping")):
        d = np.array([r[key + "drift"] for r in rows])
        print("re-alignment from the points' own square, %s:" % text)
        print("  mean point move per step 1..5 (of eye distance): %s (median %s)" % (
            " ".join("%.4f" % v for v in d.mean(0)), " ".join("%.4f" % v for v in np.median(d, 0))))
        print("  point box / box aligned from, after 5 steps: mean %.4f, sd %.4f" % (
            np.mean([r[key + "final"] for r in rows]), np.std([r[key + "final"] for r in rows])))
        print("  error against the mesh's own placement (mean point distance / eye distance): %.4f (median %.4f)" % (
            np.mean([r[key + "err_track"] for r in rows]), np.median([r[key + "err_track"] for r in rows])))
    print("error of the search placement against the mesh's own placement: %.4f (median %.4f)" % (
        np.mean([r["err_search"] for r in rows]), np.median([r["err_search"] for r in rows])))
    print("mean point quality (quality map %s):" % (make_d1qy.QUALITY_MAP,))
    print("  %-15s n=%3d  min %.3f  10%% %.3f  median %.3f  max %.3f" % (
        "faces", len(flags_faces), np.min(flags_faces), np.percentile(flags_faces, 10), np.median(flags_faces),
        np.max(flags_faces)))
    for key, values in flags_other.items():
        v = np.array(values)
        print(("  %-15s n=%3d  min %.3f  median %.3f  90%% %.3f  max %.3f"
               "  >0.22: %3.0f%%  >0.38: %3.0f%%  >0.5125: %3.0f%%") % (
            key, len(v), v.min(), np.median(v), np.percentile(v, 90), v.max(), 100 * np.mean(v > 0.22),
            100 * np.mean(v > 0.38), 100 * np.mean(v > 0.5125)))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("images", nargs="*")
    parser.add_argument("--build-dir", help="build folder holding datapack/onnx and data/")
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "datapack-preview"),
                        help="folder for the PNGs and for networks built here (default: a folder in the temp dir)")
    parser.add_argument("--cache", help="npm cache folder (default: BUILD/datapack/npm or OUT/npm)")
    parser.add_argument("--labels", action="store_true", help="write the point names next to the points")
    parser.add_argument("--faces", action="store_true", help="also write each face enlarged, points named")
    parser.add_argument("--track", type=int, default=0, metavar="N",
                        help="re-align N times from the points' own square in the tracker's working frame")
    parser.add_argument("--sensitivity", type=float, default=0.75, help="face finder sensitivity (0..1)")
    parser.add_argument("--min-face-scale", type=float, default=0.05,
                        help="smallest face side kept, as a fraction of the image's shorter side")
    parser.add_argument("--measure", action="store_true", help="print placement and quality figures instead")
    parser.add_argument("--mean-mesh", action="store_true", help="print make_d1qy.py's MEAN_MESH table instead")
    args = parser.parse_args(argv[1:])
    cache = args.cache or (os.path.join(args.build_dir, "datapack", "npm") if args.build_dir
                           else os.path.join(args.out, "npm"))
    images = args.images or default_images(cache)
    ff_path, d1qy_path, aux_path, mesh_path = networks(args.build_dir, args.out, cache)
    finder = FaceFinder(ff_path)
    if args.mean_mesh:
        import fetch_npm
        uv = feature_points.read_mesh_uv(fetch_npm.fetch("@vladmandic/human", cache))
        mean, count = mean_mesh(images, finder, _cv2().dnn.readNetFromONNX(mesh_path), uv)
        print("# %d faces" % count)
        for i in range(0, len(mean), 6):
            print("    " + "  ".join("%.2f %.2f" % (x, y) for x, y in mean[i:i + 6]))
        return 0
    aligner = Aligner(d1qy_path, aux_path)
    if args.measure:
        measure(images, finder, aligner, _cv2().dnn.readNetFromONNX(mesh_path))
        return 0
    preview(images, finder, aligner, args.out, args.labels, args.sensitivity, args.min_face_scale, args.faces,
                args.track)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
