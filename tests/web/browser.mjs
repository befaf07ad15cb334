// A static server for the built site on 127.0.0.1 and Debian's Chromium, headless, driven by
// puppeteer-core (which never downloads a browser of its own).
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

import {site} from './paths.mjs';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.css': 'text/css', '.wasm': 'application/wasm', '.jpg': 'image/jpeg', '.png': 'image/png',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json',
};

// Resolves to {url, close()}; the port is whichever the system gives. close() also ends the
// connections kept open, so that the site is gone at once.
export function serveSite() {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    const file = path.join(site, name === '/' ? 'index.html' : name);
    if (!file.startsWith(site + path.sep) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream'});
    fs.createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, '127.0.0.1', () => resolve({
      url: `http://127.0.0.1:${server.address().port}/`,
      close: () => new Promise((done) => {
        server.close(() => done());
        server.closeAllConnections();
      }),
    }));
  });
}

export async function launchChromium() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'moxel-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  // Chromium's helpers may still be writing the profile as the browser goes: retry the removal.
  browser.closeAndClean = async () => {
    await browser.close();
    fs.rmSync(profile, {recursive: true, force: true, maxRetries: 10, retryDelay: 100});
  };
  return browser;
}

// Opens the page and waits until the sample (or whatever loads first) has been filtered. `errors`
// collects the page's uncaught errors and whatever its security policy blocks.
export async function openPage(browser, url, viewport = {width: 1280, height: 800}) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.exposeFunction('moxelBlocked', (what) => errors.push(`blocked: ${what}`));
  await page.evaluateOnNewDocument(() => document.addEventListener('securitypolicyviolation',
      (event) => window.moxelBlocked(`${event.violatedDirective} ${event.blockedURI}`)));
  await page.setViewport(viewport);
  await page.goto(url);
  await page.waitForFunction(() => document.querySelector('#status-text').textContent.startsWith('Done'));
  return {page, errors};
}
