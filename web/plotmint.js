// Plotmint in the browser: the converter's core as a WebAssembly module, behind a small API.
// A classic script: it defines globalThis.Plotmint in a page, in a Web Worker (importScripts)
// and in node (require), so the page, the worker and the tests share it.
//
//   const pm = await Plotmint.load({ base: './' });   // base: the folder of plotmint-core.wasm
//   const r = pm.convert(graph, options);
//
// graph: a Uint8Array, or in a worker a File or Blob, which is read lazily (WORKERFS), a
// piece at a time as the conversion needs it, and never copied into the module's memory.
//
// options (every field optional; the defaults are plotmint-convert's):
//   name       the graph file's name, as the log names it ("graph.g"; a File's own name
//              when graph is a File). A plain file name: no '/', not "." or "..", nor
//              "tables" or "startup", which the layout below takes.
//   tone       Uint8Array: the start-up tone table's file (default tables/tone-default.ktc)
//   line       Uint8Array: the start-up line colour table's file (default
//              tables/line-default.klc)
//   tables     { "tone-NAME.ktc": Uint8Array, ... }: the table folder discovery looks in
//              (default: the tables bundled with the site, pm.bundledTables)
//   discovery  boolean (true): load the tables the graph file names
//   widths     [a, b, c, d, e] (12,16,20,24,28)    vhline     0|1|2 (2)
//   vhlinePen  [r, g, b, w] (200,200,200,1)        hershey    0|1|2 (1)
//   display    [hmm, vmm, hpx, vpx] (527,296,1920,1080), each above 0
//   svg        boolean (true): also play the picture into an SVG
//   onProgress ({ pass, done, total }) => void: pass is the converter's pass name
//              ("extent", "fills", "vertical and horizontal lines",
//              "lines and text", "Hershey text", "checking the metafile"); done and total
//              count bytes of the graph file (of the metafile for the last one). Told as
//              each pass starts and about every 4 MiB.
// A value out of range throws a RangeError, as plotmint-convert refuses the option.
//
// The run is the one plotmint-convert makes in a folder holding the graph file as NAME, the
// table folder as tables/ and given start-up tables as startup/tone.ktc, startup/line.klc:
//   plotmint-convert --table-dir tables [--tone startup/tone.ktc] [--line startup/line.klc]
//     [--no-discovery] --widths .. --vhline .. --vhline-pen .. --hershey .. --display .. NAME
// so for the same inputs the log, the status and graph.emf are that command's.
//
// graph null: a graph file that is not there (the run says so as the converter does).
//
// r (the result):
//   log     string[]: the converter's standard error, one string a line (no terminal
//           progress line, ever)
//   startLog, startLines  the lines of reading the start-up tables: the first startLines
//           lines of log
//   extent  { xmin, xmax, ymin, ymax } once the run got past the extent scan, else null
//   place   { left, top, right, bottom }: the window's preview rectangle for a box of
//           5240 x 7860 (where the drawing sits in the page), with extent
//   status  0 or 1: the converter's exit status
//   emf     Uint8Array | null: graph.emf as the converter leaves it (an abandoned drawing
//           is written as far as it went, with status 1); null when none was written
//   svg     string | null: the SVG played from graph.emf whenever one was written and read
//           back, an abandoned drawing's too (null without, or with options.svg false);
//           svgError: why it could not be made, or ""
//   tone    { rows: [[tone, r, g, b], ...], text } | null: the tone table the run drew
//           with, after discovery: one row per node in use; text is its .ktc file
//   line    { rows: [[r, g, b], ...31], text } | null: the line colour table (row n is
//           entry n), and its .klc file
//   heapBytes  the module's memory after the run
//
// Tables (the native program's own readers and writers):
//   pm.readTable('tone'|'line', bytes, name?) -> { rows, text, log, ok }
//       reads a table file as the window's show does (log names it `name`, default
//       tone.ktc / line.klc); rows as above; ok: a tone table with at least two nodes, a
//       line table whose colour mode was read. A tone read that fails gives in rows the
//       nodes it did read (none, one, or 121 of a file with too many), which the window's
//       grid takes into its first rows while keeping its node count.
//   pm.writeTable('tone'|'line', rows) -> Uint8Array: the file the window's Save writes.
//       A tone row is [tone, r, g, b], a line row [r, g, b] (entry = its index) or
//       [entry, r, g, b]; a cell is a number (written as the grid shows it, "%3d") or a
//       string (written as typed in the grid).
//   pm.bundledTables  { name: Uint8Array }: the site's tables/ (tables/index.json)
//   pm.defaults       { widths, vhline, vhlinePen, hershey, display, discovery }: the
//                     converter's defaults
//   pm.heapBytes()    the module's memory now
(function (root) {
  'use strict';

  const isNode = typeof process === 'object' && process.versions != null && process.versions.node != null &&
                 typeof window === 'undefined' && typeof importScripts !== 'function';
  const isWorker = typeof importScripts === 'function';

  // Where this script came from, for the module beside it.
  let scriptBase = './';
  if (isNode) {
    scriptBase = __dirname + '/';
  } else if (typeof document !== 'undefined' && document.currentScript && document.currentScript.src) {
    scriptBase = new URL('.', document.currentScript.src).href;
  } else if (isWorker && root.location) {
    scriptBase = new URL('.', root.location.href).href;
  }

  const RESERVED = new Set(['', '.', '..', 'tables', 'startup']);
  const WORK = '/w';
  const INPUT = '/in';
  const OUT = '/out';

  async function readBytes(base, rel) {
    if (isNode) {
      const fs = require('fs');
      const path = require('path');
      return new Uint8Array(fs.readFileSync(path.join(base, rel)));
    }
    const response = await fetch(new URL(rel, new URL(base, root.location ? root.location.href : undefined)).href);
    if (!response.ok) throw new Error(`${rel}: ${response.status} ${response.statusText}`);
    return new Uint8Array(await response.arrayBuffer());
  }

  function loadFactory(base) {
    if (root.PlotmintCore) return Promise.resolve(root.PlotmintCore);
    if (isNode) return Promise.resolve(require(require('path').join(base, 'plotmint-core.js')));
    const url = new URL('plotmint-core.js', new URL(base, root.location.href)).href;
    if (isWorker) {
      importScripts(url);
      return Promise.resolve(root.PlotmintCore);
    }
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = url;
      script.onload = () => resolve(root.PlotmintCore);
      script.onerror = () => reject(new Error(`cannot load ${url}`));
      document.head.appendChild(script);
    });
  }

  function intList(name, value, length) {
    if (!Array.isArray(value) || value.length !== length ||
        !value.every((v) => Number.isInteger(v) && v >= -2147483648 && v <= 2147483647)) {
      throw new RangeError(`${name}: not a list of ${length} whole numbers`);
    }
    return value;
  }

  function choice(name, value) {
    if (value !== 0 && value !== 1 && value !== 2) throw new RangeError(`${name}: ${value} is not 0, 1 or 2`);
    return value;
  }

  function splitLines(text) {
    if (text === '') return [];
    const lines = text.split('\n');
    if (lines[lines.length - 1] === '') lines.pop();
    return lines;
  }

  function cellText(v) {
    if (typeof v === 'number') {
      if (!Number.isInteger(v)) throw new RangeError(`table cell ${v} is not a whole number`);
      return String(v).padStart(3, ' ');
    }
    if (typeof v === 'string') {
      if (/[\x00\x1e\x1f\n\r]/.test(v)) throw new RangeError('a table cell holds a control character');
      return v;
    }
    throw new RangeError('a table cell is neither a number nor a string');
  }

  class Engine {
    constructor(module, bundledTables) {
      this.m = module;
      this.bundledTables = bundledTables;
      this.spent = false;
      this.decoder = new TextDecoder('utf-8');
      this.encoder = new TextEncoder();
      // The converter's defaults, from the core where they are defined.
      this.defaults = JSON.parse(module.UTF8ToString(module._plotmint_defaults_json()));
    }

    heapBytes() { return this.m.HEAPU8.length; }

    // Runs fn with C strings for each of texts, freed afterwards.
    withStrings(texts, fn) {
      const m = this.m;
      const pointers = texts.map((t) => {
        const size = m.lengthBytesUTF8(t) + 1;
        const p = m._malloc(size);
        if (!p) throw new Error('out of memory');
        m.stringToUTF8(t, p, size);
        return p;
      });
      try {
        return fn(...pointers);
      } finally {
        pointers.forEach((p) => m._free(p));
      }
    }

    log() {
      const m = this.m;
      const p = m._plotmint_log_data();
      const n = m._plotmint_log_size();
      return splitLines(this.decoder.decode(m.HEAPU8.subarray(p, p + n)));
    }

    resultText() { return m_utf8(this.m, this.m._plotmint_result_json()); }

    // An empty folder, made afresh.
    freshFolder(path) {
      const FS = this.m.FS;
      const remove = (p) => {
        const node = FS.lstat(p);
        if (FS.isDir(node.mode)) {
          for (const e of FS.readdir(p)) if (e !== '.' && e !== '..') remove(`${p}/${e}`);
          FS.rmdir(p);
        } else {
          FS.unlink(p);
        }
      };
      try { FS.lstat(path); remove(path); } catch (e) { if (!(e instanceof FS.ErrnoError)) throw e; }
      FS.mkdir(path);
    }

    takeFile(path) {
      const FS = this.m.FS;
      let node;
      try {
        node = FS.lookupPath(path).node;
      } catch (e) {
        if (e instanceof FS.ErrnoError) return null;
        throw e;
      }
      // MEMFS keeps a file in a JavaScript array of its own, outside the module's memory,
      // grown by an eighth at a time once past a megabyte: the bytes are handed over as a
      // view of it, never copied. The array may be signed (a copy of the module's HEAP8).
      const used = node.usedBytes;
      const contents = node.contents ? node.contents : new Uint8Array(0);
      const bytes = new Uint8Array(contents.buffer, contents.byteOffset, used);
      FS.unlink(path);
      return bytes;
    }

    convert(graph, options = {}) {
      if (this.spent) throw new Error('the engine ran out of memory earlier; load a new one with Plotmint.load()');
      const m = this.m;
      const FS = m.FS;
      const isBlob = typeof Blob !== 'undefined' && graph instanceof Blob;
      if (graph !== null && !(graph instanceof Uint8Array) && !isBlob) {
        throw new TypeError('graph: a Uint8Array, File or Blob, or null for a file that is not there');
      }
      if (isBlob && typeof FileReaderSync === 'undefined') {
        throw new TypeError('graph: a File or Blob is read in a Web Worker only; pass a Uint8Array here');
      }
      const name = options.name ?? (isBlob && typeof graph.name === 'string' && graph.name ? graph.name : 'graph.g');
      if (typeof name !== 'string' || RESERVED.has(name) || name.includes('/') || name.includes('\0')) {
        throw new RangeError(`name: '${name}' is not a plain file name the engine can use`);
      }
      const d = this.defaults;
      const ints = [
        ...intList('widths', options.widths ?? d.widths, 5),
        choice('vhline', options.vhline ?? d.vhline),
        ...intList('vhlinePen', options.vhlinePen ?? d.vhlinePen, 4),
        choice('hershey', options.hershey ?? d.hershey),
        ...intList('display', options.display ?? d.display, 4),
      ];
      if (ints.slice(11).some((v) => v <= 0)) throw new RangeError('display: every value must be above 0');
      if (ints.length !== m._plotmint_field_count()) throw new Error('plotmint-core.wasm does not match plotmint.js');
      const tables = options.tables ?? this.bundledTables;

      // The folder plotmint-convert would run in.
      FS.chdir('/');
      this.freshFolder(WORK);
      this.freshFolder(OUT);
      FS.mkdir(`${WORK}/tables`);
      for (const [tableName, bytes] of Object.entries(tables)) {
        if (RESERVED.has(tableName) || tableName.includes('/') || tableName.includes('\0')) {
          throw new RangeError(`tables: '${tableName}' is not a plain file name`);
        }
        FS.writeFile(`${WORK}/tables/${tableName}`, bytes);
      }
      let tonePath = '';
      let linePath = '';
      if (options.tone || options.line) FS.mkdir(`${WORK}/startup`);
      if (options.tone) { tonePath = 'startup/tone.ktc'; FS.writeFile(`${WORK}/${tonePath}`, options.tone); }
      if (options.line) { linePath = 'startup/line.klc'; FS.writeFile(`${WORK}/${linePath}`, options.line); }
      let mounted = false;
      if (isBlob) {
        try { FS.unmount(INPUT); } catch (e) { /* none was left */ }
        this.freshFolder(INPUT);
        FS.mount(m.WORKERFS, { blobs: [{ name, data: graph }] }, INPUT);
        mounted = true;
        FS.symlink(`${INPUT}/${name}`, `${WORK}/${name}`);
      } else if (graph !== null) {
        FS.writeFile(`${WORK}/${name}`, graph);
      }
      FS.chdir(WORK);

      const intsPtr = m._malloc(4 * ints.length);
      if (!intsPtr) throw new Error('out of memory');
      m.HEAP32.set(ints, intsPtr >> 2);
      const onProgress = options.onProgress;
      m.plotmintProgress = onProgress ? (pass, done, total) => onProgress({ pass, done, total }) : null;
      let code;
      try {
        code = this.withStrings(
          [name, 'tables', tonePath, linePath, 'graph.emf', options.svg === false ? '' : `${OUT}/graph.svg`],
          (g, t, tone, line, emf, svg) => m._plotmint_convert(g, t, tone, line, options.discovery === false ? 0 : 1,
                                                               intsPtr, emf, svg));
      } finally {
        m._free(intsPtr);
        m.plotmintProgress = null;
        FS.chdir('/');
        if (mounted) FS.unmount(INPUT);
      }
      const stderrBytes = (() => {
        const p = m._plotmint_log_data();
        return m.HEAPU8.slice(p, p + m._plotmint_log_size());
      })();
      const log = splitLines(this.decoder.decode(stderrBytes));
      // Out of memory: the converter's line and status; the module's state cannot be
      // trusted after it, so this engine takes no more conversions.
      if (code === 3) this.spent = true;
      const json = code === 3 ? '' : m_utf8(m, m._plotmint_result_json());
      const extra = json ? JSON.parse(json) : null;
      const emf = this.takeFile(`${WORK}/graph.emf`);
      let svg = null;
      const svgBytes = extra && extra.svgWritten ? this.takeFile(`${OUT}/graph.svg`) : null;
      if (svgBytes) svg = this.decoder.decode(svgBytes);
      this.freshFolder(WORK);
      this.freshFolder(OUT);
      // The lines of reading the start-up tables come first.
      const startLog = extra ? splitLines(this.decoder.decode(stderrBytes.subarray(0, extra.startupBytes))) : [];
      return {
        log,
        startLog,
        startLines: startLog.length,
        extent: extra && extra.extent ? extra.extent : null,
        place: extra && extra.place ? extra.place : null,
        status: code === 0 ? 0 : 1,
        emf,
        svg,
        svgError: extra ? extra.svgError : '',
        tone: extra ? extra.tone : null,
        line: extra ? extra.line : null,
        heapBytes: this.heapBytes(),
      };
    }

    readTable(kind, bytes, name) {
      const k = kind === 'tone' ? 0 : kind === 'line' ? 1 : -1;
      if (k < 0) throw new RangeError(`kind: '${kind}' is neither 'tone' nor 'line'`);
      if (!(bytes instanceof Uint8Array)) throw new TypeError('bytes: a Uint8Array');
      const fileName = name ?? (k === 0 ? 'tone.ktc' : 'line.klc');
      if (RESERVED.has(fileName) || fileName.includes('/') || fileName.includes('\0')) {
        throw new RangeError(`name: '${fileName}' is not a plain file name`);
      }
      const FS = this.m.FS;
      FS.chdir('/');
      this.freshFolder('/t');
      FS.writeFile(`/t/${fileName}`, bytes);
      FS.chdir('/t');
      let ok;
      try {
        // No table folder: a file that cannot be read falls back to nothing.
        ok = this.withStrings([fileName, '/t/none'], (p, d) => this.m._plotmint_read_table(k, p, d));
      } finally {
        FS.chdir('/');
      }
      const table = JSON.parse(m_utf8(this.m, this.m._plotmint_result_json()));
      const log = this.log();
      this.freshFolder('/t');
      return { rows: table.rows, text: table.text, log, ok: ok === 1 };
    }

    writeTable(kind, rows) {
      const k = kind === 'tone' ? 0 : kind === 'line' ? 1 : -1;
      if (k < 0) throw new RangeError(`kind: '${kind}' is neither 'tone' nor 'line'`);
      if (!Array.isArray(rows)) throw new TypeError('rows: an array of rows');
      if (rows.length > (k === 0 ? 121 : 31)) throw new RangeError(`rows: more than the table holds (${rows.length})`);
      const text = rows.map((row, n) => {
        if (!Array.isArray(row)) throw new TypeError('rows: each row is an array');
        let cells = row;
        if (k === 1 && row.length === 3) cells = [n, ...row];
        if (cells.length !== 4) throw new RangeError(`rows: row ${n} has ${row.length} cells`);
        return cells.map(cellText).join('\x1f') + '\x1e';
      }).join('');
      this.withStrings([text], (p) => this.m._plotmint_write_table(k, p));
      return this.encoder.encode(m_utf8(this.m, this.m._plotmint_result_json()));
    }
  }

  function m_utf8(m, p) { return m.UTF8ToString(p); }

  async function load(options = {}) {
    const base = options.base ?? scriptBase;
    const [factory, wasmBinary] = await Promise.all([loadFactory(base), readBytes(base, 'plotmint-core.wasm')]);
    const module = await factory({
      wasmBinary,
      // The core's own standard output and error are never used; a stray line goes to
      // the console rather than into a result.
      print: (t) => console.log(t),
      printErr: (t) => console.warn(t),
    });
    let bundled = {};
    if (options.tables) {
      bundled = options.tables;
    } else {
      try {
        const names = JSON.parse(new TextDecoder().decode(await readBytes(base, 'tables/index.json')));
        const files = await Promise.all(names.map((n) => readBytes(base, `tables/${n}`)));
        names.forEach((n, i) => { bundled[n] = files[i]; });
      } catch (e) {
        if (options.requireTables) throw e;
        bundled = {};
      }
    }
    return new Engine(module, bundled);
  }

  const Plotmint = { load };
  root.Plotmint = Plotmint;
  if (typeof module === 'object' && module && module.exports) module.exports = Plotmint;
})(typeof globalThis !== 'undefined' ? globalThis : this);
