// PNG from the run's SVG, drawn by the browser: white underneath, as the picture looks on
// paper, in the picture's own shape.

// The largest side the page asks a canvas for; browsers refuse much larger ones.
const MAX_SIDE = 16384;

const UNITS = { '': 1, px: 1, mm: 96 / 25.4, cm: 96 / 2.54, in: 96, pt: 96 / 72, pc: 16 };

function length(text) {
  const m = /^\s*([0-9]*\.?[0-9]+(?:e[+-]?[0-9]+)?)\s*(px|mm|cm|in|pt|pc)?\s*$/i.exec(text ?? '');
  if (!m) return null;
  return Number(m[1]) * UNITS[(m[2] ?? '').toLowerCase()];
}

// The picture's size in CSS pixels from the root element's width and height, else from its
// viewBox; null when it has neither.
export function svgSize(svg) {
  const root = /<svg\b[^>]*>/i.exec(svg)?.[0] ?? '';
  const attr = (name) => new RegExp(`\\s${name}\\s*=\\s*["']([^"']*)["']`, 'i').exec(root)?.[1];
  let w = length(attr('width')), h = length(attr('height'));
  const box = attr('viewBox')?.trim().split(/[\s,]+/).map(Number);
  if ((!w || !h) && box?.length === 4 && box[2] > 0 && box[3] > 0) {
    if (w && !h) h = w * box[3] / box[2];
    else if (h && !w) w = h * box[2] / box[3];
    else { w = box[2]; h = box[3]; }
  }
  return w > 0 && h > 0 ? { width: w, height: h } : null;
}

// A Promise of the PNG's Blob, `longest` pixels on its longest side (the picture's own size
// in CSS pixels without it).
export async function pngFromSvg(svg, size = svgSize(svg), longest = 0) {
  const url = URL.createObjectURL(new Blob([svg], { type: 'image/svg+xml' }));
  try {
    const img = new Image();
    img.src = url;
    await img.decode();
    let w = size?.width ?? img.naturalWidth, h = size?.height ?? img.naturalHeight;
    if (!(w > 0 && h > 0)) throw new Error('the picture has no size');
    const scale = Math.min(longest > 0 ? longest / Math.max(w, h) : 1, MAX_SIDE / Math.max(w, h));
    w = Math.max(1, Math.round(w * scale));
    h = Math.max(1, Math.round(h * scale));
    const canvas = document.createElement('canvas');
    canvas.width = w;
    canvas.height = h;
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = '#ffffff';
    ctx.fillRect(0, 0, w, h);
    ctx.drawImage(img, 0, 0, w, h);
    const blob = await new Promise((resolve) => canvas.toBlob(resolve, 'image/png'));
    if (!blob) throw new Error('the browser made no PNG');
    return blob;
  } finally {
    URL.revokeObjectURL(url);
  }
}
