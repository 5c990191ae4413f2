// The page in Debian's chromium, driven as a person would: files dropped and chosen, grids
// edited, tables loaded and saved, pictures downloaded and copied, in both languages, and
// the page kept responsive by its worker while a large file is converted.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { startServer } from './server.mjs';
import { launchBrowser } from './browser.mjs';
import { decodePng } from './png.mjs';
import { bundledTables, runNative } from './engine-harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
const site = process.env.PLOTMINT_WEB_SITE ??
  path.join(process.env.PLOTMINT_WEB_BUILD ?? path.join(repo, 'build-web'), 'site');
const outDir = process.env.PLOTMINT_WEB_OUT ?? path.join(here, 'out');
const screenshotPath = path.join(repo, 'docs', 'web-page.png');

// Polled rather than on animation frames, which a page in the background may not get.
const POLL = { polling: 50, timeout: 30_000 };

let server;
let browser;
let closeBrowser;
let examples;

before(async () => {
  examples = JSON.parse(await fs.readFile(path.join(site, 'examples', 'index.json'), 'utf8'));
  server = await startServer(site);
  ({ browser, close: closeBrowser } = await launchBrowser());
});
after(async () => {
  await closeBrowser?.();
  await server?.close();
});

// A fresh page, ready for use; `locale` sets the browser's language. The page's errors are
// collected so that each test can check there were none.
async function openPage({ locale = 'en-US', viewport = { width: 1280, height: 800 } } = {}) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(`console: ${m.text()}`); });
  page.on('requestfailed', (r) => errors.push(`request failed: ${r.url()}`));
  // Everything the page and its worker load comes from the site itself.
  const own = (url) => url.startsWith(server.url) || /^(data|blob):/.test(url);
  page.on('request', (r) => { if (!own(r.url())) errors.push(`request off the site: ${r.url()}`); });
  const cdp = await page.createCDPSession();
  // The browser's language as the page and its worker see it (headless chromium takes no
  // --lang); the same as --accept-lang at start.
  await cdp.send('Emulation.setUserAgentOverride', { userAgent: await browser.userAgent(), acceptLanguage: locale });
  await page.setViewport(viewport);
  await page.goto(server.url, { waitUntil: 'load', timeout: 30_000 });
  await page.waitForFunction(() => document.getElementById('Form1').dataset.state, { ...POLL, timeout: 60_000 });
  assert.equal(await page.$eval('#Form1', (f) => f.dataset.state), 'ready');
  return { page, context, errors, close: () => context.close() };
}

const logLines = (page) => page.$eval('#Memo1', (m) => (m.value === '' ? [] : m.value.split('\n')));
const runs = (page) => page.$eval('#Form1', (f) => Number(f.dataset.runs ?? 0));

// Does `action` and waits until the run it starts has ended; returns the log lines it added.
async function whileRunning(page, action, timeout = 60_000) {
  const before = await runs(page);
  const lines = (await logLines(page)).length;
  await action();
  await page.waitForFunction((n) => Number(document.getElementById('Form1').dataset.runs ?? 0) > n &&
                             document.getElementById('Form1').dataset.running === '0', { ...POLL, timeout }, before);
  return (await logLines(page)).slice(lines);
}

// Drops files on the page the way a browser delivers a drop: { name, url } is fetched from
// the site, { name, text } is made from the text.
function drop(page, files) {
  return page.evaluate(async (list) => {
    const dt = new DataTransfer();
    for (const f of list) {
      const body = f.url ? await (await fetch(f.url)).arrayBuffer() : f.text;
      dt.items.add(new File([body], f.name));
    }
    const target = document.getElementById('PaintBox1');
    target.dispatchEvent(new DragEvent('dragover', { dataTransfer: dt, bubbles: true, cancelable: true }));
    target.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, files);
}

const dropExample = (page, name) => whileRunning(page, () => drop(page, [{ name, url: `examples/${name}` }]));

// The preview box as pixels, with the picture's box in it and the panel's colour.
async function previewPixels(page) {
  const box = await page.$('#PaintBox1');
  const image = decodePng(Buffer.from(await box.screenshot({ type: 'png' })));
  const pic = await page.evaluate(() => {
    const img = document.getElementById('preview');
    const b = document.getElementById('PaintBox1').getBoundingClientRect();
    const r = img.getBoundingClientRect();
    const style = getComputedStyle(img);
    const pad = parseFloat(style.paddingLeft) || 0;
    const box = { left: r.left + pad, top: r.top + pad, width: r.width - 2 * pad, height: r.height - 2 * pad };
    // object-fit: contain centres the picture in the element's content box; fill stretches it.
    const scale = Math.min(box.width / img.naturalWidth, box.height / img.naturalHeight);
    const w = style.objectFit === 'fill' ? box.width : img.naturalWidth * scale;
    const h = style.objectFit === 'fill' ? box.height : img.naturalHeight * scale;
    const panel = getComputedStyle(document.getElementById('Panel1')).backgroundColor.match(/\d+/g).map(Number);
    return { left: box.left - b.left + (box.width - w) / 2, top: box.top - b.top + (box.height - h) / 2, width: w,
             height: h, hidden: img.hidden, placed: img.classList.contains('placed'), panel };
  });
  return { image, pic, panel: pic.panel };
}

// Counts the pixels in `image` for which `pred([r,g,b,a], x, y)` holds.
function count(image, pred) {
  let n = 0;
  for (let y = 0; y < image.height; y++) for (let x = 0; x < image.width; x++) if (pred(image.pixel(x, y), x, y)) n++;
  return n;
}

const near = (p, q, d = 24) => Math.abs(p[0] - q[0]) <= d && Math.abs(p[1] - q[1]) <= d && Math.abs(p[2] - q[2]) <= d;
const isWhite = (p) => p[0] > 245 && p[1] > 245 && p[2] > 245;

// Sets cells of a grid (by its id) as typing would, with input events.
function setCells(page, grid, cells) {
  return page.evaluate((id, list) => {
    for (const [r, c, text] of list) {
      const input = document.querySelector(`#${id} input[data-row="${r}"][data-col="${c}"]`);
      if (!input) throw new Error(`no cell ${r},${c} in ${id}`);
      input.value = text;
      input.dispatchEvent(new Event('input', { bubbles: true }));
    }
  }, grid, cells);
}

const gridCells = (page, grid) => page.evaluate((id) => [...document.querySelectorAll(`#${id} tr`)].map((tr) =>
  [...tr.children].map((td) => td.querySelector('input')?.value ?? td.textContent)), grid);

// A folder that receives the page's downloads.
async function downloadsInto(page, context) {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'plotmint-downloads-'));
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', {
    behavior: 'allow', downloadPath: dir, browserContextId: context.id, eventsEnabled: true,
  });
  return {
    dir,
    // Clicks `selector` and resolves with the bytes of the file it downloads as `name`.
    async take(selector, name) {
      const file = path.join(dir, name);
      await fs.rm(file, { force: true });
      await page.click(selector);
      const until = Date.now() + 20_000;
      for (;;) {
        try {
          const entries = await fs.readdir(dir);
          if (entries.includes(name) && !entries.some((e) => e.endsWith('.crdownload'))) return await fs.readFile(file);
        } catch { /* not there yet */ }
        if (Date.now() > until) throw new Error(`${name} was not downloaded`);
        await new Promise((r) => setTimeout(r, 50));
      }
    },
    remove: async () => {
      await cdp.detach();
      await fs.rm(dir, { recursive: true, force: true });
    },
  };
}

test('start-up shows the default tables in the grids and logs their reading, and nothing else', async () => {
  const { page, errors, close } = await openPage();
  try {
    const lines = await logLines(page);
    assert.ok(lines.some((l) => /tone-default\.ktc/.test(l)), lines.join('\n'));
    assert.ok(lines.some((l) => /line-default\.klc/.test(l)), lines.join('\n'));
    assert.ok(!lines.some((l) => /^RGB/.test(l)), 'the default panel colour logs nothing');
    // The tone grid holds as many node rows as the default file has node lines, the rest empty.
    const text = await fs.readFile(path.join(site, 'tables', 'tone-default.ktc'), 'utf8');
    const nodes = text.split('\n').slice(2).findIndex((l) => l.replace(/\r$/, '').replace(/ +$/, '') === '');
    const tone = await gridCells(page, 'StringGrid1');
    assert.deepEqual(tone[0], ['   ', '  R', '  G', '  B']);
    for (let r = 1; r <= 121; r++) {
      const filled = tone[r].every((c) => /^ *-?\d{1,}$/.test(c) && c.length >= 3);
      assert.equal(filled, r <= nodes, `tone row ${r}: ${JSON.stringify(tone[r])}`);
      if (r > nodes) assert.deepEqual(tone[r], ['', '', '', '']);
    }
    const line = await gridCells(page, 'StringGrid3');
    assert.equal(line.length, 32);
    for (let n = 0; n <= 30; n++) assert.equal(line[n + 1][0], String(n).padStart(3, ' '));
    // The settings start from the converter's defaults.
    const widths = await gridCells(page, 'StringGrid4');
    assert.deepEqual(widths[1].map((c) => Number(c)), [12, 16, 20, 24, 28]);
    const pen = await gridCells(page, 'StringGrid2');
    assert.deepEqual(pen[1].map((c) => Number(c)), [200, 200, 200, 1]);
    assert.deepEqual(await page.evaluate(() => ['vhline', 'hershey', 'discovery'].map((n) =>
      document.querySelector(`input[name=${n}]:checked`)?.value)), ['2', '1', '0']);
    assert.equal(await page.$eval('#Edit1', (e) => e.value), 'graph.g');
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('each example dropped on the page is drawn in the preview with the engine\'s log', async (t) => {
  const { page, errors, close } = await openPage();
  try {
    assert.ok(examples.length >= 1);
    for (const name of examples) {
      await t.test(name, async () => {
        const added = await dropExample(page, name);
        assert.ok(added.includes(`open ${name} for searching color table name.`), added.join('\n'));
        assert.ok(added.includes(`open ${name}.`), added.join('\n'));
        assert.equal(added.at(-1), 'draw finished.', added.join('\n'));
        assert.equal(await page.$eval('#Edit1', (e) => e.value), name);
        assert.equal(await page.$eval('#stale-note', (e) => e.hidden), true);
        const svg = await page.evaluate(() => globalThis.plotmintPage.picture?.svg ?? '');
        assert.match(svg, /<svg[\s>]/);
        const { image, pic, panel } = await previewPixels(page);
        assert.equal(pic.hidden, false);
        const inside = (x, y) => x >= pic.left + 1 && x < pic.left + pic.width - 1 && y >= pic.top + 1 &&
          y < pic.top + pic.height - 1;
        const outside = (x, y) => x < pic.left - 1 || x > pic.left + pic.width + 1 || y < pic.top - 1 ||
          y > pic.top + pic.height + 1;
        // The drawing is inside the picture's box; around it only the panel shows.
        const ink = count(image, (p, x, y) => inside(x, y) && !near(p, panel, 2));
        const stray = count(image, (p, x, y) => outside(x, y) && !near(p, panel, 2));
        assert.ok(ink > 200, `${name}: ${ink} drawn pixels`);
        assert.equal(stray, 0, `${name}: pixels off the picture`);
        // A drawing inside the page sits where its extent is on a page of 5240 x 7860 kept in
        // shape, as in the window.
        const e = Object.fromEntries(added.map((l) => /^(xmin|xmax|ymin|ymax) : (-?\d+)$/.exec(l))
          .filter(Boolean).map((m) => [m[1], Number(m[2])]));
        const onPage = e.xmin >= 0 && e.xmax <= 5240 && e.ymin >= 0 && e.ymax <= 7860;
        assert.equal(pic.placed, onPage, JSON.stringify(e));
        if (onPage) {
          const s = Math.min(image.width / 5240, image.height / 7860);
          const pageLeft = (image.width - 5240 * s) / 2, pageTop = (image.height - 7860 * s) / 2;
          const want = { left: pageLeft + e.xmin * s, top: pageTop + (7860 - e.ymax) * s,
                         width: (e.xmax - e.xmin) * s, height: (e.ymax - e.ymin) * s };
          for (const k of Object.keys(want)) assert.ok(Math.abs(pic[k] - want[k]) < 1.5, `${k}: ${pic[k]} for ${want[k]}`);
        }
      });
    }
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('the file chooser draws the chosen file; a drop of two graph files draws nothing', async () => {
  const { page, errors, close } = await openPage();
  try {
    const name = examples.includes('text.g') ? 'text.g' : examples[0];
    const chooser = await page.$('#OpenDialog1');
    let added = await whileRunning(page, () => chooser.uploadFile(path.join(site, 'examples', name)));
    assert.ok(added.includes(`open ${name}.`), added.join('\n'));
    assert.equal(added.at(-1), 'draw finished.');
    assert.equal(await page.$eval('#Edit1', (e) => e.value), name);

    const before = await runs(page);
    const lines = (await logLines(page)).length;
    await drop(page, [{ name: 'a.g', text: '-999 0 0\n' }, { name: 'b.g', text: '-999 0 0\n' }]);
    await page.waitForFunction((n) => document.getElementById('Memo1').value.split('\n').length > n, POLL, lines);
    assert.deepEqual((await logLines(page)).slice(lines), ['ドラッグしたファイルの個数が多すぎます。']);
    assert.equal(await runs(page), before);
    assert.equal(await page.$eval('#Edit1', (e) => e.value), name, 'the name box keeps its file');

    // Files dropped one right after the other are drawn one after the other, each its own.
    const [first, second] = [examples[0], examples.at(-1)];
    const queued = await runs(page);
    const from = (await logLines(page)).length;
    await page.evaluate(async (names) => {
      const files = await Promise.all(names.map(async (n) => new File([await (await fetch(`examples/${n}`)).arrayBuffer()], n)));
      // Both drops in one task, before either run has started.
      for (const f of files) {
        const dt = new DataTransfer();
        dt.items.add(f);
        document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
      }
    }, [first, second]);
    await page.waitForFunction((n) => Number(document.getElementById('Form1').dataset.runs) >= n + 2 &&
                               document.getElementById('Form1').dataset.running === '0', POLL, queued);
    const both = (await logLines(page)).slice(from);
    const opened = both.filter((l) => /^open [^ ]+\.$/.test(l) && !/\.(ktc|klc)\.$/.test(l));
    assert.deepEqual(opened, [`open ${first}.`, `open ${second}.`], both.join('\n'));
    assert.equal(both.filter((l) => l === 'draw finished.').length, 2);
    assert.equal(await page.$eval('#Edit1', (e) => e.value), second);

    // A name that names no file fails the run; the earlier picture stays, marked as old.
    const typeName = async (text) => {
      await page.$eval('#Edit1', (e) => { e.value = ''; });
      await page.type('#Edit1', text);
      await page.keyboard.press('Enter');
    };
    added = await whileRunning(page, () => typeName('missing.g'));
    assert.ok(added.includes('Cannot open file.'), added.join('\n'));
    assert.ok(!added.includes('draw finished.'));
    assert.equal(await page.$eval('#stale-note', (e) => e.hidden), false);
    assert.equal(await page.$eval('#save_emf', (b) => b.disabled), false, 'the earlier picture is still offered');
    // An example's name in the box draws the example.
    const other = examples.find((e) => e !== name) ?? name;
    added = await whileRunning(page, () => typeName(other));
    assert.ok(added.includes(`open ${other}.`), added.join('\n'));
    assert.equal(added.at(-1), 'draw finished.');
    assert.equal(await page.$eval('#stale-note', (e) => e.hidden), true);
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

// graph.g names the "demo" tables; which fills it uses is what these tests look at.
test('editing the colour grids and redrawing changes the picture; a cell without a number keeps its value', async () => {
  const { page, errors, close } = await openPage();
  try {
    const lines = await dropExample(page, 'graph.g');
    assert.ok(lines.includes('find color table.'), lines.join('\n'));
    const tone = await gridCells(page, 'StringGrid1');
    const nodes = tone.slice(1).findIndex((r) => r[0] === '');
    assert.ok(nodes >= 2);
    // Pure red and green, which no colour of the demo tables comes near.
    const red = (p) => p[0] > 240 && p[1] < 25 && p[2] < 25;
    const green = (p) => p[1] > 150 && p[0] < 60 && p[2] < 60;
    let { image } = await previewPixels(page);
    assert.equal(count(image, red), 0);
    const svgBefore = await page.evaluate(() => globalThis.plotmintPage.picture.svg);

    // Text in a cell is no number: the run keeps the value the window holds.
    await setCells(page, 'StringGrid1', [[1, 1, 'abc'], [1, 2, ''], [2, 3, ' x1']]);
    let added = await whileRunning(page, () => page.click('#Draw'));
    assert.equal(added.at(-1), 'draw finished.');
    assert.ok(!added.some((l) => /searching color table/.test(l)), 'redraw runs no discovery');
    assert.equal(await page.evaluate(() => globalThis.plotmintPage.picture.svg), svgBefore);
    assert.equal(await page.$eval('#StringGrid1 input[data-row="1"][data-col="1"]', (e) => e.value), 'abc',
                 'the grid keeps what was typed');

    // Every fill node red: the fills turn red.
    const cells = [];
    for (let r = 1; r <= nodes; r++) cells.push([r, 1, '255'], [r, 2, '0'], [r, 3, '0']);
    await setCells(page, 'StringGrid1', cells);
    added = await whileRunning(page, () => page.click('#Draw'));
    assert.equal(added.at(-1), 'draw finished.');
    ({ image } = await previewPixels(page));
    const reds = count(image, red);
    assert.ok(reds > 500, `${reds} red pixels`);

    // Every line colour green: lines and text turn green, the red fills stay.
    const lineCells = [];
    for (let r = 1; r <= 31; r++) lineCells.push([r, 1, '0'], [r, 2, '200'], [r, 3, '0']);
    await setCells(page, 'StringGrid3', lineCells);
    await whileRunning(page, () => page.click('#Draw'));
    ({ image } = await previewPixels(page));
    assert.ok(count(image, green) > 100, 'green lines');
    assert.ok(count(image, red) > reds / 2, 'the fills stay red');

    // Dropping the file again runs discovery, which shows the named tables once more.
    await dropExample(page, 'graph.g');
    assert.deepEqual(await gridCells(page, 'StringGrid1'), tone);
    ({ image } = await previewPixels(page));
    assert.equal(count(image, red), 0);
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('the settings reach the run: discovery off, margin, the replacement line, its mode and the Hershey choice', async () => {
  const { page, errors, close } = await openPage();
  try {
    const startTone = await gridCells(page, 'StringGrid1');
    const svg = () => page.evaluate(() => globalThis.plotmintPage.picture.svg);
    const click = (selector) => page.$eval(selector, (e) => e.click());
    const redraw = async () => {
      const added = await whileRunning(page, () => page.click('#Draw'));
      assert.equal(added.at(-1), 'draw finished.', added.join('\n'));
      return added;
    };
    // しない: a dropped file is drawn with the tables the grids hold.
    await click('#RadioGroup1 input[value="1"]');
    let added = await dropExample(page, 'graph.g');
    assert.ok(!added.some((l) => /searching color table|color table\./.test(l)), added.join('\n'));
    assert.deepEqual(await gridCells(page, 'StringGrid1'), startTone);

    // The fifth width is the margin; a cell without a number keeps the value of the last run.
    await setCells(page, 'StringGrid4', [[1, 4, ' 60']]);
    assert.ok((await redraw()).includes('margin : 60'));
    await setCells(page, 'StringGrid4', [[1, 4, 'x']]);
    assert.ok((await redraw()).includes('margin : 60'));

    // Vertical and horizontal line blocks as one line in the replacement pen (the default
    // mode): a green pen shows; as segments, the pen is not used.
    const green = (p) => p[1] > 200 && p[0] < 40 && p[2] < 40;
    assert.equal(await page.$eval('#RadioGroup2 input:checked', (e) => e.value), '2');
    let { image } = await previewPixels(page);
    assert.equal(count(image, green), 0);
    await setCells(page, 'StringGrid2', [[1, 0, '0'], [1, 1, '255'], [1, 2, '0'], [1, 3, '60']]);
    await redraw();
    ({ image } = await previewPixels(page));
    assert.ok(count(image, green) > 100, 'the replacement lines are green');
    await click('#RadioGroup2 input[value="0"]');
    await redraw();
    ({ image } = await previewPixels(page));
    assert.equal(count(image, green), 0);

    // Hershey text kept as strokes is another picture than Hershey text set in Arial.
    const arial = await svg();
    await click('#RadioGroup4 input[value="0"]');
    await redraw();
    assert.notEqual(await svg(), arial);
    await click('#RadioGroup4 input[value="1"]');
    await redraw();
    assert.equal(await svg(), arial);
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('the preview zooms about the pointer, pans by dragging and shows the whole picture again', async () => {
  const { page, errors, close } = await openPage();
  try {
    await dropExample(page, 'graph.g');
    const rect = () => page.$eval('#preview', (img) => {
      const r = img.getBoundingClientRect();
      return { x: r.x, y: r.y, w: r.width, h: r.height };
    });
    const whole = await rect();
    const at = { x: whole.x + whole.w * 0.25, y: whole.y + whole.h * 0.75 };
    // The picture point under the pointer, as a fraction of the picture.
    const under = (r) => [(at.x - r.x) / r.w, (at.y - r.y) / r.h];
    await page.mouse.move(at.x, at.y);
    await page.mouse.wheel({ deltaY: -100 });
    await page.waitForFunction((w) => document.getElementById('preview').getBoundingClientRect().width > w * 1.1, POLL, whole.w);
    const zoomed = await rect();
    assert.ok(Math.abs(zoomed.w / whole.w - 1.25) < 0.01, `${zoomed.w} after ${whole.w}`);
    under(zoomed).forEach((v, i) => assert.ok(Math.abs(v - under(whole)[i]) < 0.01, `${v} for ${under(whole)[i]}`));

    await page.mouse.down();
    await page.mouse.move(at.x + 40, at.y - 30, { steps: 4 });
    await page.mouse.up();
    const moved = await rect();
    assert.ok(Math.abs(moved.x - zoomed.x - 40) < 1 && Math.abs(moved.y - zoomed.y + 30) < 1, JSON.stringify(moved));

    await page.keyboard.press('0');
    assert.deepEqual(await rect(), whole);
    await page.keyboard.press('+');
    assert.ok((await rect()).w > whole.w * 1.2);
    await page.mouse.click(at.x, at.y, { clickCount: 2 });
    assert.deepEqual(await rect(), whole);
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('tables dropped with the graph file are the ones discovery loads', async () => {
  const { page, errors, close } = await openPage();
  try {
    const demo = await fs.readFile(path.join(site, 'tables', 'tone-demo.ktc'), 'utf8');
    const mine = 'color\nno.   r   g   b\n  0 255   0   0\n120 255   0   0\n\n';
    assert.notEqual(demo, mine);
    const lines = await whileRunning(page, () => drop(page, [
      { name: 'graph.g', url: 'examples/graph.g' }, { name: 'tone-demo.ktc', text: mine },
    ]));
    assert.ok(lines.includes('find color table.'), lines.join('\n'));
    const tone = await gridCells(page, 'StringGrid1');
    assert.deepEqual(tone.slice(1, 4), [['  0', '255', '  0', '  0'], ['120', '255', '  0', '  0'], ['', '', '', '']]);
    const { image } = await previewPixels(page);
    assert.ok(count(image, (p) => p[0] > 240 && p[1] < 25 && p[2] < 25) > 500);
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('Save writes the grid as a table file, and Load shows it again', async (t) => {
  const { page, context, errors, close } = await openPage();
  const downloads = await downloadsInto(page, context);
  try {
    const cases = [
      { kind: 'tone', grid: 'StringGrid1', save: '#tone_save', load: '#OpenDialog2', file: 'tone-default.ktc',
        edit: [[1, 1, '  7'], [1, 2, ' 77'], [2, 3, ' -1']] },
      { kind: 'line', grid: 'StringGrid3', save: '#pen_save', load: '#OpenDialog3', file: 'line-default.klc',
        edit: [[4, 1, '  9'], [31, 3, '123']] },
    ];
    for (const c of cases) {
      await t.test(c.kind, async () => {
        await setCells(page, c.grid, c.edit);
        const edited = await gridCells(page, c.grid);
        const bytes = await downloads.take(c.save, c.file);
        const text = bytes.toString('utf8');
        assert.match(text, /^color\r?\nno\. {3}r {3}g {3}b\r?\n/);
        const rows = text.split(/\r?\n/).slice(2);
        const count = c.kind === 'tone' ? edited.slice(1).findIndex((r) => r[0] === '') : 31;
        assert.equal(rows.length, count + 2, 'the rows, an empty line and the end');
        assert.deepEqual(rows.slice(count), ['', '']);
        // The saved rows carry the cells' numbers.
        rows.slice(0, count).forEach((row, i) => {
          assert.deepEqual(row.trim().split(/\s+/).map(Number), edited[i + 1].map(Number), `row ${i + 1}`);
        });
        // Other values in the grid, then the saved file loaded back.
        await setCells(page, c.grid, c.edit.map(([r, col]) => [r, col, '5']));
        const file = path.join(downloads.dir, `back-${c.file}`);
        await fs.writeFile(file, bytes);
        const lines = (await logLines(page)).length;
        await (await page.$(c.load)).uploadFile(file);
        await page.waitForFunction((id, want) => document.querySelector(`#${id} input[data-row="${want[0]}"][data-col="${want[1]}"]`).value === want[2],
                                   POLL, c.grid, c.edit[0]);
        assert.deepEqual(await gridCells(page, c.grid), edited);
        const added = (await logLines(page)).slice(lines);
        assert.ok(added.some((l) => l.includes(`back-${c.file}`)), added.join('\n'));
      });
    }
    assert.deepEqual(errors, []);
  } finally {
    await downloads.remove();
    await close();
  }
});

test('what the page draws after edits is what plotmint-convert draws with the grids\' tables and the settings', async () => {
  const { page, context, errors, close } = await openPage();
  const downloads = await downloadsInto(page, context);
  try {
    await dropExample(page, 'graph.g');
    await setCells(page, 'StringGrid1', [[2, 0, ' 40'], [2, 1, ' 10'], [2, 2, '200'], [2, 3, ' 30']]);
    await setCells(page, 'StringGrid3', [[3, 1, '  0'], [3, 2, '128'], [3, 3, '  0']]);
    await setCells(page, 'StringGrid4', [[1, 0, ' 10'], [1, 4, ' 44']]);
    await setCells(page, 'StringGrid2', [[1, 0, ' 90'], [1, 3, '  3']]);
    await page.$eval('#RadioGroup2 input[value="1"]', (e) => e.click());
    await page.$eval('#RadioGroup4 input[value="2"]', (e) => e.click());
    const lines = await whileRunning(page, () => page.click('#Draw'));
    const emf = await downloads.take('#save_emf', 'graph.emf');
    const tone = await downloads.take('#tone_save', 'tone-demo.ktc');
    const line = await downloads.take('#pen_save', 'line-demo.klc');
    const graph = await fs.readFile(path.join(site, 'examples', 'graph.g'));
    const native = await runNative('graph.g', graph, {
      tone, line, discovery: false, widths: [10, 16, 20, 24, 44], vhline: 1, vhlinePen: [90, 200, 200, 3], hershey: 2,
    }, await bundledTables());
    assert.equal(native.status, 0, native.log.join('\n'));
    assert.ok(emf.equals(native.emf), `the page's graph.emf (${emf.length} bytes) is not the converter's (${native.emf.length})`);
    // The run's lines are the converter's, but for its reading of the two start-up tables.
    assert.deepEqual(native.log.slice(0, 2), ['open startup/tone.ktc.', 'open startup/line.klc.']);
    assert.deepEqual(lines, native.log.slice(2));
    assert.deepEqual(errors, []);
  } finally {
    await downloads.remove();
    await close();
  }
});

test('a bad table file loaded is reported as the readers report it, and the grid shows what they leave', async (t) => {
  const { page, errors, close } = await openPage();
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'plotmint-tables-'));
  try {
    const before = await gridCells(page, 'StringGrid1');
    const nodes = before.slice(1).findIndex((r) => r[0] === '');
    const cases = [
      { name: 'one.ktc', input: '#OpenDialog2', grid: 'StringGrid1', text: 'color\nno.   r   g   b\n  5  1  2  3\n',
        lines: ['open one.ktc.', 'npoint is too small in color.  npoint = 1'],
        // The node count stays as it was.
        check: (cells) => assert.equal(cells.slice(1).findIndex((r) => r[0] === ''), nodes) },
      { name: 'grey.klc', input: '#OpenDialog3', grid: 'StringGrid3', text: 'grey\nno.   r   g   b\n  1 255 0 0\n',
        lines: ['open grey.klc.', 'color mode |grey| is not correct in color-table.', ''],
        // Every line colour black.
        check: (cells) => assert.ok(cells.slice(1).every((r) => r.slice(1).every((c) => c === '  0'))) },
    ];
    for (const c of cases) {
      await t.test(c.name, async () => {
        const file = path.join(dir, c.name);
        await fs.writeFile(file, c.text);
        const lines = (await logLines(page)).length;
        await (await page.$(c.input)).uploadFile(file);
        await page.waitForFunction((n, want) => document.getElementById('Memo1').value.split('\n').length >= n + want,
                                   POLL, lines, c.lines.length);
        assert.deepEqual((await logLines(page)).slice(lines), c.lines);
        c.check(await gridCells(page, c.grid));
      });
    }
    assert.deepEqual(errors, []);
  } finally {
    await fs.rm(dir, { recursive: true, force: true });
    await close();
  }
});

test('downloads give the run\'s EMF and SVG and a PNG of the picture; the clipboard gets the picture', async (t) => {
  const { page, context, errors, close } = await openPage();
  const downloads = await downloadsInto(page, context);
  try {
    // Before any picture there is nothing to copy.
    await page.click('#Copy_to_clip');
    assert.equal((await logLines(page)).at(-1), 'クリップボードへコピーするデータがありません');
    assert.equal(await page.$eval('#save_emf', (b) => b.disabled), true);

    await dropExample(page, 'graph.g');
    const picture = await page.evaluate(() => ({
      emf: [...globalThis.plotmintPage.picture.emf], svg: globalThis.plotmintPage.picture.svg,
    }));
    const emf = await downloads.take('#save_emf', 'graph.emf');
    assert.deepEqual([...emf], picture.emf);
    // An EMF: its header record first, the signature " EMF", and its own length in it.
    assert.equal(emf.readUInt32LE(0), 1);
    assert.equal(emf.toString('latin1', 40, 44), ' EMF');
    assert.equal(emf.readUInt32LE(48), emf.length);
    assert.equal((await logLines(page)).at(-1), 'graph.emf に保存しました');

    const svg = await downloads.take('#save_svg', 'graph.svg');
    assert.equal(svg.toString('utf8'), picture.svg);

    const png = decodePng(await downloads.take('#save_png', 'graph.png'));
    // 2000 pixels on the longest side, in the picture's shape.
    const size = await page.evaluate(() => globalThis.plotmintPage.picture.size);
    assert.equal(Math.max(png.width, png.height), 2000);
    assert.ok(Math.abs(png.width / png.height - size.width / size.height) < 0.002,
              `${png.width}x${png.height} for ${JSON.stringify(size)}`);
    assert.ok(count(png, (p) => !isWhite(p)) > 1000, 'the PNG has the drawing');
    assert.ok(isWhite(png.pixel(0, 0)), 'on white');

    await context.overridePermissions(server.url.replace(/\/$/, ''), ['clipboard-read', 'clipboard-write',
                                                                       'clipboard-sanitized-write']);
    await page.bringToFront();
    await page.click('#Copy_to_clip');
    await page.waitForFunction(() => /クリップボードへコピー/.test(globalThis.plotmintPage.logLines.at(-1)), POLL);
    assert.equal((await logLines(page)).at(-1), 'クリップボードへコピーしました');
    const clip = await page.evaluate(async () => {
      const [item] = await navigator.clipboard.read();
      const out = { types: item.types };
      const blob = await item.getType('image/png');
      out.png = [...new Uint8Array(await blob.arrayBuffer())];
      if (item.types.includes('image/svg+xml')) out.svg = await (await item.getType('image/svg+xml')).text();
      return out;
    });
    t.diagnostic(`clipboard: ${clip.types.join(', ')}`);
    const copied = decodePng(Buffer.from(clip.png));
    assert.equal(copied.width, png.width);
    assert.ok(count(copied, (p) => !isWhite(p)) > 1000);
    if (clip.svg !== undefined) assert.match(clip.svg, /<svg[\s>]/);
    assert.deepEqual(errors, []);
  } finally {
    await downloads.remove();
    await close();
  }
});

test('captions are Japanese for a Japanese browser and English otherwise; the panel colour follows its grid', async (t) => {
  const cases = [
    { locale: 'ja-JP', lang: 'ja', File: 'ファイルを選ぶ', Draw: '再描画', Label4: '塗りつぶしの色', legend: 'Vline Hline の扱い' },
    { locale: 'en-US', lang: 'en', File: 'Choose file', Draw: 'Redraw', Label4: 'Fill colours', legend: 'Vline Hline as' },
    { locale: 'de-DE', lang: 'en', File: 'Choose file', Draw: 'Redraw', Label4: 'Fill colours', legend: 'Vline Hline as' },
  ];
  for (const c of cases) {
    await t.test(c.locale, async () => {
      const { page, errors, close } = await openPage({ locale: c.locale });
      try {
        assert.equal(await page.evaluate(() => navigator.language), c.locale);
        assert.equal(await page.$eval('html', (h) => h.lang), c.lang);
        for (const id of ['File', 'Draw', 'Label4']) assert.equal(await page.$eval(`#${id}`, (e) => e.textContent), c[id]);
        assert.equal(await page.$eval('#RadioGroup2 legend', (e) => e.textContent), c.legend);
        // Enter in the panel colour grid applies it; out of range gives the button colour.
        await setCells(page, 'StringGrid5', [[1, 0, '0'], [1, 1, '0'], [1, 2, '255']]);
        await page.focus('#StringGrid5 input[data-row="1"][data-col="2"]');
        await page.keyboard.press('Enter');
        assert.equal((await logLines(page)).at(-1), 'RGB : 0  0  255');
        assert.equal(await page.$eval('#Panel1', (p) => getComputedStyle(p).backgroundColor), 'rgb(0, 0, 255)');
        const lines = (await logLines(page)).length;
        await setCells(page, 'StringGrid5', [[1, 0, '256']]);
        await page.keyboard.press('Enter');
        assert.equal((await logLines(page)).length, lines);
        assert.notEqual(await page.$eval('#Panel1', (p) => getComputedStyle(p).backgroundColor), 'rgb(0, 0, 255)');
        await fs.mkdir(outDir, { recursive: true });
        if (c.locale === 'ja-JP') await fs.writeFile(path.join(outDir, 'page-ja.png'), await page.screenshot());
        assert.deepEqual(errors, []);
      } finally {
        await close();
      }
    });
  }
});

test('the page answers while a large graph file is converted, and shows how far the run is', async (t) => {
  const { page, errors, close } = await openPage();
  try {
    // 100 MB of moves after a short drawing: many records to read in every pass, little to draw.
    const result = await page.evaluate(async () => {
      const head = '6 1 0\n5 0 3\n3 500 500\n2 4500 7000\n';
      const chunk = '3 1000 1000\n'.repeat(1 << 16);
      const parts = [head];
      for (let i = 0; i < 128; i++) parts.push(chunk);
      parts.push('-999 0 0\n');
      const file = new File(parts, 'large.g');
      const ticks = [];
      let progressSeen = 0;
      const bar = [];
      const timer = setInterval(() => {
        ticks.push(performance.now());
        const b = document.getElementById('run_progress');
        if (!b.hidden) {
          progressSeen++;
          bar.push(b.value / b.max);
        }
      }, 20);
      const t0 = performance.now();
      const runs = Number(document.getElementById('Form1').dataset.runs ?? 0);
      const dt = new DataTransfer();
      dt.items.add(file);
      document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
      // Clicks during the run are answered at once.
      let clicks = 0;
      const count = () => { clicks++; };
      document.getElementById('Memo1').addEventListener('click', count);
      while (Number(document.getElementById('Form1').dataset.runs ?? 0) === runs) {
        document.getElementById('Memo1').click();
        await new Promise((r) => setTimeout(r, 50));
      }
      clearInterval(timer);
      let gap = 0, at = 0;
      for (let i = 1; i < ticks.length; i++) {
        if (ticks[i] - ticks[i - 1] > gap) { gap = ticks[i] - ticks[i - 1]; at = ticks[i - 1] - t0; }
      }
      return { ms: performance.now() - t0, gap, at, ticks: ticks.length, progressSeen, clicks, size: file.size, bar };
    });
    t.diagnostic(`${result.size} bytes in ${Math.round(result.ms)} ms; longest pause ${Math.round(result.gap)} ms at ${Math.round(result.at)} ms`);
    const lines = await logLines(page);
    assert.equal(lines.at(-1), 'draw finished.', lines.slice(-8).join('\n'));
    assert.ok(result.size > 100e6);
    assert.ok(result.ms > 500, `the run took ${Math.round(result.ms)} ms, too short to tell`);
    assert.ok(result.gap < 400, `the page stood still for ${Math.round(result.gap)} ms`);
    assert.ok(result.progressSeen > 0, 'the progress bar showed');
    // One bar over the whole run: it only moves forward, and gets well past the middle.
    for (let i = 1; i < result.bar.length; i++) assert.ok(result.bar[i] >= result.bar[i - 1], `bar ${result.bar.join(' ')}`);
    assert.ok(Math.max(...result.bar) > 0.6, `bar ${result.bar.join(' ')}`);
    assert.ok(result.clicks >= Math.floor(result.ms / 100), `${result.clicks} clicks answered in ${Math.round(result.ms)} ms`);
    assert.equal(await page.$eval('#run_progress', (b) => b.hidden), true, 'the bar goes when the run ends');
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});

test('a page whose engine cannot load says so in the log and offers nothing to run', async () => {
  // The site without its WebAssembly module.
  const broken = await fs.mkdtemp(path.join(os.tmpdir(), 'plotmint-broken-site-'));
  await fs.cp(site, broken, { recursive: true, filter: (f) => !f.endsWith('.wasm') });
  const brokenServer = await startServer(broken);
  const context = await browser.createBrowserContext();
  try {
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(String(e)));
    await page.goto(brokenServer.url, { waitUntil: 'load', timeout: 30_000 });
    await page.waitForFunction(() => document.getElementById('Form1').dataset.state, { ...POLL, timeout: 60_000 });
    assert.equal(await page.$eval('#Form1', (f) => f.dataset.state), 'failed');
    assert.match((await logLines(page)).at(-1), /plotmint-core\.wasm/);
    for (const id of ['Draw', 'Copy_to_clip', 'tone_save', 'OpenDialog1', 'Edit1', 'examples'])
      assert.equal(await page.$eval(`#${id}`, (e) => e.disabled), true, id);
    assert.deepEqual(errors, []);
  } finally {
    await context.close();
    await brokenServer.close();
    await fs.rm(broken, { recursive: true, force: true });
  }
});

test('the screenshot for the README: an example drawn at 1280x800', async () => {
  const { page, errors, close } = await openPage();
  try {
    await dropExample(page, 'graph.g');
    await page.evaluate(() => document.activeElement?.blur());
    const png = Buffer.from(await page.screenshot({ type: 'png' }));
    const image = decodePng(png);
    assert.equal(image.width, 1280);
    assert.equal(image.height, 800);
    await fs.mkdir(outDir, { recursive: true });
    await fs.writeFile(path.join(outDir, 'web-page.png'), png);
    assert.ok(png.length < 300_000, `${png.length} bytes`);
    // The README's copy is renewed when the page looks different, not for the odd pixel a
    // button's edge may round to otherwise.
    let same = false;
    try {
      const old = decodePng(await fs.readFile(screenshotPath));
      same = old.width === image.width && old.height === image.height &&
        count(image, (p, x, y) => old.pixel(x, y).some((v, i) => v !== p[i])) < image.width * image.height / 1000;
    } catch { /* none yet, or not a PNG this reader reads */ }
    if (!same) await fs.writeFile(screenshotPath, png);
    assert.deepEqual(errors, []);
  } finally {
    await close();
  }
});
