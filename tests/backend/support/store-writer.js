'use strict';
// Saves a growing document through the store as fast as it can, printing each counter
// once its save has finished, until it is killed. Argument: the file to write.

const path = require('node:path');
const { JsonStore } = require('../../../resources/backend/lib/store');

const store = new JsonStore(process.argv[2], (raw) => raw || { counter: 0, items: [] });
(async () => {
  for (;;) {
    const n = store.data.counter + 1;
    store.data.counter = n;
    // Enough text that a write takes more than one system call.
    store.data.items = Array.from({ length: 2000 }, (_, i) => `${n}-${i}-${path.sep}`);
    await store.changed();
    await store.flush();
    process.stdout.write(`${n}\n`);
  }
})();
