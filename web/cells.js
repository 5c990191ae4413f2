// The grids' cell rules, the same as the desktop window's: cells are free text, shown
// numbers are right-aligned in three characters ("%3d"), and a run reads a cell as "%d"
// reads it, a cell without a number keeping the value the window holds.

export const TONE_SLOTS = 121;
export const LINE_COLOURS = 31;
const INT_MIN = -2147483648;
const INT_MAX = 2147483647;

// The number a cell starts with (after white space, with an optional sign), or null. A
// number beyond 32 bits counts as none, so it never wraps into a plausible value.
export function parseCell(text) {
  const m = /^[ \t\n\r\v\f]*([+-]?)([0-9]+)/.exec(String(text ?? ''));
  if (!m) return null;
  const digits = m[2].replace(/^0+(?=[0-9])/, '');
  if (digits.length > 10) return null;
  const v = (m[1] === '-' ? -1 : 1) * Number(digits);
  return v < INT_MIN || v > INT_MAX ? null : v;
}

// "%3d".
export function format3(v) {
  return String(v).padStart(3, ' ');
}

// What the window holds of the tone table: all 121 slots, of which the first `count` are
// the nodes, and the 31 line colours.
export function emptyTone() {
  return { count: 0, slots: Array.from({ length: TONE_SLOTS }, () => [0, 0, 0, 0]) };
}

export function copyTone(tone) {
  return { count: tone.count, slots: tone.slots.map((s) => s.slice()) };
}

export function blackLines() {
  return Array.from({ length: LINE_COLOURS }, () => [0, 0, 0]);
}

// The tone grid's cells (rows 0..121, 4 columns) for `tone`: the title row, the nodes, and
// the rows after them empty.
export function toneCells(tone) {
  const cells = [['   ', '  R', '  G', '  B']];
  const count = Math.max(0, Math.min(tone.count, TONE_SLOTS));
  for (let i = 0; i < TONE_SLOTS; i++) cells.push(i < count ? tone.slots[i].map(format3) : ['', '', '', '']);
  return cells;
}

// The line colour grid's cells (rows 0..31): the number column and the colours.
export function lineCells(lines) {
  const cells = [['', '  R', '  G', '  B']];
  for (let n = 0; n < LINE_COLOURS; n++) cells.push([format3(n), ...lines[n].map(format3)]);
  return cells;
}

// The tone table a run draws with: the held table, with each cell of the first `count`
// rows that holds a number taking its place.
export function readToneCells(cells, held) {
  const tone = copyTone(held);
  const count = Math.max(0, Math.min(tone.count, TONE_SLOTS));
  for (let i = 0; i < count && i + 1 < cells.length; i++) {
    for (let c = 0; c < 4; c++) {
      const v = parseCell(cells[i + 1][c]);
      if (v !== null) tone.slots[i][c] = v;
    }
  }
  return tone;
}

export function readLineCells(cells, held) {
  const lines = held.map((e) => e.slice());
  for (let n = 0; n < LINE_COLOURS && n + 1 < cells.length; n++) {
    for (let c = 1; c < 4; c++) {
      const v = parseCell(cells[n + 1][c]);
      if (v !== null) lines[n][c - 1] = v;
    }
  }
  return lines;
}

// A row of numbers for the settings grids (widths, replacement pen): each cell that holds
// a number, else the held value.
export function readRow(texts, held) {
  return held.map((h, i) => {
    const v = parseCell(texts[i]);
    return v === null ? h : v;
  });
}
