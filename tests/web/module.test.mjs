// The wasm module under Node, against the native build: the same geometry for every shape and
// size, and the same bytes as the command-line tool for whole runs.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {test} from 'node:test';

import {encodePng} from './png.mjs';
import {differingPixels, endToEndCases, nativeBin, nativeRun, repo, rgbaToRgb, site, tempDir,
        testPicture} from './paths.mjs';

// Node's fetch cannot read a file path, so the module gets its binary handed over.
const {default: createMoxel} = await import(path.join(site, 'moxel.mjs'));
const moxel = await createMoxel({wasmBinary: fs.readFileSync(path.join(site, 'moxel.wasm'))});

function wasmRun(rgba, width, height, settings, seed) {
  const pointer = moxel._malloc(rgba.length);
  moxel.HEAPU8.set(rgba, pointer);
  const progress = [];
  moxel.onProgress = (percent) => progress.push(percent);
  const done = moxel._moxel_stipple(pointer, width, height, settings.shape, settings.density,
                                    settings.minSize, settings.maxSize, Number(settings.white),
                                    seed >>> 0);
  const out = Buffer.from(moxel.HEAPU8.subarray(pointer, pointer + rgba.length));
  moxel._free(pointer);
  return {done, out, progress};
}

function withAlpha(rgb, alpha) {
  const rgba = Buffer.alloc(rgb.length / 3 * 4, alpha);
  for (let i = 0, j = 0; j < rgb.length; i += 4, j += 3) rgba.set(rgb.subarray(j, j + 3), i);
  return rgba;
}

test('every shape at every size has the same vertices and circle box as natively', () => {
  const native = execFileSync(path.join(nativeBin, 'shape_table'), {encoding: 'utf8'});
  const wasm = execFileSync(process.execPath, [path.join(repo, 'build/wasm/tests/shape_table.js')],
                            {encoding: 'utf8'});
  assert.equal(native.split('\n').length, 6 * 201 + 1);
  const nativeLines = native.split('\n');
  const differing = wasm.split('\n').filter((line, i) => line !== nativeLines[i]);
  assert.deepEqual(differing, []);
});

test('whole runs give the command-line tool\'s bytes', () => {
  const directory = tempDir();
  const [width, height] = [211, 157];
  const rgb = testPicture(width, height);
  const input = path.join(directory, 'input.png');
  fs.writeFileSync(input, encodePng(width, height, 3, rgb));
  for (const c of endToEndCases()) {
    const native = nativeRun(input, c.settings, c.seed, directory);
    const {done, out, progress} = wasmRun(withAlpha(rgb, 255), width, height, c.settings, c.seed);
    assert.equal(done, 1, c.name);
    assert.equal(differingPixels(rgbaToRgb(out), native), 0, `${c.name}: pixels differ`);
    assert.equal(progress.at(-1), 100, `${c.name}: progress ends at 100`);
  }
  fs.rmSync(directory, {recursive: true});
});

test('settings outside the dialog\'s ranges are refused and leave the pixels alone', () => {
  const good = {shape: 0, density: 30, minSize: 4, maxSize: 12, white: false};
  const rgba = withAlpha(testPicture(16, 16), 255);
  for (const bad of [{shape: 6}, {shape: -1}, {density: 0}, {density: 101}, {minSize: 1},
                     {maxSize: 31}, {minSize: 13}, {white: 2}]) {
    const {done, out} = wasmRun(rgba, 16, 16, {...good, ...bad}, 1);
    assert.equal(done, 0, JSON.stringify(bad));
    assert.deepEqual(out, rgba, JSON.stringify(bad));
  }
});
