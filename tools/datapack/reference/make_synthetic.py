#!/usr/bin/python3
"""Writes a small synthetic TF.js graph model (synthetic.json + synthetic.bin) that
exercises the converter's paths the three face models do not: odd input sizes, SAME
padding that is asymmetric in max pooling, a depthwise multiplier of 2, plain Conv2D,
BiasAdd, Add with a constant, Relu6, LeakyRelu, spatial Pad, Concat over channel-first
and flat tensors, and a 4-D output. The weights are seeded random numbers, so the files
are the same on every run.

    make_synthetic.py OUT_DIR
"""

import base64
import json
import os
import sys

import numpy as np


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_synthetic.py OUT_DIR\n")
        return 2
    rng = np.random.default_rng(20240611)
    weight_list, blobs, nodes = [], [], []

    def b64(text):
        return base64.b64encode(text.encode()).decode()

    def ints(values):
        return {"list": {"i": [str(v) for v in values]}}

    def const(name, value, dtype="float32"):
        arr = np.asarray(value, dtype=np.float32 if dtype == "float32" else np.int32)
        weight_list.append({"name": name, "shape": list(arr.shape), "dtype": dtype})
        blobs.append(arr.tobytes())
        tf_type = "DT_FLOAT" if dtype == "float32" else "DT_INT32"
        nodes.append({"name": name, "op": "Const",
                      "attr": {"dtype": {"type": tf_type}, "value": {"tensor": {"dtype": tf_type}}}})

    def op(name, kind, inputs, **attr):
        nodes.append({"name": name, "op": kind, "input": inputs,
                      "attr": dict({"T": {"type": "DT_FLOAT"}}, **attr)})

    def conv(name, kind, inputs, stride, padding, fused=None, **extra):
        attr = {"data_format": {"s": b64("NHWC")}, "strides": ints([1, stride, stride, 1]),
                "dilations": ints([1, 1, 1, 1]), "padding": {"s": b64(padding)}}
        if fused:
            attr["fused_ops"] = {"list": {"s": [b64(f) for f in fused]}}
            attr["num_args"] = {"i": str(len(inputs) - 2)}
        attr.update(extra)
        op(name, kind, inputs, **attr)

    nodes.append({"name": "x", "op": "Placeholder",
                  "attr": {"dtype": {"type": "DT_FLOAT"},
                           "shape": {"shape": {"dim": [{"size": "-1"}, {"size": "9"},
                                                       {"size": "7"}, {"size": "3"}]}}}})
    const("f1", rng.standard_normal((3, 3, 3, 4)) * 1.5)
    const("b1", rng.standard_normal(4))
    conv("a", "_FusedConv2D", ["x", "f1", "b1"], 2, "SAME", ["BiasAdd", "Relu6"])       # 5x4x4
    const("dw", rng.standard_normal((3, 3, 4, 2)) * 0.5)
    conv("b", "DepthwiseConv2dNative", ["a", "dw"], 2, "SAME")                        # 3x2x8
    op("m", "MaxPool", ["a"], data_format={"s": b64("NHWC")}, ksize=ints([1, 3, 3, 1]),
       strides=ints([1, 2, 2, 1]), padding={"s": b64("SAME")})                         # 3x2x4
    const("axis_c", -1, "int32")
    op("c", "ConcatV2", ["b", "m", "axis_c"], N={"i": "2"}, Tidx={"type": "DT_INT32"})  # 3x2x12
    const("bias12", rng.standard_normal(12))
    op("d", "BiasAdd", ["c", "bias12"], data_format={"s": b64("NHWC")})
    const("k12", rng.standard_normal(12))
    op("e", "AddV2", ["d", "k12"])
    const("f2", rng.standard_normal((1, 1, 12, 5)) * 0.5)
    const("b2", rng.standard_normal(5))
    conv("f", "_FusedConv2D", ["e", "f2", "b2"], 1, "VALID", ["BiasAdd", "LeakyRelu"],
         leakyrelu_alpha={"f": 0.3})                                                  # 3x2x5
    const("flat", [1, -1], "int32")
    op("g", "Reshape", ["f", "flat"], Tshape={"type": "DT_INT32"})                    # 30
    const("f3", rng.standard_normal((2, 2, 3, 2)) * 2.0)
    conv("h", "Conv2D", ["x", "f3"], 1, "VALID")                                      # 8x6x2
    const("paddings", [[0, 0], [1, 0], [0, 2], [0, 0]], "int32")
    op("p", "Pad", ["h", "paddings"], Tpaddings={"type": "DT_INT32"})                 # 9x8x2
    op("r", "Relu6", ["p"])
    const("flat2", [1, -1], "int32")
    op("rr", "Reshape", ["r", "flat2"], Tshape={"type": "DT_INT32"})
    const("axis_1", 1, "int32")
    op("k", "ConcatV2", ["g", "rr", "axis_1"], N={"i": "2"}, Tidx={"type": "DT_INT32"})  # 174
    const("alpha", rng.standard_normal((1, 1, 8)) * 0.3)
    nodes.append({"name": "pr", "op": "Prelu", "input": ["b", "alpha"]})
    op("sg", "Sigmoid", ["pr"])
    outputs = {"flat_out": "g", "padded:0": "r", "joined": "k", "gate": "sg"}
    for i, src in enumerate(outputs.values()):
        op("Identity_%d" % i, "Identity", [src])
    signature = {
        "inputs": {"x:0": {"name": "x:0", "dtype": "DT_FLOAT"}},
        "outputs": {key: {"name": "Identity_%d:0" % i, "dtype": "DT_FLOAT"}
                    for i, key in enumerate(outputs)},
    }
    model = {
        "format": "graph-model", "generatedBy": "make_synthetic.py", "convertedBy": "make_synthetic.py",
        "signature": signature,
        "modelTopology": {"node": nodes, "library": {}, "versions": {}},
        "weightsManifest": [{"paths": ["synthetic.bin"], "weights": weight_list}],
    }
    os.makedirs(argv[1], exist_ok=True)
    with open(os.path.join(argv[1], "synthetic.json"), "w") as f:
        json.dump(model, f, indent=1, sort_keys=True)
        f.write("\n")
    with open(os.path.join(argv[1], "synthetic.bin"), "wb") as f:
        f.write(b"".join(blobs))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
