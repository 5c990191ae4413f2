// The page: the desktop window's controls and what they do, with the engine in a Web
// Worker. The grids are the settings store, as in the window: a run reads them when it
// starts, and discovery and the Load buttons show tables in them.
import { applyCaptions, caption, pickLanguage } from './i18n.js';
import { Grid } from './grid.js';
import { Engine } from './engine.js';
import {
  LINE_COLOURS, TONE_SLOTS, blackLines, copyTone, emptyTone, format3, lineCells, parseCell,
  readLineCells, readRow, readToneCells, toneCells,
} from './cells.js';
import { pngFromSvg, svgSize } from './picture.js';

const lang = pickLanguage();
applyCaptions(document, lang);
const $ = (id) => document.getElementById(id);

// The converter's defaults as the contract with the engine lists them; the engine's own
// list replaces them as soon as it sends one.
const CONTRACT_DEFAULTS = {
  widths: [12, 16, 20, 24, 28], vhline: 2, vhlinePen: [200, 200, 200, 1], hershey: 1, discovery: true,
};

// ---- The log -------------------------------------------------------------------------
const memo = $('Memo1');
const logLines = [];
// One text, one new line; a text that ends in "\n" leaves an empty line after it.
function log(text) {
  for (const line of String(text).split('\n')) logLines.push(line);
  memo.value = logLines.join('\n');
  memo.scrollTop = memo.scrollHeight;
}

// ---- Grids ---------------------------------------------------------------------------
const widthGrid = new Grid($('StringGrid4'), { cols: 5, rows: 2, label: caption('線幅', lang) });
const penGrid = new Grid($('StringGrid2'), { cols: 4, rows: 2, label: 'vhline pen' });
const toneGrid = new Grid($('StringGrid1'), { cols: 4, rows: TONE_SLOTS + 1, label: caption('塗りつぶしの色', lang) });
const lineGrid = new Grid($('StringGrid3'), { cols: 4, rows: LINE_COLOURS + 1, fixedCols: 1, label: caption('線の色', lang) });
const panelGrid = new Grid($('StringGrid5'), { cols: 3, rows: 2, label: 'panel' });

// What the window holds: the values of the last run (or the last table shown), which a
// cell without a number keeps.
const held = {
  widths: [0, 0, 0, 0, 0],
  pen: [0, 0, 0, 0],
  tone: emptyTone(),
  line: blackLines(),
  toneLoaded: false,
  lineLoaded: false,
};
// The file names the Save buttons offer: the table last shown in each grid.
const tableNames = { tone: 'tone-default.ktc', line: 'line-default.klc' };

function showTone(tone) {
  held.tone = copyTone(tone);
  held.toneLoaded = true;
  toneGrid.setCells(toneCells(tone));
}

function showLine(lines) {
  held.line = lines.map((e) => e.slice());
  held.lineLoaded = true;
  lineGrid.setCells(lineCells(lines));
}

// ---- The engine's table rows ---------------------------------------------------------
// A tone row is [tone, r, g, b], one per node; the line table is 31 rows [r, g, b].
function toneFromRows(rows, base = emptyTone()) {
  const tone = copyTone(base);
  rows.slice(0, TONE_SLOTS).forEach((row, i) => { tone.slots[i] = row.slice(0, 4).map(Number); });
  return tone;
}

function linesFromRows(rows) {
  const lines = blackLines();
  rows.slice(0, LINE_COLOURS).forEach((row, i) => { lines[i] = row.slice(0, 3).map(Number); });
  return lines;
}

const rowsFromTone = (tone) => tone.slots.slice(0, tone.count).map((s) => s.slice());
const rowsFromLines = (lines) => lines.map((e) => e.slice());

// A table as read by the engine, applied as the window applies a read: a tone table of
// fewer than two nodes (or of too many) replaces the slots it read and keeps the count.
function applyToneRead(read) {
  const rows = read.rows ?? [];
  const tone = toneFromRows(rows, held.tone);
  if (read.ok) tone.count = Math.min(rows.length, TONE_SLOTS);
  else if (!held.toneLoaded) tone.count = 0;
  showTone(tone);
}

// A line colour table read replaces the whole table, black where the file names nothing.
function applyLineRead(read) {
  showLine(linesFromRows(read.rows ?? []));
}

// ---- Settings ------------------------------------------------------------------------
function radioIndex(name) {
  const checked = document.querySelector(`input[name="${name}"]:checked`);
  return checked ? Number(checked.value) : -1;
}

function setRadio(name, index) {
  for (const input of document.querySelectorAll(`input[name="${name}"]`)) input.checked = Number(input.value) === index;
}

function gridRow(grid, cols) {
  return Array.from({ length: cols }, (_, c) => grid.cell(1, c));
}

// The settings a run reads, with what the window holds for cells without numbers.
function readSettings() {
  return {
    widths: readRow(gridRow(widthGrid, 5), held.widths),
    pen: readRow(gridRow(penGrid, 4), held.pen),
    tone: readToneCells(toneGrid.cells(), held.tone),
    line: readLineCells(lineGrid.cells(), held.line),
    vhline: radioIndex('vhline'),
    hershey: radioIndex('hershey'),
  };
}

// ---- The panel colour ----------------------------------------------------------------
function setPanelColor() {
  const [r, g, b] = gridRow(panelGrid, 3).map(parseCell);
  const ok = [r, g, b].every((v) => v !== null && v >= 0 && v <= 255);
  if (ok) {
    log(`RGB : ${r}  ${g}  ${b}`);
    $('Panel1').style.backgroundColor = `rgb(${r}, ${g}, ${b})`;
  } else {
    $('Panel1').style.backgroundColor = '';
  }
}
panelGrid.onEnter = setPanelColor;

// ---- Files ---------------------------------------------------------------------------
const isTableName = (name) => /\.(ktc|klc)$/i.test(name);
const bytesOf = async (blob) => new Uint8Array(await blob.arrayBuffer());

let engine = null;
let bundledTables = {};
// Tables dropped or chosen with a graph file: discovery finds them beside the bundled ones
// for the rest of the visit.
const droppedTables = {};
let examples = [];
// The graph file last chosen or dropped, drawn again under its name.
let graph = null;

async function fetchBytes(url) {
  const res = await fetch(url);
  if (!res.ok) throw new Error(`${url}: ${res.status}`);
  return new Uint8Array(await res.arrayBuffer());
}

async function fetchJson(url) {
  try {
    const res = await fetch(url);
    return res.ok ? await res.json() : [];
  } catch {
    return [];
  }
}

// The graph file the name box names: the file last chosen under that name, or an example.
async function resolveGraph(name) {
  if (graph && graph.name === name) return graph;
  if (examples.includes(name)) {
    const file = new File([await fetchBytes(`examples/${encodeURIComponent(name)}`)], name);
    graph = file;
    return file;
  }
  return null;
}

// ---- Runs ----------------------------------------------------------------------------
let queue = Promise.resolve();
let picture = null;  // { emf, svg, url, size, place }: the last picture drawn
let runs = 0;

function setRunning(on) {
  document.body.classList.toggle('running', on);
  $('Form1').dataset.running = on ? '1' : '0';
  for (const id of ['Draw']) $(id).disabled = on;
}

// The converter's passes in the order a run makes them (a run skips those its settings
// leave out), so one bar goes from start to end over the whole run.
const PASSES = ['extent', 'fills', 'vertical and horizontal lines', 'lines and text',
  'Hershey text', 'checking the metafile'];

function setProgress(p) {
  const bar = $('run_progress');
  if (!p) {
    bar.hidden = true;
    $('run_pass').textContent = '';
    return;
  }
  const within = p.total > 0 ? Math.min(p.done / p.total, 1) : 0;
  const index = p.passIndex ? p.passIndex - 1 : PASSES.indexOf(p.pass);
  const passes = p.passes ?? PASSES.length;
  const value = index >= 0 ? (index + within) / passes : within;
  bar.value = Math.round(1000 * value);
  bar.hidden = false;
  $('run_pass').textContent = `${caption('描画中', lang)} : ${p.pass ?? ''}`;
}

// Every trigger but 再描画 runs discovery first (when it is switched on). A file dropped or
// chosen goes into the name box when its run starts, so runs queued behind each other each
// draw their own file.
function requestRun(discovery, file = null) {
  const run = queue.then(() => {
    if (file) {
      graph = file;
      $('Edit1').value = file.name;
    }
    return drawRun(discovery);
  });
  queue = run.catch(() => {});
  return run.catch((e) => log(`${e.message}.`));
}

// Where the engine puts the start-up tables it is given, as its log names them.
const STARTUP_TONE = 'startup/tone.ktc';
const STARTUP_LINE = 'startup/line.klc';

// The lines the engine wrote for reading the two tables the page handed it: not news to
// the user, who saw those tables shown.
function runLines(result, names) {
  const lines = result.log ?? [];
  if (Number.isInteger(result.startLines)) return lines.slice(result.startLines);
  let i = 0;
  const start = (line) => names.some((n) => line === `open ${n}.` || line.startsWith(`cannot open ${n}`));
  while (i < lines.length && i < 2 && start(lines[i])) i++;
  return lines.slice(i);
}

async function drawRun(discovery) {
  const name = $('Edit1').value;
  const source = name ? await resolveGraph(name) : null;
  const settings = readSettings();
  const useDiscovery = discovery && radioIndex('discovery') !== 1;
  if (!source) {
    // The engine reads only files it is given; a name that names none fails as the window's
    // run fails on a file that is not there.
    if (useDiscovery) log(name ? `open ${name} for searching color table name.` : 'File name is empty.');
    if (useDiscovery && name) log('Cannot open file.');
    log(name ? `open ${name}.` : 'File name is empty.');
    if (name) log('Cannot open file.');
    finishRun(null);
    return;
  }
  setRunning(true);
  try {
    const options = {
      name,
      discovery: useDiscovery,
      widths: settings.widths,
      vhlinePen: settings.pen,
      tables: { ...bundledTables, ...droppedTables },
      svg: true,
    };
    if (settings.vhline >= 0) options.vhline = settings.vhline;
    if (settings.hershey >= 0) options.hershey = settings.hershey;
    const passed = [];
    if (held.toneLoaded && settings.tone.count > 0) {
      options.tone = await engine.writeTable('tone', rowsFromTone(settings.tone));
      passed.push(STARTUP_TONE);
    }
    if (held.lineLoaded) {
      options.line = await engine.writeTable('line', rowsFromLines(settings.line));
      passed.push(STARTUP_LINE);
    }
    const result = await engine.convert(source, options, setProgress);
    for (const line of runLines(result, passed)) log(line);
    // What the run drew with is what the window holds afterwards; discovery's tables show
    // in the grids, while cells the run read unchanged keep the text typed into them.
    if (result.tone?.rows) {
      const tone = toneFromRows(result.tone.rows, settings.tone);
      tone.count = Math.min(result.tone.rows.length, TONE_SLOTS);
      if (JSON.stringify(rowsFromTone(tone)) !== JSON.stringify(rowsFromTone(settings.tone))) {
        tableNames.tone = discoveredName(result, 'tone') ?? tableNames.tone;
        showTone(tone);
      }
      held.tone = copyTone(tone);
    }
    if (result.line?.rows) {
      const lines = linesFromRows(result.line.rows);
      if (JSON.stringify(lines) !== JSON.stringify(settings.line)) {
        tableNames.line = discoveredName(result, 'line') ?? tableNames.line;
        showLine(lines);
      }
      held.line = lines;
    }
    if (result.tone || result.emf) {
      held.widths = settings.widths;
      held.pen = settings.pen;
    }
    finishRun(result);
  } finally {
    setProgress(null);
    setRunning(false);
  }
}

// The named table discovery loaded last, from its "open NAME." line.
function discoveredName(result, kind) {
  const ext = kind === 'tone' ? 'ktc' : 'klc';
  let found = null;
  for (const line of result.log ?? []) {
    const m = new RegExp(`^open (?:.*/)?(${kind}-[^/]*\\.${ext})\\.$`).exec(line);
    if (m) found = m[1];
  }
  return found;
}

function finishRun(result) {
  // A run that leaves a picture shows it, an abandoned drawing too (as far as it went), as
  // the window shows whatever it could read back; otherwise the earlier picture stays.
  const done = Boolean(result?.emf && result?.svg);
  if (done) {
    if (picture) URL.revokeObjectURL(picture.url);
    const svg = result.svg;
    picture = {
      // Bytes, whatever typed array the engine hands over.
      emf: new Uint8Array(result.emf.buffer, result.emf.byteOffset, result.emf.byteLength),
      svg,
      url: URL.createObjectURL(new Blob([svg], { type: 'image/svg+xml' })),
      size: svgSize(svg),
      place: result.place ?? placeFromLog(result.log ?? []),
    };
    const img = $('preview');
    img.src = picture.url;
    img.hidden = false;
    $('drop-hint').hidden = true;
    layoutPreview();
  }
  // A picture older than the last run says so until a run finishes.
  $('stale-note').hidden = !(picture && !done);
  $('PaintBox1').classList.toggle('stale', Boolean(picture && !done));
  for (const id of ['save_emf', 'save_svg', 'save_png']) $(id).disabled = !picture;
  runs++;
  $('Form1').dataset.runs = String(runs);
}

// Where the drawing's extent sits on the page, from the run's extent lines ("xmin : %d" ...),
// as the window places its preview; null when the run did not tell.
function placeFromLog(lines) {
  const e = {};
  for (const line of lines) {
    const m = /^(xmin|xmax|ymin|ymax) : (-?\d+)$/.exec(line);
    if (m) e[m[1]] = Number(m[2]);
  }
  if (!['xmin', 'xmax', 'ymin', 'ymax'].every((k) => Number.isInteger(e[k]))) return null;
  return { left: e.xmin, top: PAGE_H - e.ymax, right: e.xmax, bottom: PAGE_H - e.ymin };
}

// The preview stands for a page 5240 x 7860 graph units, kept in shape as large as the box
// allows; a picture inside the page shows where it sits on it, one beyond the page shows
// whole, in its own shape.
const PAGE_W = 5240, PAGE_H = 7860;
function layoutPreview() {
  const img = $('preview');
  const p = picture?.place;
  const box = $('PaintBox1').getBoundingClientRect();
  if (p && p.left >= 0 && p.top >= 0 && p.right <= PAGE_W && p.bottom <= PAGE_H && p.right > p.left && p.bottom > p.top) {
    const s = Math.min(box.width / PAGE_W, box.height / PAGE_H);
    const x = (box.width - PAGE_W * s) / 2, y = (box.height - PAGE_H * s) / 2;
    img.classList.add('placed');
    img.style.left = `${x + p.left * s}px`;
    img.style.top = `${y + p.top * s}px`;
    img.style.width = `${(p.right - p.left) * s}px`;
    img.style.height = `${(p.bottom - p.top) * s}px`;
  } else {
    img.classList.remove('placed');
    img.style.cssText = '';
  }
}
new ResizeObserver(layoutPreview).observe($('PaintBox1'));

// Zoom and pan, as in the window: the wheel zooms about the pointer, + and − about the
// centre, 0 or a double click shows the whole picture again, and dragging moves it.
const view = { zoom: 1, x: 0, y: 0 };
const MIN_ZOOM = 0.125, MAX_ZOOM = 64;

function applyView() {
  $('view').style.transform = view.zoom === 1 && view.x === 0 && view.y === 0
    ? '' : `translate(${view.x}px, ${view.y}px) scale(${view.zoom})`;
}

// `at`: a point of the box (its own pixels), which keeps the picture point under it.
function zoomBy(factor, at) {
  const box = $('PaintBox1').getBoundingClientRect();
  const c = { x: box.width / 2, y: box.height / 2 };
  const p = at ?? c;
  const z = Math.min(MAX_ZOOM, Math.max(MIN_ZOOM, view.zoom * factor));
  const under = { x: (p.x - c.x - view.x) / view.zoom, y: (p.y - c.y - view.y) / view.zoom };
  view.x = p.x - c.x - z * under.x;
  view.y = p.y - c.y - z * under.y;
  view.zoom = z;
  applyView();
}

function fitView() {
  Object.assign(view, { zoom: 1, x: 0, y: 0 });
  applyView();
}

function wireView() {
  const box = $('PaintBox1');
  box.addEventListener('wheel', (e) => {
    if (!picture) return;
    e.preventDefault();
    const r = box.getBoundingClientRect();
    zoomBy(1.25 ** (-e.deltaY / 100), { x: e.clientX - r.left, y: e.clientY - r.top });
  }, { passive: false });
  let from = null;
  box.addEventListener('pointerdown', (e) => {
    if (e.button !== 0 || !picture) return;
    from = { x: e.clientX, y: e.clientY };
    box.setPointerCapture(e.pointerId);
    $('view').classList.add('grabbing');
  });
  box.addEventListener('pointermove', (e) => {
    if (!from) return;
    view.x += e.clientX - from.x;
    view.y += e.clientY - from.y;
    from = { x: e.clientX, y: e.clientY };
    applyView();
  });
  const stop = () => {
    from = null;
    $('view').classList.remove('grabbing');
  };
  box.addEventListener('pointerup', stop);
  box.addEventListener('pointercancel', stop);
  box.addEventListener('dblclick', fitView);
  box.addEventListener('keydown', (e) => {
    if (e.key === '+' || e.key === '=') zoomBy(1.25);
    else if (e.key === '-') zoomBy(1 / 1.25);
    else if (e.key === '0') fitView();
    else return;
    e.preventDefault();
  });
}

// ---- Triggers ------------------------------------------------------------------------
// A drop or a choice: one graph file, with any tables that come with it; tables alone are
// shown in their grids.
async function takeFiles(list) {
  const files = [...list];
  const tables = files.filter((f) => isTableName(f.name));
  const graphs = files.filter((f) => !isTableName(f.name));
  if (graphs.length === 0 && tables.length > 0 && tables.length <= 2 &&
      new Set(tables.map((t) => t.name.slice(-3).toLowerCase())).size === tables.length) {
    for (const t of tables) await loadTable(t.name.toLowerCase().endsWith('.ktc') ? 'tone' : 'line', t);
    return;
  }
  if (graphs.length !== 1) {
    log('ドラッグしたファイルの個数が多すぎます。');
    return;
  }
  for (const t of tables) droppedTables[t.name] = await bytesOf(t);
  await requestRun(true, graphs[0]);
}

async function loadTable(kind, file) {
  const read = await engine.readTable(kind, await bytesOf(file), file.name);
  for (const line of read.log ?? []) log(line);
  tableNames[kind] = file.name;
  if (kind === 'tone') applyToneRead(read);
  else applyLineRead(read);
}

function download(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

async function saveTable(kind) {
  const settings = readSettings();
  // The cells as they stand; rows past the node count are not part of the table.
  const cells = (kind === 'tone' ? toneGrid : lineGrid).cells().slice(1);
  const rows = kind === 'tone' ? cells.slice(0, held.tone.count) : cells;
  let bytes;
  try {
    bytes = await engine.writeTable(kind, rows);
  } catch {
    // A cell the writer cannot take as text (a control character pasted into it) is saved
    // as the value a run would read from it.
    bytes = await engine.writeTable(kind, kind === 'tone' ? rowsFromTone(settings.tone) : rowsFromLines(settings.line));
  }
  download(bytes, tableNames[kind], 'text/plain');
}

// A PNG's longest side, as plotmint-convert makes one when no size is asked: large enough
// to read every label, small enough to open, mail and paste. (The picture's physical size
// at 96 dpi is often several thousand pixels a side.)
const PNG_LONGEST_SIDE = 2000;

async function savePicture(kind) {
  if (!picture) return;
  const name = `graph.${kind}`;
  try {
    if (kind === 'emf') download(picture.emf, name, 'image/emf');
    else if (kind === 'svg') download(picture.svg, name, 'image/svg+xml');
    else download(await pngFromSvg(picture.svg, picture.size, PNG_LONGEST_SIDE), name, 'image/png');
    log(`${name} に保存しました`);
  } catch (e) {
    log(`${name} を保存できません : ${e.message}`);
  }
}

async function copyToClipboard() {
  if (!picture) {
    log('クリップボードへコピーするデータがありません');
    return;
  }
  try {
    const items = { 'image/png': pngFromSvg(picture.svg, picture.size, PNG_LONGEST_SIDE) };
    // Where the browser takes SVG, the vector picture goes along.
    if (globalThis.ClipboardItem?.supports?.('image/svg+xml'))
      items['image/svg+xml'] = new Blob([picture.svg], { type: 'image/svg+xml' });
    await navigator.clipboard.write([new ClipboardItem(items)]);
    log('クリップボードへコピーしました');
  } catch (e) {
    log(`クリップボードへコピーできません : ${e.message}`);
  }
}

function wire() {
  wireView();
  $('OpenDialog1').addEventListener('change', async (e) => {
    const files = e.target.files;
    if (files.length) await takeFiles(files);
    e.target.value = '';
  });
  for (const [id, kind] of [['OpenDialog2', 'tone'], ['OpenDialog3', 'line']]) {
    $(id).addEventListener('change', async (e) => {
      const file = e.target.files[0];
      e.target.value = '';
      // A cancel keeps the grid and its edits.
      if (file) await loadTable(kind, file).catch((err) => log(`${err.message}.`));
    });
  }
  // The label buttons open their choosers from the keyboard too.
  for (const id of ['File', 'tone_load', 'pen_load']) {
    $(id).addEventListener('keydown', (e) => {
      if (e.key === 'Enter' || e.key === ' ') {
        e.preventDefault();
        $(id).click();
      }
    });
  }
  $('examples').addEventListener('change', async (e) => {
    const name = e.target.value;
    e.target.value = '';
    if (!name) return;
    try {
      await requestRun(true, new File([await fetchBytes(`examples/${encodeURIComponent(name)}`)], name));
    } catch (err) {
      log(`${err.message}.`);
    }
  });
  $('Edit1').addEventListener('keydown', (e) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      requestRun(true);
    }
  });
  $('Draw').addEventListener('click', () => requestRun(false));
  $('Copy_to_clip').addEventListener('click', copyToClipboard);
  $('tone_save').addEventListener('click', () => saveTable('tone').catch((e) => log(`${e.message}.`)));
  $('pen_save').addEventListener('click', () => saveTable('line').catch((e) => log(`${e.message}.`)));
  for (const kind of ['emf', 'svg', 'png']) $(`save_${kind}`).addEventListener('click', () => savePicture(kind));

  // Files dropped anywhere on the page.
  document.addEventListener('dragover', (e) => {
    if (![...(e.dataTransfer?.types ?? [])].includes('Files')) return;
    e.preventDefault();
    e.dataTransfer.dropEffect = 'copy';
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', (e) => {
    if (!e.relatedTarget) document.body.classList.remove('dragging');
  });
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    document.body.classList.remove('dragging');
    takeFiles(e.dataTransfer?.files ?? []);
  });
}

// ---- Start-up ------------------------------------------------------------------------
async function start() {
  wire();
  setRunning(false);
  engine = new Engine('worker.js');
  try {
    await engine.ready;
  } catch (e) {
    log(`${e.message}.`);
    // Without the engine nothing can be drawn, read or saved.
    for (const el of document.querySelectorAll('button, input, select')) el.disabled = true;
    for (const id of ['File', 'tone_load', 'pen_load']) $(id).classList.add('disabled');
    $('Form1').dataset.state = 'failed';
    $('Form1').setAttribute('aria-busy', 'false');
    return;
  }
  const defaults = { ...CONTRACT_DEFAULTS, ...(engine.defaults ?? {}) };
  penGrid.setCells([['  R', '  G', '  B', caption('線幅#grid', lang)], defaults.vhlinePen.map(format3)]);
  widthGrid.setCells([['  1', '  2', '  3', '  4', '  5'], defaults.widths.map(format3)]);
  panelGrid.setCells([['  R', '  G', '  B'], ['-1', '255', '255']]);
  held.widths = defaults.widths.slice();
  held.pen = defaults.vhlinePen.slice();
  setRadio('vhline', defaults.vhline);
  setRadio('hershey', defaults.hershey);
  setRadio('discovery', defaults.discovery === false ? 1 : 0);
  setPanelColor();

  const [tableNamesListed, exampleNames] = await Promise.all([fetchJson('tables/index.json'), fetchJson('examples/index.json')]);
  examples = exampleNames.filter((n) => typeof n === 'string');
  for (const name of examples) {
    $('examples').append(new Option(name, name));
    $('graph-names').append(new Option(name));
  }
  await Promise.all(tableNamesListed.filter((n) => typeof n === 'string').map(async (name) => {
    try {
      bundledTables[name] = await fetchBytes(`tables/${encodeURIComponent(name)}`);
    } catch { /* a table the list names but the site lacks is as good as absent */ }
  }));
  for (const [kind, name] of [['tone', 'tone-default.ktc'], ['line', 'line-default.klc']]) {
    if (!bundledTables[name]) {
      log(`cannot open ${name}.`);
      continue;
    }
    const read = await engine.readTable(kind, bundledTables[name], name);
    for (const line of read.log ?? []) log(line);
    if (kind === 'tone') applyToneRead(read);
    else applyLineRead(read);
  }
  $('Form1').dataset.state = 'ready';
  $('Form1').setAttribute('aria-busy', 'false');
}

// For the page's tests and for anyone curious in the console: what the page holds.
globalThis.plotmintPage = {
  get logLines() { return logLines.slice(); },
  get picture() { return picture; },
  get held() { return held; },
  get queue() { return queue; },
};

start();
