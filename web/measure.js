// The page's budgets, measured in headless Chromium here:
//   node web/measure.js SITE_DIR [RUNS]
// download size (gzip'd .wasm + .js + .data), page load to the first
// presented picture and to the title (with the loading outside the
// program's designed waits), sprite throughput against the plain WebGL
// reference page (web/bench/reference.html), and the wasm heap at the title.
'use strict';
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const d = require('./driver');

const site = process.argv[2];
const runs = Number(process.argv[3] || 5);
if (!site) {
  console.error('usage: node web/measure.js SITE_DIR [RUNS]');
  process.exit(2);
}

function median(a) {
  const s = [...a].sort((x, y) => x - y);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
}

async function main() {
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

  const root = path.resolve(__dirname, '..');
  const server = await d.serve(site, {
    '/reference.html': path.join(__dirname, 'bench/reference.html'),
    '/icons.png': path.join(root, 'Files/Common/icons.png'),
  });
  const base = 'http://127.0.0.1:' + server.address().port;
  const loads = [], heaps = [], bests = [], refs = [], titles = [], starts = [], tests = [], work = [];
  for (let i = 0; i < runs; i++) {
    // A fresh browser and profile each time: nothing cached.
    const browser = await d.launch();
    const errors = [];
    try {
      const page = await d.openAt(browser, base + '/index.html', errors);
      await d.waitFor(page, 'window.wormlobPresents > 0', 60000, 'the first picture');
      loads.push(await page.evaluate(() => window.wormlobFirstPresentMs));
      await d.waitFor(page, 'window.wormlobPresents > 250', 60000, 'the title');
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
      // The start-up performance test's result, from the log in IndexedDB.
      const log = (await d.storedFiles(page))['/Files/Debug.txt'].toString('latin1');
      const m = /Main sprites : (\d+)/.exec(log);
      if (m) bests.push(Math.round(Number(m[1]) / 0.4));
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
  console.log(`sprite throughput: page median ${median(bests)}, reference median ${median(refs)} ` +
              `(${(100 * median(bests) / median(refs)).toFixed(0)} %, budget 90 %)`);
}

main().catch(e => {
  console.error('measure: ' + e.message);
  process.exit(1);
});
