#!/usr/bin/python3
"""Convert a TF.js graph model (model.json + weight shards) to an ONNX model, opset 11,
that OpenCV's dnn module (4.6) imports and runs.

    convert(model_json_path) -> onnx.ModelProto

The ONNX graph takes one input "input" of shape [1, C, H, W] float32 (NCHW), holding
exactly the values the TF model receives in NHWC, and has one output per output of the
model's signature, named by the signature key with ":0" dropped and every character
that is not a letter, digit or '_' replaced by '_'. The outputs keep TF's shapes (batch
1) and TF's element order.

The graph runs in NCHW throughout: 4-D activations are kept channel-first, filters and
per-channel constants are rearranged once at conversion time, and a tensor is brought
back to TF's element order only where its order matters (Reshape, Concat over mixed
layouts, graph outputs). Supported TF ops: Const, Placeholder, Identity, Conv2D,
_FusedConv2D, DepthwiseConv2dNative, _FusedDepthwiseConv2dNative (fused BiasAdd with
an optional Relu, Relu6, Prelu, LeakyRelu or Sigmoid), BiasAdd, AddV2/Add, Relu, Relu6,
Prelu, Sigmoid, MaxPool, Pad, Reshape, ConcatV2. Anything else is refused with an
error naming the op.

Things the OpenCV importer needs that plain ONNX would not:
  * TF's SAME padding puts the odd pixel at the bottom/right. Every convolution gets
    its explicit begin/end pads (never auto_pad); max pooling that would need
    asymmetric padding gets a Pad node filled with the lowest float instead.
  * Every weight is a float32 initializer (float16 and quantised weights are expanded).
  * Shapes given to Reshape and Pad are fully static int64 initializers.

Command line: tfjs_to_onnx.py model.json out.onnx
"""

import base64
import json
import os
import re
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 11
INPUT_NAME = "input"
# Names the adapters that extend the converted graph use for their own tensors.
RESERVED_NAMES = {"input", "output"}
RESERVED_PREFIXES = ("pre_", "post_")

NHWC_TO_NCHW = [0, 3, 1, 2]
NCHW_TO_NHWC = [0, 2, 3, 1]
# Axis a of an NHWC tensor is axis NHWC_AXIS_IN_NCHW[a] of the same tensor kept as NCHW.
NHWC_AXIS_IN_NCHW = [0, 2, 3, 1]


class ConversionError(Exception):
    pass


# --------------------------------------------------------------------------------------
# Reading the TF.js files


def _attr_string(node, key, default=None):
    a = node.get("attr", {}).get(key)
    if a is None or "s" not in a:
        return default
    return base64.b64decode(a["s"]).decode("utf-8")


def _attr_ints(node, key, default=None):
    a = node.get("attr", {}).get(key)
    if a is None:
        return default
    if "list" in a:
        return [int(v) for v in a["list"].get("i", [])]
    if "i" in a:
        return int(a["i"])
    return default


def _attr_float(node, key, default=None):
    a = node.get("attr", {}).get(key)
    if a is None or "f" not in a:
        return default
    return float(a["f"])


def _attr_string_list(node, key):
    a = node.get("attr", {}).get(key)
    if a is None:
        return []
    return [base64.b64decode(s).decode("utf-8") for s in a.get("list", {}).get("s", [])]


def _attr_shape(node):
    a = node.get("attr", {}).get("shape", {}).get("shape")
    if a is None:
        return None
    if a.get("unknownRank"):
        return None
    return [int(d.get("size", -1)) for d in a.get("dim", [])]


_DTYPES = {
    "float32": (np.float32, 4),
    "int32": (np.int32, 4),
    "bool": (np.bool_, 1),
}
_QUANT_DTYPES = {
    "float16": (np.float16, 2),
    "uint8": (np.uint8, 1),
    "uint16": (np.uint16, 2),
}


def load_weights(model_json, base_dir):
    """Returns {name: numpy array} of all weights in the manifest. Float16 and
    affine-quantised (uint8/uint16) weights are expanded to their original type."""
    weights = {}
    for group in model_json.get("weightsManifest", []):
        chunks = []
        for p in group.get("paths", []):
            path = os.path.join(base_dir, p.replace("/", os.sep))
            try:
                with open(path, "rb") as f:
                    chunks.append(f.read())
            except OSError as e:
                raise ConversionError("cannot read weight shard %s: %s" % (path, e))
        buf = b"".join(chunks)
        offset = 0
        for w in group.get("weights", []):
            name = w["name"]
            shape = [int(s) for s in w.get("shape", [])]
            count = int(np.prod(shape)) if shape else 1
            dtype = w.get("dtype", "float32")
            if dtype not in _DTYPES:
                raise ConversionError("weight %s has unsupported dtype %s" % (name, dtype))
            q = w.get("quantization")
            if q:
                qd = q.get("dtype")
                if qd not in _QUANT_DTYPES:
                    raise ConversionError("weight %s has unsupported quantisation %s" % (name, qd))
                np_type, size = _QUANT_DTYPES[qd]
            else:
                np_type, size = _DTYPES[dtype]
            nbytes = count * size
            if offset + nbytes > len(buf):
                raise ConversionError("weight shards end inside weight %s" % name)
            raw = np.frombuffer(buf, dtype=np_type, count=count, offset=offset)
            offset += nbytes
            if q:
                if qd == "float16":
                    value = raw.astype(np.float32)
                else:
                    value = raw.astype(np.float64) * float(q.get("scale", 1.0)) + float(q.get("min", 0.0))
                    if dtype == "int32":
                        value = np.round(value)
                value = value.astype(_DTYPES[dtype][0])
            else:
                value = raw.copy()
            weights[name] = value.reshape(shape)
        if offset != len(buf):
            raise ConversionError("weight shards hold %d bytes, the manifest describes %d"
                                  % (len(buf), offset))
    return weights


def _signature(model_json):
    sig = model_json.get("signature")
    if not sig:
        sig = (model_json.get("userDefinedMetadata") or {}).get("signature")
    return sig or {}


def output_name_for_key(key):
    if key.endswith(":0"):
        key = key[:-2]
    name = re.sub(r"[^A-Za-z0-9_]", "_", key)
    return name or "out"


def _tensor_ref(ref):
    """"node", "node:0" -> "node"; "node:1" is refused (no multi-output ops here)."""
    if ref.startswith("^"):
        return None
    if ":" in ref:
        base, idx = ref.rsplit(":", 1)
        if idx.isdigit():
            if idx != "0":
                raise ConversionError("output %s of a multi-output op is not supported" % ref)
            return base
    return ref


# --------------------------------------------------------------------------------------
# The converter


class _Value:
    """A converted tensor: its ONNX name, its shape in TF's (NHWC) terms, and whether it
    is stored channel-first (only 4-D activations are)."""

    def __init__(self, name, shape, nchw=False):
        self.name = name
        self.shape = list(shape)
        self.nchw = nchw


def _same_pads(size, k, stride, dilation):
    eff = (k - 1) * dilation + 1
    out = -(-size // stride)
    total = max((out - 1) * stride + eff - size, 0)
    return total // 2, total - total // 2


class _Converter:
    def __init__(self, model_json_path):
        self.path = model_json_path
        try:
            with open(model_json_path, "r", encoding="utf-8") as f:
                self.model = json.load(f)
        except (OSError, ValueError) as e:
            raise ConversionError("cannot read %s: %s" % (model_json_path, e))
        if self.model.get("format") not in (None, "graph-model"):
            raise ConversionError("%s is not a TF.js graph model" % model_json_path)
        topo = self.model.get("modelTopology") or {}
        if topo.get("library", {}).get("function"):
            raise ConversionError("graph functions (control flow) are not supported")
        self.nodes = {}
        for n in topo.get("node", []):
            self.nodes[n["name"]] = n
        if not self.nodes:
            raise ConversionError("%s holds no graph nodes" % model_json_path)
        self.weights = load_weights(self.model, os.path.dirname(os.path.abspath(model_json_path)))
        self.onnx_nodes = []
        self.initializers = []
        self.used_names = set()
        self.values = {}   # TF node name -> _Value
        self.consts = {}   # TF node name -> numpy array
        self.output_names = []

    # ---- names and emitted pieces

    def _name(self, hint):
        name = hint
        if name in RESERVED_NAMES or name in self.output_names or name.startswith(RESERVED_PREFIXES):
            name = "tf_" + name
        base, i = name, 1
        while name in self.used_names:
            name = "%s_%d" % (base, i)
            i += 1
        self.used_names.add(name)
        return name

    def _init(self, hint, array):
        name = self._name(hint)
        self.initializers.append(numpy_helper.from_array(np.ascontiguousarray(array), name))
        return name

    def _node(self, op, inputs, hint, **attrs):
        out = self._name(hint)
        self.onnx_nodes.append(helper.make_node(op, inputs, [out], name=out, **attrs))
        return out

    # ---- graph walking

    def _const_value(self, tf_name):
        if tf_name in self.consts:
            return self.consts[tf_name]
        node = self.nodes.get(tf_name)
        if node is None:
            raise ConversionError("unknown tensor %s" % tf_name)
        if node["op"] == "Identity":
            return self._const_value(_tensor_ref(node["input"][0]))
        if node["op"] != "Const":
            raise ConversionError("%s (%s) must be a constant" % (tf_name, node["op"]))
        if tf_name not in self.weights:
            raise ConversionError("constant %s has no value in the weights" % tf_name)
        value = self.weights[tf_name]
        self.consts[tf_name] = value
        return value

    def _is_const(self, tf_name):
        node = self.nodes.get(tf_name)
        while node is not None and node["op"] == "Identity":
            node = self.nodes.get(_tensor_ref(node["input"][0]))
        return node is not None and node["op"] == "Const"

    def _inputs(self, node):
        refs = [_tensor_ref(r) for r in node.get("input", [])]
        return [r for r in refs if r is not None]

    def _topological(self, targets):
        order, state = [], {}
        for t in targets:
            stack = [(t, False)]
            while stack:
                name, done = stack.pop()
                if done:
                    if state.get(name) != 2:
                        state[name] = 2
                        order.append(name)
                    continue
                if state.get(name) == 2:
                    continue
                if state.get(name) == 1:
                    raise ConversionError("the graph has a cycle through %s" % name)
                if name not in self.nodes:
                    raise ConversionError("unknown tensor %s" % name)
                state[name] = 1
                stack.append((name, True))
                for i in reversed(self._inputs(self.nodes[name])):
                    if state.get(i) != 2:
                        stack.append((i, False))
        return order

    # ---- layout helpers

    def _to_nchw(self, v):
        if v.nchw:
            return v.name
        if len(v.shape) != 4:
            raise ConversionError("expected a 4-D tensor, got shape %s" % v.shape)
        return self._node("Transpose", [v.name], v.name + "/nchw", perm=NHWC_TO_NCHW)

    def _to_tf_order(self, v, hint):
        """The tensor's name in TF's element order (NHWC for 4-D activations)."""
        if not v.nchw:
            return v.name
        n, h, w, c = v.shape
        if (h == 1 and w == 1) or c == 1:
            # Same element order either way: a reshape is enough.
            shape = self._init(hint + "/shape", np.array(v.shape, dtype=np.int64))
            return self._node("Reshape", [v.name, shape], hint + "/nhwc")
        return self._node("Transpose", [v.name], hint + "/nhwc", perm=NCHW_TO_NHWC)

    # ---- op converters

    def _activation(self, kind, x, hint, node, alpha_ref=None):
        """Applies a (fused or plain) activation to the _Value x."""
        if kind == "Relu":
            return self._node("Relu", [x.name], hint)
        if kind == "Sigmoid":
            return self._node("Sigmoid", [x.name], hint)
        if kind == "Relu6":
            # min(max(x, 0), 6) = relu(x) - relu(x - 6): OpenCV 4.6 reads Clip's bounds
            # only from attributes, which opset 11 no longer has.
            r = self._node("Relu", [x.name], hint + "/relu")
            shifted = self._node("Add", [x.name, self._init(hint + "/minus6", np.array(-6, np.float32))],
                                 hint + "/minus6")
            excess = self._node("Relu", [shifted], hint + "/excess")
            return self._node("Sub", [r, excess], hint)
        if kind == "LeakyRelu":
            alpha = _attr_float(node, "leakyrelu_alpha", _attr_float(node, "alpha", 0.2))
            return self._node("LeakyRelu", [x.name], hint, alpha=alpha)
        if kind == "Prelu":
            alpha = np.asarray(self._const_value(alpha_ref), dtype=np.float32)
            if x.nchw:
                c = x.shape[3]
                if alpha.size == c:
                    slope = alpha.reshape(c, 1, 1)
                else:
                    full = np.broadcast_to(alpha, x.shape[1:])
                    slope = np.transpose(full, (2, 0, 1))
            else:
                slope = np.broadcast_to(alpha, x.shape[1:]) if alpha.ndim > len(x.shape) - 1 else alpha
            return self._node("PRelu", [x.name, self._init(alpha_ref + "/slope", slope.astype(np.float32))], hint)
        raise ConversionError("unsupported activation %s in %s" % (kind, node["name"]))

    def _conv(self, node, depthwise):
        name = node["name"]
        ins = self._inputs(node)
        x = self.values[ins[0]]
        if _attr_string(node, "data_format", "NHWC") != "NHWC":
            raise ConversionError("%s: only NHWC convolutions are supported" % name)
        filt = np.asarray(self._const_value(ins[1]), dtype=np.float32)
        if filt.ndim != 4:
            raise ConversionError("%s: filter must be 4-D" % name)
        kh, kw, cin, cout = filt.shape
        c = x.shape[3]
        if depthwise:
            if cin != c:
                raise ConversionError("%s: depthwise filter has %d input channels, tensor %d" % (name, cin, c))
            mult = cout
            weight = filt.reshape(kh, kw, cin * mult).transpose(2, 0, 1)[:, None, :, :]
            group, out_c = cin, cin * mult
        else:
            if c % cin != 0:
                raise ConversionError("%s: %d channels do not fit a filter of %d" % (name, c, cin))
            weight = filt.transpose(3, 2, 0, 1)
            group, out_c = c // cin, cout
        strides = _attr_ints(node, "strides", [1, 1, 1, 1])
        dil = _attr_ints(node, "dilations", [1, 1, 1, 1])
        if strides[0] != 1 or strides[3] != 1 or dil[0] != 1 or dil[3] != 1:
            raise ConversionError("%s: strides/dilations over batch or channels" % name)
        sh, sw, dh, dw = strides[1], strides[2], dil[1], dil[2]
        h, w = x.shape[1], x.shape[2]
        padding = _attr_string(node, "padding", "VALID")
        if padding == "SAME":
            pt, pb = _same_pads(h, kh, sh, dh)
            pl, pr = _same_pads(w, kw, sw, dw)
        elif padding == "VALID":
            pt = pb = pl = pr = 0
        elif padding == "EXPLICIT":
            ep = _attr_ints(node, "explicit_paddings", [])
            if len(ep) != 8 or any(ep[i] for i in (0, 1, 6, 7)):
                raise ConversionError("%s: unusable explicit paddings %s" % (name, ep))
            pt, pb, pl, pr = ep[2], ep[3], ep[4], ep[5]
        else:
            raise ConversionError("%s: unsupported padding %s" % (name, padding))

        data = self._to_nchw(x)
        # ONNX order: begin of each spatial axis, then end (SAME may differ by one).
        conv_pads = [pt, pl, pb, pr]
        fused = _attr_string_list(node, "fused_ops") if node["op"].startswith("_Fused") else []
        extra = ins[2:]
        conv_inputs = [data, self._init(ins[1] + "/oihw", weight.astype(np.float32))]
        activation = None
        if fused:
            if fused[0] != "BiasAdd" or len(fused) > 2 or not extra:
                raise ConversionError("%s: unsupported fused ops %s" % (name, fused))
            bias = np.asarray(self._const_value(extra[0]), dtype=np.float32).reshape(-1)
            if bias.size != out_c:
                raise ConversionError("%s: bias has %d values for %d channels" % (name, bias.size, out_c))
            conv_inputs.append(self._init(extra[0] + "/bias", bias))
            if len(fused) == 2:
                activation = fused[1]
        elif extra:
            raise ConversionError("%s: unexpected extra inputs" % name)

        oh = (h + pt + pb - ((kh - 1) * dh + 1)) // sh + 1
        ow = (w + pl + pr - ((kw - 1) * dw + 1)) // sw + 1
        out_shape = [x.shape[0], oh, ow, out_c]
        hint = name if activation is None else name + "/conv"
        y = self._node("Conv", conv_inputs, hint, kernel_shape=[kh, kw], strides=[sh, sw],
                       dilations=[dh, dw], pads=conv_pads, group=group)
        v = _Value(y, out_shape, nchw=True)
        if activation is not None:
            alpha_ref = extra[1] if activation == "Prelu" and len(extra) > 1 else None
            if activation == "Prelu" and alpha_ref is None:
                raise ConversionError("%s: fused Prelu without slopes" % name)
            v = _Value(self._activation(activation, v, name, node, alpha_ref), out_shape, nchw=True)
        return v

    def _elementwise_binary(self, node, op):
        name = node["name"]
        a_ref, b_ref = self._inputs(node)[:2]
        a_const, b_const = self._is_const(a_ref), self._is_const(b_ref)
        if a_const and b_const:
            raise ConversionError("%s: constant folding is not supported" % name)
        if a_const or b_const:
            x = self.values[b_ref if a_const else a_ref]
            c = np.asarray(self._const_value(a_ref if a_const else b_ref), dtype=np.float32)
            full = np.broadcast_to(c, x.shape) if c.ndim <= len(x.shape) else None
            if full is None or tuple(np.broadcast_shapes(c.shape, tuple(x.shape))) != tuple(x.shape):
                raise ConversionError("%s: constant does not broadcast to the tensor" % name)
            # OpenCV wants constants of the tensor's full shape.
            if x.nchw:
                full = np.transpose(full, NHWC_TO_NCHW)
            k = self._init(name + "/const", full.astype(np.float32))
            ins = [k, x.name] if a_const else [x.name, k]
            return _Value(self._node(op, ins, name), x.shape, x.nchw)
        a, b = self.values[a_ref], self.values[b_ref]
        if a.shape != b.shape:
            raise ConversionError("%s: broadcasting between %s and %s is not supported"
                                  % (name, a.shape, b.shape))
        if a.nchw != b.nchw:
            an = self._to_nchw(a)
            bn = self._to_nchw(b)
            return _Value(self._node(op, [an, bn], name), a.shape, True)
        return _Value(self._node(op, [a.name, b.name], name), a.shape, a.nchw)

    def _bias_add(self, node):
        name = node["name"]
        x_ref, b_ref = self._inputs(node)[:2]
        x = self.values[x_ref]
        bias = np.asarray(self._const_value(b_ref), dtype=np.float32).reshape(-1)
        if bias.size != x.shape[-1]:
            raise ConversionError("%s: bias size does not match the channels" % name)
        full = np.broadcast_to(bias, x.shape)
        if x.nchw:
            full = np.transpose(full, NHWC_TO_NCHW)
        k = self._init(b_ref + "/full", full.astype(np.float32))
        return _Value(self._node("Add", [x.name, k], name), x.shape, x.nchw)

    def _max_pool(self, node):
        name = node["name"]
        x = self.values[self._inputs(node)[0]]
        if _attr_string(node, "data_format", "NHWC") != "NHWC":
            raise ConversionError("%s: only NHWC pooling is supported" % name)
        k = _attr_ints(node, "ksize")
        s = _attr_ints(node, "strides")
        if k[0] != 1 or k[3] != 1 or s[0] != 1 or s[3] != 1:
            raise ConversionError("%s: pooling over batch or channels" % name)
        h, w = x.shape[1], x.shape[2]
        padding = _attr_string(node, "padding", "VALID")
        if padding == "SAME":
            pt, pb = _same_pads(h, k[1], s[1], 1)
            pl, pr = _same_pads(w, k[2], s[2], 1)
        elif padding == "VALID":
            pt = pb = pl = pr = 0
        else:
            raise ConversionError("%s: unsupported padding %s" % (name, padding))
        data = self._to_nchw(x)
        pads = [pt, pl, pb, pr]
        if (pt, pl) != (pb, pr):
            # Pad with the lowest float so the padding never wins the maximum.
            p = self._init(name + "/pads", np.array([0, 0, pt, pl, 0, 0, pb, pr], dtype=np.int64))
            lowest = self._init(name + "/lowest", np.array(np.finfo(np.float32).min, np.float32))
            data = self._node("Pad", [data, p, lowest], name + "/pad", mode="constant")
            pads = [0, 0, 0, 0]
        oh = (h + pt + pb - k[1]) // s[1] + 1
        ow = (w + pl + pr - k[2]) // s[2] + 1
        y = self._node("MaxPool", [data], name, kernel_shape=[k[1], k[2]], strides=[s[1], s[2]], pads=pads)
        return _Value(y, [x.shape[0], oh, ow, x.shape[3]], True)

    def _pad(self, node):
        name = node["name"]
        ins = self._inputs(node)
        x = self.values[ins[0]]
        paddings = np.asarray(self._const_value(ins[1]), dtype=np.int64).reshape(-1, 2)
        if paddings.shape[0] != len(x.shape) or (paddings < 0).any():
            raise ConversionError("%s: unusable paddings %s" % (name, paddings.tolist()))
        extra = []
        if node["op"] == "PadV2" and len(ins) > 2:
            cv = np.asarray(self._const_value(ins[2]), dtype=np.float32).reshape(())
            extra = [self._init(name + "/value", cv)]
        shape = [d + int(p[0]) + int(p[1]) for d, p in zip(x.shape, paddings)]
        if x.nchw:
            paddings = paddings[NHWC_TO_NCHW]
        pads = self._init(name + "/pads", np.concatenate([paddings[:, 0], paddings[:, 1]]).astype(np.int64))
        y = self._node("Pad", [x.name, pads] + extra, name, mode="constant")
        return _Value(y, shape, x.nchw)

    def _reshape(self, node):
        name = node["name"]
        ins = self._inputs(node)
        x = self.values[ins[0]]
        target = [int(d) for d in np.asarray(self._const_value(ins[1])).reshape(-1)]
        total = int(np.prod(x.shape))
        if target.count(-1) > 1:
            raise ConversionError("%s: more than one -1 in the shape" % name)
        if -1 in target:
            known = int(np.prod([d for d in target if d != -1]))
            if known == 0 or total % known:
                raise ConversionError("%s: cannot reshape %s to %s" % (name, x.shape, target))
            target[target.index(-1)] = total // known
        if int(np.prod(target)) != total:
            raise ConversionError("%s: cannot reshape %s to %s" % (name, x.shape, target))
        data = self._to_tf_order(x, name + "/in")
        shape = self._init(name + "/shape", np.array(target, dtype=np.int64))
        return _Value(self._node("Reshape", [data, shape], name), target, False)

    def _concat(self, node):
        name = node["name"]
        ins = self._inputs(node)
        n = _attr_ints(node, "N", len(ins) - 1)
        parts = [self.values[r] for r in ins[:n]]
        axis = int(np.asarray(self._const_value(ins[n])).reshape(()))
        rank = len(parts[0].shape)
        if any(len(p.shape) != rank for p in parts):
            raise ConversionError("%s: inputs of different rank" % name)
        if axis < 0:
            axis += rank
        shape = list(parts[0].shape)
        shape[axis] = sum(p.shape[axis] for p in parts)
        if all(p.nchw for p in parts):
            y = self._node("Concat", [p.name for p in parts], name, axis=NHWC_AXIS_IN_NCHW[axis])
            return _Value(y, shape, True)
        names = [self._to_tf_order(p, "%s/in%d" % (name, i)) for i, p in enumerate(parts)]
        return _Value(self._node("Concat", names, name, axis=axis), shape, False)

    def _unary(self, node, op):
        x = self.values[self._inputs(node)[0]]
        if op == "Relu6":
            y = self._activation("Relu6", x, node["name"], node)
        else:
            y = self._node(op, [x.name], node["name"])
        return _Value(y, x.shape, x.nchw)

    def _prelu(self, node):
        x_ref, a_ref = self._inputs(node)[:2]
        x = self.values[x_ref]
        return _Value(self._activation("Prelu", x, node["name"], node, a_ref), x.shape, x.nchw)

    # ---- driver

    def convert(self):
        sig = _signature(self.model)
        outputs = []   # (onnx output name, TF tensor)
        if sig.get("outputs"):
            for key, entry in sig["outputs"].items():
                ref = _tensor_ref(entry.get("name", key))
                outputs.append((output_name_for_key(key), ref))
        else:
            consumed = set()
            for n in self.nodes.values():
                consumed.update(self._inputs(n))
            for n in self.nodes.values():
                if n["name"] not in consumed and n["op"] not in ("Const", "Placeholder", "NoOp"):
                    outputs.append((output_name_for_key(n["name"]), n["name"]))
        if not outputs:
            raise ConversionError("the model has no outputs")
        self.output_names = [o for o, _ in outputs]
        if len(set(self.output_names)) != len(self.output_names):
            raise ConversionError("output names collide: %s" % self.output_names)
        self.used_names.add(INPUT_NAME)

        order = self._topological([t for _, t in outputs])
        placeholders = [n for n in order if self.nodes[n]["op"] == "Placeholder"]
        if len(placeholders) != 1:
            raise ConversionError("expected exactly one input, found %d" % len(placeholders))

        for tf_name in order:
            node = self.nodes[tf_name]
            op = node["op"]
            if op == "Const":
                continue
            if op == "Placeholder":
                shape = _attr_shape(node)
                if shape is None:
                    for entry in (sig.get("inputs") or {}).values():
                        dims = entry.get("tensorShape", {}).get("dim", [])
                        shape = [int(d.get("size", -1)) for d in dims]
                if not shape or len(shape) != 4 or any(d <= 0 for d in shape[1:]):
                    raise ConversionError("input %s must have a known NHWC shape, got %s" % (tf_name, shape))
                shape[0] = 1
                self.input_shape = shape
                self.values[tf_name] = _Value(INPUT_NAME, shape, nchw=True)
            elif op == "Identity":
                src = _tensor_ref(node["input"][0])
                if self._is_const(src):
                    continue
                self.values[tf_name] = self.values[src]
            elif op in ("Conv2D", "_FusedConv2D"):
                self.values[tf_name] = self._conv(node, depthwise=False)
            elif op in ("DepthwiseConv2dNative", "_FusedDepthwiseConv2dNative"):
                self.values[tf_name] = self._conv(node, depthwise=True)
            elif op in ("AddV2", "Add"):
                self.values[tf_name] = self._elementwise_binary(node, "Add")
            elif op == "BiasAdd":
                self.values[tf_name] = self._bias_add(node)
            elif op in ("Relu", "Sigmoid", "Relu6"):
                self.values[tf_name] = self._unary(node, op)
            elif op == "Prelu":
                self.values[tf_name] = self._prelu(node)
            elif op == "MaxPool":
                self.values[tf_name] = self._max_pool(node)
            elif op in ("Pad", "PadV2"):
                self.values[tf_name] = self._pad(node)
            elif op == "Reshape":
                self.values[tf_name] = self._reshape(node)
            elif op == "ConcatV2":
                self.values[tf_name] = self._concat(node)
            else:
                raise ConversionError("unsupported op %s (node %s)" % (op, tf_name))

        graph_outputs = []
        renames = {}
        for out_name, ref in outputs:
            if ref not in self.values:
                raise ConversionError("output %s is a constant; not supported" % ref)
            v = self.values[ref]
            src = self._to_tf_order(v, out_name)
            producer_outputs = {o for n in self.onnx_nodes for o in n.output}
            if src in producer_outputs and src not in renames and src not in renames.values():
                renames[src] = out_name
            else:
                self.onnx_nodes.append(helper.make_node("Identity", [renames.get(src, src)],
                                                        [out_name], name=out_name))
            graph_outputs.append(helper.make_tensor_value_info(out_name, TensorProto.FLOAT, v.shape))
        for n in self.onnx_nodes:
            for i, name in enumerate(n.input):
                if name in renames:
                    n.input[i] = renames[name]
            for i, name in enumerate(n.output):
                if name in renames:
                    n.output[i] = renames[name]
                    n.name = renames[name]

        n, h, w, c = self.input_shape
        graph = helper.make_graph(
            self.onnx_nodes, os.path.splitext(os.path.basename(self.path))[0],
            [helper.make_tensor_value_info(INPUT_NAME, TensorProto.FLOAT, [1, c, h, w])],
            graph_outputs, initializer=self.initializers)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                                  producer_name="tfjs_to_onnx")
        model.ir_version = 6
        onnx.checker.check_model(model)
        return model


def convert(model_json_path):
    """Converts the TF.js graph model at model_json_path; raises ConversionError."""
    try:
        return _Converter(model_json_path).convert()
    except ConversionError:
        raise
    except (KeyError, IndexError, TypeError, ValueError, AttributeError) as e:
        raise ConversionError("malformed model %s: %s: %s"
                              % (model_json_path, type(e).__name__, e))
    except onnx.checker.ValidationError as e:
        raise ConversionError("the converted graph is not valid ONNX: %s" % e)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: tfjs_to_onnx.py model.json out.onnx\n")
        return 2
    try:
        model = convert(argv[1])
    except ConversionError as e:
        sys.stderr.write("tfjs_to_onnx: error: %s\n" % e)
        return 1
    tmp = argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(model.SerializeToString())
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
