// Takes docs/web-page.png: the page on the bundled sample, as a newcomer first meets it but with
// fixed settings and seed, so that a retake shows the same picture.
//   node tests/web/screenshot.mjs        (after the wasm preset is built)
import path from 'node:path';

import {launchChromium, openPage, serveSite} from './browser.mjs';
import {repo} from './paths.mjs';

const server = await serveSite();
const browser = await launchChromium();
const {page} = await openPage(browser, server.url, {width: 1280, height: 760});
await page.evaluate(() => window.moxelPage.apply(
    {shape: 'hexagon', density: 45, minSize: 4, maxSize: 14, white: false, seed: 2024}));
await page.screenshot({path: path.join(repo, 'docs/web-page.png')});
await browser.closeAndClean();
await server.close();
