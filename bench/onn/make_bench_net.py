#!/usr/bin/python3
"""Writes bench_net.onnx, the small convolutional network of the ONN benchmark.

Run with Debian's interpreter (python3-onnx, python3-numpy):
    /usr/bin/python3 bench/onn/make_bench_net.py [output-file]

Input "x" float [1,1,96,96] (a grey face crop, pixel values 0..255):
    conv 3x3 1->8, ReLU; conv 3x3 8->16 stride 2, ReLU;
    conv 3x3 16->16 stride 2, ReLU; conv 1x1 16->4 -> output "y" [1,4,24,24].
Weights are drawn from a fixed seed, so the file is the same on every run.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper


def conv(nodes, inits, name, source, cin, cout, k, stride, rng, relu=True):
    w = (rng.standard_normal((cout, cin, k, k)) / np.sqrt(cin * k * k)).astype(np.float32)
    b = (rng.standard_normal(cout) * 0.1).astype(np.float32)
    inits += [numpy_helper.from_array(w, name + "_w"), numpy_helper.from_array(b, name + "_b")]
    out = name if relu else "y"
    pad = k // 2
    nodes.append(helper.make_node("Conv", [source, name + "_w", name + "_b"], [name + "_c" if relu else out],
                                  kernel_shape=[k, k], strides=[stride, stride], pads=[pad] * 4))
    if relu:
        nodes.append(helper.make_node("Relu", [name + "_c"], [out]))
    return out


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "bench_net.onnx")
    rng = np.random.default_rng(96)
    nodes, inits = [], []
    t = conv(nodes, inits, "c1", "x", 1, 8, 3, 1, rng)
    t = conv(nodes, inits, "c2", t, 8, 16, 3, 2, rng)
    t = conv(nodes, inits, "c3", t, 16, 16, 3, 2, rng)
    conv(nodes, inits, "c4", t, 16, 4, 1, 1, rng, relu=False)
    graph = helper.make_graph(
        nodes, "bench_net",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 1, 96, 96])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 4, 24, 24])],
        inits)
    model = helper.make_model(graph, producer_name="orvix-bench",
                              opset_imports=[helper.make_opsetid("", 11)])
    model.ir_version = 6
    onnx.checker.check_model(model)
    onnx.save(model, path)


if __name__ == "__main__":
    main()
