// The page and the score server together, in headless Chromium: a game
// played in the page that the server serves is sent, verified and ranked,
// shows on the leaderboard page, and the leaderboard's link replays it in
// the page to the same final score; a daily challenge played in the page
// ranks in its day's table only.
//   node web/online_test.js SITE_DIR SERVER_BINARY GAME_BINARY FILES_DIR
'use strict';
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const {spawn, spawnSync} = require('child_process');
const d = require('./driver');

const [site, serverBin, gameBin, filesDir] = process.argv.slice(2);
if (!filesDir) {
  console.error('usage: node web/online_test.js SITE_DIR SERVER_BINARY GAME_BINARY FILES_DIR');
  process.exit(2);
}
const NAME = 'WEBBY';
const DAILY_NAME = 'DAYLY';

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}
const sleep = ms => new Promise(r => setTimeout(r, ms));

function freePort() {
  return new Promise(resolve => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const port = s.address().port;
      s.close(() => resolve(port));
    });
  });
}

async function getJson(url) {
  try {
    const r = await fetch(url, {cache: 'no-store'});
    return r.ok ? await r.json() : null;
  } catch (e) {
    return null;
  }
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

async function key(page, name) {
  // Held a while: a slow software-drawn frame must still see it down.
  await page.keyboard.down(name);
  await sleep(400);
  await page.keyboard.up(name);
  await sleep(400);
}

function pageLog(page) {
  return d.peek(page, `(() => { try { return Module.FS.readFile('/Files/Debug.txt', {encoding: 'utf8'}); }
                              catch (e) { return ''; } })()`);
}

// What the server replays games with. A server run as root replays as
// nobody, who cannot reach a build inside a private folder (a clean clone in
// a 0700 temporary folder): the game and the assets are then copied into the
// test's folder, opened to everyone.
function replayInputs(work) {
  const game = path.resolve(gameBin), files = path.resolve(filesDir);
  if (process.getuid() !== 0) return [game, files];
  const probe = spawnSync('runuser', ['-u', 'nobody', '--', 'sh', '-c', '[ -x "$0" ] && [ -r "$1/418" ]', game, files]);
  if (probe.status === 0) return [game, files];
  const shared = path.join(work, 'shared');
  fs.mkdirSync(shared);
  fs.copyFileSync(game, path.join(shared, 'wormlob2'));
  fs.cpSync(files, path.join(shared, 'Files'), {recursive: true});
  spawnSync('chmod', ['-R', 'a+rX', work]);
  return [path.join(shared, 'wormlob2'), path.join(shared, 'Files')];
}

// A click on the canvas (starting a game from the title, or taking the
// pointer in a game), the pointer let go (which pauses the game), "Quit",
// the name, Enter.
async function clickQuitAndName(page, name) {
  const box = await d.peek(page, `(() => { const r = document.getElementById('canvas').getBoundingClientRect();
                                           return {x: r.x, y: r.y, w: r.width, h: r.height}; })()`);
  await page.mouse.move(box.x + box.w / 2, box.y + box.h / 2);
  await page.mouse.down();
  await sleep(200);
  await page.mouse.up();
  await sleep(3000);
  await page.evaluate(() => document.exitPointerLock());
  await sleep(1500);
  await key(page, 'ArrowDown');
  await key(page, 'Space');
  await sleep(3000);
  for (let i = 0; i < 8; i++) await key(page, 'Backspace');
  await page.keyboard.type(name, {delay: 200});
  await key(page, 'Enter');
}

async function main() {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'wormlob2-online-test-'));
  const port = await freePort();
  const origin = 'http://127.0.0.1:' + port;
  const [game, files] = replayInputs(work);
  const server = spawn(serverBin, ['--port', String(port), '--database', path.join(work, 'scores.sqlite'),
                                   '--site', site, '--game', game, '--files', files],
                       {stdio: ['ignore', fs.openSync(path.join(work, 'server.log'), 'a'),
                                fs.openSync(path.join(work, 'server.log'), 'a')]});
  const browser = await d.launch();
  const errors = [];
  try {
    await until('the score server', 30000, () => getJson(origin + '/api/v1/health'));

    // 1. A game in the page the server serves: start, pause (the page lets
    // the pointer go), "Quit", the name, Enter.
    let page = await d.openAt(browser, origin + '/play/', errors);
    await d.waitQuietly(page, 'window.wormlobPresents > 250', 180000, 'the title');
    await sleep(1000);
    await clickQuitAndName(page, NAME);

    const row = await until('the game to be ranked', 180000, async () => {
      const t = await getJson(origin + '/api/v1/scores?mode=medium');
      return t && t.scores.find(s => s.name === NAME);
    }).catch(e => null);
    check(!!row, 'the page\'s game is ranked by the server' + (row ? ` (#${row.rank}, score ${row.score})` : ''));
    const told = await until('the rank in the page', 60000, async () =>
      /Score server: ranked 1 medium/.test(await pageLog(page))).catch(e => false);
    check(told, 'the page was told its rank');
    const outbox = await page.evaluate(() => new Promise(resolve => {
      const req = indexedDB.open('wormlob2');
      req.onsuccess = () => {
        const count = req.result.transaction('outbox').objectStore('outbox').count();
        count.onsuccess = () => { req.result.close(); resolve(count.result); };
      };
      req.onerror = () => resolve(-1);
    }));
    check(outbox === 0, 'the outbox is empty once the server has the game (' + outbox + ' left)');
    const storedBefore = (await d.storedFiles(page))['/Files/418/scores.dat'];
    await page.close();
    if (!row) throw new Error('no ranked game to look for on the leaderboard');

    // 2. The leaderboard shows it, with a link that watches it.
    // (The browser asks that page for a /favicon.ico it does not have, and
    // reports the 404 as a console error: its other failures are counted.)
    page = await browser.newPage();
    page.on('pageerror', e => errors.push('leaderboard: ' + e.message));
    page.on('response', r => {
      if (r.status() >= 400 && !/\/favicon\.ico$/.test(r.url())) errors.push('leaderboard: ' + r.status() + ' ' + r.url());
    });
    await page.goto(origin + '/?mode=medium');
    const link = await page.evaluate(name => {
      const tr = [...document.querySelectorAll('tr')].find(r => r.textContent.includes(name));
      const a = tr && tr.querySelector('a.watch');
      return a ? a.getAttribute('href') : '';
    }, NAME);
    check(link === '/play/?replay=/api/v1/games/' + row.id + '/journal',
          'the leaderboard lists the game with a link to watch it: ' + link);
    await page.close();

    // 3. The link replays it in the page, sped up with Right held, to the
    // same record; watching leaves the player's own scores alone.
    page = await d.openPage(browser, errors);
    const said = [];
    page.on('console', m => said.push(m.text()));
    await page.goto(origin + link);
    await until('the replay to begin', 180000, async () => /Replaying a game journal/.test(await pageLog(page)));
    await page.keyboard.down('ArrowRight');
    await d.waitQuietly(page, 'window.wormlobState === "ended" || window.wormlobState === "failed"', 300000,
                        'the replay to end');
    await page.keyboard.up('ArrowRight');
    const verified = said.find(t => /^verified /.test(t)) || '';
    check(await d.peek(page, 'window.wormlobExitStatus') === 0 && verified.includes(' score=' + row.score + ' '),
          'the watched game ends with the ranked score: ' + verified);
    const storedAfter = (await d.storedFiles(page))['/Files/418/scores.dat'];
    check(!!storedBefore && storedAfter && storedBefore.equals(storedAfter),
          'watching files nothing in the player\'s own scores');
    await page.close();

    // 4. Today's Hard challenge (?daily&mode=hard) against the real server:
    // played from the day's seed, ranked in the day's table and not in the
    // ordinary one, and the page is told its place in today's challenge.
    page = await d.openAt(browser, origin + '/play/?daily&mode=hard', errors);
    const seeded = await until('the daily game to start', 180000, async () =>
      /the game starts from its session token's seed (\d+)/.exec(await pageLog(page))).catch(() => null);
    check(!!seeded, 'the page\'s daily game starts from its token\'s seed');
    // The game started by itself: the click takes the pointer, as in the first.
    await clickQuitAndName(page, DAILY_NAME);
    const dailyRow = await until('the daily game to be ranked', 180000, async () => {
      const t = await getJson(origin + '/api/v1/scores?challenge=daily&mode=hard');
      return t && t.scores.find(s => s.name === DAILY_NAME);
    }).catch(e => null);
    check(!!dailyRow, 'the page\'s daily game is ranked in today\'s Hard challenge');
    const hard = await getJson(origin + '/api/v1/scores?mode=hard');
    check(!!hard && !hard.scores.some(s => s.name === DAILY_NAME), 'and not in the ordinary Hard table');
    const toldDaily = await until('the daily rank in the page', 60000, async () =>
      /Score server: (daily-)?ranked 1 hard/.test(await pageLog(page))).catch(e => false);
    check(toldDaily, 'the page was told its place in the challenge');
    await page.close();
  } catch (e) {
    check(false, e.message);
  } finally {
    await browser.close();
    // A server that has already ended (it failed, or was killed) sends no
    // further 'exit': waiting for one would hang the test instead of failing it.
    if (server.exitCode === null && server.signalCode === null) {
      const ended = new Promise(r => server.once('exit', r));
      server.kill('SIGTERM');
      const late = setTimeout(() => server.kill('SIGKILL'), 30000);
      await ended;
      clearTimeout(late);
    } else {
      check(false, 'the server ended before the test did (status ' + server.exitCode + ', signal ' + server.signalCode + ')');
    }
    if (!failures) fs.rmSync(work, {recursive: true, force: true});
    else console.log('the server\'s log is in ' + work);
  }
  check(errors.length === 0, 'no page errors' + (errors.length ? ':\n  ' + errors.join('\n  ') : ''));
  console.log(failures ? failures + ' score server browser test(s) failed' : 'score server browser tests passed');
  process.exit(failures ? 1 : 0);
}

main().catch(e => {
  console.error('FAIL ' + e.message);
  process.exit(1);
});
