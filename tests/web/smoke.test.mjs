// The harness itself: the server serves only its folder with the right types, and
// chromium loads a page, runs its script and gives a screenshot whose pixels are right.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { startServer } from './server.mjs';
import { launchBrowser } from './browser.mjs';
import { decodePng } from './png.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const outDir = process.env.PLOTMINT_WEB_OUT ?? path.join(here, 'out');
let server;

before(async () => {
  server = await startServer(path.join(here, 'placeholder'));
});
after(async () => {
  await server?.close();
});

test('server answers with each file and its type, and nothing outside its folder', async (t) => {
  const cases = [
    { path: '', status: 200, type: 'text/html; charset=utf-8' },
    { path: 'index.html', status: 200, type: 'text/html; charset=utf-8' },
    { path: 'missing.wasm', status: 404 },
    { path: '..%2fserver.mjs', status: 404 },
    { path: '%2e%2e/package.json', status: 404 },
    { path: '%zz', status: 400 },
  ];
  for (const c of cases) {
    await t.test(c.path || '(folder)', async () => {
      const res = await fetch(server.url + c.path);
      assert.equal(res.status, c.status);
      if (c.type) assert.equal(res.headers.get('content-type'), c.type);
      await res.arrayBuffer();
    });
  }
});

test('chromium shows the page and its screenshot has the page\'s pixels', async (t) => {
  const started = performance.now();
  const { browser, close } = await launchBrowser();
  t.diagnostic(`chromium started in ${Math.round(performance.now() - started)} ms`);
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.setViewport({ width: 320, height: 200 });
    await page.goto(server.url, { waitUntil: 'load', timeout: 30_000 });
    await page.waitForFunction(() => document.getElementById('status')?.textContent === 'ready',
                               { timeout: 10_000 });
    assert.equal(await page.title(), 'Plotmint');
    assert.deepEqual(errors, []);

    const png = Buffer.from(await page.screenshot({ type: 'png' }));
    await fs.mkdir(outDir, { recursive: true });
    await fs.writeFile(path.join(outDir, 'smoke.png'), png);
    const image = decodePng(png);
    assert.equal(image.width, 320);
    assert.equal(image.height, 200);
    // Inside the block, its colour; outside, the white page.
    assert.deepEqual(image.pixel(140, 90), [0x1f, 0x6f, 0xb4, 255]);
    assert.deepEqual(image.pixel(20, 20), [255, 255, 255, 255]);
    assert.deepEqual(image.pixel(300, 90), [255, 255, 255, 255]);
  } finally {
    await close();
  }
});
