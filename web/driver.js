// Drives the page in Debian's Chromium (headless, software WebGL) for the
// browser tests and the measurements. Shared by test.js and measure.js.
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const puppeteer = require('puppeteer-core');

const TYPES = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
               '.data': 'application/octet-stream', '.png': 'image/png'};

// A static server for the site on 127.0.0.1 (any free port). extra maps
// URL paths to files outside the site (the reference page).
function serve(root, extra = {}) {
  const server = http.createServer((req, res) => {
    let p = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (p === '/') p = '/index.html';
    const file = extra[p] || path.join(root, path.normalize(p).replace(/^(\.\.[/\\])+/, ''));
    fs.readFile(file, (e, data) => {
      if (e) { res.writeHead(404); res.end('not found'); return; }
      res.writeHead(200, {'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
                          'Cache-Control': 'no-store'});
      res.end(data);
    });
  });
  return new Promise(resolve => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Debian's Chromium, never a downloaded one; a fresh profile each launch.
// extraArgs adds flags for one test (e.g. a stricter autoplay policy).
async function launch(gl = true, extraArgs = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'wormlob2-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    defaultViewport: {width: 1280, height: 960},
    args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run', '--disable-quic',
           '--disable-background-timer-throttling', '--disable-renderer-backgrounding'].concat(
           gl ? ['--use-gl=angle', '--use-angle=swiftshader', '--enable-unsafe-swiftshader']
              : ['--disable-gpu', '--disable-software-rasterizer', '--disable-webgl'], extraArgs),
  });
  browser.profile = profile;
  const close = browser.close.bind(browser);
  browser.close = async () => { await close(); fs.rmSync(profile, {recursive: true, force: true}); };
  return browser;
}

// Collects a page's errors: uncaught exceptions, console errors and failed
// requests.
function collectErrors(page, errors) {
  page.on('pageerror', e => errors.push('page error: ' + e.message));
  page.on('console', m => {
    if (m.type() === 'error') errors.push('console error: ' + m.text());
  });
  page.on('requestfailed', r => errors.push('request failed: ' + r.url()));
  return page;
}

// A new page (an empty document) that collects its errors.
async function openPage(browser, errors) {
  return collectErrors(await browser.newPage(), errors);
}

// A tab opened straight at a URL, as a player's fresh tab opens it. A page
// made first and then sent to the URL leaves its empty first document in
// the same renderer, and Chromium shuts that document's compositor down a
// second later with a wait on the GPU process of about 100 ms: a stall no
// player sees, right inside the page's start-up performance test.
async function openAt(browser, url, errors) {
  const session = await browser.target().createCDPSession();
  const {targetId} = await session.send('Target.createTarget', {url});
  await session.detach();
  const target = await browser.waitForTarget(t => t._targetId === targetId || t.targetId?.() === targetId);
  return collectErrors(await target.page(), errors);
}

async function waitFor(page, expr, timeoutMs, what) {
  try {
    await page.waitForFunction(expr, {timeout: timeoutMs, polling: 100});
  } catch (e) {
    throw new Error('timed out waiting for ' + what);
  }
}

// An expression's value read from the page without counting as a gesture:
// puppeteer's own evaluate runs as one (user activation), which would let
// the page start sound or go full screen when no player asked it to.
const peekSessions = new WeakMap();
async function peek(page, expr) {
  if (!peekSessions.has(page)) peekSessions.set(page, await page.target().createCDPSession());
  const r = await peekSessions.get(page).send('Runtime.evaluate', {expression: expr, returnByValue: true});
  if (r.exceptionDetails) throw new Error('peek ' + expr + ': ' + r.exceptionDetails.text);
  return r.result.value;
}

// waitFor without a gesture (see peek).
async function waitQuietly(page, expr, timeoutMs, what) {
  const until = Date.now() + timeoutMs;
  while (!(await peek(page, expr))) {
    if (Date.now() > until) throw new Error('timed out waiting for ' + what);
    await new Promise(r => setTimeout(r, 100));
  }
}

// ------------------------------------------------------------------ PNG ---
// Screenshots come back as PNG: a small decoder for 8-bit RGB(A) pictures.
function decodePng(buf) {
  let pos = 8, width = 0, height = 0, ctype = 0;
  const idat = [];
  while (pos < buf.length) {
    const len = buf.readUInt32BE(pos), type = buf.toString('latin1', pos + 4, pos + 8);
    const body = buf.subarray(pos + 8, pos + 8 + len);
    if (type === 'IHDR') { width = body.readUInt32BE(0); height = body.readUInt32BE(4); ctype = body[9]; }
    else if (type === 'IDAT') idat.push(body);
    pos += 12 + len;
  }
  const bpp = ctype === 6 ? 4 : 3, stride = width * bpp;
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const out = Buffer.alloc(width * height * 4);
  const prev = Buffer.alloc(stride), cur = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const f = raw[y * (stride + 1)];
    raw.copy(cur, 0, y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
      let v = cur[i];
      if (f === 1) v += a;
      else if (f === 2) v += b;
      else if (f === 3) v += (a + b) >> 1;
      else if (f === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      cur[i] = v & 255;
    }
    for (let x = 0; x < width; x++) {
      out[(y * width + x) * 4] = cur[x * bpp];
      out[(y * width + x) * 4 + 1] = cur[x * bpp + 1];
      out[(y * width + x) * 4 + 2] = cur[x * bpp + 2];
      out[(y * width + x) * 4 + 3] = bpp === 4 ? cur[x * bpp + 3] : 255;
    }
    cur.copy(prev);
  }
  return {width, height, data: out};
}

// The canvas as the player sees it, in canvas pixels of the program's
// picture (the screenshot is scaled back by the CSS size).
async function shootCanvas(page, file) {
  const box = await peek(page, `(() => {
    const r = document.getElementById('canvas').getBoundingClientRect();
    return {x: r.x, y: r.y, width: r.width, height: r.height};
  })()`);
  const png = await page.screenshot({clip: box, type: 'png'});
  if (file) fs.writeFileSync(file, png);
  return decodePng(Buffer.from(png));
}

// Share of pixels in a rectangle (fractions of the picture) brighter than
// a threshold, and the number of distinct coarse colours there.
function regionStats(img, fx0, fy0, fx1, fy1, threshold = 60) {
  const x0 = Math.floor(fx0 * img.width), x1 = Math.floor(fx1 * img.width);
  const y0 = Math.floor(fy0 * img.height), y1 = Math.floor(fy1 * img.height);
  let bright = 0, n = 0;
  const colours = new Set();
  for (let y = y0; y < y1; y++) {
    for (let x = x0; x < x1; x++) {
      const i = (y * img.width + x) * 4;
      const r = img.data[i], g = img.data[i + 1], b = img.data[i + 2];
      if (Math.max(r, g, b) > threshold) bright++;
      colours.add((r >> 5) << 6 | (g >> 5) << 3 | (b >> 5));
      n++;
    }
  }
  return {bright: n ? bright / n : 0, colours: colours.size};
}

// Mean level of red, green and blue (0 to 255) in a rectangle (fractions
// of the picture).
function meanLevel(img, fx0, fy0, fx1, fy1) {
  let sum = 0, n = 0;
  for (let y = Math.floor(fy0 * img.height); y < Math.floor(fy1 * img.height); y++) {
    for (let x = Math.floor(fx0 * img.width); x < Math.floor(fx1 * img.width); x++) {
      const i = (y * img.width + x) * 4;
      sum += img.data[i] + img.data[i + 1] + img.data[i + 2];
      n++;
    }
  }
  return n ? sum / n / 3 : 0;
}

// Share of pixels in a rectangle (fractions of the picture) for which
// test(r, g, b) holds.
function colourShare(img, fx0, fy0, fx1, fy1, test) {
  let hit = 0, n = 0;
  for (let y = Math.floor(fy0 * img.height); y < Math.floor(fy1 * img.height); y++) {
    for (let x = Math.floor(fx0 * img.width); x < Math.floor(fx1 * img.width); x++) {
      const i = (y * img.width + x) * 4;
      if (test(img.data[i], img.data[i + 1], img.data[i + 2])) hit++;
      n++;
    }
  }
  return n ? hit / n : 0;
}

// The page's stored files (IndexedDB), path -> Buffer.
async function storedFiles(page) {
  const files = await page.evaluate(() => new Promise((resolve, reject) => {
    // Whatever version the page made (the score client's outbox came in 2).
    const req = indexedDB.open('wormlob2');
    req.onupgradeneeded = () => req.result.createObjectStore('files');
    req.onerror = () => reject(new Error('no IndexedDB'));
    req.onsuccess = () => {
      const out = {};
      const tx = req.result.transaction('files', 'readonly');
      const c = tx.objectStore('files').openCursor();
      c.onsuccess = () => {
        const cur = c.result;
        if (!cur) return;
        out[cur.key] = Array.from(cur.value);
        cur.continue();
      };
      tx.oncomplete = () => { req.result.close(); resolve(out); };
    };
  }));
  const result = {};
  for (const k of Object.keys(files)) result[k] = Buffer.from(files[k]);
  return result;
}

module.exports = {serve, launch, openPage, openAt, waitFor, peek, waitQuietly, decodePng, shootCanvas, regionStats,
                  colourShare, meanLevel, storedFiles};
