// The engine through its Web Worker in chromium against the native plotmint-convert: for the
// same graph file, tables and options, the same graph.emf bytes, log lines and status.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { startServer } from './server.mjs';
import { launchBrowser } from './browser.mjs';
import {
  repo, site, nativeConvert, requireBuilt, bundledTables, runNative, openWorkerPage,
} from './engine-harness.mjs';

let server;
let browser;
let worker;
let tables;

before(async () => {
  requireBuilt();
  tables = await bundledTables();
  server = await startServer(site);
  browser = await launchBrowser();
  worker = await openWorkerPage(browser.browser, server.url);
});
after(async () => {
  await worker?.close();
  await browser?.close();
  await server?.close();
});

// `name` is the File's name for a File, options.name for bytes.
async function convert(name, bytes, options = {}, as = 'bytes') {
  const opts = as === 'bytes' && name !== undefined ? { ...options, name } : options;
  const r = await worker.call({ type: 'convert', options: opts }, { bytes, as, name });
  assert.equal(r.type, 'result', r.message);
  return r;
}

function assertSameAsNative(web, native) {
  assert.deepEqual(web.log, native.log);
  assert.equal(web.status, native.status);
  if (native.emf === null) {
    assert.equal(web.emf, null);
  } else {
    assert.ok(web.emf, 'the engine wrote no graph.emf');
    assert.equal(web.emfType, '[object Uint8Array]');
    assert.equal(web.emf.length, native.emf.length);
    assert.ok(Buffer.compare(web.emf, native.emf) === 0, 'graph.emf differs from the converter\'s');
  }
  // A status line of a terminal would carry carriage returns or escapes.
  for (const line of web.log) assert.doesNotMatch(line, /[\r\x1b]/);
}

async function graphFiles() {
  const files = [];
  // tests/web/data: Hershey blocks with scripts at 90 degrees whose runs the browser once
  // drew a pixel off (binary128 long double), from tools/gen_hershey_scripts.py.
  for (const dir of ['examples', path.join('tests', 'data', 'graphs'), path.join('tests', 'web', 'data')]) {
    for (const f of (await fs.readdir(path.join(repo, dir))).sort()) {
      if (f.endsWith('.g')) files.push({ name: f, bytes: await fs.readFile(path.join(repo, dir, f)) });
    }
  }
  return files;
}

test('every example, edge and Hershey-script graph file in every Hershey mode: the converter\'s bytes, log and status', async (t) => {
  const files = await graphFiles();
  assert.ok(files.length >= 4);
  for (const { name, bytes } of files) {
    for (const hershey of [0, 1, 2]) {
      await t.test(`${name} --hershey ${hershey}`, async () => {
        const options = { hershey };
        const web = await convert(name, bytes, options);
        const native = await runNative(name, bytes, options, tables);
        assertSameAsNative(web.result, native);
        // Any picture written, an abandoned one's too, comes as an SVG as well.
        if (native.emf) assert.match(web.result.svg ?? '', /^(<\?xml|<svg)/, web.result.svgError);
      });
    }
  }
});

test('options and tables reach the run as the converter\'s options do', async (t) => {
  const graph = await fs.readFile(path.join(repo, 'examples', 'graph.g'));
  const demoTone = tables['tone-demo.ktc'];
  const demoLine = tables['line-demo.klc'];
  const cases = [
    { what: 'segments for line blocks', options: { vhline: 0 } },
    { what: 'dotted line blocks', options: { vhline: 1, hershey: 2 } },
    { what: 'a pen of its own', options: { vhlinePen: [10, 20, 30, 3] } },
    { what: 'other widths and margin', options: { widths: [1, 2, 3, 4, 40] } },
    { what: 'another display', options: { display: [300, 200, 1280, 720] } },
    { what: 'no discovery', options: { discovery: false } },
    { what: 'start-up tables given', options: { tone: demoTone, line: demoLine, discovery: false } },
    { what: 'an empty table folder', options: { tables: {} } },
    { what: 'a table folder of the page\'s own', options: {
      tables: { ...tables, 'tone-demo.ktc': new TextEncoder().encode('color\nno. r g b\n0 0 0 255\n100 255 0 0\n\n') },
    } },
    { what: 'a broken start-up tone table', options: { tone: new TextEncoder().encode('nonsense\n') } },
  ];
  for (const c of cases) {
    await t.test(c.what, async () => {
      const web = await convert('graph.g', graph, c.options);
      const native = await runNative('graph.g', graph, c.options, tables);
      assertSameAsNative(web.result, native);
    });
  }
});

test('inputs that are not drawings fail as the converter fails', async (t) => {
  const cases = [
    { what: 'an empty file', name: 'empty.g', bytes: Buffer.alloc(0) },
    { what: 'text that is no graph file', name: 'notes.g', bytes: Buffer.from('hello world\n') },
    { what: 'junk after records', name: 'tail.g', bytes: Buffer.from('3 10 10\n2 200 200\nxyz\n') },
    { what: 'a graph file named graph.emf', name: 'graph.emf', bytes: Buffer.from('3 10 10\n2 200 200\n') },
    // Every sign code, some of which the layout reports on standard error as it goes.
    { what: 'a Hershey block of every sign code', name: 'signs.g', bytes: Buffer.from(
      `3 0 0\n2 3000 3000\n10 100 1000\n0 80 0\n${Array.from({ length: 100 }, (_, i) => `20 ${i} 0\n`).join('')}13 0 0\n`) },
    { what: 'a name in UTF-8 with spaces', name: 'グラフ 1.g', bytes: Buffer.from('3 10 10\n2 200 200\n') },
  ];
  for (const c of cases) {
    await t.test(c.what, async () => {
      const web = await convert(c.name, c.bytes);
      const native = await runNative(c.name, c.bytes, {}, tables);
      assertSameAsNative(web.result, native);
    });
  }
});

test('a graph file that is not there fails as the converter fails on a missing name', async () => {
  const r = await worker.call({ type: 'convert', options: { name: 'missing.g' } }, null);
  assert.equal(r.type, 'result', r.message);
  const native = await runNative('missing.g', null, {}, tables);
  assertSameAsNative(r.result, native);
  assert.equal(r.result.status, 1);
  assert.equal(r.result.extent, null);
});

test('the start-up tables\' lines, the extent and the place come apart from the log', async () => {
  const graph = await fs.readFile(path.join(repo, 'examples', 'graph.g'));
  const r = (await convert('graph.g', graph, { tone: tables['tone-demo.ktc'] })).result;
  assert.deepEqual(r.startLog, ['open startup/tone.ktc.', 'open tables/line-default.klc.']);
  assert.equal(r.startLines, 2);
  assert.deepEqual(r.log.slice(0, 2), r.startLog);
  // The extent is the one the log reports.
  const logged = Object.fromEntries(r.log.map((l) => l.match(/^(xmin|xmax|ymin|ymax) : (-?\d+)$/))
    .filter(Boolean).map((m) => [m[1], Number(m[2])]));
  assert.deepEqual(r.extent, logged);
  // The window's preview rectangle of a 5240 x 7860 box: x as is, y turned over.
  assert.deepEqual(r.place, { left: logged.xmin, top: 7860 - logged.ymax, right: logged.xmax, bottom: 7860 - logged.ymin });
});

test('the defaults are the converter\'s', async () => {
  const d = worker.defaults;
  const help = spawnSync(nativeConvert, ['--help'], { encoding: 'utf8' }).stdout;
  const listed = (what) => help.match(new RegExp(`${what}[^(]*\\(default: (\\d+(?:,\\d+)*)`))[1].split(',').map(Number);
  assert.deepEqual(d.widths, listed('--widths'));
  assert.deepEqual(d.vhlinePen, listed('--vhline-pen R,G,B,W'));
  assert.deepEqual(d.display, listed('--display HMM'));
  assert.deepEqual([d.vhline], listed('--vhline N'));
  assert.deepEqual([d.hershey], listed('--hershey N'));
  assert.equal(d.discovery, true);
});

test('a File and a Blob are read through WORKERFS to the same result as bytes', async () => {
  const graph = await fs.readFile(path.join(repo, 'examples', 'graph.g'));
  const bytes = await convert('graph.g', graph, { hershey: 2 });
  const file = await convert('graph.g', graph, { hershey: 2 }, 'file');
  const blob = await convert(undefined, graph, { hershey: 2, name: 'graph.g' }, 'blob');
  for (const r of [file, blob]) {
    assert.deepEqual(r.result.log, bytes.result.log);
    assert.ok(Buffer.compare(r.result.emf, bytes.result.emf) === 0);
  }
  // The File's own name is the one logged.
  const named = await convert('other name.g', graph, {}, 'file');
  assert.equal(named.result.log.filter((l) => l === 'open other name.g.').length, 1);
});

test('the tables discovery loaded come back as rows and files the table readers and writers agree on', async () => {
  const graph = await fs.readFile(path.join(repo, 'examples', 'graph.g'));
  const r = (await convert('graph.g', graph)).result;
  assert.ok(r.log.includes('open tables/tone-demo.ktc.'), r.log.join('\n'));
  const demo = await worker.call({ type: 'readTable', kind: 'tone', bytes: tables['tone-demo.ktc'], name: 'tone-demo.ktc' });
  assert.equal(demo.type, 'result', demo.message);
  assert.deepEqual(r.tone.rows, demo.result.rows);
  assert.equal(demo.result.ok, true);
  assert.deepEqual(demo.result.log, ['open tone-demo.ktc.']);
  const line = await worker.call({ type: 'readTable', kind: 'line', bytes: tables['line-demo.klc'] });
  assert.deepEqual(r.line.rows, line.result.rows);
  assert.equal(r.line.rows.length, 31);
  for (const [kind, table] of [['tone', r.tone], ['line', r.line]]) {
    const written = await worker.call({ type: 'writeTable', kind, rows: table.rows });
    assert.equal(written.type, 'result', written.message);
    assert.equal(written.result.toString('latin1'), table.text);
    const back = await worker.call({ type: 'readTable', kind, bytes: written.result });
    assert.deepEqual(back.result.rows, table.rows);
  }
  // Cells as the grid holds them: strings are written as typed.
  const typed = await worker.call({ type: 'writeTable', kind: 'tone', rows: [['0', '  0', '0', '255'], [100, 255, 0, 0]] });
  assert.equal(typed.result.toString('latin1'), 'color\nno.   r   g   b\n0   0 0 255\n100 255   0   0\n\n');
  // A failed read gives the nodes it did read, which the window's grid shows.
  const nodes = (n) => Array.from({ length: n }, (_, i) => `${i} ${i} 0 ${2 * i}\n`).join('');
  const failed = [
    { what: 'no node', text: 'color\n\n', rows: 0, log: ['open tone.ktc.', 'npoint is too small in color.  npoint = 0'] },
    { what: 'one node', text: `color\nno. r g b\n${nodes(1)}\n`, rows: 1,
      log: ['open tone.ktc.', 'npoint is too small in color.  npoint = 1'] },
    { what: 'too many nodes', text: `color\nno. r g b\n${nodes(122)}\n`, rows: 121,
      log: ['open tone.ktc.', 'number of node is too large. npoint = 122', ''] },
  ];
  for (const f of failed) {
    const r = await worker.call({ type: 'readTable', kind: 'tone', bytes: Buffer.from(f.text) });
    assert.equal(r.result.ok, false, f.what);
    assert.deepEqual(r.result.log, f.log, f.what);
    assert.deepEqual(r.result.rows, Array.from({ length: f.rows }, (_, i) => [i, i, 0, 2 * i]), f.what);
  }
});

test('progress comes pass by pass while a large file converts, and the log has no status line', async () => {
  // About 6 MB: long enough for progress within the passes.
  const rows = [];
  for (let i = 0; i < 60000; i++) rows.push(`3 ${i % 5000} ${(i * 7) % 7000}\n2 ${(i * 13) % 5000} ${(i * 3) % 7000}\n`);
  const body = rows.join('');
  const graph = Buffer.from(body.repeat(Math.ceil(6e6 / body.length)));
  const web = await convert('big.g', graph, {}, 'file');
  const native = await runNative('big.g', graph, {}, tables);
  assertSameAsNative(web.result, native);
  const passes = web.progress.map((p) => p.pass);
  const order = ['extent', 'fills', 'vertical and horizontal lines', 'lines and text',
                 'Hershey text', 'checking the metafile'];
  const seen = [...new Set(passes)];
  assert.deepEqual(seen, order.filter((p) => seen.includes(p)));
  assert.ok(seen.includes('extent') && seen.includes('lines and text') && seen.at(-1) === 'checking the metafile');
  for (const p of web.progress) {
    assert.ok(p.done <= p.total, `${p.pass}: ${p.done} of ${p.total}`);
    if (p.pass !== 'checking the metafile') assert.equal(p.total, graph.length);
  }
  assert.ok(web.progress.some((p) => p.pass === 'lines and text' && p.done > 0 && p.done < p.total));
});

test('options the converter would refuse are refused, and the engine goes on', async (t) => {
  const graph = Buffer.from('3 10 10\n2 200 200\n');
  const cases = [
    { what: 'display of 0', options: { display: [527, 0, 1920, 1080] }, message: /display/ },
    { what: 'hershey 3', options: { hershey: 3 }, message: /hershey/ },
    { what: 'four widths', options: { widths: [1, 2, 3, 4] }, message: /widths/ },
    { what: 'a fractional pen', options: { vhlinePen: [1, 2, 3, 0.5] }, message: /vhlinePen/ },
    { what: 'a name with a folder', options: { name: 'a/b.g' }, message: /name/ },
    { what: 'the tables folder\'s name', options: { name: 'tables' }, message: /name/ },
  ];
  for (const c of cases) {
    await t.test(c.what, async () => {
      const r = await worker.call({ type: 'convert', options: c.options }, { bytes: graph, as: 'bytes', name: c.options.name });
      assert.equal(r.type, 'error');
      assert.match(r.message, c.message);
    });
  }
  const ok = await convert('ok.g', graph);
  assert.equal(ok.result.status, 0);
  assert.deepEqual(worker.errors, []);
});
