// The page's own input in headless Chromium: touch, full screen from the
// settings panel, and sound that starts at the first gesture.
//   node web/input_test.js SITE_DIR OUT_DIR
// Each step is an independent function on its own tab of one browser.
// Screenshots are left in OUT_DIR to look at.
'use strict';
const fs = require('fs');
const path = require('path');
const d = require('./driver');

const [site, out] = process.argv.slice(2);
if (!out) {
  console.error('usage: node web/input_test.js SITE_DIR OUT_DIR');
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}

const sleep = ms => new Promise(r => setTimeout(r, ms));
const errors = [];

// The title is up once the splash has been held and the start-up test run.
// screen: the screen's size the page sees, when it matters.
async function openAtTitle(browser, url, screen) {
  const page = await d.openPage(browser, errors);
  if (screen) {
    const cdp = await page.target().createCDPSession();
    await cdp.send('Emulation.setDeviceMetricsOverride', {width: 1280, height: 960, deviceScaleFactor: 1, mobile: false,
                                                          screenWidth: screen[0], screenHeight: screen[1]});
  }
  // Every Web Audio context the page makes, to watch from outside.
  await page.evaluateOnNewDocument(() => {
    const Real = window.AudioContext;
    window.wormlobTestAudio = [];
    window.AudioContext = function(...args) {
      const c = new Real(...args);
      window.wormlobTestAudio.push(c);
      return c;
    };
    window.AudioContext.prototype = Real.prototype;
  });
  await page.goto(url);
  await d.waitQuietly(page, 'window.wormlobPresents > 250', 90000, 'the title');
  await sleep(1000);
  return page;
}

// The canvas in page pixels, and the logical area the program draws in.
async function canvasBox(page) {
  const b = await d.peek(page, `(() => {
    const c = document.getElementById('canvas'), r = c.getBoundingClientRect();
    return {x: r.x, y: r.y, w: r.width, h: r.height, cw: c.width, ch: c.height};
  })()`);
  b.vw = b.cw * 9 === b.ch * 16 ? 1600 : 1280;
  b.vh = b.vw === 1600 ? 900 : 960;
  return b;
}

// The sound as the page has it: each context's state, and the furthest
// play position (seconds) of the OpenAL sources that are playing.
function audioState(page) {
  return d.peek(page, `(() => {
    let played = -1;
    const ctx = typeof AL != 'undefined' && AL.currentCtx;
    if (ctx) {
      for (const id in ctx.sources) {
        const s = ctx.sources[id];
        if (s && s.state === 0x1012) played = Math.max(played, AL.sourceTell(s));
      }
    }
    return {states: window.wormlobTestAudio.map(c => c.state), played,
            activated: navigator.userActivation.hasBeenActive};
  })()`);
}

// The title's music is cued but has not played: no gesture has come (and
// the test gave none by mistake).
function soundBefore(a, what) {
  check(!a.activated && a.states.length > 0 && a.states.every(s => s === 'suspended') &&
        a.played >= 0 && a.played <= 0.05,
        'before ' + what + ' the sound waits, suspended, the music cued: ' + JSON.stringify(a));
}

// With music, the title's music must be playing on as well (a second's
// worth of it played in a second).
async function soundAfter(page, what, music = true) {
  await sleep(500);
  const a = await audioState(page);
  await sleep(music ? 1000 : 0);
  const b = await audioState(page);
  check(b.states.length > 0 && b.states.every(s => s === 'running') &&
        (!music || (a.played >= 0 && b.played - a.played > 0.5)),
        what + ' starts the sound' + (music ? ', the title music plays on: ' + JSON.stringify(a) + ' then ' : ': ') +
        JSON.stringify(b));
}

// ---------------------------------------------------------------- journal ---
// The run journal (--record) lists every input event that reached the input
// tables; the 'f' lines between them count the frames.
const MOUSE_DOWN = 3, MOUSE_UP = 4, MOUSE_MOVE = 5;

function parseJournal(text) {
  const j = {frames: 0, events: []};
  for (const line of text.split('\n')) {
    if (line.startsWith('f ')) j.frames++;
    if (!line.startsWith('e ')) continue;
    const [, , type, code, x, y] = line.split(' ').map(Number);
    j.events.push({type, code, x, y, frame: j.frames});
  }
  return j;
}

const readJournal = async (page, file) =>
  parseJournal(await d.peek(page, `Module.FS.readFile('${file}', {encoding: 'utf8'})`));

// Waits until the program has run some more frames after a gesture, and
// gives the events that arrived since the journal was read before it.
async function eventsSince(page, file, before, frames = 12) {
  let j = await readJournal(page, file);
  const until = j.frames + frames;
  for (let i = 0; j.frames < until && i < 200; i++) {
    await sleep(100);
    j = await readJournal(page, file);
  }
  return {j, events: j.events.slice(before.events.length)};
}

const buttons = events => events.filter(e => e.type === MOUSE_DOWN || e.type === MOUSE_UP)
  .map(e => (e.type === MOUSE_DOWN ? 'down' : 'up') + e.code);

// ------------------------------------------------------------------ touch ---
// A finger steers (the pointer follows it), a short tap clicks the left
// button, and a second finger held is the right button (the net).
async function touchStep(browser, base) {
  const file = '/touch.journal';
  const page = await openAtTitle(browser, base + '?record=' + file);
  const box = await canvasBox(page);
  const cdp = await page.target().createCDPSession();
  const at = (fx, fy) => ({x: box.x + fx * box.w, y: box.y + fy * box.h});
  const touches = (type, list) => cdp.send('Input.dispatchTouchEvent',
    {type, touchPoints: list.map(f => Object.assign(at(f.x, f.y), {id: f.id}))});
  // The browser times the tap itself: commands sent one by one reach a busy
  // page too far apart to be a tap.
  const tap = (fx, fy) => cdp.send('Input.synthesizeTapGesture',
    Object.assign(at(fx, fy), {duration: 50, gestureSourceType: 'touch'}));
  // Where the program sees a finger: window pixels, as the journal has them.
  const px = (fx, fy) => ({x: Math.floor(fx * box.cw), y: Math.floor(fy * box.ch)});
  let j = await readJournal(page, file);
  const title = await d.shootCanvas(page);
  soundBefore(await audioState(page), 'the first tap');

  // A tap on the start button: a click, the button held for a frame at least.
  let r;
  await tap(0.5, 0.5);
  r = await eventsSince(page, file, j);
  j = r.j;
  const downAt = r.events.find(e => e.type === MOUSE_DOWN), upAt = r.events.find(e => e.type === MOUSE_UP);
  check(buttons(r.events).join() === 'down1,up1' && upAt.frame > downAt.frame,
        'a tap is a left click held across a frame: ' + buttons(r.events).join() +
        (downAt && upAt ? ' (' + (upAt.frame - downAt.frame) + ' frames)' : ''));
  // The game has begun, and the title's music ended with the title.
  await soundAfter(page, 'the first tap', false);
  const game = await d.shootCanvas(page, path.join(out, 'touch-game.png'));
  const titleButton = d.regionStats(title, 0.35, 0.45, 0.65, 0.55);
  const gameButton = d.regionStats(game, 0.35, 0.45, 0.65, 0.55);
  check(Math.abs(gameButton.bright - titleButton.bright) > 0.01 || gameButton.colours !== titleButton.colours,
        'the tap on the start button started a game');

  // A finger drawn across the play area: the pointer follows it, and a
  // drag is no click.
  const path1 = [0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8];
  await touches('touchStart', [{x: path1[0], y: 0.85, id: 10}]);
  for (const fx of path1.slice(1)) {
    await sleep(50);
    await touches('touchMove', [{x: fx, y: 0.85, id: 10}]);
  }
  await sleep(300);
  await d.shootCanvas(page, path.join(out, 'touch-steer.png'));
  await touches('touchEnd', []);
  r = await eventsSince(page, file, j);
  j = r.j;
  const moves = r.events.filter(e => e.type === MOUSE_MOVE);
  // Each move is at a place the finger was, in the finger's order, ending
  // where it lifted; the browser may merge the moves of a busy page.
  const places = moves.map(m => path1.findIndex(fx => {
    const want = px(fx, 0.85);
    return Math.abs(m.x - want.x) <= 1 && Math.abs(m.y - want.y) <= 1;
  }));
  const inOrder = places.every((p, i) => p >= 0 && (i === 0 || p >= places[i - 1]));
  check(inOrder && places[places.length - 1] === path1.length - 1 && new Set(places).size >= 4 &&
        buttons(r.events).length === 0,
        'the pointer follows a finger, in order, with no click: ' + moves.map(m => m.x + ',' + m.y).join(' '));

  // A tap in the play area launches the ball.
  await tap(0.5, 0.85);
  r = await eventsSince(page, file, j);
  j = r.j;
  check(buttons(r.events).join() === 'down1,up1', 'a tap in the game is a left click: ' + buttons(r.events).join());

  // A second finger held while the first steers: the right button, down
  // until that finger lifts; it does not move the pointer.
  const steer = {x: 0.5, y: 0.85, id: 20}, net = {x: 0.2, y: 0.3, id: 21};
  await touches('touchStart', [steer]);
  await sleep(200);
  await touches('touchStart', [steer, net]);
  await sleep(800);
  await d.shootCanvas(page, path.join(out, 'touch-net.png'));
  await touches('touchEnd', [steer]);
  await sleep(200);
  await touches('touchEnd', []);
  r = await eventsSince(page, file, j);
  j = r.j;
  const netDown = r.events.find(e => e.type === MOUSE_DOWN), netUp = r.events.find(e => e.type === MOUSE_UP);
  const strayMove = r.events.find(e => e.type === MOUSE_MOVE && Math.abs(e.x - px(net.x, net.y).x) <= 1);
  check(buttons(r.events).join() === 'down2,up2' && netUp.frame - netDown.frame >= 10 && !strayMove,
        'a second finger holds the right button: ' + buttons(r.events).join() +
        (netDown && netUp ? ' (' + (netUp.frame - netDown.frame) + ' frames)' : '') +
        (strayMove ? ', and moved the pointer' : ''));
  await page.close();
}

// ------------------------------------------------------------ full screen ---
// "Fullscreen" and "Apply" on the settings panel put the canvas into the
// browser's full-screen mode, on a screen of another size than the game's
// 800 x 600; leaving it (here by the page, as Escape in a browser would)
// turns the setting back to windowed, saved in Setup.ini.
async function fullScreenStep(browser, base) {
  const page = await openAtTitle(browser, base, [1920, 1080]);
  const box = await canvasBox(page);
  // A point of the logical area in page pixels.
  const at = (lx, ly) => ({x: box.x + lx * box.w / box.vw, y: box.y + ly * box.h / box.vh});
  // The pointer is put in place first: the program takes each frame's
  // pointer at the frame's end, and the click must find it there.
  const click = async (lx, ly) => {
    const p = at(lx, ly);
    await page.mouse.move(p.x, p.y);
    await sleep(200);
    await page.mouse.click(p.x, p.y);
  };
  const setup = async () => {
    const f = (await d.storedFiles(page))['/Files/Setup.ini'];
    const m = f && /Fullscreen = (\w+)/.exec(f.toString('latin1'));
    return m ? m[1] : null;
  };

  // Tab opens the panel (it slides down to rest 20 units low); as the first
  // key it starts the sound too.
  soundBefore(await audioState(page), 'the first key');
  await page.keyboard.press('Tab');
  await soundAfter(page, 'the first key');
  await d.shootCanvas(page, path.join(out, 'fullscreen-panel-before.png'));
  const P = 20;
  await click(40, 30 + P + 16);   // the "Windowed" cycler
  await sleep(500);
  await d.shootCanvas(page, path.join(out, 'fullscreen-panel-chosen.png'));
  // "Apply" with one quick click: nothing follows it that the page could
  // wait for.
  await click(28, P + 258 + 10);
  let full = null;
  for (let i = 0; i < 100 && !full; i++) {
    await sleep(100);
    full = await d.peek(page, 'document.fullscreenElement && document.fullscreenElement.id');
  }
  const canvasOrStage = full === 'canvas' || full === 'stage';
  check(canvasOrStage, '"Apply" puts the game into the browser\'s full screen (' + full + ')');
  await page.screenshot({path: path.join(out, 'fullscreen.png')});
  check(await setup() === 'True', 'Setup.ini says full screen');

  if (canvasOrStage) {
    await page.evaluate(() => document.exitFullscreen());
    let saved = null;
    for (let i = 0; i < 300 && saved !== 'False'; i++) {
      await sleep(200);
      saved = await setup();
    }
    check(saved === 'False', 'leaving full screen turns the setting back to windowed in Setup.ini (' + saved + ')');
  }
  // The panel again, over the start-up test that "Apply" runs: it says
  // "Windowed".
  await page.keyboard.press('Tab');
  await sleep(1000);
  await d.shootCanvas(page, path.join(out, 'fullscreen-panel-after.png'));
  await page.close();
}

// ------------------------------------------------------------------ sound ---
// Before any gesture the page plays nothing and fails at nothing; the first
// click starts the sound, and the title music with it.
async function soundStep(browser, base) {
  const page = await openAtTitle(browser, base);
  const box = await canvasBox(page);
  soundBefore(await audioState(page), 'the first click');
  check(await d.peek(page, 'window.wormlobState') === 'running' && errors.length === 0,
        'the page runs without a gesture, with no errors');
  // An empty spot of the title, right of the start button.
  const x = box.x + box.w * 0.85, y = box.y + box.h * 0.45;
  await page.mouse.move(x, y);
  await page.mouse.click(x, y);
  await soundAfter(page, 'the first click');
  await page.close();
}

async function main() {
  const server = await d.serve(site);
  const base = 'http://127.0.0.1:' + server.address().port + '/index.html';
  // The browser's own rule for sound: none before a gesture on the page.
  const browser = await d.launch(true, ['--autoplay-policy=document-user-activation-required']);
  try {
    for (const step of [soundStep, touchStep, fullScreenStep]) {
      const started = Date.now();
      try {
        await step(browser, base);
        console.log('     (' + step.name + ': ' + ((Date.now() - started) / 1000).toFixed(1) + ' s)');
      } catch (e) {
        check(false, step.name + ': ' + e.message);
      }
    }
  } finally {
    await browser.close();
    server.close();
  }
  check(errors.length === 0, 'no page errors' + (errors.length ? ':\n  ' + errors.join('\n  ') : ''));
  console.log(failures ? failures + ' input test(s) failed' : 'input tests passed');
  process.exit(failures ? 1 : 0);
}

main().catch(e => {
  console.error('FAIL ' + e.message);
  process.exit(1);
});
