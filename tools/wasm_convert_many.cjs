// Converts graph files with the browser engine in node, as tools/wasm-native-diff.sh
// compares them with plotmint-convert: one line per file, "NAME STATUS SHA256-OF-EMF
// SHA256-OF-LOG" (the log as the converter's standard error).
//
//   node tools/wasm_convert_many.cjs SITE_DIR HERSHEY FILE...
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const [site, hershey, ...files] = process.argv.slice(2);
const sha = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
const Plotmint = require(path.resolve(site, 'plotmint.js'));
Plotmint.load({ base: path.resolve(site) + '/' }).then((pm) => {
  const out = [];
  for (const f of files) {
    const r = pm.convert(new Uint8Array(fs.readFileSync(f)), { name: path.basename(f), hershey: Number(hershey), svg: false });
    const log = r.log.map((l) => l + '\n').join('');
    out.push(`${path.basename(f)} ${r.status} ${r.emf ? sha(r.emf) : '-'} ${sha(log)}\n`);
  }
  process.stdout.write(out.join(''));
});
