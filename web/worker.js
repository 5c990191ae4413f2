// The conversions run here, so the page stays responsive while a large graph file is
// drawn. A File or Blob is read lazily from here (WORKERFS), never copied whole.
//
// page -> worker: { id, type: 'convert', graph: File|Blob|Uint8Array|null, options }  (options
//                   as pm.convert's, without onProgress)
//                 { id, type: 'readTable', kind, bytes, name? }
//                 { id, type: 'writeTable', kind, rows }
//                 { id, type: 'memory' }
// worker -> page: { type: 'ready', defaults } once the engine is loaded (pm.defaults)
//                 { type: 'error', message } without an id: the engine could not load
//                 { id, type: 'progress', pass, done, total, heapBytes, jsHeapBytes }
//                 { id, type: 'result', result }   (emf's buffer is transferred)
//                 { id, type: 'error', message }
// A 'memory' request is answered with a result { heapBytes, jsHeapBytes } (jsHeapBytes:
// the worker's JavaScript heap where the browser tells it, else null).
// Requests are answered in the order they came.
'use strict';
importScripts('plotmint.js');

let engine = null;
let loading = null;
const queue = [];
let busy = false;

function load() {
  loading = Plotmint.load().then((pm) => { engine = pm; loading = null; });
  return loading;
}

function jsHeap() {
  return typeof performance !== 'undefined' && performance.memory ? performance.memory.usedJSHeapSize : null;
}

async function handle(msg) {
  const { id, type } = msg;
  try {
    // An engine that ran out of memory is replaced before the next request.
    if (!engine || engine.spent) await (loading ?? load());
    if (type === 'convert') {
      const options = { ...(msg.options ?? {}) };
      delete options.onProgress;
      options.onProgress = (p) => postMessage({
        id, type: 'progress', pass: p.pass, done: p.done, total: p.total,
        heapBytes: engine.heapBytes(), jsHeapBytes: jsHeap(),
      });
      const result = engine.convert(msg.graph, options);
      postMessage({ id, type: 'result', result }, result.emf ? [result.emf.buffer] : []);
    } else if (type === 'readTable') {
      postMessage({ id, type: 'result', result: engine.readTable(msg.kind, msg.bytes, msg.name) });
    } else if (type === 'writeTable') {
      const bytes = engine.writeTable(msg.kind, msg.rows);
      postMessage({ id, type: 'result', result: bytes }, [bytes.buffer]);
    } else if (type === 'memory') {
      postMessage({ id, type: 'result', result: { heapBytes: engine.heapBytes(), jsHeapBytes: jsHeap() } });
    } else {
      throw new Error(`unknown request type '${type}'`);
    }
  } catch (e) {
    postMessage({ id, type: 'error', message: e && e.message ? e.message : String(e) });
  }
}

async function drain() {
  if (busy) return;
  busy = true;
  while (queue.length) await handle(queue.shift());
  busy = false;
}

self.onmessage = (event) => {
  queue.push(event.data);
  drain();
};

load().then(() => postMessage({ type: 'ready', defaults: engine.defaults }),
            (e) => postMessage({ type: 'error', message: `cannot load the engine: ${e && e.message ? e.message : e}` }));
