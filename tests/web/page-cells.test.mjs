// The page's grid rules and captions, in node: cells read as "%d" reads them with the held
// value for a cell without a number, the shown numbers right-aligned in three characters,
// and an English caption for every Japanese one the page shows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import {
  blackLines, emptyTone, format3, lineCells, parseCell, readLineCells, readRow, readToneCells, toneCells,
} from '../../web/cells.js';
import { caption, pickLanguage } from '../../web/i18n.js';
import { svgSize } from '../../web/picture.js';

const here = path.dirname(fileURLToPath(import.meta.url));

test('a cell is read as "%d" reads it', () => {
  const cases = [
    ['12', 12], ['  7', 7], [' -1', -1], ['+5', 5], ['\t42x', 42], ['3 4', 3], ['007', 7],
    ['2147483647', 2147483647], ['-2147483648', -2147483648],
    ['', null], ['   ', null], ['abc', null], ['x1', null], ['-', null], ['+ 1', null], ['1.5e3', 1],
    // Beyond 32 bits is no number, never a wrapped one.
    ['2147483648', null], ['-2147483649', null], ['99999999999999999999', null], ['00000000000000000001', 1],
  ];
  for (const [text, want] of cases) assert.equal(parseCell(text), want, JSON.stringify(text));
});

test('numbers show right-aligned in three characters', () => {
  assert.deepEqual([0, 7, 42, 255, -1, -20, 1000].map(format3), ['  0', '  7', ' 42', '255', ' -1', '-20', '1000']);
});

test('the tone grid shows the nodes and empties the rows after them; a run reads only the node rows', () => {
  const tone = emptyTone();
  tone.count = 2;
  tone.slots[0] = [0, 0, 0, 0];
  tone.slots[1] = [100, 255, 255, 255];
  tone.slots[2] = [110, 1, 2, 3];  // a slot past the count: not a node
  const cells = toneCells(tone);
  assert.equal(cells.length, 122);
  assert.deepEqual(cells.slice(0, 4), [['   ', '  R', '  G', '  B'], ['  0', '  0', '  0', '  0'],
    ['100', '255', '255', '255'], ['', '', '', '']]);
  assert.ok(cells.slice(3).every((r) => r.every((c) => c === '')));

  cells[1] = ['  5', 'abc', '', ' 9'];     // text and an empty cell keep the held values
  cells[3] = ['120', '9', '9', '9'];      // typed below the count: no node
  const read = readToneCells(cells, tone);
  assert.equal(read.count, 2);
  assert.deepEqual(read.slots.slice(0, 3), [[5, 0, 0, 9], [100, 255, 255, 255], [110, 1, 2, 3]]);
  assert.deepEqual(tone.slots[0], [0, 0, 0, 0], 'the held table is not changed by a read');
});

test('a full tone table fills every row', () => {
  const tone = emptyTone();
  tone.count = 121;
  tone.slots = tone.slots.map((_, i) => [i, i, i, i]);
  const cells = toneCells(tone);
  assert.deepEqual(cells[121], ['120', '120', '120', '120']);
  assert.equal(readToneCells(cells, tone).slots[120][0], 120);
});

test('the line grid numbers its 31 rows and a run reads the colour cells', () => {
  const lines = blackLines();
  lines[30] = [1, 2, 3];
  const cells = lineCells(lines);
  assert.equal(cells.length, 32);
  assert.deepEqual(cells[0], ['', '  R', '  G', '  B']);
  assert.deepEqual(cells[31], [' 30', '  1', '  2', '  3']);
  cells[1] = ['  9', ' 10', 'x', '-2'];  // the number column is not read
  const read = readLineCells(cells, lines);
  assert.deepEqual(read[0], [10, 0, -2]);
  assert.deepEqual(read[30], [1, 2, 3]);
});

test('a settings row keeps the held value where a cell has no number', () => {
  assert.deepEqual(readRow([' 12', '', 'x', '40', ' -3'], [1, 2, 3, 4, 5]), [12, 2, 3, 40, -3]);
});

test('Japanese for a Japanese browser, English for any other', () => {
  const cases = [
    [{ languages: ['ja-JP', 'en'] }, 'ja'], [{ language: 'ja' }, 'ja'], [{ languages: ['ja'] }, 'ja'],
    [{ languages: ['en-US', 'ja'] }, 'en'], [{ language: 'de-DE' }, 'en'], [{ language: 'jav' }, 'en'], [{}, 'en'],
  ];
  for (const [nav, want] of cases) assert.equal(pickLanguage(nav), want, JSON.stringify(nav));
  assert.equal(caption('線幅#grid', 'ja'), '線幅');
  assert.equal(caption('線幅#grid', 'en'), 'Wid');
});

test('every caption the page names has an English text', async () => {
  const html = await fs.readFile(path.join(here, '../../web/index.html'), 'utf8');
  const app = await fs.readFile(path.join(here, '../../web/app.js'), 'utf8');
  const keys = new Set([
    ...[...html.matchAll(/data-i18n(?:-title)?="([^"]+)"/g)].map((m) => m[1]),
    ...[...app.matchAll(/caption\('([^']+)'/g)].map((m) => m[1]),
  ]);
  assert.ok(keys.size > 20);
  for (const key of keys) {
    const en = caption(key, 'en');
    assert.notEqual(en, key, `no English for ${key}`);
    assert.doesNotMatch(en, /[\u3040-\u30ff\u4e00-\u9fff\uff00-\uffef]/, `${key}: ${en}`);
  }
});

test('the picture\'s size comes from the SVG\'s width and height, else its viewBox', () => {
  const cases = [
    ['<svg xmlns="http://www.w3.org/2000/svg" width="254mm" height="25.4mm">', { width: 960, height: 96 }],
    ["<svg width='300' height='150px' viewBox='0 0 10 5'>", { width: 300, height: 150 }],
    ['<svg viewBox="0 0 640 480">', { width: 640, height: 480 }],
    ['<svg width="200" viewBox="0 0 640 480">', { width: 200, height: 150 }],
    ['<?xml version="1.0"?>\n<svg\n  height="1in" width="2in">', { width: 192, height: 96 }],
    ['<svg width="100%" height="100%">', null],
    ['<svg>', null],
  ];
  for (const [svg, want] of cases) {
    const got = svgSize(svg);
    if (want === null) assert.equal(got, null, svg);
    else {
      assert.ok(Math.abs(got.width - want.width) < 1e-9 && Math.abs(got.height - want.height) < 1e-9,
                `${svg}: ${JSON.stringify(got)}`);
    }
  }
});
