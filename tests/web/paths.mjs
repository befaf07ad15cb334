// Where the builds put what the tests run: scripts/test.sh builds the native and wasm presets
// before running these. MOXEL_NATIVE_BIN and MOXEL_SITE point at other builds' folders.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

export const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const site = path.resolve(process.env.MOXEL_SITE ?? path.join(repo, 'build/wasm/web'));
export const nativeBin = path.resolve(process.env.MOXEL_NATIVE_BIN ??
                                      path.join(repo, 'build/native/bin'));
// The wasm build's Node programs, beside its site.
export const wasmTests = path.join(site, '../tests');

export const SHAPES = ['circle', 'triangle', 'square', 'pentagon', 'hexagon', 'star'];

export function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'moxel-web-'));
}

// A PNG's pixels as RGB bytes, read by ImageMagick.
export function pngRgb(file) {
  return execFileSync('convert', [file, '-depth', '8', 'rgb:-'], {maxBuffer: 1 << 30});
}

// The command-line tool's result for the same settings and seed: RGB bytes, or with `extension`
// svg the document's text.
export function nativeRun(inputPng, settings, seed, directory, extension = 'png') {
  const output = path.join(directory, `native-${process.hrtime.bigint()}.${extension}`);
  execFileSync(path.join(nativeBin, 'moxel'), [
    inputPng, '-o', output, '-q', '--shape', SHAPES[settings.shape],
    '--density', String(settings.density), '--min-size', String(settings.minSize),
    '--max-size', String(settings.maxSize), '--seed', String(seed),
    ...(settings.white ? ['--white'] : []),
  ]);
  return extension === 'svg' ? fs.readFileSync(output, 'utf8') : pngRgb(output);
}

// The picture the whole-run tests use everywhere: odd size, gradients and hard edges (the same
// pattern as the native end-to-end cases).
export function testPicture(width, height) {
  const rgb = Buffer.alloc(width * height * 3);
  for (let row = 0; row < height; ++row) {
    for (let column = 0; column < width; ++column) {
      const i = (row * width + column) * 3;
      rgb[i] = Math.floor(row * 255 / (height - 1));
      rgb[i + 1] = (Math.floor(column / 16) + Math.floor(row / 16)) % 2 ? 200 : 40;
      rgb[i + 2] = (column + row) & 0xff;
    }
  }
  return rgb;
}

// The settings and seeds of the native end-to-end cases: every shape on the image with every size
// from 2 to 30, and on white with the defaults.
export function endToEndCases() {
  const cases = [];
  for (let shape = 0; shape < SHAPES.length; ++shape) {
    cases.push({name: `${SHAPES[shape]}-image`, seed: 4242 + shape,
                settings: {shape, density: 60, minSize: 2, maxSize: 30, white: false}});
    cases.push({name: `${SHAPES[shape]}-white`, seed: 99 + shape,
                settings: {shape, density: 30, minSize: 4, maxSize: 12, white: true}});
  }
  return cases;
}

export function rgbaToRgb(rgba) {
  const rgb = Buffer.alloc(rgba.length / 4 * 3);
  for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
    rgb[j] = rgba[i];
    rgb[j + 1] = rgba[i + 1];
    rgb[j + 2] = rgba[i + 2];
  }
  return rgb;
}

// How many pixels differ: a count reads better in a failure than a byte dump.
export function differingPixels(a, b) {
  if (a.length !== b.length) return Infinity;
  let count = 0;
  for (let i = 0; i < a.length; i += 3) {
    count += a[i] !== b[i] || a[i + 1] !== b[i + 1] || a[i + 2] !== b[i + 2] ? 1 : 0;
  }
  return count;
}
