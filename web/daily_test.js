// The page's Daily Challenge in headless Chromium, against a stand-in for
// the score server that serves the site under /play/ and answers sessions
// as the server does (each token with a seed, a daily challenge's token with
// its date, mode and that mode's seed): ?daily&mode=hard starts today's Hard
// challenge from its seed; the title's Daily Challenge entry, clicked, asks
// for the chosen mode's; a server without a challenge starts nothing and the
// page says why. Games sent to it are answered "busy" and stay in the outbox.
//   node web/daily_test.js SITE_DIR
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const d = require('./driver');

const [site] = process.argv.slice(2);
if (!site) {
  console.error('usage: node web/daily_test.js SITE_DIR');
  process.exit(2);
}
const DAILY_SEEDS = {easy: 1001, medium: 1002, hard: 1003};
const TYPES = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
               '.data': 'application/octet-stream', '.png': 'image/png'};

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}
const sleep = ms => new Promise(r => setTimeout(r, ms));

const standIn = {sessions: [], dailyAnswers: true, tokens: 0};
function json(res, status, body) {
  res.writeHead(status, {'Content-Type': 'application/json', 'Cache-Control': 'no-store'});
  res.end(JSON.stringify(body));
}
function serveStandIn() {
  const server = http.createServer((req, res) => {
    const p = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    let body = '';
    req.on('data', c => { body += c; });
    req.on('end', () => {
      if (p === '/api/v1/health') return json(res, 200, {status: 'ok'});
      if (p === '/api/v1/sessions' && req.method === 'POST') {
        standIn.sessions.push(body);
        let asked = null;
        try { asked = JSON.parse(body || '{}'); } catch (e) { return json(res, 400, {error: 'not JSON'}); }
        if (asked.challenge === 'daily') {
          if (!standIn.dailyAnswers) return json(res, 503, {error: 'no daily challenge today'});
          if (!(asked.mode in DAILY_SEEDS)) return json(res, 400, {error: 'no such mode'});
          return json(res, 200, {token: 'daily-' + asked.mode, seed: DAILY_SEEDS[asked.mode], challenge: 'daily',
                                 date: '2026-12-08', mode: asked.mode});
        }
        standIn.tokens++;
        return json(res, 200, {token: 'tok-' + standIn.tokens, seed: 5000 + standIn.tokens});
      }
      if (p.startsWith('/api/')) return json(res, 503, {error: 'busy'});
      if (!p.startsWith('/play/')) { res.writeHead(404); res.end('not found'); return; }
      let file = p.substring('/play/'.length) || 'index.html';
      file = path.join(site, path.normalize(file).replace(/^(\.\.[/\\])+/, ''));
      fs.readFile(file, (e, data) => {
        if (e) { res.writeHead(404); res.end('not found'); return; }
        res.writeHead(200, {'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
                            'Cache-Control': 'no-store'});
        res.end(data);
      });
    });
  });
  return new Promise(resolve => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function pageLog(page) {
  return d.peek(page, `(() => { try { return Module.FS.readFile('/Files/Debug.txt', {encoding: 'utf8'}); }
                              catch (e) { return ''; } })()`);
}

async function until(what, timeoutMs, test) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const v = await test();
    if (v) return v;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(500);
  }
}

async function main() {
  const server = await serveStandIn();
  const origin = 'http://127.0.0.1:' + server.address().port;
  const browser = await d.launch();
  const errors = [];
  try {
    // 1. ?daily with a mode: today's challenge in that mode, from its seed,
    // with nothing clicked.
    let page = await d.openAt(browser, origin + '/play/?daily&mode=hard', errors);
    const started = await until('the daily game to start', 180000, async () =>
      /the game starts from its session token's seed (\d+)/.exec(await pageLog(page))).catch(() => null);
    check(started && started[1] === String(DAILY_SEEDS.hard),
          '?daily&mode=hard starts from the Hard challenge\'s seed: ' + (started ? started[1] : 'no game started'));
    check(standIn.sessions.includes('{"challenge":"daily","mode":"hard"}'),
          'the page asked for the Hard daily challenge: ' + JSON.stringify(standIn.sessions));
    check(await d.peek(page, 'Module.wormlobOnlineDailyState ? Module.wormlobOnlineDailyState() : -1') === 0,
          'the daily ticket is spent once its game started');
    await page.close();

    // 2. The title's Daily Challenge entry (under the three modes), clicked:
    // the mode chosen (Medium, the default) is the one asked for.
    standIn.sessions = [];
    page = await d.openAt(browser, origin + '/play/', errors);
    await d.waitQuietly(page, 'window.wormlobPresents > 250', 180000, 'the title');
    await sleep(1500);
    check(standIn.sessions.includes('{}'), 'the title keeps an ordinary token ready before any game');
    const box = await d.peek(page, `(() => { const r = document.getElementById('canvas').getBoundingClientRect();
                                             const c = document.getElementById('canvas');
                                             return {x: r.x, y: r.y, w: r.width, h: r.height,
                                                     cw: c.width, ch: c.height}; })()`);
    // The drawing area is 1280 x 960, or 1600 x 900 on a wide canvas; the
    // entry's text starts 100 to the left of the middle, 360 below it.
    const [vw, vh] = box.cw * 9 === box.ch * 16 ? [1600, 900] : [1280, 960];
    const x = box.x + (vw / 2 - 100 + 60) * box.w / vw, y = box.y + (vh / 2 + 360 + 20) * box.h / vh;
    await page.mouse.move(x, y);
    await page.mouse.down();
    await sleep(300);
    await page.mouse.up();
    const clicked = await until('the clicked daily game to start', 60000, async () =>
      /the game starts from its session token's seed (\d+)/.exec(await pageLog(page))).catch(() => null);
    check(clicked && clicked[1] === String(DAILY_SEEDS.medium),
          'the title\'s Daily Challenge starts from the Medium challenge\'s seed: ' +
          (clicked ? clicked[1] : 'no game started'));
    check(standIn.sessions.includes('{"challenge":"daily","mode":"medium"}'),
          'the click asked for the Medium daily challenge: ' + JSON.stringify(standIn.sessions));
    await page.close();

    // 3. A server without today's challenge: nothing starts, the page says why.
    standIn.dailyAnswers = false;
    page = await d.openAt(browser, origin + '/play/?daily', errors);
    const told = await until('the page to say there is no daily challenge', 180000, async () =>
      /Daily Challenge unavailable: the score server refused it/.test(await pageLog(page))).catch(() => false);
    check(told, 'without a daily challenge the page says why');
    await sleep(2000);
    check(!/the game starts from its session token's seed/.test(await pageLog(page)),
          'and no game starts by itself');
    await page.close();
  } catch (e) {
    check(false, e.message);
  } finally {
    await browser.close();
    server.close();
  }
  // The outbox's sends answered "busy" are the stand-in's doing, not errors.
  const real = errors.filter(e => !/\/api\/v1\/games\b|status of 503/.test(e));
  check(real.length === 0, 'no page errors' + (real.length ? ':\n  ' + real.join('\n  ') : ''));
  console.log(failures ? failures + ' daily challenge browser test(s) failed' : 'daily challenge browser tests passed');
  process.exit(failures ? 1 : 0);
}

main().catch(e => {
  console.error('FAIL ' + e.message);
  process.exit(1);
});
