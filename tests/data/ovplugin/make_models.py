#!/usr/bin/python3
"""Writes the small ONNX networks that the OVPlugin tests run.

Run with Debian's interpreter (python3-onnx, python3-numpy):
    /usr/bin/python3 tests/data/ovplugin/make_models.py [output-folder]
The folder defaults to the folder of this script. Every weight is a small
integer, so the tests can compute the expected outputs exactly by hand.

grey_conv.onnx: input "x" float [1,1,8,8] -> 3x3 convolution (padding 1) with
    the kernel GREY_KERNEL and bias GREY_BIAS -> ReLU -> output "y" [1,1,8,8].
rgb_mix.onnx:   input "x" float [1,3,4,5] -> 1x1 convolution with the weights
    (1, 10, 100) and no bias -> output "y" [1,1,4,5]; out = c0 + 10 c1 + 100 c2.
    Height and width differ so that a swapped axis shows.
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

GREY_KERNEL = np.array([[0, 1, 0],
                        [1, -4, 1],
                        [0, 2, 0]], dtype=np.float32)
GREY_BIAS = np.float32(3.0)


def save(graph, path):
    # Opset 11 and IR version 6 are well inside what OpenCV's importer reads.
    model = helper.make_model(graph, producer_name="orvix-tests",
                              opset_imports=[helper.make_opsetid("", 11)])
    model.ir_version = 6
    onnx.checker.check_model(model)
    onnx.save(model, path)


def grey_conv():
    weight = numpy_helper.from_array(GREY_KERNEL.reshape(1, 1, 3, 3), "w")
    bias = numpy_helper.from_array(np.array([GREY_BIAS], dtype=np.float32), "b")
    conv = helper.make_node("Conv", ["x", "w", "b"], ["c"], kernel_shape=[3, 3],
                            pads=[1, 1, 1, 1])
    relu = helper.make_node("Relu", ["c"], ["y"])
    return helper.make_graph(
        [conv, relu], "grey_conv",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 1, 8, 8])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 1, 8, 8])],
        [weight, bias])


def rgb_mix():
    weight = numpy_helper.from_array(
        np.array([1, 10, 100], dtype=np.float32).reshape(1, 3, 1, 1), "w")
    conv = helper.make_node("Conv", ["x", "w"], ["y"], kernel_shape=[1, 1])
    return helper.make_graph(
        [conv], "rgb_mix",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 3, 4, 5])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, 1, 4, 5])],
        [weight])


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    save(grey_conv(), os.path.join(folder, "grey_conv.onnx"))
    save(rgb_mix(), os.path.join(folder, "rgb_mix.onnx"))


if __name__ == "__main__":
    main()
