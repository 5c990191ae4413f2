// The page's side of the engine's Web Worker: one request at a time is sent per call, each
// answered by id; a conversion reports its progress while it works. The worker takes the
// graph file as a File, so a large one is read there, never copied into the page.

export class Engine {
  constructor(url = 'worker.js') {
    this.worker = new Worker(url);
    this.next = 1;
    this.pending = new Map();
    this.defaults = null;
    this.ready = new Promise((resolve, reject) => {
      this.worker.addEventListener('message', (e) => {
        const m = e.data;
        if (m?.type === 'ready') {
          this.defaults = m.defaults ?? null;
          resolve(this);
          return;
        }
        // An error without an id: the engine itself could not be loaded.
        if (m?.type === 'error' && m.id === undefined) {
          this.#fail(new Error(m.message));
          return;
        }
        const call = this.pending.get(m?.id);
        if (!call) return;
        if (m.type === 'progress') {
          call.onProgress?.(m);
        } else if (m.type === 'result') {
          this.pending.delete(m.id);
          call.resolve(m.result);
        } else if (m.type === 'error') {
          this.pending.delete(m.id);
          call.reject(new Error(m.message));
        }
      });
      // A worker that cannot load (a missing file, a failed compile) fails every call.
      this.worker.addEventListener('error', (e) => {
        e.preventDefault?.();
        this.#fail(new Error(e.message || 'the engine could not be loaded'));
      });
      this.#reject = reject;
    });
  }

  #reject = null;

  #fail(error) {
    this.#reject?.(error);
    for (const call of this.pending.values()) call.reject(error);
    this.pending.clear();
  }

  #call(message, onProgress, transfer = []) {
    return this.ready.then(() => new Promise((resolve, reject) => {
      const id = this.next++;
      this.pending.set(id, { resolve, reject, onProgress });
      this.worker.postMessage({ id, ...message }, transfer);
    }));
  }

  convert(graph, options, onProgress) {
    return this.#call({ type: 'convert', graph, options }, onProgress);
  }

  readTable(kind, bytes, name) {
    return this.#call({ type: 'readTable', kind, bytes, name });
  }

  writeTable(kind, rows) {
    return this.#call({ type: 'writeTable', kind, rows });
  }
}
