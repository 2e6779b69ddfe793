// The page's budgets, measured in headless Chromium here:
//   node web/measure.js SITE_DIR [RUNS]
//     download size (gzip'd .wasm + .js + .data), page load to the first
//     presented picture and to the title (with the loading outside the
//     program's designed waits), the wasm heap at the title, and sprite
//     throughput: the best load the page's start-up performance test finds
//     against the best load of the plain WebGL reference page
//     (web/bench/reference.html) running the same procedure, RUNS fresh
//     loads of each (5 by default).
//   node web/measure.js SITE_DIR --spread [RUNS]
//     the page's best load alone over RUNS fresh loads (10 by default).
//   node web/measure.js SITE_DIR --fixed [LOADS] [REPEATS]
//     frame times at fixed loads (1000,4000,8000,16000 by default): the
//     page with its test held at the load (--test-load), the reference
//     with ?n=; per load the median over 60 frames of the time from a
//     frame's start to the end of its drawing, the median period from one
//     frame's end of drawing to the next (what sets the frame rate, waits
//     included), and the CPU time the
//     browser's GPU process, the page's renderer and the browser's other
//     processes spent per frame (read from /proc: steadier than wall time
//     on a shared machine), REPEATS
//     fresh loads each (1 by default).
//   node web/measure.js SITE_DIR --calls [LOADS]
//     WebGL calls and bytes uploaded per frame at fixed loads (1000 by
//     default), page and reference, counted by wrapping every WebGL call.
'use strict';
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const d = require('./driver');

const site = process.argv[2];
if (!site) {
  console.error('usage: node web/measure.js SITE_DIR [RUNS | --spread [RUNS] | --fixed [LOADS] [REPEATS] | --calls [LOADS]]');
  process.exit(2);
}

function median(a) {
  const s = [...a].sort((x, y) => x - y);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
}

const root = path.resolve(__dirname, '..');
// The reference page and the pictures it draws, served beside the site.
const REFERENCE_FILES = {
  '/reference.html': path.join(__dirname, 'bench/reference.html'),
  '/icons.png': path.join(root, 'Files/Common/icons.png'),
  '/logo.png': path.join(root, 'Files/Common/logo.png'),
  '/Vantor.png': path.join(root, 'Files/Common/Vantor.png'),
};

// CPU time (ms, user + system) of a browser's GPU process and of its
// renderers, from /proc: the browser's own process and its descendants,
// told apart by their --type= argument.
function browserCpu(browser) {
  const rootPid = browser.process().pid;
  const parent = {}, type = {}, cpu = {};
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'latin1');
      const f = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      parent[entry] = f[1];
      cpu[entry] = (Number(f[11]) + Number(f[12])) * 10;  // clock ticks of 10 ms
      const m = /--type=([a-z-]+)/.exec(fs.readFileSync(`/proc/${entry}/cmdline`, 'latin1'));
      type[entry] = m ? m[1] : '';
    } catch (e) { /* the process ended meanwhile */ }
  }
  const within = pid => { for (let p = pid; p && p !== '0'; p = parent[p]) if (p === String(rootPid)) return true; return false; };
  const out = {gpu: 0, renderer: 0, other: 0};
  for (const pid of Object.keys(cpu)) {
    if (!within(pid)) continue;
    if (type[pid] === 'gpu-process') out.gpu += cpu[pid];
    else if (type[pid] === 'renderer') out.renderer += cpu[pid];
    else out.other += cpu[pid];
  }
  return out;
}

// The page's start-up performance test's best load, from its log in
// IndexedDB ("Main sprites" is 0.4 times the best load).
async function pageBest(page) {
  const log = (await d.storedFiles(page))['/Files/Debug.txt'].toString('latin1');
  const m = /Main sprites : (\d+)/.exec(log);
  return m ? Math.round(Number(m[1]) / 0.4) : undefined;
}

const list = a => a.join(', ');
const spreadText = a => `median ${median(a)}, range ${Math.min(...a)}-${Math.max(...a)} (${list(a)})`;

// --spread: the page's best load over fresh loads.
async function spread(runs) {
  const server = await d.serve(site);
  const base = 'http://127.0.0.1:' + server.address().port;
  const bests = [];
  for (let i = 0; i < runs; i++) {
    const browser = await d.launch();
    const errors = [];
    try {
      const page = await d.openAt(browser, base + '/index.html', errors);
      await d.waitFor(page, 'window.wormlobLogMarks && "Finished Loading" in window.wormlobLogMarks', 120000,
                      'the end of the performance test');
      bests.push(await pageBest(page));
    } finally {
      await browser.close();
    }
    if (errors.length) console.log('page errors: ' + errors.join('; '));
    console.log(`run ${i + 1}: best load ${bests[i]}`);
  }
  server.close();
  console.log(`page's best load over ${runs} fresh loads: ${spreadText(bests)}`);
}

// Frame times of a held load: each frame from its start (the previous
// frame's present, for the page; the end of the previous frame's wait, for
// the reference) to the end of its drawing.
async function fixedPage(base, n) {
  const browser = await d.launch();
  const errors = [];
  try {
    const page = await d.openAt(browser, `${base}/index.html?test-load=${n}`, errors);
    // The CPU times are read across the held frames 11 to 65.
    const drawnIn = `(window.wormlobLogMarks && window.wormlobLogMarks['Starting Engine Test'] !== undefined ?
      (window.wormlobDrawnTimes || []).filter(t => t > window.wormlobLogMarks['Starting Engine Test']).length : 0)`;
    await d.waitFor(page, `${drawnIn} >= 11`, 600000, 'the held test');
    const [cpu0, f0] = [browserCpu(browser), await d.peek(page, drawnIn)];
    await d.waitFor(page, `${drawnIn} >= 65`, 600000, 'the held test');
    const [cpu1, f1] = [browserCpu(browser), await d.peek(page, drawnIn)];
    await d.waitFor(page, 'window.wormlobLogMarks["Test Complete"] !== undefined', 600000, 'the end of the test');
    const [marks, drawn, presents] = await d.peek(page,
        '[window.wormlobLogMarks, window.wormlobDrawnTimes, window.wormlobPresentTimes]');
    const held = drawn.filter(t => t > marks['Starting Engine Test'] && t < marks['Test Complete']).slice(-61);
    const times = held.slice(1).map(t => t - presents.filter(p => p < t).pop());
    const periods = held.slice(1).map((t, i) => t - held[i]);
    return {times, periods, gpu: (cpu1.gpu - cpu0.gpu) / (f1 - f0), renderer: (cpu1.renderer - cpu0.renderer) / (f1 - f0),
            other: (cpu1.other - cpu0.other) / (f1 - f0), errors};
  } finally {
    await browser.close();
  }
}

async function fixedReference(base, n) {
  const browser = await d.launch();
  const errors = [];
  try {
    const page = await d.openAt(browser, `${base}/reference.html?n=${n}`, errors);
    await d.waitFor(page, 'window.referenceCount >= 11', 600000, 'the reference');
    const [cpu0, f0] = [browserCpu(browser), await d.peek(page, 'window.referenceCount')];
    await d.waitFor(page, 'window.referenceCount >= 65', 600000, 'the reference');
    const [cpu1, f1] = [browserCpu(browser), await d.peek(page, 'window.referenceCount')];
    await d.waitFor(page, 'window.referenceFixed !== undefined', 600000, 'the reference');
    const [times, drawnAt] = await d.peek(page, '[window.referenceFixed, window.referenceDrawnAt]');
    const held = drawnAt.slice(-61);
    const periods = held.slice(1).map((t, i) => t - held[i]);
    return {times, periods, gpu: (cpu1.gpu - cpu0.gpu) / (f1 - f0), renderer: (cpu1.renderer - cpu0.renderer) / (f1 - f0),
            other: (cpu1.other - cpu0.other) / (f1 - f0), errors};
  } finally {
    await browser.close();
  }
}

async function fixed(loads, repeats) {
  const server = await d.serve(site, REFERENCE_FILES);
  const base = 'http://127.0.0.1:' + server.address().port;
  for (const n of loads) {
    const medians = {page: [], reference: []}, periods = {page: [], reference: []};
    for (let r = 0; r < repeats; r++) {
      for (const [who, run] of [['page', fixedPage], ['reference', fixedReference]]) {
        const res = await run(base, n);
        medians[who].push(median(res.times));
        periods[who].push(median(res.periods));
        if (res.errors.length) console.log('page errors: ' + res.errors.join('; '));
        const line = `${n} sprites, ${who}: median frame ${median(res.times).toFixed(2)} ms ` +
                     `(${Math.min(...res.times).toFixed(1)}-${Math.max(...res.times).toFixed(1)} over ` +
                     `${res.times.length} frames), median period ${median(res.periods).toFixed(2)} ms, CPU a frame: GPU process ${res.gpu.toFixed(1)} ms, ` +
                     `renderer ${res.renderer.toFixed(1)} ms, the browser's other processes ${res.other.toFixed(1)} ms`;
        console.log(line);
      }
    }
    // Page and reference load in turns, so a spell of a busy machine
    // falls on both; the median of each one's medians is the figure.
    if (repeats > 1) {
      const [p, q] = [median(medians.page), median(medians.reference)];
      const [pp, qp] = [median(periods.page), median(periods.reference)];
      console.log(`${n} sprites over ${repeats} loads each: frame time page ${p.toFixed(2)} ms, reference ` +
                  `${q.toFixed(2)} ms (page / reference ${(100 * q / p).toFixed(0)} %); period from one frame's ` +
                  `drawing to the next page ${pp.toFixed(2)} ms, reference ${qp.toFixed(2)} ms ` +
                  `(${(100 * qp / pp).toFixed(0)} %)`);
    }
  }
  server.close();
}

// Wraps every WebGL method of a page (before its scripts run) to count the
// calls, the bytes handed to buffers, and the frames (one pixel read each).
function countWebGl() {
  const counts = {};
  let bytes = 0, frames = 0;
  window.glCounts = () => ({counts, bytes, frames});
  window.glCountsReset = () => { for (const k in counts) delete counts[k]; bytes = 0; frames = 0; };
  const size = (data, offset, length) => typeof data !== 'object' ? 0 :
      length !== undefined ? length * (data.BYTES_PER_ELEMENT || 1) :
      data.byteLength - (offset || 0) * (data.BYTES_PER_ELEMENT || 1);
  for (const C of [WebGL2RenderingContext, WebGLRenderingContext]) {
    for (const name of Object.getOwnPropertyNames(C.prototype)) {
      const d = Object.getOwnPropertyDescriptor(C.prototype, name);
      if (!d || typeof d.value !== 'function') continue;
      const f = d.value;
      C.prototype[name] = function(...a) {
        counts[name] = (counts[name] || 0) + 1;
        if (name === 'bufferData') bytes += size(a[1], a[3], a[4]);
        if (name === 'bufferSubData') bytes += size(a[2], a[3], a[4]);
        if (name === 'readPixels') frames++;
        return f.apply(this, a);
      };
    }
  }
}

async function calls(loads) {
  const server = await d.serve(site, REFERENCE_FILES);
  const base = 'http://127.0.0.1:' + server.address().port;
  for (const n of loads) {
    const held = `window.wormlobLogMarks && window.wormlobLogMarks['Starting Engine Test'] !== undefined &&
                  (window.wormlobDrawnTimes || []).filter(t => t > window.wormlobLogMarks['Starting Engine Test']).length > 15`;
    for (const [who, url, ready] of [['page', `/index.html?test-load=${n}`, held],
                                     ['reference', `/reference.html?n=${n}`, 'window.referenceCount >= 15']]) {
      const browser = await d.launch();
      try {
        const page = await browser.newPage();
        await page.evaluateOnNewDocument(countWebGl);
        await page.goto(base + url);
        await d.waitFor(page, ready, 600000, who);
        await d.peek(page, 'window.glCountsReset()');
        // Ten frames of the held load (the page holds it for 70).
        await d.waitFor(page, 'window.glCounts().frames >= 10', 600000, who);
        const c = await d.peek(page, 'window.glCounts()');
        const per = Object.keys(c.counts).sort().map(k => `${k} ${+(c.counts[k] / c.frames).toFixed(2)}`).join(', ');
        console.log(`${n} sprites, ${who}: a frame uploads ${(c.bytes / c.frames / 1024).toFixed(1)} KB; calls: ${per}`);
      } finally {
        await browser.close();
      }
    }
  }
  server.close();
}

async function main() {
  if (process.argv[3] === '--calls') return calls((process.argv[4] || '1000').split(',').map(Number));
  if (process.argv[3] === '--spread') return spread(Number(process.argv[4] || 10));
  if (process.argv[3] === '--fixed') {
    return fixed((process.argv[4] || '1000,4000,8000,16000').split(',').map(Number), Number(process.argv[5] || 1));
  }
  const runs = Number(process.argv[3] || 5);
  let total = 0;
  const sizes = [];
  for (const f of ['index.wasm', 'index.js', 'index.data']) {
    const raw = fs.readFileSync(path.join(site, f));
    const gz = zlib.gzipSync(raw, {level: 9}).length;
    total += gz;
    sizes.push(`${f} ${(raw.length / 1048576).toFixed(2)} MB, gzip'd ${(gz / 1048576).toFixed(2)} MB`);
  }
  console.log('download: ' + sizes.join('; '));
  console.log(`download total gzip'd: ${(total / 1048576).toFixed(2)} MB (budget 3 MB)`);

  const server = await d.serve(site, REFERENCE_FILES);
  const base = 'http://127.0.0.1:' + server.address().port;
  const loads = [], heaps = [], bests = [], refs = [], titles = [], starts = [], tests = [], work = [], behind = [];
  for (let i = 0; i < runs; i++) {
    // A fresh browser and profile each time: nothing cached.
    const browser = await d.launch();
    const errors = [];
    try {
      const page = await d.openAt(browser, base + '/index.html', errors);
      await d.waitFor(page, 'window.wormlobPresents > 0', 60000, 'the first picture');
      loads.push(await page.evaluate(() => window.wormlobFirstPresentMs));
      await d.waitFor(page, 'window.wormlobPresents > 250', 60000, 'the title');
      // How far the browser's drawing is behind the program: a pixel read
      // waits for everything queued.
      behind.push(await d.peek(page, `(() => {
        const c = document.getElementById('canvas'), gl = c.getContext('webgl2') || c.getContext('webgl');
        const t = performance.now();
        gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
        return performance.now() - t;
      })()`));
      // The title's first frame is the first picture after the log's
      // "Finished Loading". Before it come two waits the program is built
      // to make: the start-up performance test (16 to 320 frames, longer
      // the faster the machine draws) and the splash hold (until 2.5 s
      // after the program's start). The loading itself is the time to the
      // first picture (the splash, just before the test) plus the game's
      // assets loaded after the test.
      const [start, marks, times] = await page.evaluate(
          () => [window.wormlobStartMs, window.wormlobLogMarks, window.wormlobPresentTimes]);
      titles.push(times.find(t => t > marks['Finished Loading']));
      starts.push(start);
      tests.push(marks['Test Complete'] - marks['Starting Engine Test']);
      work.push(loads[i] + marks['Finished Loading'] - marks['Test Complete']);
      heaps.push(await page.evaluate(() => Module.HEAP8.length));
      // The reference fills a canvas of the page's size.
      const size = await page.evaluate(() => [canvas.width, canvas.height]);
      bests.push(await pageBest(page));
      await page.close();
      const ref = await d.openAt(browser, `${base}/reference.html?w=${size[0]}&h=${size[1]}`, errors);
      await d.waitFor(ref, 'window.referenceBest !== undefined', 120000, 'the reference page');
      refs.push(await ref.evaluate(() => window.referenceBest));
      await ref.close();
    } finally {
      await browser.close();
    }
    if (errors.length) console.log('page errors: ' + errors.join('; '));
    console.log(`run ${i + 1}: program started ${starts[i].toFixed(0)} ms, first picture ${loads[i].toFixed(0)} ms, ` +
                `performance test ${tests[i].toFixed(0)} ms, title ${titles[i].toFixed(0)} ms, ` +
                `loading ${work[i].toFixed(0)} ms, heap ${(heaps[i] / 1048576).toFixed(0)} MB, ` +
                `best load ${bests[i]} sprites (reference ${refs[i]})`);
  }
  server.close();
  console.log(`page load to first picture: median ${median(loads).toFixed(0)} ms, ` +
              `range ${Math.min(...loads).toFixed(0)}-${Math.max(...loads).toFixed(0)} ms (budget 1500 ms)`);
  console.log(`page load to the title's first frame: median ${median(titles).toFixed(0)} ms ` +
              `(range ${Math.min(...titles).toFixed(0)}-${Math.max(...titles).toFixed(0)}), made of the program's ` +
              `start at ${median(starts).toFixed(0)} ms, the splash hold to 2500 ms after it and the performance ` +
              `test (median ${median(tests).toFixed(0)} ms)`);
  console.log(`loading outside those two waits (first picture + game assets after the test): median ` +
              `${median(work).toFixed(0)} ms, range ${Math.min(...work).toFixed(0)}-${Math.max(...work).toFixed(0)} ms ` +
              `(budget 1500 ms)`);
  console.log(`wasm heap at the title: ${(median(heaps) / 1048576).toFixed(0)} MB`);
  console.log(`the browser's drawing behind the program at the title (a pixel read waits): ` +
              `${behind.map(b => b.toFixed(0)).join(', ')} ms`);
  console.log(`best load, page: ${spreadText(bests)}`);
  console.log(`best load, reference: ${spreadText(refs)}`);
  console.log(`sprite throughput: page median ${median(bests)}, reference median ${median(refs)} ` +
              `(${(100 * median(bests) / median(refs)).toFixed(0)} %, budget 90 %)`);
}

main().catch(e => {
  console.error('measure: ' + e.message);
  process.exit(1);
});
