// Takes docs/web-page.png (1280 x 800) and docs/web-page-phone.png (390 x 844, the whole page):
// the page on the bundled sample as a newcomer first meets it but with fixed settings and seed, so
// that a retake shows the same picture.
//   node tests/web/screenshot.mjs        (after the wasm preset is built)
import path from 'node:path';

import {launchChromium, openPage, serveSite} from './browser.mjs';
import {repo} from './paths.mjs';

const server = await serveSite();
const browser = await launchChromium();
for (const [name, viewport, fullPage] of [
  ['web-page.png', {width: 1280, height: 800}, false],
  ['web-page-phone.png', {width: 390, height: 844, isMobile: true, hasTouch: true}, true],
]) {
  const {page} = await openPage(browser, server.url, viewport);
  await page.evaluate(() => window.moxelPage.apply(
      {shape: 'hexagon', density: 45, minSize: 4, maxSize: 14, white: false, seed: 2024}));
  await page.screenshot({path: path.join(repo, 'docs', name), fullPage});
  await page.close();
}
await browser.closeAndClean();
await server.close();
