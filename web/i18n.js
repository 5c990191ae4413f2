// The page's captions. Each is keyed by its Japanese text, as the desktop window's sources
// are; the English is the window's English where the window has the caption, so the two
// front ends say the same. Messages in the log stay as the engine and the window write
// them, whatever the language.

const EN = {
  'ファイルを選ぶ': 'Choose file',
  'ファイル名': 'File name',
  '線幅': 'Width',
  '再描画': 'Redraw',
  'クリップボードへコピー': 'Copy to clipboard',
  'メッセージ': 'Messages',
  'Vline Hline の扱い': 'Vline Hline as',
  '線分の集合': 'Line segments',
  '点線で置換': 'Dotted lines',
  '下色の線': 'Base colour',
  'hersheyフォント': 'Hershey fonts',
  '元のまま': 'As they are',
  'Arialで置換': 'Arial instead',
  'Timesで置換': 'Times instead',
  'カラーテーブル自動読込': 'Auto-load colour tables',
  'する': 'Yes',
  'しない': 'No',
  '塗りつぶしの色': 'Fill colours',
  '線の色': 'Line colours',
  'パネルの色（-1を指定するとボタンカラー）': 'Panel colour (-1: button colour)',
  '古い図': 'Out of date',
  'グラフファイル(*.g)': 'Graph files (*.g)',
  '塗りつぶし色の定義(*.ktc)': 'Fill colour tables (*.ktc)',
  '線色の定義(*.klc)': 'Line colour tables (*.klc)',
  'EMFとして保存...': 'Save as EMF...',
  'SVGとして保存...': 'Save as SVG...',
  'PNGとして保存...': 'Save as PNG...',
  '画像としてコピー': 'Copy as image',
  // The grid title of the replacement line's width.
  '線幅#grid': 'Wid',
  // Captions only the page has.
  '例を開く': 'Open an example',
  'グラフファイルをここへドロップ（色テーブル .ktc .klc も一緒に）':
    'Drop a graph file here (colour tables .ktc .klc with it)',
  '描画中': 'Drawing',
  '拡大縮小: ホイール、+ − 0、ダブルクリックで全体': 'Zoom: wheel, + − 0, double click for the whole picture',
  'エンジンを読み込み中': 'Loading the engine',
};

// 'ja' when the browser's first language is Japanese, 'en' otherwise.
export function pickLanguage(nav = globalThis.navigator) {
  const first = (nav?.languages && nav.languages[0]) || nav?.language || '';
  return /^ja\b/i.test(first) ? 'ja' : 'en';
}

// The caption of `key` in `lang`. A key with '#' names a second meaning of the same text.
export function caption(key, lang) {
  if (lang === 'en' && Object.hasOwn(EN, key)) return EN[key];
  const hash = key.indexOf('#');
  return hash > 0 ? key.slice(0, hash) : key;
}

// Puts the captions into every element that names one: data-i18n for the text, and
// data-i18n-title for the tooltip.
export function applyCaptions(root, lang) {
  root.documentElement?.setAttribute('lang', lang);
  for (const el of root.querySelectorAll('[data-i18n]')) el.textContent = caption(el.dataset.i18n, lang);
  for (const el of root.querySelectorAll('[data-i18n-title]')) el.title = caption(el.dataset.i18nTitle, lang);
}
