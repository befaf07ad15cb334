// Figures for docs/performance.md: the filter natively and as the page's wasm module on the same
// picture, and in Chromium the time from a setting's change to the updated preview.
//   node tests/web/perf.mjs        (after the native and wasm presets are built; RUNS=n, default 5)
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import {launchChromium, openPage, serveSite} from './browser.mjs';
import {encodePng} from './png.mjs';
import {nativeBin, site, tempDir, testPicture} from './paths.mjs';

const RUNS = Number(process.env.RUNS ?? 5);
const SIZES = [[1000, 1000], [4000, 3000]];
const settings = {shape: 0, density: 30, minSize: 4, maxSize: 12, white: false};
const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

const {default: createMoxel} = await import(path.join(site, 'moxel.mjs'));
const moxel = await createMoxel({wasmBinary: fs.readFileSync(path.join(site, 'moxel.wasm'))});

function wasmMedian(width, height) {
  const rgb = testPicture(width, height);
  const rgba = new Uint8Array(width * height * 4).fill(255);
  for (let i = 0; i < width * height; ++i) rgba.set(rgb.subarray(i * 3, i * 3 + 3), i * 4);
  const times = [];
  for (let run = 0; run < RUNS; ++run) {
    const pointer = moxel._malloc(rgba.length);
    moxel.HEAPU8.set(rgba, pointer);
    const start = performance.now();
    moxel._moxel_stipple(pointer, width, height, settings.shape, settings.density,
                         settings.minSize, settings.maxSize, 0, 1);
    times.push(performance.now() - start);
    moxel._free(pointer);
  }
  return median(times);
}

const directory = tempDir();
const server = await serveSite();
const browser = await launchChromium();
const {page} = await openPage(browser, server.url);
console.log(`${RUNS} runs each, median; circles, density 30, sizes 4 to 12, on the image`);
console.log('picture      native filter  wasm filter (Node)  page: change -> preview (Chromium)');
for (const [width, height] of SIZES) {
  const native = Number(execFileSync(path.join(nativeBin, 'filter_timing'), [
    width, height, settings.shape, settings.density, settings.minSize, settings.maxSize, 0, 1, RUNS,
  ].map(String), {encoding: 'utf8'}));
  const wasm = wasmMedian(width, height);

  const file = path.join(directory, `${width}x${height}.png`);
  fs.writeFileSync(file, encodePng(width, height, 3, testPicture(width, height)));
  await (await page.$('input#image')).uploadFile(file);
  await page.waitForFunction((name) => window.moxelPage.image?.name === name, {timeout: 0},
                             path.basename(file));
  // From the change to the frame after the result is on the canvas; each run a new seed.
  const previews = await page.evaluate(async (s, runs) => {
    const times = [];
    for (let seed = 1; seed <= runs; ++seed) {
      const start = performance.now();
      await window.moxelPage.apply({...s, seed});
      await new Promise((resolve) => requestAnimationFrame(() => resolve()));
      times.push(performance.now() - start);
    }
    return times;
  }, settings, RUNS);
  const megapixels = `${(width * height / 1e6).toFixed(0)} MP`.padEnd(6);
  console.log(`${megapixels} ${`${width}x${height}`.padEnd(10)} ${native.toFixed(0).padStart(6)} ms` +
              `  ${wasm.toFixed(0).padStart(12)} ms  ${median(previews).toFixed(0).padStart(18)} ms`);
}
await browser.closeAndClean();
await server.close();
fs.rmSync(directory, {recursive: true, force: true});
