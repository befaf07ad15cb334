// Figures for docs/performance.md: the longest task on the page's thread (PerformanceObserver's
// long tasks, 50 ms and over) while opening a 12-megapixel JPEG, while dragging a slider over
// it, and while its PNG download is written.
//   node tests/web/responsiveness.mjs        (after the wasm preset is built)
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

import {launchChromium, openPage, serveSite} from './browser.mjs';
import {repo, tempDir} from './paths.mjs';

const directory = tempDir();
const picture = path.join(directory, 'large.jpg');
execFileSync('convert', [path.join(repo, 'samples/sample.jpg'), '-resize', '4000x3000!',
                         '-quality', '92', picture]);
const server = await serveSite();
const browser = await launchChromium();
const {page} = await openPage(browser, server.url);
const session = await page.createCDPSession();
await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: directory});

await page.evaluate(() => {
  window.longest = 0;
  new PerformanceObserver((list) => {
    for (const task of list.getEntries()) window.longest = Math.max(window.longest, task.duration);
  }).observe({type: 'longtask'});
});
const finished = () => page.waitForFunction(() => !document.querySelector('#download').disabled &&
    document.querySelector('#status-text').textContent.startsWith('Done'), {timeout: 0});
async function longestDuring(what, action) {
  await page.evaluate(() => { window.longest = 0; });
  const started = Date.now();
  await action();
  const longest = await page.evaluate(() => window.longest);
  // The observer hears only of tasks of 50 ms and more.
  const words = longest === 0 ? 'no task of 50 ms or more' : `longest task ${longest.toFixed(0)} ms`;
  console.log(`${what.padEnd(54)} ${words.padEnd(26)} (all of it ${Date.now() - started} ms)`);
}

await longestDuring('opening a 4000 x 3000 JPEG, to its first result', async () => {
  await (await page.$('input#image')).uploadFile(picture);
  await page.waitForFunction(() => window.moxelPage.image?.name === 'large.jpg', {timeout: 0});
  await finished();
});
await longestDuring('dragging the density slider (60 steps), to its result', async () => {
  const box = await (await page.$('#density')).boundingBox();
  const y = box.y + box.height / 2;
  await page.mouse.move(box.x + 4, y);
  await page.mouse.down();
  for (let step = 1; step <= 60; ++step) {
    await page.mouse.move(box.x + 4 + (box.width - 8) * step / 60, y);
    await new Promise((resolve) => setTimeout(resolve, 16));
  }
  await page.mouse.up();
  await finished();
});
await longestDuring('writing its PNG download', async () => {
  await page.click('#download');
  const file = path.join(directory, 'large-stippled.png');
  while (!fs.existsSync(file)) await new Promise((resolve) => setTimeout(resolve, 20));
});
await browser.closeAndClean();
await server.close();
fs.rmSync(directory, {recursive: true, force: true});
