// Stand-in library service for the start-up benchmark: serves one generated page
// (a few hundred cards, CSS, a little script) and prints the readiness line as soon
// as it listens, so that what is measured is the program showing the page. The page
// reports its load event to /loaded, which is appended to $STANDIN_REPORT.
//   STANDIN_DELAY_MS  wait this long before listening (a slow service)
//   STANDIN_FLOOD     a command line (JSON array) started once ready, writing into
//                     this service's own standard output (the output benchmark)
'use strict';
const fs = require('fs');
const http = require('http');
const {spawn} = require('child_process');

const report = process.env.STANDIN_REPORT;
const delay = Number(process.env.STANDIN_DELAY_MS || 0);

function page() {
  const cards = [];
  for (let i = 0; i < 300; i++) {
    const hue = (i * 37) % 360;
    cards.push(`<article class="card"><div class="poster" style="background:hsl(${hue} 45% 30%)"></div>` +
      `<h2>Película ${i + 1}</h2><p>${1970 + (i % 55)} · ${80 + (i % 70)} min</p></article>`);
  }
  return `<!doctype html><html lang="es"><meta charset="utf-8"><title>Biblioteca</title>
<style>
body{margin:0;background:#0b0d10;color:#ece8df;font:14px system-ui,sans-serif}
header{position:sticky;top:0;padding:16px 24px;background:#12151a;box-shadow:0 2px 8px #0008}
main{display:grid;grid-template-columns:repeat(auto-fill,minmax(160px,1fr));gap:18px;padding:24px}
.card{background:#161a20;border-radius:10px;overflow:hidden;transition:transform .2s}
.card:hover{transform:scale(1.04)}
.poster{aspect-ratio:2/3}
h2{font-size:14px;margin:8px 10px 2px}p{margin:0 10px 10px;color:#929ba9;font-size:12px}
</style>
<header><h1 id="title">Mi biblioteca</h1></header>
<main>${cards.join('\n')}</main>
<script>
document.getElementById('title').textContent += ' (' + document.querySelectorAll('.card').length + ')';
addEventListener('load', () => {
  fetch('/loaded?t=' + Math.round(performance.timeOrigin + performance.now()) +
        '&ua=' + encodeURIComponent(navigator.userAgent));
});
</script></html>`;
}

const body = Buffer.from(page());
const server = http.createServer((req, res) => {
  const url = new URL(req.url, 'http://127.0.0.1');
  if (url.pathname === '/loaded') {
    if (report) fs.appendFileSync(report, JSON.stringify({t: Number(url.searchParams.get('t'))}) + '\n');
    res.writeHead(204).end();
  } else if (url.pathname === '/') {
    res.writeHead(200, {'content-type': 'text/html; charset=utf-8', 'content-length': body.length}).end(body);
  } else {
    res.writeHead(404).end();
  }
});
setTimeout(() => server.listen(47874, '127.0.0.1', () => {
  console.log('Brindlemar disponible en http://127.0.0.1:47874');
  if (process.env.STANDIN_FLOOD) {
    const [command, ...args] = JSON.parse(process.env.STANDIN_FLOOD);
    spawn(command, args, {stdio: ['ignore', 'inherit', 'inherit']});
  }
}), delay);
process.on('SIGTERM', () => process.exit(0));
