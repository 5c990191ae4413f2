// A grid of free-text cells with fixed title cells, like the window's string grids: row 0
// and the first `fixedCols` columns show text that cannot be edited, every other cell is
// an input. Arrow keys move between cells; Enter is reported to the owner.

export class Grid {
  // `table`: an empty <table>; it keeps its id, and each cell gets data-row and data-col.
  constructor(table, { cols, rows, fixedRows = 1, fixedCols = 0, label = '' }) {
    this.table = table;
    this.cols = cols;
    this.rows = rows;
    this.fixedRows = fixedRows;
    this.fixedCols = fixedCols;
    this.onEnter = null;
    this.inputs = [];
    this.fixed = [];
    table.classList.add('grid');
    const body = document.createElement('tbody');
    for (let r = 0; r < rows; r++) {
      const tr = document.createElement('tr');
      const inputs = [];
      const fixed = [];
      for (let c = 0; c < cols; c++) {
        const isFixed = r < fixedRows || c < fixedCols;
        const td = document.createElement(isFixed ? 'th' : 'td');
        td.dataset.row = String(r);
        td.dataset.col = String(c);
        if (isFixed) {
          td.textContent = '';
          fixed.push(td);
          inputs.push(null);
        } else {
          const input = document.createElement('input');
          input.type = 'text';
          input.spellcheck = false;
          input.autocomplete = 'off';
          input.dataset.row = String(r);
          input.dataset.col = String(c);
          if (label) input.setAttribute('aria-label', `${label} ${r},${c}`);
          td.appendChild(input);
          inputs.push(input);
          fixed.push(null);
        }
        tr.appendChild(td);
      }
      body.appendChild(tr);
      this.inputs.push(inputs);
      this.fixed.push(fixed);
    }
    table.replaceChildren(body);
    table.addEventListener('keydown', (e) => this.#key(e));
  }

  cell(r, c) {
    const input = this.inputs[r]?.[c];
    if (input) return input.value;
    return this.fixed[r]?.[c]?.textContent ?? '';
  }

  setCell(r, c, text) {
    const input = this.inputs[r]?.[c];
    if (input) input.value = text;
    else if (this.fixed[r]?.[c]) this.fixed[r][c].textContent = text;
  }

  // All cells as rows of strings, row 0 included.
  cells() {
    const out = [];
    for (let r = 0; r < this.rows; r++) {
      const row = [];
      for (let c = 0; c < this.cols; c++) row.push(this.cell(r, c));
      out.push(row);
    }
    return out;
  }

  setCells(cells) {
    for (let r = 0; r < Math.min(this.rows, cells.length); r++)
      for (let c = 0; c < Math.min(this.cols, cells[r].length); c++) this.setCell(r, c, cells[r][c]);
  }

  setDisabled(disabled) {
    for (const row of this.inputs) for (const input of row) if (input) input.disabled = disabled;
  }

  #key(e) {
    const input = e.target;
    if (!(input instanceof HTMLInputElement) || input.dataset.row === undefined) return;
    const r = Number(input.dataset.row), c = Number(input.dataset.col);
    let to = null;
    switch (e.key) {
      case 'Enter':
        e.preventDefault();
        this.onEnter?.(r, c);
        return;
      case 'ArrowUp': to = [r - 1, c]; break;
      case 'ArrowDown': to = [r + 1, c]; break;
      case 'ArrowLeft':
        if (input.selectionStart === 0 && input.selectionEnd === 0) to = [r, c - 1];
        break;
      case 'ArrowRight':
        if (input.selectionStart === input.value.length) to = [r, c + 1];
        break;
      default:
        return;
    }
    const target = to && this.inputs[to[0]]?.[to[1]];
    if (target) {
      e.preventDefault();
      target.focus();
      target.select();
    }
  }
}
