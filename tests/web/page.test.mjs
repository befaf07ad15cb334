// The page in headless Chromium: images opened through input#image, settings changed through
// the controls, results compared pixel for pixel with the command-line tool's run.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {after, before, test} from 'node:test';
import {fileURLToPath} from 'node:url';
import zlib from 'node:zlib';

import {launchChromium, openPage, serveSite} from './browser.mjs';
import {encodePng, encodePngChunks} from './png.mjs';
import {differingPixels, nativeRun, pngRgb, rgbaToRgb, SHAPES, tempDir, testPicture} from './paths.mjs';

// Generous: a broken page would otherwise wait forever for a result or a download.
const limit = {timeout: 180_000};
let server, browser, page, errors, directory;

before(async () => {
  directory = tempDir();
  server = await serveSite();
  browser = await launchChromium();
  ({page, errors} = await openPage(browser, server.url));
});

after(async () => {
  await browser?.closeAndClean();
  await server?.close();
  fs.rmSync(directory, {recursive: true, force: true});
});

async function openImage(name, width, height, channels, pixels) {
  const file = path.join(directory, name);
  fs.writeFileSync(file, encodePng(width, height, channels, pixels));
  const input = await page.$('input#image');
  await input.uploadFile(file);
  await page.waitForFunction((expected) => window.moxelPage.image?.name === expected, {}, name);
  return file;
}

// canvas#result's pixels, RGBA.
async function resultPixels() {
  const base64 = await page.evaluate(() => {
    const canvas = document.querySelector('canvas#result');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) {
      text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    }
    return btoa(text);
  });
  return Buffer.from(base64, 'base64');
}

function assertOpaque(rgba) {
  for (let i = 3; i < rgba.length; i += 4) assert.equal(rgba[i], 255, `alpha at pixel ${i >> 2}`);
}

async function controlValues() {
  return page.evaluate(() => ({
    shape: ['circle', 'triangle', 'square', 'pentagon', 'hexagon', 'star'].indexOf(
        document.querySelector('input[name=shape]:checked').value),
    density: document.querySelector('#density').valueAsNumber,
    minSize: document.querySelector('#min-size').valueAsNumber,
    maxSize: document.querySelector('#max-size').valueAsNumber,
    white: document.querySelector('#white').checked,
    seed: Number(document.querySelector('#seed').value),
  }));
}

async function press(selector, key, times = 1) {
  await page.focus(selector);
  for (let i = 0; i < times; ++i) await page.keyboard.press(key);
}

const finished = () => page.waitForFunction(() => !document.querySelector('#download').disabled &&
    document.querySelector('#status-text').textContent.startsWith('Done'));

// The limits and defaults the page documents, and the words of its refusals, are the core's, as
// the GIMP plug-in's are: a limit changed in the core shows here.
test('the controls start at the filter\'s defaults within its limits, and the hook refuses settings in the core\'s words',
     limit, async () => {
  const ranges = await page.evaluate(() => ['density', 'min-size', 'max-size'].map((id) => {
    const input = document.getElementById(id);
    return [id, input.valueAsNumber, input.min, input.max];
  }));
  assert.deepEqual(ranges, [['density', 30, '1', '100'], ['min-size', 4, '2', '30'],
                            ['max-size', 12, '2', '30']]);
  const before = await controlValues();
  assert.deepEqual({...before, seed: 0}, {shape: 0, density: 30, minSize: 4, maxSize: 12,
                                          white: false, seed: 0});

  const good = {shape: 'circle', density: 30, minSize: 4, maxSize: 12, white: false, seed: 1};
  for (const [bad, words] of [
    [{density: 101}, 'density is 101, outside its range 1 to 100'],
    [{shape: 6}, 'shape is 6, outside its range 0 to 5'],
    [{minSize: 12, maxSize: 4}, 'max-size is 4, below min-size (12)'],
    [{white: 2}, 'white is 2, outside its range 0 to 1'],
  ]) {
    const answer = await page.evaluate((s) => window.moxelPage.apply(s).then(
        () => 'applied', (error) => error.message), {...good, ...bad});
    assert.equal(answer, words);
  }
  assert.deepEqual(await controlValues(), before);

  // A seed out of range is flagged while typed, and corrected to the nearest one once left.
  await page.click('#seed', {clickCount: 3});
  await page.keyboard.type('99999999999');
  assert.equal(await page.$eval('#seed', (e) => e.getAttribute('aria-invalid')), 'true');
  await page.keyboard.press('Tab');
  await page.waitForFunction(() => document.querySelector('#status-text').textContent
      .endsWith('seed 2147483647'));
  assert.equal((await controlValues()).seed, 2147483647);
});

test('settings changed through the controls give the command-line tool\'s pixels', limit, async () => {
  const [width, height] = [301, 203];
  const file = await openImage('controls.png', width, height, 3, testPicture(width, height));

  // The sizes push each other as in the dialog.
  await press('#max-size', 'Home');
  assert.deepEqual(await controlValues().then(({minSize, maxSize}) => [minSize, maxSize]), [2, 2]);
  await press('#min-size', 'End');
  assert.deepEqual(await controlValues().then(({minSize, maxSize}) => [minSize, maxSize]), [30, 30]);

  await press('#min-size', 'Home');
  await press('#min-size', 'ArrowRight', 3);
  await press('#max-size', 'ArrowLeft', 12);
  await press('#density', 'End');
  await press('#density', 'ArrowLeft', 35);
  await page.click('label[title=Hexagons]');
  await page.click('#white');
  await page.focus('#seed');
  await page.keyboard.down('Control');
  await page.keyboard.press('KeyA');
  await page.keyboard.up('Control');
  await page.keyboard.type('777');
  await finished();

  const settings = await controlValues();
  assert.deepEqual(settings,
                   {shape: 4, density: 65, minSize: 5, maxSize: 18, white: true, seed: 777});
  const rgba = await resultPixels();
  assertOpaque(rgba);
  const native = nativeRun(file, settings, 777, directory);
  assert.equal(differingPixels(rgbaToRgb(rgba), native), 0);
  assert.deepEqual(errors, []);
});

// The shapes of a document: moxel's picture under them is a JPEG, the page's the PNG it read.
const shapesOf = (svg) => svg.slice(svg.indexOf('<g'));

test('the test hook and the downloads give the command-line tool\'s pixels and shapes', limit,
     async () => {
  const [width, height] = [157, 211];
  const file = await openImage('hook.png', width, height, 3, testPicture(width, height));
  for (const [shape, seed] of [[5, 2147483647], [0, 0]]) {
    const settings = {shape, density: 40, minSize: 2, maxSize: 30, white: false};
    await page.evaluate((s) => window.moxelPage.apply(s), {...settings, shape: SHAPES[shape], seed});
    const native = nativeRun(file, settings, seed, directory);
    assert.equal(differingPixels(rgbaToRgb(await resultPixels()), native), 0, SHAPES[shape]);
  }

  const downloads = path.join(directory, 'downloads');
  fs.mkdirSync(downloads);
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
  const saved = async (button, name) => {
    await page.click(button);
    const file = path.join(downloads, name);
    while (!fs.existsSync(file)) await new Promise((resolve) => setTimeout(resolve, 50));
    return file;
  };
  const settings = {shape: 0, density: 40, minSize: 2, maxSize: 30};
  const png = await saved('#download', 'hook-stippled.png');
  assert.equal(differingPixels(pngRgb(png), nativeRun(file, settings, 0, directory)), 0);
  assert.equal(fs.readFileSync(png)[25], 2, 'an opaque result is written as RGB');

  const svg = fs.readFileSync(await saved('#download-svg', 'hook-stippled.svg'), 'utf8');
  const native = nativeRun(file, settings, 0, directory, 'svg');
  const count = (text) => text.match(/<circle /g)?.length;
  assert.equal(count(svg), count(native));
  assert.equal(shapesOf(svg), shapesOf(native));
  // Under the shapes, the picture the filter read.
  const picture = path.join(directory, 'picture.png');
  fs.writeFileSync(picture, Buffer.from(svg.match(/href="data:image\/png;base64,([^"]*)"/)[1],
                                        'base64'));
  assert.equal(differingPixels(pngRgb(picture), testPicture(width, height)), 0);
});

test('transparent parts are laid over white before filtering', limit, async () => {
  const [width, height] = [64, 48];
  const rgba = Buffer.alloc(width * height * 4);
  const rgb = testPicture(width, height);
  for (let i = 0; i < width * height; ++i) {
    rgba.set(rgb.subarray(i * 3, i * 3 + 3), i * 4);
    rgba[i * 4 + 3] = i % width < width / 2 ? 0 : 255;  // left half fully transparent
  }
  const file = await openImage('transparent.png', width, height, 4, rgba);
  const settings = {shape: 2, density: 50, minSize: 3, maxSize: 8, white: false};
  await page.evaluate((s) => window.moxelPage.apply(s), {...settings, seed: 3});
  const result = await resultPixels();
  assertOpaque(result);
  const native = nativeRun(file, settings, 3, directory);
  assert.equal(differingPixels(rgbaToRgb(result), native), 0);
});

// The viewer draws only the part of the picture in sight, on a canvas of the stage's size: what
// it shows is checked against canvas#result and the picture opened.
test('the viewer shows the result, reduced or enlarged, and the original while compare is held',
     limit, async () => {
  // The picture on #view, found as its opaque pixels (around them is the stage, or a shadow), RGB;
  // with `reduced`, canvas#result as the browser reduces it to that size.
  const shown = (reduced = false) => page.evaluate(async (reduced) => {
    await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
    const view = document.querySelector('#view');
    const all = view.getContext('2d').getImageData(0, 0, view.width, view.height);
    const box = {left: Infinity, top: Infinity, right: -1, bottom: -1};
    for (let y = 0; y < all.height; ++y) {
      for (let x = 0; x < all.width; ++x) {
        if (all.data[(y * all.width + x) * 4 + 3] !== 255) continue;
        Object.assign(box, {left: Math.min(box.left, x), right: Math.max(box.right, x),
                            top: Math.min(box.top, y), bottom: Math.max(box.bottom, y)});
      }
    }
    const [width, height] = [box.right - box.left + 1, box.bottom - box.top + 1];
    const rgb = (data) => [...data].filter((_, i) => i % 4 !== 3);
    let expected = null;
    if (reduced) {
      const bitmap = await createImageBitmap(document.querySelector('canvas#result'),
          {resizeWidth: width, resizeHeight: height, resizeQuality: 'high'});
      const context = new OffscreenCanvas(width, height).getContext('2d');
      context.drawImage(bitmap, 0, 0);
      expected = rgb(context.getImageData(0, 0, width, height).data);
    }
    return {width, height, expected,
            rgb: rgb(view.getContext('2d').getImageData(box.left, box.top, width, height).data)};
  }, reduced);
  const settings = {shape: 'star', density: 70, minSize: 3, maxSize: 10, white: true, seed: 8};
  const [width, height] = [120, 90];
  const picture = testPicture(width, height);
  await openImage('viewer.png', width, height, 3, picture);
  await page.evaluate((s) => window.moxelPage.apply(s), settings);
  const result = rgbaToRgb(await resultPixels());
  let view = await shown();
  assert.deepEqual([view.width, view.height], [width, height]);
  assert.equal(differingPixels(Buffer.from(view.rgb), result), 0, 'at Fit');

  await page.focus('#compare');
  await page.keyboard.down('Space');
  assert.equal(differingPixels(Buffer.from((await shown()).rgb), picture), 0, 'compare');
  await page.keyboard.up('Space');

  // At 200 %, each pixel of the result as a square of four.
  await page.click('#zoom button[data-zoom="2"]');
  const enlarged = Buffer.alloc(result.length * 4);
  for (let i = 0; i < width * height * 4; ++i) {
    const from = ((Math.floor(i / width / 4) * width) + (i % (width * 2) >> 1)) * 3;
    result.copy(enlarged, i * 3, from, from + 3);
  }
  view = await shown();
  assert.deepEqual([view.width, view.height], [width * 2, height * 2]);
  assert.equal(differingPixels(Buffer.from(view.rgb), enlarged), 0, '200 %');
  await page.click('#zoom button[data-zoom="fit"]');

  // Taller than the stage: reduced to fit, by its worker.
  await openImage('viewer-tall.png', 900, 700, 3, testPicture(900, 700));
  await page.evaluate((s) => window.moxelPage.apply(s), settings);
  view = await shown(true);
  assert.ok(view.height < 700, `${view.width} x ${view.height}`);
  const far = view.rgb.filter((value, i) => Math.abs(value - view.expected[i]) > 2).length;
  assert.equal(far, 0, 'reduced');
});

test('the page stays responsive during a 12-megapixel run, and a newer setting supersedes it',
     limit, async () => {
  const [width, height] = [4000, 3000];
  await openImage('large.png', width, height, 3, testPicture(width, height));
  await page.evaluate(() => {
    window.ticks = 0;
    setInterval(() => ++window.ticks, 10);
    window.firstRun = window.moxelPage.apply(
        {shape: 'circle', density: 100, minSize: 2, maxSize: 30, white: false, seed: 1})
        .then(() => 'finished', (error) => error.message);
  });
  // The page's own timer keeps ticking while the run is under way.
  await page.waitForFunction(() => window.ticks >= 10 && document.querySelector('#download').disabled,
                             {polling: 'mutation'});
  // A control still answers, and its change replaces the run in flight.
  await page.click('label[title=Squares]');
  assert.match(await page.evaluate(() => window.firstRun), /superseded/);
  await finished();
  assert.equal((await controlValues()).shape, 2);
  assert.match(await page.$eval('#status-text', (e) => e.textContent), /4000 × 3000/);
  assert.deepEqual(errors, []);
});

test('an image opened behind a newer one is never shown', limit, async () => {
  const open = async (names) => {
    const files = names.map(([name, width, height]) => {
      const file = path.join(directory, name);
      fs.writeFileSync(file, encodePng(width, height, 3, testPicture(width, height)));
      return file;
    });
    const input = await page.$('input#image');
    const started = Date.now();
    for (const file of files) await input.uploadFile(file);
    await page.waitForFunction((name) => window.moxelPage.image?.name === name, {},
                               names.at(-1)[0]);
    await finished();
    return Date.now() - started;
  };
  // As long again as the large picture takes alone: the time it would have to come in late.
  const alone = await open([['slow.png', 3000, 2000]]);
  await open([['slow-again.png', 3000, 2000], ['quick.png', 40, 30]]);
  await new Promise((resolve) => setTimeout(resolve, alone));
  assert.deepEqual(await page.evaluate(() => window.moxelPage.image),
                   {name: 'quick.png', width: 40, height: 30});
  assert.deepEqual(await page.$eval('canvas#result', (c) => [c.width, c.height]), [40, 30]);
});

// Pictures far over the limit are refused from their header, not decoded first: a decoder would
// give up on them without a word about their size.
test('a picture over the limit is refused by its size before it is decoded', limit, async () => {
  const before = await page.evaluate(() => window.moxelPage.image);
  // 30000 x 30000 as a 1-bit grey PNG, valid and a few hundred kilobytes.
  const [side, rowBytes] = [30000, 3750];
  const header = Buffer.alloc(13);
  header.writeUInt32BE(side, 0);
  header.writeUInt32BE(side, 4);
  header[8] = 1;
  const png = encodePngChunks(header, zlib.deflateSync(Buffer.alloc((rowBytes + 1) * side)));
  // A small JPEG whose frame header claims 20000 x 12000.
  const jpeg = execFileSync('convert', ['-size', '16x16', 'xc:red', 'jpg:-']);
  const frame = jpeg.indexOf(Buffer.from([0xff, 0xc0]));
  jpeg.writeUInt16BE(12000, frame + 5);
  jpeg.writeUInt16BE(20000, frame + 7);
  for (const [name, bytes, size] of [['huge.png', png, '30000 × 30000'],
                                     ['huge.jpg', jpeg, '20000 × 12000']]) {
    const file = path.join(directory, name);
    fs.writeFileSync(file, bytes);
    await (await page.$('input#image')).uploadFile(file);
    await page.waitForFunction((text) => document.querySelector('#status-text').textContent === text,
                               {}, `${name} is ${size}: images up to 100 megapixels can be filtered here.`);
  }
  assert.deepEqual(await page.evaluate(() => window.moxelPage.image), before);
});

test('at phone size every control can be reached, seen and used', limit, async () => {
  const {page: phone, errors: phoneErrors} =
      await openPage(browser, server.url, {width: 390, height: 844, isMobile: true, hasTouch: true});
  const unreachable = await phone.evaluate(() => {
    const wanted = [...document.querySelectorAll(
        'button, input:not([type=radio]):not(#image), #shapes label, progress, #stage')];
    return wanted.flatMap((element) => {
      element.scrollIntoView({block: 'center', inline: 'center'});
      const box = element.getBoundingClientRect();
      const middle = document.elementFromPoint(box.x + box.width / 2, box.y + box.height / 2);
      const inView = box.width > 0 && box.height > 0 && box.left >= 0 && box.top >= 0 &&
                     box.right <= innerWidth && box.bottom <= innerHeight;
      return inView && (element.contains(middle) || middle?.contains(element)) ? []
          : [`${element.id || element.textContent.trim()} ${box.width}x${box.height}` +
             ` at ${box.left},${box.top}`];
    });
  });
  assert.deepEqual(unreachable, []);
  // The picture above the controls, and the page as wide as the phone.
  const [stage, controls, scrollWidth] = await phone.evaluate(() => [
    document.querySelector('#stage').getBoundingClientRect().top,
    document.querySelector('#controls').getBoundingClientRect().top,
    document.documentElement.scrollWidth]);
  assert.ok(stage < controls);
  assert.equal(scrollWidth, 390);
  assert.deepEqual(phoneErrors, []);
  await phone.close();
});

const axe = fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)),
                                     'node_modules/axe-core/axe.min.js'), 'utf8');

test('axe finds nothing to fix, on a desktop and on a phone', limit, async () => {
  const {page: phone} = await openPage(browser, server.url, {width: 390, height: 844});
  for (const each of [page, phone]) {
    // Evaluated through the driver: the page's own policy refuses inline scripts.
    await each.evaluate(axe);
    const violations = await each.evaluate(async () => (await window.axe.run()).violations
        .map(({id, nodes}) => `${id}: ${nodes.map((node) => node.target).join(' ')}`));
    assert.deepEqual(violations, []);
  }
  await phone.close();
});

// With the site's server gone: a new run still starts its worker, and a reload still shows the
// page, both from the service worker's copy.
test('once visited, the page works without its server', limit, async () => {
  const site = await serveSite();
  const {page: offline, errors: offlineErrors} = await openPage(browser, site.url);
  await offline.evaluate(async () => {
    await navigator.serviceWorker.ready;
    if (navigator.serviceWorker.controller) return;
    await new Promise((resolve) =>
      navigator.serviceWorker.addEventListener('controllerchange', resolve, {once: true}));
  });
  await site.close();
  const settings = {shape: 'star', density: 50, minSize: 3, maxSize: 9, white: true, seed: 5};
  await offline.evaluate((s) => window.moxelPage.apply(s), settings);
  await offline.reload();
  await offline.waitForFunction(() =>
    document.querySelector('#status-text').textContent.startsWith('Done'));
  await offline.evaluate((s) => window.moxelPage.apply(s), settings);
  assert.deepEqual(offlineErrors, []);
  await offline.close();
});
