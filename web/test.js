// The browser tests: the site in headless Chromium, loaded from a local
// server, checked against the desktop program.
//   node web/test.js SITE_DIR DESKTOP_BINARY FILES_DIR OUT_DIR
// The desktop binary supplies the expected demo record and a journal to
// replay. Screenshots of every step are left in OUT_DIR to look at.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const {execFileSync} = require('child_process');
const d = require('./driver');

const [site, desktop, filesDir, out] = process.argv.slice(2);
if (!out) {
  console.error('usage: node web/test.js SITE_DIR DESKTOP_BINARY FILES_DIR OUT_DIR');
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});

// A short demo game (a few thousand frames) keeps the real-clock run brief.
const DEMO = {mode: 'hard', seed: '5'};
const JOURNAL_FRAMES = 900;

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}

// A scratch copy of the data folder for one desktop run.
function scratchFiles() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'wormlob2-web-test-'));
  fs.cpSync(filesDir, path.join(dir, 'Files'), {recursive: true});
  for (const f of ['Setup.ini', 'Debug.txt', '418/scores.dat']) fs.rmSync(path.join(dir, 'Files', f), {force: true});
  return dir;
}

function recordFields(scoresDat) {
  const line = scoresDat.toString('latin1').split('\r\n').find(l => l.includes('|'));
  if (!line) return null;
  const f = line.split('|');
  return {score: f[0], name: f[1], mode: f[5], quit: f[7]};
}

async function main() {
  // The desktop's answers: the demo game's record, and a journal with its
  // per-frame checksums.
  const demoDir = scratchFiles();
  execFileSync(desktop, ['--headless', '--virtual-clock', '--autoplay', '--mode', DEMO.mode, '--seed', DEMO.seed,
                         '--games', '1', '--files', path.join(demoDir, 'Files')], {stdio: 'ignore'});
  const desktopRecord = recordFields(fs.readFileSync(path.join(demoDir, 'Files/418/scores.dat')));
  const journalDir = scratchFiles();
  const journal = path.join(journalDir, 'run.journal'), sums = path.join(journalDir, 'sums.txt');
  execFileSync(desktop, ['--headless', '--virtual-clock', '--autoplay', '--mode', 'hard', '--seed', '11',
                         '--frames', String(JOURNAL_FRAMES), '--record', journal, '--checksums', sums,
                         '--files', path.join(journalDir, 'Files')], {stdio: 'ignore'});
  const desktopSums = fs.readFileSync(sums, 'latin1');

  const server = await d.serve(site);
  const base = 'http://127.0.0.1:' + server.address().port + '/index.html';
  const browser = await d.launch();
  const errors = [];
  try {
    // 1. The title is drawn.
    let page = await d.openPage(browser, errors);
    // A gamepad the test controls. A browser shows a pad to a page only
    // after a press on it, so it stays hidden until the test connects it.
    await page.evaluateOnNewDocument(() => {
      const pad = {id: 'Test Pad', index: 0, connected: true, timestamp: 1, mapping: 'standard', axes: [0, 0, 0, 0],
                   buttons: Array.from({length: 17}, () => ({pressed: false, touched: false, value: 0}))};
      window.testPad = pad;
      window.testPadShown = false;
      Navigator.prototype.getGamepads = function() { return [window.testPadShown ? pad : null, null, null, null]; };
    });
    const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'wormlob2-downloads-'));
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
    await page.goto(base);
    await d.waitFor(page, 'window.wormlobPresents > 0', 30000, 'the first picture');
    // The splash is held 2.5 s; the title then slides in over 32 frames.
    await d.waitFor(page, 'window.wormlobPresents > 250', 90000, 'the title');
    await new Promise(r => setTimeout(r, 1000));
    const title = await d.shootCanvas(page, path.join(out, 'title.png'));
    const titleWhole = d.regionStats(title, 0, 0, 1, 1);
    check(titleWhole.bright > 0.05 && titleWhole.colours > 20, 'the title is drawn (' +
          (100 * titleWhole.bright).toFixed(1) + ' % lit, ' + titleWhole.colours + ' colours)');
    const button = d.regionStats(title, 0.35, 0.45, 0.65, 0.55);
    check(button.bright > 0.03, 'the start button is drawn');
    // The score table's first row (white text on the table's olive ground).
    const emptyTable = d.regionStats(title, 0.75, 0.555, 0.99, 0.59, 150);

    // The title runs at the desktop's game speed, 60 frames a second (every
    // second one presented when the performance test switched frame
    // skipping on), as far as the browser draws that fast: the frame wait
    // never asks for more than the rest of a frame's 15 ms, whatever the
    // frame's own time (its making and drawing, without what was slept),
    // and frames do not come faster.
    const pace = await page.evaluate(() => new Promise(resolve => {
      const from = window.wormlobDrawnTimes.length;
      setTimeout(() => {
        const at = a => a.slice(from);
        const drawn = at(window.wormlobDrawnTimes), asked = at(window.wormlobDrawnAsked);
        const slept = at(window.wormlobDrawnSlept);
        // Between two frames' drawing lie the first frame's wait and the
        // second frame's making and drawing: a frame's own time is that
        // span without what was slept, and the wait it asks for is in the
        // span after. A program that asked too much would do so frame
        // after frame; one frame held up by the browser (a collection, a
        // late task) is not the program's, so the worst but one is judged.
        const sums = [];
        let own = null;
        for (let i = 1; i < drawn.length; i++) {
          const period = drawn[i] - drawn[i - 1], ask = asked[i] - asked[i - 1];
          if (own !== null && ask > 0) sums.push(own + ask);
          own = period - (slept[i] - slept[i - 1]);
        }
        // The rate is judged by the mean period: when the browser finishes
        // drawing a frame varies from one frame to the next (its compositing
        // shares the rasteriser), so periods between drawings alternate
        // long and short about the same mean, which the frame wait paces.
        sums.sort((a, b) => b - a);
        const worst = sums.length > 1 ? sums[1] : sums.length ? sums[0] : 0;
        const mean = drawn.length > 1 ? (drawn[drawn.length - 1] - drawn[0]) / (drawn.length - 1) : 0;
        resolve({frames: drawn.length - 1, mean, worst, first: sums[0] || 0});
      }, 2000);
    }));
    check(pace.frames > 20 && pace.mean > 1000 / 60 * 0.85 && pace.worst <= 17,
          `the title paces its frames (${pace.frames} in 2 s, ${pace.mean.toFixed(1)} ms apart on average; ` +
          `a frame's own time and the wait it asks for come to ${pace.worst.toFixed(1)} ms at most, ` +
          `but for one frame at ${pace.first.toFixed(1)} ms)`);
    // What is presented is drawn: the browser is not behind the program
    // (a page that does not wait for its drawing queues frames faster than
    // a slow rasteriser draws them, and shows the title seconds late).
    const behindMs = await d.peek(page, `(() => {
      const c = document.getElementById('canvas'), gl = c.getContext('webgl2') || c.getContext('webgl');
      const t = performance.now();
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
      return performance.now() - t;
    })()`);
    check(behindMs < 200, `the title's pictures are drawn as they are presented (a pixel read waits ${behindMs.toFixed(0)} ms)`);

    // F11 saves the screenshot as a download with its usual name.
    await page.keyboard.press('F11');
    let shotFile;
    for (let i = 0; i < 50 && !shotFile; i++) {
      await new Promise(r => setTimeout(r, 200));
      shotFile = fs.readdirSync(downloads).find(f => f.endsWith('.png'));
    }
    const shotPng = shotFile ? d.decodePng(fs.readFileSync(path.join(downloads, shotFile))) : null;
    check(!!shotFile && /^Wormlob 2 .*\(Screenshot_\d\d [A-Z][a-z]{2} \d{4}_\d{6}\)\.png$/.test(shotFile) &&
          shotPng.width === 800 && shotPng.height === 600,
          'F11 downloads the screenshot as ' + shotFile);
    fs.rmSync(downloads, {recursive: true, force: true});

    // The settings panel (Tab) lists a gamepad once the browser reveals it,
    // and shows its first button held; then back.
    await page.keyboard.press('Tab');
    await new Promise(r => setTimeout(r, 1200));
    await d.shootCanvas(page, path.join(out, 'settings.png'));
    const padLine = [0.77, 0.25, 0.99, 0.285];  // the joystick list's first line
    const green = (r, g, b) => g > 200 && r < 150 && b < 150, yellow = (r, g, b) => r > 200 && g > 200 && b < 150;
    const before = d.colourShare(await d.shootCanvas(page), ...padLine, green);
    await page.evaluate(() => {
      window.testPadShown = true;
      const e = new Event('gamepadconnected');
      e.gamepad = window.testPad;
      window.dispatchEvent(e);
    });
    await new Promise(r => setTimeout(r, 500));
    const listed = d.colourShare(await d.shootCanvas(page, path.join(out, 'settings-gamepad.png')), ...padLine, green);
    await page.evaluate(() => {
      Object.assign(window.testPad.buttons[0], {pressed: true, value: 1});
      window.testPad.timestamp++;
    });
    await new Promise(r => setTimeout(r, 500));
    const held = d.colourShare(await d.shootCanvas(page), ...padLine, yellow);
    check(before === 0 && listed > 0.005 && held > 0.005,
          'a gamepad revealed after the start is listed in the settings panel, its button read ' +
          `(green ${before.toFixed(3)} -> ${listed.toFixed(3)}, yellow when held ${held.toFixed(3)})`);
    await page.keyboard.press('Tab');
    await new Promise(r => setTimeout(r, 1200));

    // 2. A click on the start button starts a game, and the HUD is drawn.
    const box = await page.evaluate(() => {
      const r = document.getElementById('canvas').getBoundingClientRect();
      return {x: r.x, y: r.y, w: r.width, h: r.height};
    });
    await page.mouse.move(box.x + box.w / 2, box.y + box.h / 2);
    await page.mouse.down();
    await new Promise(r => setTimeout(r, 150));
    await page.mouse.up();
    await new Promise(r => setTimeout(r, 2500));
    const game = await d.shootCanvas(page, path.join(out, 'game.png'));
    const gameButton = d.regionStats(game, 0.35, 0.45, 0.65, 0.55);
    check(Math.abs(gameButton.bright - button.bright) > 0.01 || gameButton.colours !== button.colours,
          'the click left the title');
    const hud = d.regionStats(game, 0, 0.9, 1, 1);
    check(hud.bright > 0.01, 'the HUD is drawn');
    // Slippery (F4, a practice key) stops clearing the screen between
    // frames: each frame's backdrop, drawn at alpha 0.5, goes over the
    // frame before, so the backdrop brightens to about twice its cleared
    // level. A frame drawn over a blank buffer instead of the picture the
    // canvas shows stays near the cleared level (about 1.55 times, as
    // measured when the page lost its picture at every present).
    await page.keyboard.press('F4');
    await new Promise(r => setTimeout(r, 1500));
    const slippery = await d.shootCanvas(page, path.join(out, 'game-slippery.png'));
    const trails = d.meanLevel(slippery, 0.1, 0.3, 0.9, 0.7) / d.meanLevel(game, 0.1, 0.3, 0.9, 0.7);
    check(trails > 1.8, `frames that do not clear draw over the frame before (backdrop ${trails.toFixed(2)} times as bright)`);
    // A running game holds the pointer (Pointer Lock); when the browser
    // lets it go (its Escape), the game pauses as Escape does.
    const locked = await page.evaluate(() => document.pointerLockElement === document.getElementById('canvas'));
    await page.evaluate(() => document.exitPointerLock());
    await new Promise(r => setTimeout(r, 1000));
    const paused = await d.shootCanvas(page, path.join(out, 'pause.png'));
    const continueItem = d.colourShare(paused, 0.1, 0.43, 0.25, 0.49, (r, g, b) => r > 200 && g > 200 && b < 100);
    check(locked && continueItem > 0.02, 'the game locks the pointer, and its release pauses the game ' +
          `(locked ${locked}, menu's yellow ${continueItem.toFixed(3)})`);
    await page.close();

    // 3. A seeded demo game files the desktop's record in IndexedDB, and the
    // score table shows it after a reload.
    page = await d.openPage(browser, errors);
    await page.goto(base + '?autoplay&mode=' + DEMO.mode + '&seed=' + DEMO.seed + '&games=1');
    const started = Date.now();
    let shot = 0;
    while (await page.evaluate(() => window.wormlobState) !== 'ended') {
      if (Date.now() - started > 300000) throw new Error('the demo game did not end in 5 minutes');
      if (await page.evaluate(() => window.wormlobState) === 'failed') break;
      await new Promise(r => setTimeout(r, 2000));
      if (shot++ % 10 === 5) await d.shootCanvas(page, path.join(out, 'demo-' + shot + '.png'));
    }
    check(await page.evaluate(() => window.wormlobExitStatus) === 0, 'the demo run ended normally');
    const stored = await d.storedFiles(page);
    const pageRecord = stored['/Files/418/scores.dat'] ? recordFields(stored['/Files/418/scores.dat']) : null;
    check(pageRecord && JSON.stringify(pageRecord) === JSON.stringify(desktopRecord),
          'the demo game filed ' + JSON.stringify(pageRecord) + ' as the desktop did ' +
          JSON.stringify(desktopRecord));
    check(!!stored['/Files/Setup.ini'] && !!stored['/Files/Debug.txt'], 'Setup.ini and Debug.txt are stored');
    // The table shows the chosen mode's games.
    await page.goto(base + '?mode=' + DEMO.mode);
    await d.waitFor(page, 'window.wormlobPresents > 250', 90000, 'the title after a reload');
    await new Promise(r => setTimeout(r, 1000));
    const again = await d.shootCanvas(page, path.join(out, 'title-with-score.png'));
    const table = d.regionStats(again, 0.75, 0.555, 0.99, 0.59, 150);
    check(table.bright > emptyTable.bright + 0.05, 'the score table shows the filed game after a reload');
    await page.close();

    // 4. A desktop journal replays with the same per-frame checksums.
    page = await d.openPage(browser, errors);
    const journalB64 = fs.readFileSync(journal).toString('base64');
    await page.evaluateOnNewDocument(b64 => {
      const bin = atob(b64), bytes = new Uint8Array(bin.length);
      for (let i = 0; i < bin.length; i++) bytes[i] = bin.charCodeAt(i);
      window.wormlobGivenFiles = {'/run.journal': bytes};
    }, journalB64);
    // Headless: the game's logic is what is compared, and a replay drawn
    // in software would redraw the performance test's heaviest loads.
    await page.goto(base + '?headless&replay=/run.journal&checksums=/sums.txt');
    await d.waitFor(page, 'window.wormlobState === "ended" || window.wormlobState === "failed"', 300000,
                    'the replay to end');
    const pageSums = await page.evaluate(() => Module.FS.readFile('/sums.txt', {encoding: 'utf8'}));
    const a = pageSums.split('\n'), b = desktopSums.split('\n');
    const first = a.findIndex((l, i) => l !== b[i]);
    check(a.length >= JOURNAL_FRAMES && first < 0 && a.length === b.length,
          'the journal replays with the desktop\'s checksums (' + a.length + ' lines' +
          (first >= 0 ? ', first difference at line ' + (first + 1) + ': ' + a[first] + ' vs ' + b[first] : '') + ')');
    await page.close();
  } finally {
    await browser.close();
  }
  // Failures show a readable message rather than a blank page: a browser
  // without WebGL, and a package that does not load.
  const noGl = await d.launch(false);
  try {
    const page = await d.openPage(noGl, []);
    await page.goto(base);
    await d.waitFor(page, 'window.wormlobState === "failed"', 30000, 'the message without WebGL');
    const text = await page.evaluate(() => document.getElementById('message-text').textContent);
    check(/WebGL/.test(text), 'without WebGL the page says so: ' + text);
  } finally {
    await noGl.close();
  }
  // Without IndexedDB the game still plays, and the page says that scores
  // and settings will not outlast it.
  const noDb = await d.launch();
  try {
    const page = await d.openPage(noDb, errors);
    await page.evaluateOnNewDocument(() => Object.defineProperty(window, 'indexedDB', {value: undefined}));
    await page.goto(base);
    await d.waitFor(page, 'window.wormlobPresents > 0', 60000, 'the first picture without IndexedDB');
    const notice = await page.evaluate(() => document.getElementById('notice').hidden ? '' :
                                             document.getElementById('notice').textContent);
    check(/IndexedDB/.test(notice), 'without IndexedDB the game runs and the page says so: ' + notice);
    // Without OffscreenCanvas the frames are drawn off screen in the
    // canvas's own context and copied to it at each present.
    const old = await d.openPage(noDb, errors);
    await old.evaluateOnNewDocument(() => Object.defineProperty(window, 'OffscreenCanvas', {value: undefined}));
    await old.goto(base);
    await d.waitFor(old, 'window.wormlobPresents > 300', 60000, 'the title without OffscreenCanvas');
    const oldTitle = d.regionStats(await d.shootCanvas(old, path.join(out, 'title-no-offscreen.png')), 0, 0, 1, 1);
    const offscreen = await old.evaluate(() => Module.wormlobDrawsOffscreen());
    check(!offscreen && oldTitle.bright > 0.05 && oldTitle.colours > 20,
          `without OffscreenCanvas the title is drawn all the same (${(100 * oldTitle.bright).toFixed(1)} % lit, ` +
          `${oldTitle.colours} colours)`);
  } finally {
    await noDb.close();
  }
  const broken = await d.serve(site, {'/index.data': path.join(site, 'no-such-package.data')});
  const browser2 = await d.launch();
  try {
    const page = await d.openPage(browser2, []);
    await page.goto('http://127.0.0.1:' + broken.address().port + '/index.html');
    await d.waitFor(page, 'window.wormlobState === "failed"', 30000, 'the message for a missing package');
    const text = await page.evaluate(() => document.getElementById('message-text').textContent);
    check(text.length > 0, 'a package that does not load is reported: ' + text);
  } finally {
    await browser2.close();
    broken.close();
    server.close();
  }

  check(errors.length === 0, 'no page errors' + (errors.length ? ':\n  ' + errors.join('\n  ') : ''));
  fs.rmSync(demoDir, {recursive: true, force: true});
  fs.rmSync(journalDir, {recursive: true, force: true});
  console.log(failures ? failures + ' browser test(s) failed' : 'browser tests passed');
  process.exit(failures ? 1 : 0);
}

main().catch(e => {
  console.error('FAIL ' + e.message);
  process.exit(1);
});
