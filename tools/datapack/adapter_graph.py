#!/usr/bin/python3
"""What the adapters (make_ff.py, make_d1qy.py, make_pr.py) share when they wrap a
converted network in their own pre- and post-processing nodes.

    AdapterGraph(default_prefix)   collects the adapter's nodes and constants
    find_value(values, name)       a graph input / output / value_info by name
    dims(value)                    its tensor dimensions as plain integers
    compose_model(...)             the adapted ONNX model, checked

Every adapted network takes one float tensor "pre_image" and gives one float tensor
"output"; the adapter's own tensors and nodes are named "pre_..." or "post_..." so
they cannot collide with the converted network's names.
"""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# Operator set of every adapted network: the converted networks use it too, and
# OpenCV's importer reads it.
OPSET = 11
PRODUCER = "orvix-datapack"


class AdapterGraph:
    """Collects the adapter's nodes and constants. Names are "<prefix>_<what>_<n>",
    n counting every name made, so the order of calls fixes the names."""

    def __init__(self, default_prefix):
        self.default_prefix = default_prefix
        self.nodes = []
        self.inits = []
        self.count = 0

    def name(self, prefix, what):
        self.count += 1
        return "%s_%s_%d" % (prefix, what, self.count)

    def const(self, array, what, prefix=None):
        name = self.name(prefix or self.default_prefix, what)
        self.inits.append(numpy_helper.from_array(np.ascontiguousarray(array), name))
        return name

    def node(self, op, inputs, what, output=None, prefix=None, **attrs):
        prefix = prefix or self.default_prefix
        out = output or self.name(prefix, what)
        self.nodes.append(helper.make_node(op, inputs, [out], name=self.name(prefix, op), **attrs))
        return out

    def scalar(self, value, what):
        """A float32 constant of rank 0 (broadcasts against any tensor)."""
        return self.const(np.array(value, np.float32), what)


def find_value(values, name):
    """The entry of values (graph inputs, outputs or value_info) called name, or None."""
    for v in values:
        if v.name == name:
            return v
    return None


def dims(value):
    return [d.dim_value for d in value.type.tensor_type.shape.dim]


def compose_model(converted, name, nodes, input_shape, output_shape, initializers, value_info=()):
    """The adapted model "name": input "pre_image" and output "output" (float), the
    given nodes, initialisers and value_info; the converted model's IR version is
    kept. Raises onnx.checker.ValidationError when the graph is not valid."""
    model_graph = helper.make_graph(
        nodes, name,
        [helper.make_tensor_value_info("pre_image", TensorProto.FLOAT, input_shape)],
        [helper.make_tensor_value_info("output", TensorProto.FLOAT, output_shape)],
        initializers, value_info=list(value_info))
    model = helper.make_model(model_graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name=PRODUCER)
    model.ir_version = converted.ir_version or model.ir_version
    onnx.checker.check_model(model)
    return model
