// Converts one large graph file through the engine's worker in chromium, as the page does
// with a dropped file (a File from a file input, read lazily through WORKERFS), and reports
// the time and memory: the module's memory (wasm heap), the worker's JavaScript heap and the
// renderer processes' resident memory, before, during (sampled) and after.
//
//   node measure-large.mjs GRAPH_FILE [SITE_DIR]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs/promises';
import path from 'node:path';
import { startServer } from './server.mjs';
import { launchBrowser } from './browser.mjs';
import { site as defaultSite } from './engine-harness.mjs';

const [graphFile, siteDir = defaultSite] = process.argv.slice(2);
if (!graphFile) {
  console.error('usage: node measure-large.mjs GRAPH_FILE [SITE_DIR]');
  process.exit(2);
}
const mb = (n) => (n / 1048576).toFixed(1);

// Resident memory of chromium's renderer processes (the page and its worker run in one).
function rendererRss(browserPid) {
  const out = execFileSync('ps', ['-e', '-o', 'pid=,ppid=,rss=,args='], { encoding: 'utf8' });
  const rows = out.trim().split('\n').map((l) => {
    const m = l.trim().match(/^(\d+)\s+(\d+)\s+(\d+)\s+(.*)$/);
    return { pid: +m[1], ppid: +m[2], rss: +m[3] * 1024, args: m[4] };
  });
  const family = new Set([browserPid]);
  let grown = true;
  while (grown) {
    grown = false;
    for (const r of rows) if (!family.has(r.pid) && family.has(r.ppid)) { family.add(r.pid); grown = true; }
  }
  return rows.filter((r) => family.has(r.pid) && r.args.includes('--type=renderer')).reduce((s, r) => s + r.rss, 0);
}

const size = (await fs.stat(graphFile)).size;
const server = await startServer(siteDir);
const { browser, close } = await launchBrowser();
try {
  const page = await browser.newPage();
  const workerTarget = new Promise((resolve) => page.once('workercreated', resolve));
  await page.goto(server.url + 'plotmint.js', { waitUntil: 'load' });
  await page.evaluate(() => {
    const input = document.createElement('input');
    input.type = 'file';
    input.id = 'graph';
    document.body.appendChild(input);
    window.worker = new Worker('worker.js');
    window.progress = [];
    window.ready = new Promise((resolve) => {
      window.worker.onmessage = (e) => {
        const m = e.data;
        if (m.type === 'ready') resolve();
        else if (m.type === 'progress') window.progress.push(m);
        else if (window.answer) window.answer(m);
      };
    });
  });
  const worker = await workerTarget;
  await page.evaluate(() => window.ready);
  const input = await page.$('#graph');
  await input.uploadFile(path.resolve(graphFile));
  const pid = browser.process().pid;
  const jsHeap = async () => (await worker.client.send('Runtime.getHeapUsage')).usedSize;
  const memory = async () => page.evaluate(() => new Promise((resolve) => {
    window.answer = (m) => resolve(m.result);
    window.worker.postMessage({ id: 0, type: 'memory' });
  }));

  const before = { wasm: (await memory()).heapBytes, js: await jsHeap(), rss: rendererRss(pid) };
  const samples = [];
  let running = true;
  const sampler = (async () => {
    while (running) {
      samples.push({ js: await jsHeap().catch(() => NaN), rss: rendererRss(pid) });
      await new Promise((r) => setTimeout(r, 250));
    }
  })();
  const t0 = performance.now();
  const result = await page.evaluate(() => new Promise((resolve) => {
    window.answer = (m) => resolve({
      type: m.type, message: m.message, status: m.result && m.result.status,
      emfBytes: m.result && m.result.emf ? m.result.emf.length : 0, log: m.result && m.result.log,
      heapBytes: m.result && m.result.heapBytes,
    });
    window.worker.postMessage({ id: 1, type: 'convert', graph: document.getElementById('graph').files[0],
                                options: { svg: false } });
  }));
  const seconds = (performance.now() - t0) / 1000;
  running = false;
  await sampler;
  const progress = await page.evaluate(() => window.progress);
  // The page drops the result, and both collect their garbage, before the last look.
  await page.evaluate(() => { window.answer = null; });
  await worker.client.send('HeapProfiler.collectGarbage');
  await page.target().createCDPSession().then((s) => s.send('HeapProfiler.collectGarbage'));
  await new Promise((r) => setTimeout(r, 1000));
  const after = { wasm: (await memory()).heapBytes, js: await jsHeap(), rss: rendererRss(pid) };

  const peak = (k) => Math.max(...samples.map((s) => s[k]).filter(Number.isFinite));
  const wasmDuring = progress.map((p) => p.heapBytes);
  console.log(`graph file: ${mb(size)} MB; status ${result.status}; graph.emf ${mb(result.emfBytes)} MB; ${seconds.toFixed(1)} s`);
  console.log(`passes: ${[...new Set(progress.map((p) => p.pass))].join(', ')} (${progress.length} progress messages)`);
  console.log(`wasm heap: before ${mb(before.wasm)} MB, during ${mb(Math.min(...wasmDuring))}..${mb(Math.max(...wasmDuring))} MB, after ${mb(after.wasm)} MB`);
  console.log(`worker JS heap: before ${mb(before.js)} MB, peak during ${mb(peak('js'))} MB, after ${mb(after.js)} MB`);
  console.log(`renderer RSS: before ${mb(before.rss)} MB, peak during ${mb(peak('rss'))} MB, after ${mb(after.rss)} MB`);
  if (result.type !== 'result') console.log(`error: ${result.message}`);
  console.log('log:', (result.log ?? []).join(' | '));
} finally {
  await close();
  await server.close();
}
