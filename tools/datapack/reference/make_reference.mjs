// Produces the reference outputs that check_agreement.py compares the converted ONNX
// models against. Each face model is run once with the TF.js pure-JavaScript CPU
// backend on synthetic inputs that check_agreement.py regenerates bit for bit; the
// outputs are written as float32 .npy files plus a manifest, reference.json.
//
// Made with @tensorflow/tfjs 4.22.0 (the version the model package itself builds on)
// under node 20, with the package installed into a scratch folder outside the tree:
//
//   mkdir /tmp/tfjs-ref && cd /tmp/tfjs-ref && npm install @tensorflow/tfjs@4.22.0
//   node tools/datapack/reference/make_reference.mjs \
//       --tfjs /tmp/tfjs-ref/node_modules/@tensorflow/tfjs \
//       --models <unpacked package>/models --out tests/data/datapack/reference
//   node tools/datapack/reference/make_reference.mjs --set synthetic \
//       --tfjs /tmp/tfjs-ref/node_modules/@tensorflow/tfjs \
//       --models tests/data/datapack/reference/synthetic \
//       --out tests/data/datapack/reference/synthetic
//
// Models are loaded from the files through a custom IO handler: nothing is fetched.

import { createRequire } from 'module';
import fs from 'fs';
import path from 'path';

// Model, input range (value = q * scale + offset for the integer pattern q in 0..256,
// so every input value is exact in float32) and the pattern seeds to run.
const CASE_SETS = {
  face: [
    { model: 'blazeface', scale: 1 / 128, offset: -1, seeds: [1, 2] }, // input in [-1, 1]
    { model: 'facemesh', scale: 1 / 256, offset: 0, seeds: [1, 2] },    // input in [0, 1]
    { model: 'iris', scale: 1 / 256, offset: 0, seeds: [1, 2] },        // input in [0, 1]
  ],
  // The converter's own test model (make_synthetic.py).
  synthetic: [
    { model: 'synthetic', scale: 1 / 64, offset: -2, seeds: [1, 2] },   // input in [-2, 2]
  ],
};

function parseArgs(argv) {
  const args = {};
  for (let i = 2; i < argv.length; i += 2) {
    if (!argv[i].startsWith('--') || i + 1 >= argv.length) {
      throw new Error(`bad argument ${argv[i]}`);
    }
    args[argv[i].slice(2)] = argv[i + 1];
  }
  args.set = args.set || 'face';
  if (!CASE_SETS[args.set]) throw new Error(`unknown --set ${args.set}`);
  for (const k of ['tfjs', 'models', 'out']) {
    if (!args[k]) throw new Error(`missing --${k}`);
  }
  return args;
}

// 32-bit integer hash (murmur3 finaliser); check_agreement.py has the same.
function hash32(v) {
  let h = v >>> 0;
  h = Math.imul(h ^ (h >>> 16), 0x85ebca6b) >>> 0;
  h = Math.imul(h ^ (h >>> 13), 0xc2b2ae35) >>> 0;
  return (h ^ (h >>> 16)) >>> 0;
}

// The input pattern in NHWC order: two triangle waves (a smooth image-like part,
// 0..224) plus hashed noise (0..32), giving integers q in 0..256.
export function patternNHWC(h, w, c, seed) {
  const q = new Int32Array(h * w * c);
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) {
      for (let ch = 0; ch < c; ch++) {
        const i = (y * w + x) * c + ch;
        const tx = Math.abs(((x * (3 + ch) + 7 * seed) % 64) - 32);
        const ty = Math.abs(((y * (2 + ch) + 11 * seed) % 48) - 24);
        const noise = hash32((i + Math.imul(seed, 0x9e3779b9)) >>> 0) % 33;
        q[i] = 4 * tx + 4 * ty + noise;
      }
    }
  }
  return q;
}

function npyBytes(data, shape) {
  const dims = shape.length === 1 ? `${shape[0]},` : shape.join(', ');
  let header = `{'descr': '<f4', 'fortran_order': False, 'shape': (${dims}), }`;
  const unpadded = 10 + header.length + 1;
  header += ' '.repeat((64 - (unpadded % 64)) % 64) + '\n';
  const head = Buffer.alloc(10);
  head.write('\x93NUMPY', 0, 'latin1');
  head[6] = 1;
  head[7] = 0;
  head.writeUInt16LE(header.length, 8);
  const body = Buffer.from(new Float32Array(data).buffer);
  return Buffer.concat([head, Buffer.from(header, 'latin1'), body]);
}

function signatureOf(modelJson) {
  return modelJson.signature || (modelJson.userDefinedMetadata || {}).signature || {};
}

function outputName(key) {
  return key.replace(/:0$/, '').replace(/[^A-Za-z0-9_]/g, '_');
}

async function loadModel(tf, jsonPath) {
  const modelJson = JSON.parse(fs.readFileSync(jsonPath, 'utf8'));
  const dir = path.dirname(jsonPath);
  const weightList = [];
  const buffers = [];
  for (const group of modelJson.weightsManifest) {
    weightList.push(...group.weights);
    for (const p of group.paths) buffers.push(fs.readFileSync(path.join(dir, p)));
  }
  const all = Buffer.concat(buffers);
  const weightData = all.buffer.slice(all.byteOffset, all.byteOffset + all.byteLength);
  const handler = {
    load: async () => ({
      modelTopology: modelJson.modelTopology,
      weightSpecs: weightList,
      weightData,
      format: modelJson.format,
      generatedBy: modelJson.generatedBy,
      convertedBy: modelJson.convertedBy,
      signature: modelJson.signature,
      userDefinedMetadata: modelJson.userDefinedMetadata,
    }),
  };
  const model = await tf.loadGraphModel(handler);
  return { model, modelJson };
}

async function main() {
  const args = parseArgs(process.argv);
  const require = createRequire(import.meta.url);
  const tf = require(path.resolve(args.tfjs));
  await tf.setBackend('cpu');
  await tf.ready();
  fs.mkdirSync(args.out, { recursive: true });

  const manifest = {
    generator: `@tensorflow/tfjs ${tf.version.tfjs}, backend ${tf.getBackend()}`,
    pattern: 'patternNHWC(h, w, c, seed) of make_reference.mjs; value = q * scale + offset',
    cases: [],
  };
  for (const c of CASE_SETS[args.set]) {
    const { model, modelJson } = await loadModel(tf, path.join(args.models, `${c.model}.json`));
    const sig = signatureOf(modelJson);
    const outKeys = Object.keys(sig.outputs);
    const outTensors = outKeys.map((k) => sig.outputs[k].name);
    const inShape = model.inputs[0].shape.map((d) => (d === -1 || d === null ? 1 : d));
    const [, h, w, ch] = inShape;
    for (const seed of c.seeds) {
      const q = patternNHWC(h, w, ch, seed);
      const values = new Float32Array(q.length);
      for (let i = 0; i < q.length; i++) values[i] = q[i] * c.scale + c.offset;
      const input = tf.tensor(values, [1, h, w, ch], 'float32');
      const result = model.execute(input, outTensors);
      const outs = Array.isArray(result) ? result : [result];
      const entry = {
        model: c.model, seed, scale: c.scale, offset: c.offset,
        input_shape_nhwc: [1, h, w, ch], outputs: [],
      };
      for (let k = 0; k < outKeys.length; k++) {
        const name = outputName(outKeys[k]);
        const file = `${c.model}_s${seed}_${name}.npy`;
        const data = outs[k].dataSync();
        fs.writeFileSync(path.join(args.out, file), npyBytes(data, outs[k].shape));
        entry.outputs.push({ name, shape: outs[k].shape, file });
      }
      tf.dispose([input, ...outs]);
      manifest.cases.push(entry);
      console.log(`${c.model} seed ${seed}: ${entry.outputs.map((o) => `${o.name}[${o.shape}]`).join(' ')}`);
    }
    model.dispose();
  }
  fs.writeFileSync(path.join(args.out, 'reference.json'), JSON.stringify(manifest, null, 1) + '\n');
}

main().catch((e) => {
  console.error(`make_reference: ${e.stack || e}`);
  process.exit(1);
});
