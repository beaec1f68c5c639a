// Time to queue a library of 20,000 videos without durations in the page's duration
// probe, called as the page calls it (on every refresh). Run by hand:
//   node tests/bench/duration_queue.mjs
// Anchor: 2.8 s per call at 20,000 items with the former array queue.
import { readFileSync } from 'node:fs';

const source = readFileSync(new URL('../../resources/backend/public/js/durations.js', import.meta.url), 'utf8');
const { DurationProbe } = await import(`data:text/javascript,${encodeURIComponent(source)}`);

const items = Array.from({ length: 20000 }, (_, i) => ({ id: `v${i}`, duration: null }));
const probe = new DurationProbe({ report() {}, busy: () => true });
for (const round of [1, 2, 3]) {
  const t0 = process.hrtime.bigint();
  probe.want(items);
  const ms = Number(process.hrtime.bigint() - t0) / 1e6;
  console.log(`want() with 20000 items, call ${round}: ${ms.toFixed(1)} ms (anchor: 2800 ms per call before)`);
}
clearTimeout(probe.waiting);
