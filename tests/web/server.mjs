// A static file server for the browser tests: one folder, bound to 127.0.0.1 on a port
// the system picks, so parallel runs never collide. Run alone it prints its address:
//   node server.mjs FOLDER
import http from 'node:http';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  // WebAssembly.instantiateStreaming refuses any other type.
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
  '.emf': 'image/emf',
  '.g': 'text/plain; charset=utf-8',
};

// Resolves with { url, close() }.
export async function startServer(folder) {
  const root = await fs.realpath(folder);
  const server = http.createServer(async (req, res) => {
    const send = (status, body, type = 'text/plain; charset=utf-8') => {
      res.writeHead(status, { 'Content-Type': type, 'Cache-Control': 'no-store' });
      res.end(body);
    };
    if (req.method !== 'GET' && req.method !== 'HEAD') return send(405, 'method not allowed\n');
    let rel;
    try {
      rel = decodeURIComponent(new URL(req.url, 'http://localhost').pathname);
    } catch {
      return send(400, 'bad path\n');
    }
    if (rel.endsWith('/')) rel += 'index.html';
    // Only files inside the folder, also through symbolic links and encoded dots.
    let file;
    try {
      file = await fs.realpath(path.join(root, rel));
    } catch {
      return send(404, 'not found\n');
    }
    if (file !== root && !file.startsWith(root + path.sep)) return send(404, 'not found\n');
    try {
      const body = await fs.readFile(file);
      send(200, req.method === 'HEAD' ? undefined : body,
           TYPES[path.extname(file).toLowerCase()] ?? 'application/octet-stream');
    } catch {
      send(404, 'not found\n');
    }
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  const { port } = server.address();
  return {
    url: `http://127.0.0.1:${port}/`,
    close: () => new Promise((resolve) => {
      server.closeAllConnections();
      server.close(resolve);
    }),
  };
}

if (process.argv[1] && fileURLToPath(import.meta.url) === path.resolve(process.argv[1])) {
  const folder = process.argv[2];
  if (!folder) {
    console.error('usage: node server.mjs FOLDER');
    process.exit(2);
  }
  const { url } = await startServer(folder);
  console.log(url);
}
