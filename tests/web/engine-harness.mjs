// What the engine tests share: the native converter run the way the engine runs it (a
// folder holding the graph file, tables/ and startup/), and a page of the built site
// whose Web Worker takes requests from node.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs/promises';
import { existsSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const repo = path.resolve(here, '..', '..');
export const site = process.env.PLOTMINT_WEB_SITE ??
  path.join(process.env.PLOTMINT_WEB_BUILD ?? path.join(repo, 'build-web'), 'site');
export const nativeConvert = process.env.PLOTMINT_CONVERT ?? path.join(repo, 'build', 'bin', 'plotmint-convert');

export function requireBuilt() {
  for (const f of [path.join(site, 'plotmint.js'), path.join(site, 'plotmint-core.wasm'), nativeConvert]) {
    if (!existsSync(f)) throw new Error(`${f} is missing: build the site (scripts/build-web.sh) and the native converter first`);
  }
}

// The converter's options for the engine's options.
export function convertArgs(options = {}) {
  const args = ['--table-dir', 'tables'];
  if (options.tone) args.push('--tone', 'startup/tone.ktc');
  if (options.line) args.push('--line', 'startup/line.klc');
  if (options.discovery === false) args.push('--no-discovery');
  if (options.widths) args.push('--widths', options.widths.join(','));
  if (options.vhline !== undefined) args.push('--vhline', String(options.vhline));
  if (options.vhlinePen) args.push('--vhline-pen', options.vhlinePen.join(','));
  if (options.hershey !== undefined) args.push('--hershey', String(options.hershey));
  if (options.display) args.push('--display', options.display.join(','));
  return args;
}

export async function bundledTables() {
  const names = JSON.parse(await fs.readFile(path.join(site, 'tables', 'index.json'), 'utf8'));
  const tables = {};
  for (const n of names) tables[n] = new Uint8Array(await fs.readFile(path.join(site, 'tables', n)));
  return tables;
}

function splitLines(text) {
  if (text === '') return [];
  const lines = text.split('\n');
  if (lines[lines.length - 1] === '') lines.pop();
  return lines;
}

// { status, log, emf (Buffer | null) } of plotmint-convert in a fresh folder.
export async function runNative(name, graph, options = {}, tables) {
  const dir = await fs.mkdtemp(path.join(os.tmpdir(), 'plotmint-native-'));
  try {
    await fs.mkdir(path.join(dir, 'tables'));
    for (const [n, bytes] of Object.entries(options.tables ?? tables)) await fs.writeFile(path.join(dir, 'tables', n), bytes);
    if (options.tone || options.line) await fs.mkdir(path.join(dir, 'startup'));
    if (options.tone) await fs.writeFile(path.join(dir, 'startup', 'tone.ktc'), options.tone);
    if (options.line) await fs.writeFile(path.join(dir, 'startup', 'line.klc'), options.line);
    if (graph !== null) await fs.writeFile(path.join(dir, name), graph);
    const run = spawnSync(nativeConvert, [...convertArgs(options), name], { cwd: dir, encoding: 'buffer' });
    if (run.error) throw run.error;
    let emf = null;
    try { emf = await fs.readFile(path.join(dir, 'graph.emf')); } catch { /* none written */ }
    return { status: run.status, log: splitLines(new TextDecoder().decode(run.stderr)), emf };
  } finally {
    await fs.rm(dir, { recursive: true, force: true });
  }
}

// Opens a page of the site with the engine's worker in it. Resolves with
// { call(request, graph?), close() }; `graph` goes over as { bytes, as: 'bytes'|'file'|'blob', name }.
export async function openWorkerPage(browser, url) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  // Any page of the site's origin can start its worker; this one is plain text.
  await page.goto(url + 'plotmint.js', { waitUntil: 'load' });
  await page.evaluate(() => new Promise((resolve, reject) => {
    const worker = new Worker('worker.js');
    const pending = new Map();
    let next = 1;
    worker.onmessage = (e) => {
      const m = e.data;
      if (m.type === 'ready') {
        window.engineDefaults = m.defaults;
        return resolve();
      }
      if (m.id === undefined && m.type === 'error') return reject(new Error(m.message));
      const p = pending.get(m.id);
      if (!p) return;
      if (m.type === 'progress') { p.progress.push(m); return; }
      pending.delete(m.id);
      try {
        p.resolve({ type: m.type, result: m.result, message: m.message, progress: p.progress });
      } catch (err) {
        p.resolve({ type: 'harness error', message: String(err), progress: p.progress });
      }
    };
    const b64 = (u8) => {
      let s = '';
      for (let i = 0; i < u8.length; i += 0x8000) s += String.fromCharCode.apply(null, u8.subarray(i, i + 0x8000));
      return btoa(s);
    };
    const fromB64 = (s) => Uint8Array.from(atob(s), (c) => c.charCodeAt(0));
    window.engineCall = (request, graph) => new Promise((res) => {
      const id = next++;
      const msg = { ...request, id };
      if (graph === null) msg.graph = null;
      if (graph) {
        const bytes = fromB64(graph.bytes);
        msg.graph = graph.as === 'file' ? new File([bytes], graph.name)
          : graph.as === 'blob' ? new Blob([bytes]) : bytes;
      }
      if (request.bytes) msg.bytes = fromB64(request.bytes);
      if (request.options) {
        msg.options = { ...request.options };
        for (const k of ['tone', 'line']) if (msg.options[k]) msg.options[k] = fromB64(msg.options[k]);
        if (msg.options.tables) {
          msg.options.tables = Object.fromEntries(Object.entries(msg.options.tables).map(([n, v]) => [n, fromB64(v)]));
        }
      }
      pending.set(id, { resolve: (r) => {
        if (r.result && r.result.emf) {
          // The API promises bytes, not just some typed array.
          r.result.emfType = Object.prototype.toString.call(r.result.emf);
          r.result.emf = b64(new Uint8Array(r.result.emf.buffer, r.result.emf.byteOffset, r.result.emf.byteLength));
        }
        if (r.result instanceof Uint8Array) r.result = { bytes: b64(r.result) };
        res(r);
      }, progress: [] });
      worker.postMessage(msg);
    });
  }));
  const b64 = (bytes) => Buffer.from(bytes).toString('base64');
  const defaults = await page.evaluate(() => window.engineDefaults);
  return {
    page,
    defaults,
    errors,
    // Options may hold Uint8Arrays (tone, line, tables); they travel as base64.
    call: async (request, graph) => {
      const req = { ...request };
      if (req.bytes) req.bytes = b64(req.bytes);
      if (req.options) {
        req.options = { ...req.options };
        for (const k of ['tone', 'line']) if (req.options[k]) req.options[k] = b64(req.options[k]);
        if (req.options.tables) {
          req.options.tables = Object.fromEntries(Object.entries(req.options.tables).map(([n, v]) => [n, b64(v)]));
        }
      }
      const g = graph ? { ...graph, bytes: b64(graph.bytes) } : graph === null ? null : undefined;
      const r = await page.evaluate((q, gr) => window.engineCall(q, gr), req, g);
      if (r.result && typeof r.result.emf === 'string') r.result.emf = Buffer.from(r.result.emf, 'base64');
      if (r.result && typeof r.result.bytes === 'string') r.result = Buffer.from(r.result.bytes, 'base64');
      return r;
    },
    close: () => page.close(),
  };
}
