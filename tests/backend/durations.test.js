'use strict';
// The page's duration probe queue: each video once, in the order first seen.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const SOURCE = path.resolve(__dirname, '../../resources/backend/public/js/durations.js');

async function loadProbe() {
  const url = `data:text/javascript,${encodeURIComponent(fs.readFileSync(SOURCE, 'utf8'))}`;
  return (await import(url)).DurationProbe;
}

test('want() queues each video without a duration once, in order, across calls', async () => {
  const DurationProbe = await loadProbe();
  // busy: nothing is probed, the queue is only filled.
  const probe = new DurationProbe({ report() {}, busy: () => true });
  const item = (id, duration = null) => ({ id, duration });
  probe.want([item('a'), item('b', 12), item('c')]);
  probe.want([item('c'), item('d'), item('a')]);
  probe.tried.add('e');
  probe.want([item('e'), item('f')]);
  clearTimeout(probe.waiting);
  assert.deepEqual([...probe.queue], ['a', 'c', 'd', 'f']);
});
