#!/usr/bin/python3
"""Feature points of the landmark network "d1qy", taken from the 468-vertex face mesh.

Each entry names one feature point ("group.index") and says which mesh vertices it
is made of: a dictionary {vertex: weight} whose weights add up to 1. Most points
are one vertex; pupils, brow ends, the eye-line centre and the contour points are
weighted means. docs/feature-points.md describes every group and point in words;
this table is the same mapping as data and is what make_d1qy.py builds from.

Sides: class 1 (odd indices in groups 3, 4, 16, ...) is the person's LEFT side,
which is the RIGHT side of an ordinary (not mirrored) camera image. The mesh names
its sides the same way (its "left eye" ring holds vertices 263 ... 362).

CLI:
  feature_points.py --check HUMAN_PACKAGE_DIR   checks the table against the mesh's
      own symmetry (read from src/face/facemeshcoords.ts of the fetched package)
      and against the side classes and mirror pairs of the point sets.
  feature_points.py --list                      prints the table.
"""

import re
import sys

MESH_VERTICES = 468


def _mean(*vertices):
    w = 1.0 / len(vertices)
    return {v: w for v in vertices}


# Eye-opening rings (lid margins, corners included), used for the pupils.
_LEFT_EYE_RING = (263, 249, 390, 373, 374, 380, 381, 382, 362,
                  466, 388, 387, 386, 385, 384, 398)
_RIGHT_EYE_RING = (33, 7, 163, 144, 145, 153, 154, 155, 133,
                   246, 161, 160, 159, 158, 157, 173)

# (name, {vertex: weight}, description). Order is the landmark order of the network.
FEATURE_POINTS = [
    # Group 2: chin, inner lip contour, jaw.
    ("2.1", {152: 1.0}, "bottom of the chin"),
    ("2.2", {13: 1.0}, "middle of the inner upper lip contour"),
    ("2.3", {14: 1.0}, "middle of the inner lower lip contour"),
    ("2.4", {308: 1.0}, "left corner of the inner lip contour"),
    ("2.5", {78: 1.0}, "right corner of the inner lip contour"),
    ("2.6", {311: 1.0}, "inner upper lip, midway between 2.2 and 2.4"),
    ("2.7", {81: 1.0}, "inner upper lip, midway between 2.2 and 2.5"),
    ("2.8", {402: 1.0}, "inner lower lip, midway between 2.3 and 2.4"),
    ("2.9", {178: 1.0}, "inner lower lip, midway between 2.3 and 2.5"),
    ("2.10", {199: 1.0}, "chin boss"),
    ("2.11", {400: 1.0}, "left corner of the chin"),
    ("2.12", {176: 1.0}, "right corner of the chin"),
    ("2.13", {288: 1.0}, "left corner of the jaw bone"),
    ("2.14", {58: 1.0}, "right corner of the jaw bone"),

    # Group 3: eyes.
    ("3.1", {386: 1.0}, "left eye, middle of the upper lid margin"),
    ("3.2", {159: 1.0}, "right eye, middle of the upper lid margin"),
    ("3.3", {374: 1.0}, "left eye, middle of the lower lid margin"),
    ("3.4", {145: 1.0}, "right eye, middle of the lower lid margin"),
    ("3.5", _mean(*_LEFT_EYE_RING), "left pupil (centre of the eye opening)"),
    ("3.6", _mean(*_RIGHT_EYE_RING), "right pupil (centre of the eye opening)"),
    ("3.7", {263: 1.0}, "left corner of the left eye (outer corner)"),
    ("3.8", {133: 1.0}, "left corner of the right eye (inner corner)"),
    ("3.9", {253: 1.0}, "left eye, centre of the lower outer eyelid"),
    ("3.10", {23: 1.0}, "right eye, centre of the lower outer eyelid"),
    ("3.11", {362: 1.0}, "right corner of the left eye (inner corner)"),
    ("3.12", {33: 1.0}, "right corner of the right eye (outer corner)"),
    ("3.13", {257: 1.0}, "left eye, centre of the upper outer eyelid (crease)"),
    ("3.14", {27: 1.0}, "right eye, centre of the upper outer eyelid (crease)"),

    # Group 4: eyebrows. Brow ends are the mean of the upper and lower brow edge.
    ("4.1", _mean(336, 285), "right corner of the left brow (inner end)"),
    ("4.2", _mean(107, 55), "left corner of the right brow (inner end)"),
    ("4.3", {334: 1.0}, "uppermost point of the left brow"),
    ("4.4", {105: 1.0}, "uppermost point of the right brow"),
    ("4.5", _mean(300, 276), "left corner of the left brow (outer end)"),
    ("4.6", _mean(70, 46), "right corner of the right brow (outer end)"),

    # Group 5: cheeks.
    ("5.1", {280: 1.0}, "left cheek centre"),
    ("5.2", {50: 1.0}, "right cheek centre"),
    ("5.3", {345: 1.0}, "left cheek bone"),
    ("5.4", {116: 1.0}, "right cheek bone"),

    # Group 8: outer lip contour.
    ("8.1", {0: 1.0}, "middle of the outer upper lip contour"),
    ("8.2", {17: 1.0}, "middle of the outer lower lip contour"),
    ("8.3", {291: 1.0}, "left corner of the outer lip contour"),
    ("8.4", {61: 1.0}, "right corner of the outer lip contour"),
    ("8.5", {269: 1.0}, "outer upper lip, midway between 8.3 and 8.1"),
    ("8.6", {39: 1.0}, "outer upper lip, midway between 8.4 and 8.1"),
    ("8.7", {405: 1.0}, "outer lower lip, midway between 8.3 and 8.2"),
    ("8.8", {181: 1.0}, "outer lower lip, midway between 8.4 and 8.2"),
    ("8.9", {37: 1.0}, "right peak of the upper lip (Cupid's bow)"),
    ("8.10", {267: 1.0}, "left peak of the upper lip (Cupid's bow)"),

    # Group 9: nose (9.8 to 9.11 are teeth and are not produced).
    ("9.1", {358: 1.0}, "left nostril border (outermost point of the left wing)"),
    ("9.2", {129: 1.0}, "right nostril border (outermost point of the right wing)"),
    ("9.3", {1: 1.0}, "nose tip"),
    ("9.4", {98: 1.0}, "bottom right edge of the nose (base of the right wing)"),
    ("9.5", {327: 1.0}, "bottom left edge of the nose (base of the left wing)"),
    ("9.6", {193: 1.0}, "right upper edge of the nose bone"),
    ("9.7", {417: 1.0}, "left upper edge of the nose bone"),
    ("9.12", {197: 1.0}, "middle lower edge of the nose bone (on the ridge)"),
    ("9.13", {399: 1.0}, "left lower edge of the nose bone"),
    ("9.14", {174: 1.0}, "right lower edge of the nose bone"),
    ("9.15", {2: 1.0}, "bottom middle edge of the nose"),

    # Group 11: forehead (11.4 to 11.6, skull top and back, are not produced).
    ("11.1", {10: 1.0}, "middle of the border between hair and forehead"),
    ("11.2", {54: 1.0}, "right end of the border between hair and forehead"),
    ("11.3", {284: 1.0}, "left end of the border between hair and forehead"),

    # Group 12: eye-line centre and lid quarter points.
    ("12.1", _mean(263, 33), "centre of the eye line (midpoint of 3.7 and 3.12)"),
    ("12.5", {388: 1.0}, "left eye, upper lid, left (outer) quarter"),
    ("12.6", {157: 1.0}, "right eye, upper lid, left (inner) quarter"),
    ("12.7", {390: 1.0}, "left eye, lower lid, left (outer) quarter"),
    ("12.8", {154: 1.0}, "right eye, lower lid, left (inner) quarter"),
    ("12.9", {384: 1.0}, "left eye, upper lid, right (inner) quarter"),
    ("12.10", {161: 1.0}, "right eye, upper lid, right (outer) quarter"),
    ("12.11", {381: 1.0}, "left eye, lower lid, right (inner) quarter"),
    ("12.12", {163: 1.0}, "right eye, lower lid, right (outer) quarter"),

    # Group 13: jaw line from the jaw angle to the chin, 8 points a side.
    ("13.1", {288: 1.0}, "jaw line, left, 1 of 8 (jaw angle)"),
    ("13.2", {58: 1.0}, "jaw line, right, 1 of 8 (jaw angle)"),
    ("13.3", {288: 0.125, 397: 0.875}, "jaw line, left, 2 of 8"),
    ("13.4", {58: 0.125, 172: 0.875}, "jaw line, right, 2 of 8"),
    ("13.5", {397: 0.25, 365: 0.75}, "jaw line, left, 3 of 8"),
    ("13.6", {172: 0.25, 136: 0.75}, "jaw line, right, 3 of 8"),
    ("13.7", {365: 0.375, 379: 0.625}, "jaw line, left, 4 of 8"),
    ("13.8", {136: 0.375, 150: 0.625}, "jaw line, right, 4 of 8"),
    ("13.9", {379: 0.5, 378: 0.5}, "jaw line, left, 5 of 8"),
    ("13.10", {150: 0.5, 149: 0.5}, "jaw line, right, 5 of 8"),
    ("13.11", {378: 0.625, 400: 0.375}, "jaw line, left, 6 of 8"),
    ("13.12", {149: 0.625, 176: 0.375}, "jaw line, right, 6 of 8"),
    ("13.13", {400: 0.75, 377: 0.25}, "jaw line, left, 7 of 8"),
    ("13.14", {176: 0.75, 148: 0.25}, "jaw line, right, 7 of 8"),
    ("13.15", {377: 0.875, 152: 0.125}, "jaw line, left, 8 of 8 (next to the chin)"),
    ("13.16", {148: 0.875, 152: 0.125}, "jaw line, right, 8 of 8 (next to the chin)"),
    ("13.17", {152: 1.0}, "jaw line, chin (twin of 2.1)"),

    # Group 14: brow extras (1 to 12), nose sides (13 to 20), nose midline (21 to 25).
    ("14.1", {296: 1.0}, "left brow, upper edge between the inner end and the top"),
    ("14.2", {66: 1.0}, "right brow, upper edge between the inner end and the top"),
    ("14.3", {293: 1.0}, "left brow, upper edge between the top and the outer end"),
    ("14.4", {63: 1.0}, "right brow, upper edge between the top and the outer end"),
    ("14.5", {295: 1.0}, "left brow, lower edge, inner part"),
    ("14.6", {65: 1.0}, "right brow, lower edge, inner part"),
    ("14.7", {282: 1.0}, "left brow, lower edge, middle"),
    ("14.8", {52: 1.0}, "right brow, lower edge, middle"),
    ("14.9", {53: 1.0}, "right brow, lower edge, outer part"),
    ("14.10", {283: 1.0}, "left brow, lower edge, outer part"),
    ("14.11", {276: 1.0}, "left brow, lower edge, outer end"),
    ("14.12", {46: 1.0}, "right brow, lower edge, outer end"),
    ("14.13", {97: 1.0}, "right nostril, bottom, between 9.15 and 9.4"),
    ("14.14", {326: 1.0}, "left nostril, bottom, between 9.15 and 9.5"),
    ("14.15", {131: 1.0}, "right side of the nose, top of the wing"),
    ("14.16", {360: 1.0}, "left side of the nose, top of the wing"),
    ("14.17", {236: 1.0}, "right side of the nose, middle"),
    ("14.18", {456: 1.0}, "left side of the nose, middle"),
    ("14.19", {122: 1.0}, "right side of the nose, upper part"),
    ("14.20", {351: 1.0}, "left side of the nose, upper part"),
    ("14.21", {1: 1.0}, "nose tip (twin of 9.3)"),
    ("14.22", {5: 1.0}, "nose ridge above the tip"),
    ("14.23", {197: 1.0}, "nose ridge, lower end of the nose bone (twin of 9.12)"),
    ("14.24", {6: 1.0}, "nose bridge"),
    ("14.25", {168: 1.0}, "nose root, between the eyes"),

    # Group 15: face outline from eye level to the chin, 8 points a side.
    ("15.1", {356: 1.0}, "face outline, left, 1 of 8 (eye level)"),
    ("15.2", {127: 1.0}, "face outline, right, 1 of 8 (eye level)"),
    ("15.3", {454: 0.625, 323: 0.375}, "face outline, left, 2 of 8"),
    ("15.4", {234: 0.625, 93: 0.375}, "face outline, right, 2 of 8"),
    ("15.5", {323: 0.25, 361: 0.75}, "face outline, left, 3 of 8"),
    ("15.6", {93: 0.25, 132: 0.75}, "face outline, right, 3 of 8"),
    ("15.7", {288: 0.875, 397: 0.125}, "face outline, left, 4 of 8"),
    ("15.8", {58: 0.875, 172: 0.125}, "face outline, right, 4 of 8"),
    ("15.9", {397: 0.5, 365: 0.5}, "face outline, left, 5 of 8"),
    ("15.10", {172: 0.5, 136: 0.5}, "face outline, right, 5 of 8"),
    ("15.11", {365: 0.125, 379: 0.875}, "face outline, left, 6 of 8"),
    ("15.12", {136: 0.125, 150: 0.875}, "face outline, right, 6 of 8"),
    ("15.13", {378: 0.75, 400: 0.25}, "face outline, left, 7 of 8"),
    ("15.14", {149: 0.75, 176: 0.25}, "face outline, right, 7 of 8"),
    ("15.15", {400: 0.375, 377: 0.625}, "face outline, left, 8 of 8 (next to the chin)"),
    ("15.16", {176: 0.375, 148: 0.625}, "face outline, right, 8 of 8 (next to the chin)"),
    ("15.17", {152: 1.0}, "face outline, chin (twin of 2.1)"),

    # Group 16: further eyelid and eye-region points, 14 per eye.
    ("16.1", {466: 1.0}, "left eye, upper lid next to the left (outer) corner"),
    ("16.2", {173: 1.0}, "right eye, upper lid next to the left (inner) corner"),
    ("16.3", {249: 1.0}, "left eye, lower lid next to the left (outer) corner"),
    ("16.4", {155: 1.0}, "right eye, lower lid next to the left (inner) corner"),
    ("16.5", {398: 1.0}, "left eye, upper lid next to the right (inner) corner"),
    ("16.6", {246: 1.0}, "right eye, upper lid next to the right (outer) corner"),
    ("16.7", {382: 1.0}, "left eye, lower lid next to the right (inner) corner"),
    ("16.8", {7: 1.0}, "right eye, lower lid next to the right (outer) corner"),
    ("16.9", {387: 1.0}, "left eye, upper lid, left of the middle"),
    ("16.10", {158: 1.0}, "right eye, upper lid, left of the middle"),
    ("16.11", {373: 1.0}, "left eye, lower lid, left of the middle"),
    ("16.12", {153: 1.0}, "right eye, lower lid, left of the middle"),
    ("16.13", {259: 1.0}, "left eye, upper crease, left quarter"),
    ("16.14", {28: 1.0}, "right eye, upper crease, left quarter"),
    ("16.15", {339: 1.0}, "left eye, lower outer lid, left quarter"),
    ("16.16", {26: 1.0}, "right eye, lower outer lid, left quarter"),
    ("16.17", {258: 1.0}, "left eye, upper crease, right quarter"),
    ("16.18", {29: 1.0}, "right eye, upper crease, right quarter"),
    ("16.19", {256: 1.0}, "left eye, lower outer lid, right quarter"),
    ("16.20", {110: 1.0}, "right eye, lower outer lid, right quarter"),
    ("16.21", {385: 1.0}, "left eye, upper lid, right of the middle"),
    ("16.22", {160: 1.0}, "right eye, upper lid, right of the middle"),
    ("16.23", {380: 1.0}, "left eye, lower lid, right of the middle"),
    ("16.24", {144: 1.0}, "right eye, lower lid, right of the middle"),
    ("16.25", {260: 1.0}, "left eye, upper crease near the left (outer) corner"),
    ("16.26", {56: 1.0}, "right eye, upper crease near the left (inner) corner"),
    ("16.27", {286: 1.0}, "left eye, upper crease near the right (inner) corner"),
    ("16.28", {30: 1.0}, "right eye, upper crease near the right (outer) corner"),

    # Group 17: further lip contour points (17.1 to 17.4, mouth interior, not produced).
    ("17.5", {270: 1.0}, "outer upper lip, left, between 8.5 and 8.3"),
    ("17.6", {40: 1.0}, "outer upper lip, right, between 8.6 and 8.4"),
    ("17.7", {321: 1.0}, "outer lower lip, left, between 8.7 and 8.3"),
    ("17.8", {91: 1.0}, "outer lower lip, right, between 8.8 and 8.4"),
    ("17.9", {84: 1.0}, "outer lower lip, right, between 8.2 and 8.8"),
    ("17.10", {314: 1.0}, "outer lower lip, left, between 8.2 and 8.7"),
    ("17.11", {310: 1.0}, "inner upper lip, left, between 2.6 and 2.4"),
    ("17.12", {80: 1.0}, "inner upper lip, right, between 2.7 and 2.5"),
    ("17.13", {82: 1.0}, "inner upper lip, right, between 2.2 and 2.7"),
    ("17.14", {312: 1.0}, "inner upper lip, left, between 2.2 and 2.6"),
    ("17.15", {87: 1.0}, "inner lower lip, right, between 2.3 and 2.9"),
    ("17.16", {317: 1.0}, "inner lower lip, left, between 2.3 and 2.8"),
    ("17.17", {88: 1.0}, "inner lower lip, right, between 2.9 and 2.5"),
    ("17.18", {318: 1.0}, "inner lower lip, left, between 2.8 and 2.4"),
    ("17.19", {146: 1.0}, "outer lower lip, right, next to the corner 8.4"),
    ("17.20", {375: 1.0}, "outer lower lip, left, next to the corner 8.3"),
]

# Group sizes of the point sets (index = group number).
GROUP_SIZES = [0, 0, 14, 14, 6, 4, 4, 1, 10, 15, 24, 6, 47, 17, 26, 17, 28, 20]


def parse_name(name):
    group, index = name.split(".")
    return int(group), int(index)


def point_type(group, index):
    """Side class of a point: 2 on the symmetry axis, 1 person's left, 3 person's right,
    -1 none. The same table as the library's FDP::getPointType."""
    if not (2 <= group <= 17 and 1 <= index <= GROUP_SIZES[group]):
        return -1
    odd = index % 2 == 1
    if group == 2:
        if index <= 3:
            return 2
        if index <= 9:
            return 3 if odd else 1
        return -1
    if group in (3, 4, 10, 16):
        return 1 if odd else 3
    if group == 8:
        if index <= 2:
            return 2
        return 1 if index in (3, 5, 7, 10) else 3
    if group == 9:
        if index in (3, 15):
            return 2
        if index in (1, 5):
            return 1
        if index in (2, 4):
            return 3
        return -1
    if group == 12:
        if 5 <= index <= 12:
            return 1 if odd else 3
        return -1
    if group in (13, 15):
        if index == 17:
            return 2
        return 1 if odd else 3
    if group == 14:
        if 21 <= index <= 25:
            return 2
        if index == 26:
            return -1
        return 1 if index in (1, 3, 5, 7, 10, 11, 14, 16, 18, 20) else 3
    if group == 17:
        if index <= 4:
            return -1
        return 1 if index in (5, 7, 10, 11, 14, 16, 18, 20) else 3
    return -1


def mirror_index(group, index):
    """Index of the mirror point in the same group (FDP::getMirrorPointIndex)."""
    kind = point_type(group, index)
    if kind == 2:
        return index
    if kind == -1:
        return -1
    tables = {
        2: ((4, 5), (6, 7), (8, 9)),
        3: ((1, 2), (3, 4), (5, 6), (7, 12), (8, 11), (9, 10), (13, 14)),
        9: ((1, 2), (4, 5)),
        12: ((5, 10), (6, 9), (7, 12), (8, 11)),
    }
    if group in tables:
        for a, b in tables[group]:
            if index == a:
                return b
            if index == b:
                return a
        return -1
    if group == 16:
        return (6, 5, 8, 7, 2, 1, 4, 3, 22, 21, 24, 23, 18, 17,
                20, 19, 14, 13, 16, 15, 10, 9, 12, 11, 28, 27, 26, 25)[index - 1]
    return index + 1 if index % 2 == 1 else index - 1


def groups_and_indices():
    return [parse_name(name) for name, _, _ in FEATURE_POINTS]


def selection_matrix():
    """N x 468 float32 matrix: row k holds the vertex weights of landmark k."""
    import numpy as np
    m = np.zeros((len(FEATURE_POINTS), MESH_VERTICES), np.float32)
    for k, (_, weights, _) in enumerate(FEATURE_POINTS):
        for vertex, w in weights.items():
            m[k, vertex] = w
    return m


def read_mesh_uv(human_package_dir):
    """The mesh's texture coordinates (468 x 2) from the package's facemeshcoords.ts."""
    import numpy as np
    path = human_package_dir.rstrip("/") + "/src/face/facemeshcoords.ts"
    with open(path, encoding="utf-8") as f:
        text = f.read()
    match = re.search(r"export const UV468[^=]*=\s*\[(.*?)\];", text, re.S)
    if not match:
        raise ValueError("no UV468 table in " + path)
    pairs = re.findall(r"\[\s*([-0-9.eE]+)\s*,\s*([-0-9.eE]+)\s*\]", match.group(1))
    uv = np.array([[float(a), float(b)] for a, b in pairs])
    if uv.shape != (MESH_VERTICES, 2):
        raise ValueError("UV468 has shape %s" % (uv.shape,))
    return uv


def mesh_mirror(uv):
    """Mirror vertex of every mesh vertex: the nearest vertex to its texture position
    reflected about u = 0.5 (the texture map is symmetric)."""
    import numpy as np
    reflected = uv.copy()
    reflected[:, 0] = 1.0 - reflected[:, 0]
    d = ((uv[None, :, :] - reflected[:, None, :]) ** 2).sum(-1)
    mirror = d.argmin(1)
    if not (mirror[mirror] == np.arange(len(uv))).all():
        raise ValueError("the mesh mirror map is not an involution")
    return mirror


def check(uv):
    """Returns a list of problems (empty when the table is consistent)."""
    problems = []
    mirror = mesh_mirror(uv)
    table = {}
    for name, weights, _ in FEATURE_POINTS:
        group, index = parse_name(name)
        if not (2 <= group <= 17 and 1 <= index <= GROUP_SIZES[group]):
            problems.append("%s: not a valid point" % name)
            continue
        if name in table:
            problems.append("%s: listed twice" % name)
        if abs(sum(weights.values()) - 1.0) > 1e-6:
            problems.append("%s: weights add up to %g" % (name, sum(weights.values())))
        if any(not 0 <= v < MESH_VERTICES for v in weights):
            problems.append("%s: vertex out of range" % name)
        table[name] = weights
    for name, weights in table.items():
        group, index = parse_name(name)
        kind = point_type(group, index)
        mirrored = {}
        for v, w in weights.items():
            mirrored[int(mirror[v])] = mirrored.get(int(mirror[v]), 0.0) + w
        # Side of the point on the mesh: texture u > 0.5 is the person's left.
        u = sum(w * uv[v, 0] for v, w in weights.items())
        side = 2 if abs(u - 0.5) < 1e-3 else (1 if u > 0.5 else 3)
        if kind in (1, 2, 3) and side != kind:
            problems.append("%s: class %d but lies on side %d of the mesh" % (name, kind, side))
        if kind == -1:
            continue
        partner = "%d.%d" % (group, mirror_index(group, index))
        if partner in table:
            expect = table[partner]
            keys = set(expect) | set(mirrored)
            if any(abs(expect.get(k, 0.0) - mirrored.get(k, 0.0)) > 1e-6 for k in keys):
                problems.append("%s: mirror point %s is not made of the mirrored vertices" % (name, partner))
    return problems


def main(argv):
    if len(argv) == 2 and argv[1] == "--list":
        for k, (name, weights, text) in enumerate(FEATURE_POINTS):
            print("%3d %-6s %-40s %s" % (k, name, text,
                                         " ".join("%d:%g" % vw for vw in sorted(weights.items()))))
        print("N =", len(FEATURE_POINTS))
        return 0
    if len(argv) == 3 and argv[1] == "--check":
        problems = check(read_mesh_uv(argv[2]))
        for p in problems:
            print(p)
        print("%d points, %d problems" % (len(FEATURE_POINTS), len(problems)))
        return 1 if problems else 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
