// The wasm module under Node, against the native build: the same geometry for every shape and
// size, and the same bytes as the command-line tool for whole runs.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {test} from 'node:test';

import {encodePng} from './png.mjs';
import {differingPixels, endToEndCases, nativeBin, nativeRun, rgbaToRgb, site, tempDir,
        testPicture, wasmTests} from './paths.mjs';

// Node's fetch cannot read a file path, so the module gets its binary handed over.
const {default: createMoxel} = await import(path.join(site, 'moxel.mjs'));
const moxel = await createMoxel({wasmBinary: fs.readFileSync(path.join(site, 'moxel.wasm'))});

function wasmRun(rgba, width, height, settings, seed) {
  const pointer = moxel._malloc(rgba.length);
  moxel.HEAPU8.set(rgba, pointer);
  const progress = [];
  moxel.onProgress = (percent) => progress.push(percent);
  const status = moxel._moxel_stipple(pointer, width, height, settings.shape, settings.density,
                                      settings.minSize, settings.maxSize, Number(settings.white),
                                      seed >>> 0);
  const out = Buffer.from(moxel.HEAPU8.subarray(pointer, pointer + rgba.length));
  moxel._free(pointer);
  return {status, words: moxel.UTF8ToString(moxel._moxel_describe()), out, progress};
}

function withAlpha(rgb, alpha) {
  const rgba = Buffer.alloc(rgb.length / 3 * 4, alpha);
  for (let i = 0, j = 0; j < rgb.length; i += 4, j += 3) rgba.set(rgb.subarray(j, j + 3), i);
  return rgba;
}

test('every shape at every size has the same vertices and circle box as natively', () => {
  const native = execFileSync(path.join(nativeBin, 'shape_table'), {encoding: 'utf8'});
  const wasm = execFileSync(process.execPath, [path.join(wasmTests, 'shape_table.js')],
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
    const {status, out, progress} = wasmRun(withAlpha(rgb, 255), width, height, c.settings, c.seed);
    assert.equal(status, 0, c.name);
    assert.equal(differingPixels(rgbaToRgb(out), native), 0, `${c.name}: pixels differ`);
    assert.equal(progress.at(-1), 100, `${c.name}: progress ends at 100`);
  }
  fs.rmSync(directory, {recursive: true});
});

// The page takes its controls' limits and defaults from the contract and checks a setting before
// a run: the contract, the check and the run's own refusal must agree.
test('the contract\'s limits and defaults are what the check and the run take', () => {
  const {fields, shapes} = JSON.parse(moxel.UTF8ToString(moxel._moxel_contract()));
  assert.equal(fields.find(({name}) => name === 'shape').highest, shapes.length - 1);
  const defaults = Object.fromEntries(fields.map(({name, default: value}) => [name, value]));
  const check = (values) => moxel.UTF8ToString(moxel._moxel_check(
      values.shape, values.density, values['min-size'], values['max-size'], values.white));
  assert.equal(check(defaults), '');
  const rgba = withAlpha(testPicture(16, 16), 255);
  for (const {name, lowest, highest} of fields) {
    // A size at a limit takes the other along, to keep them in order.
    const sizes = (value) => (name.endsWith('-size') ? {'min-size': value, 'max-size': value} : {});
    for (const value of [lowest, highest]) {
      assert.equal(check({...defaults, ...sizes(value), [name]: value}), '', `${name} ${value}`);
    }
    for (const value of [lowest - 1, highest + 1]) {
      const bad = {...defaults, [name]: value};
      const words = check(bad);
      assert.equal(words, `${name} is ${value}, outside its range ${lowest} to ${highest}`);
      const run = wasmRun(rgba, 16, 16, {shape: bad.shape, density: bad.density,
                                         minSize: bad['min-size'], maxSize: bad['max-size'],
                                         white: bad.white}, 1);
      assert.deepEqual([run.status, run.words], [1, words], `${name} ${value}`);
      assert.deepEqual(run.out, rgba, `${name} ${value}: pixels untouched`);
    }
  }
});
