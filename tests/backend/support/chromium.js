'use strict';
// Drives headless Chromium over the DevTools protocol on a pipe (fds 3 and 4), so the
// page tests need no npm package and no debugging port.

const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

function findChromium() {
  for (const name of ['chromium', 'chromium-browser', 'google-chrome']) {
    try {
      return execFileSync('sh', ['-c', `command -v ${name}`], { encoding: 'utf8' }).trim() || null;
    } catch {
      // try the next name
    }
  }
  return null;
}

class Browser {
  static async launch() {
    const exe = findChromium();
    if (!exe) return null;
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'brindlemar-chromium-'));
    const proc = spawn(exe, [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run', '--mute-audio',
      '--disable-dev-shm-usage', '--hide-scrollbars', '--remote-debugging-pipe',
      `--user-data-dir=${profile}`, 'about:blank',
    ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
    const b = new Browser(proc, profile);
    await b.send('Target.setDiscoverTargets', { discover: false });
    return b;
  }

  constructor(proc, profile) {
    this.proc = proc;
    this.profile = profile;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    this.stderr = '';
    let buf = '';
    proc.stderr.on('data', (d) => { this.stderr = (this.stderr + d).slice(-4000); });
    proc.stdio[4].on('data', (chunk) => {
      buf += chunk.toString('utf8');
      let i;
      while ((i = buf.indexOf('\0')) >= 0) {
        const msg = JSON.parse(buf.slice(0, i));
        buf = buf.slice(i + 1);
        this._dispatch(msg);
      }
    });
    proc.on('exit', () => {
      for (const { reject } of this.pending.values()) reject(new Error(`chromium exited\n${this.stderr}`));
      this.pending.clear();
    });
  }

  _dispatch(msg) {
    if (msg.id && this.pending.has(msg.id)) {
      const { resolve, reject } = this.pending.get(msg.id);
      this.pending.delete(msg.id);
      if (msg.error) reject(new Error(`${msg.error.message} ${msg.error.data || ''}`));
      else resolve(msg.result);
    } else if (msg.method) {
      for (const fn of this.listeners) fn(msg);
    }
  }

  send(method, params = {}, sessionId) {
    const id = this.nextId++;
    const msg = { id, method, params };
    if (sessionId) msg.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.proc.stdio[3].write(`${JSON.stringify(msg)}\0`);
    });
  }

  // A fresh page with `width`x`height` viewport; `preload` runs before any page script.
  async newPage({ width = 1280, height = 800, preload = '' } = {}) {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this, sessionId, targetId);
    await page.send('Page.enable');
    await page.send('Runtime.enable');
    await page.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile: false });
    if (preload) await page.send('Page.addScriptToEvaluateOnNewDocument', { source: preload });
    return page;
  }

  async close() {
    const exited = this.proc.exitCode !== null || this.proc.signalCode !== null
      ? Promise.resolve()
      : new Promise((r) => this.proc.once('exit', r));
    this.send('Browser.close').catch(() => {});
    const timer = setTimeout(() => this.proc.kill('SIGKILL'), 3000);
    await exited;
    clearTimeout(timer);
    try {
      fs.rmSync(this.profile, { recursive: true, force: true, maxRetries: 3 });
    } catch {
      // a left-over profile in the temporary folder is harmless
    }
  }
}

class Page {
  constructor(browser, sessionId, targetId) {
    this.browser = browser;
    this.sessionId = sessionId;
    this.targetId = targetId;
    this.errors = [];
    browser.listeners.push((msg) => {
      if (msg.sessionId !== sessionId) return;
      if (msg.method === 'Runtime.exceptionThrown') {
        this.errors.push(msg.params.exceptionDetails.exception?.description || msg.params.exceptionDetails.text);
      }
      if (msg.method === 'Runtime.consoleAPICalled' && msg.params.type === 'error') {
        this.errors.push(msg.params.args.map((a) => a.value ?? a.description).join(' '));
      }
    });
  }

  send(method, params) {
    return this.browser.send(method, params, this.sessionId);
  }

  async goto(url) {
    const loaded = new Promise((resolve) => {
      const fn = (msg) => {
        if (msg.sessionId === this.sessionId && msg.method === 'Page.loadEventFired') {
          this.browser.listeners.splice(this.browser.listeners.indexOf(fn), 1);
          resolve();
        }
      };
      this.browser.listeners.push(fn);
    });
    await this.send('Page.navigate', { url });
    await loaded;
  }

  // Evaluates an expression (a promise is awaited) and returns its value.
  async eval(expression) {
    const r = await this.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
    if (r.exceptionDetails) {
      throw new Error(r.exceptionDetails.exception?.description || r.exceptionDetails.text);
    }
    return r.result.value;
  }

  // Polls `expression` until it is truthy; returns its value.
  async waitFor(expression, timeoutMs = 5000) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      const v = await this.eval(expression);
      if (v) return v;
      if (Date.now() > end) throw new Error(`timed out waiting for: ${expression}`);
      await new Promise((r) => setTimeout(r, 50));
    }
  }

  async screenshot(file) {
    const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
  }
}

module.exports = { Browser, findChromium };
