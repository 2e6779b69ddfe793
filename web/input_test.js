// The page's own input in headless Chromium: touch, full screen from the
// settings panel, sound that starts at the first gesture, games played by
// keys alone and by a gamepad alone, and the colour symbols.
//   node web/input_test.js SITE_DIR OUT_DIR [STEP...]
// Each step is an independent function on its own tab of one browser.
// Screenshots are left in OUT_DIR to look at.
'use strict';
const fs = require('fs');
const path = require('path');
const d = require('./driver');

const [site, out, ...only] = process.argv.slice(2);
if (!out) {
  console.error('usage: node web/input_test.js SITE_DIR OUT_DIR [STEP...]');
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
// screen: the screen's size the page sees, when it matters; prepare: what
// to set up in the page before it loads.
async function openAtTitle(browser, url, screen, prepare) {
  const page = await d.openPage(browser, errors);
  if (prepare) await prepare(page);
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
const KEY_DOWN = 0, MOUSE_DOWN = 3, MOUSE_UP = 4, MOUSE_MOVE = 5, PAD_DOWN = 10, PAD_AXIS = 12;

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

// -------------------------------------------------------- without a mouse ---
// The bat and the first ball are the same bright green (the wave's title
// is a paler one), the ball resting on the bat's top edge.
const green = (r, g, b) => g > 220 && r < 140 && b < 140;
const ballResting = img => d.colourShare(img, 0, 0.945, 1, 0.966, green);
const ballRisen = img => d.colourShare(img, 0, 0.3, 1, 0.94, green);

// The bat: the middle of the green in its row (canvas pixels; null while
// there is no bat).
function batX(img) {
  let sum = 0, n = 0;
  for (let y = Math.floor(0.97 * img.height); y < Math.floor(0.98 * img.height); y++) {
    for (let x = 0; x < img.width; x++) {
      const i = (y * img.width + x) * 4;
      if (green(img.data[i], img.data[i + 1], img.data[i + 2])) { sum += x; n++; }
    }
  }
  return n > 50 ? sum / n : null;
}

// The source's own presses that reached the tables, in order of first
// appearance: key codes, pad buttons, and the pad's left stick pushed
// right (x+) or left (x-).
function pressed(events) {
  const seen = [];
  for (const e of events) {
    let p = null;
    if (e.type === KEY_DOWN || e.type === PAD_DOWN) p = String(e.code);
    if (e.type === PAD_AXIS && e.code === 0 && Math.abs(e.x) > 30000) p = e.x > 0 ? 'x+' : 'x-';
    if (p !== null && !seen.includes(p)) seen.push(p);
  }
  return seen.join();
}

async function hold(page, key, ms) {
  await page.keyboard.down(key);
  await sleep(ms);
  await page.keyboard.up(key);
}

// Player 1's keys: Z (90) starts and launches, the cursor keys (37, 39) steer.
const keyControls = {
  name: 'keys',
  start: page => hold(page, 'KeyZ', 200),
  steer: (page, dir, ms) => hold(page, dir > 0 ? 'ArrowRight' : 'ArrowLeft', ms),
  launch: page => hold(page, 'KeyZ', 200),
  want: {start: '90', steer: '39,37', launch: '90'},
};

// A pad in the browser's standard layout, which SDL's mapping turns into
// Start (6), the south button (0), the left stick and the direction pad
// (left 13). The browser shows a pad to a page only once a button of it is
// pressed, so the press on Start is also what reveals it. The stick steers
// right and the direction pad left: a browser's pad has no hat, so the
// direction pad works only when SDL reads the pad as a game controller.
function setPad(page, change) {
  return page.evaluate(`(() => { const p = window.testPad; ${change}; p.timestamp++; })()`);
}
async function padButton(page, b, ms) {
  await setPad(page, `p.buttons[${b}].pressed = true; p.buttons[${b}].value = 1`);
  await sleep(ms);
  await setPad(page, `p.buttons[${b}].pressed = false; p.buttons[${b}].value = 0`);
}
const padControls = {
  name: 'pad',
  prepare: page => page.evaluateOnNewDocument(() => {
    const pad = {id: 'Test Pad', index: 0, connected: true, timestamp: 1, mapping: 'standard', axes: [0, 0, 0, 0],
                 buttons: Array.from({length: 17}, () => ({pressed: false, touched: false, value: 0}))};
    window.testPad = pad;
    let shown = false;
    Navigator.prototype.getGamepads = function() { return [shown ? pad : null, null, null, null]; };
    window.testPadShow = () => {
      shown = true;
      const e = new Event('gamepadconnected');
      e.gamepad = pad;
      window.dispatchEvent(e);
    };
  }),
  start: async page => {
    await setPad(page, 'p.buttons[9].pressed = true; p.buttons[9].value = 1; window.testPadShow()');
    await sleep(200);
    await setPad(page, 'p.buttons[9].pressed = false; p.buttons[9].value = 0');
  },
  steer: async (page, dir, ms) => {
    if (dir < 0) return padButton(page, 14, ms);
    await setPad(page, 'p.axes[0] = 1');
    await sleep(ms);
    await setPad(page, 'p.axes[0] = 0');
  },
  launch: page => padButton(page, 0, 200),
  want: {start: '6', steer: 'x+,13', launch: '0'},
};

// A game played with one kind of control alone: it starts from the title,
// the bat goes right and then left, and the ball leaves it. The journal
// shows what the controls sent and that the game got pointer moves and a
// left press from them, never from a mouse.
async function playWithout(browser, base, c) {
  const file = '/' + c.name + '.journal', shot = what => path.join(out, c.name + '-' + what + '.png');
  const page = await openAtTitle(browser, base + '?record=' + file, null, c.prepare);
  let j = await readJournal(page, file);
  const title = await d.shootCanvas(page);
  let r;

  await c.start(page);
  r = await eventsSince(page, file, j);
  j = r.j;
  const game = await d.shootCanvas(page, shot('game'));
  const button = img => d.regionStats(img, 0.35, 0.45, 0.65, 0.55);
  check(pressed(r.events) === c.want.start && buttons(r.events).length === 0 && batX(game) !== null &&
        Math.abs(button(game).bright - button(title).bright) > 0.01,
        c.name + ': the start press begins a game (' + pressed(r.events) + ', no click; bat at ' +
        (batX(game) / game.width).toFixed(2) + ')');

  // From the left edge, where the bat starts when the pointer is at 0,
  // across to the right edge, and back part of the way.
  const x0 = batX(game);
  await c.steer(page, 1, 500);
  const right = await d.shootCanvas(page, shot('right'));
  await c.steer(page, -1, 250);
  const left = await d.shootCanvas(page, shot('left'));
  r = await eventsSince(page, file, j, 5);
  j = r.j;
  const xs = r.events.filter(e => e.type === MOUSE_MOVE).map(e => e.x);
  const far = xs.indexOf(Math.max(...xs));
  const w = game.width, x1 = batX(right), x2 = batX(left);
  check(pressed(r.events) === c.want.steer && x1 - x0 > 0.1 * w && x1 - x2 > 0.05 * w &&
        xs.slice(0, far + 1).every((x, i) => i === 0 || x >= xs[i - 1]) &&
        xs.slice(far).every((x, i) => i === 0 || x <= xs[far + i - 1]) && far > 0 && far < xs.length - 1,
        c.name + ': the bat goes right, then left (' + pressed(r.events) + '; bat at ' +
        [x0, x1, x2].map(x => (x / w).toFixed(2)).join(' -> ') + ', ' + xs.length + ' pointer moves)');

  const ready = await d.shootCanvas(page, shot('ready'));
  await c.launch(page);
  r = await eventsSince(page, file, j);
  const launched = await d.shootCanvas(page, shot('launched'));
  check(pressed(r.events) === c.want.launch && buttons(r.events).join() === 'down1,up1' &&
        ballResting(ready) > 0.001 && ballRisen(ready) === 0 && ballRisen(launched) > 0.0001,
        c.name + ': the launch press is a left click, and the ball leaves the bat (' + pressed(r.events) + ', ' +
        buttons(r.events).join() + '; green on the bat ' + ballResting(ready).toFixed(4) + ', above it ' +
        ballRisen(ready).toFixed(4) + ' -> ' + ballRisen(launched).toFixed(4) + ')');
  await page.close();
}

const keysStep = (browser, base) => playWithout(browser, base, keyControls);
const padStep = (browser, base) => playWithout(browser, base, padControls);

// ----------------------------------------------------------------- assist ---
// Where the centipedes go, without the frame counter in the top left corner
// and the HUD and messages at the bottom.
const FIELD = [0.06, 0, 1, 0.9];

// Pixels of the colour symbols' black shapes: dark, with the white of the
// rim (paled by the pod's colour at this size) within 12 pixels on three
// sides at least; a pod cut by the field's edge may lack the fourth.
function symbolPixels(img) {
  const at = (x, y) => (y * img.width + x) * 4;
  const white = (x, y) => x >= 0 && y >= 0 && x < img.width && y < img.height &&
    Math.min(img.data[at(x, y)], img.data[at(x, y) + 1], img.data[at(x, y) + 2]) > 170;
  const sides = [[1, 0], [-1, 0], [0, 1], [0, -1]];
  let n = 0;
  for (let y = Math.floor(FIELD[1] * img.height); y < Math.floor(FIELD[3] * img.height); y++) {
    for (let x = Math.floor(FIELD[0] * img.width); x < Math.floor(FIELD[2] * img.width); x++) {
      const i = at(x, y);
      if (Math.max(img.data[i], img.data[i + 1], img.data[i + 2]) > 50) continue;
      const rimmed = sides.filter(([dx, dy]) => {
        for (let k = 1; k <= 12; k++) if (white(x + dx * k, y + dy * k)) return true;
        return false;
      });
      if (rimmed.length >= 3) n++;
    }
  }
  return n;
}

// Strong colour: a centipede's pods (the mushrooms are few and small).
const podShare = img => d.colourShare(img, ...FIELD, (r, g, b) => Math.max(r, g, b) > 200 &&
                                      Math.max(r, g, b) - Math.min(r, g, b) > 150);

// ?assist turns the symbols on for the run: once there are pods in a game
// each carries a black mark in a white rim; F8 takes them away again.
async function assistStep(browser, base) {
  const page = await openAtTitle(browser, base + '?assist');
  await hold(page, 'KeyZ', 200);
  let on = await d.shootCanvas(page);
  for (let i = 0; i < 60 && podShare(on) < 0.005; i++) {
    await sleep(250);
    on = await d.shootCanvas(page);
  }
  on = await d.shootCanvas(page, path.join(out, 'assist-on.png'));
  await hold(page, 'F8', 100);
  await sleep(300);
  const off = await d.shootCanvas(page, path.join(out, 'assist-off.png'));
  check(symbolPixels(on) > 100 && symbolPixels(off) < 5 && podShare(off) > 0.005,
        'the colour symbols mark the pods with ?assist, none after F8 (' + symbolPixels(on) + ' -> ' +
        symbolPixels(off) + ' mark pixels; pods ' + (100 * podShare(on)).toFixed(2) + ' -> ' +
        (100 * podShare(off)).toFixed(2) + ' %)');
  await page.close();
}

async function main() {
  const server = await d.serve(site);
  const base = 'http://127.0.0.1:' + server.address().port + '/index.html';
  // The browser's own rule for sound: none before a gesture on the page.
  const browser = await d.launch(true, ['--autoplay-policy=document-user-activation-required']);
  try {
    for (const step of [soundStep, touchStep, fullScreenStep, keysStep, padStep, assistStep]) {
      if (only.length && !only.includes(step.name)) continue;
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
