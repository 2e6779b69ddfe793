// What a link can make the page do, in headless Chromium. A link that names
// another score server (?scores-server=) sends nothing there and is kept
// nowhere until the player accepts it on the page; declined, the page goes
// on as before. A link that names a game to watch (?replay=) from anywhere
// but the page's own site or its score server is refused on the page,
// without fetching it. A link's ?files= does not move the player's files.
//   node web/clients_test.js SITE_DIR
'use strict';
const http = require('http');
const d = require('./driver');

const [site] = process.argv.slice(2);
if (!site) {
  console.error('usage: node web/clients_test.js SITE_DIR');
  process.exit(2);
}

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}
const sleep = ms => new Promise(r => setTimeout(r, ms));
const HELD_JOURNAL = 'wormlob2 game 1\na game refused for now', HELD_REASON = 'the server is not taking games now';
const GONE_JOURNAL = 'wormlob2 game 1\na game refused for good';

// A stand-in score server somewhere else: it takes every game (202) but the
// two the test refuses (one for now, one for good), says "pending" when
// asked, has no journal to watch, and notes every request that reaches it. It lets any page ask (CORS), so that nothing but the
// page's own rules keeps the page from it.
function otherServer() {
  const seen = [];
  const server = http.createServer((req, res) => {
    let body = [];
    req.on('data', c => body.push(c));
    req.on('end', () => {
      seen.push({method: req.method, url: req.url, body: Buffer.concat(body).toString('latin1')});
      const head = {'Access-Control-Allow-Origin': '*', 'Access-Control-Allow-Headers': 'Content-Type',
                    'Access-Control-Allow-Methods': 'GET, POST', 'Content-Type': 'application/json'};
      if (req.method === 'OPTIONS') {
        res.writeHead(204, head);
        res.end();
      } else if (req.method === 'POST' && req.url === '/api/v1/games') {
        const text = Buffer.concat(body).toString('latin1');
        res.writeHead(text === HELD_JOURNAL || text === GONE_JOURNAL ? 400 : 202, head);
        res.end(text === HELD_JOURNAL ? JSON.stringify({error: HELD_REASON}) :
                text === GONE_JOURNAL ? JSON.stringify({error: 'no journal at all', permanent: true}) :
                '{"id": 5, "status": "pending"}');
      } else if (req.method === 'POST' && req.url === '/api/v1/sessions') {
        res.writeHead(200, head);
        res.end('{"token": "t1"}');
      } else if (req.method === 'GET' && /^\/api\/v1\/games\/\d+$/.test(req.url)) {
        res.writeHead(200, head);
        res.end('{"id": 5, "status": "pending"}');
      } else {
        res.writeHead(404, head);
        res.end('{"error": "no such thing"}');
      }
    });
  });
  return new Promise(resolve => server.listen(0, '127.0.0.1', () => {
    server.seen = seen;
    server.origin = 'http://127.0.0.1:' + server.address().port;
    resolve(server);
  }));
}

async function openRunning(browser, url, errors) {
  const page = await d.openAt(browser, url, errors);
  await d.waitQuietly(page, 'window.wormlobPresents > 250 || window.wormlobState === "failed"', 180000,
                      'the title');
  return page;
}

// The games waiting to be sent (the page's outbox store).
function outboxKeys(page) {
  return page.evaluate(() => new Promise(resolve => {
    const req = indexedDB.open('wormlob2');
    req.onsuccess = () => {
      const all = req.result.transaction('outbox').objectStore('outbox').getAllKeys();
      all.onsuccess = () => { req.result.close(); resolve(all.result); };
      all.onerror = () => { req.result.close(); resolve(null); };
    };
    req.onerror = () => resolve(null);
  }));
}

async function onlineIni(page) {
  const f = (await d.storedFiles(page))['/Files/Online.ini'];
  return f ? f.toString('latin1') : '';
}

const offerShown = page => d.peek(page, `(() => { const o = document.getElementById('offer');
  return o && !o.hidden ? o.textContent : ''; })()`);

async function main() {
  const site_ = await d.serve(site);
  const base = 'http://127.0.0.1:' + site_.address().port + '/index.html';
  const other = await otherServer();
  const browser = await d.launch();
  const errors = [];
  const GAME = '20260101-000000-medium-10.w2g', JOURNAL = 'wormlob2 game 1\na game that waits';
  const HELD = '20260101-000001-medium-20.w2g', GONE = '20260101-000002-medium-30.w2g';
  const games = {[GAME]: JOURNAL, [HELD]: HELD_JOURNAL, [GONE]: GONE_JOURNAL};
  const sentThere = () => other.seen;  // preflights too: any request at all
  try {
    // A player who has games waiting to be sent (no score server known).
    let page = await openRunning(browser, base, errors);
    await page.evaluate(list => new Promise((resolve, reject) => {
      const req = indexedDB.open('wormlob2');
      req.onsuccess = () => {
        const tx = req.result.transaction('outbox', 'readwrite');
        for (const key in list) tx.objectStore('outbox').put(new TextEncoder().encode(list[key]), key);
        tx.oncomplete = () => { req.result.close(); resolve(); };
        tx.onerror = () => reject(tx.error);
      };
      req.onerror = () => reject(req.error);
    }), games);
    await page.close();

    // 1. The link names the other server: the page asks, by name, and
    // nothing goes there or is kept while the question stands.
    const offer = base + '?scores-server=' + encodeURIComponent(other.origin);
    page = await openRunning(browser, offer, errors);
    await sleep(5000);
    const asked = await offerShown(page);
    check(asked.includes(other.origin), 'the page asks the player about the server the link names ("' +
          asked.replace(/\s+/g, ' ').trim() + '")');
    check(sentThere().length === 0, 'nothing is sent to the server before the player accepts it (' +
          sentThere().map(r => r.method + ' ' + r.url).join(', ') + ')');
    check(!(await onlineIni(page)).includes(other.origin), 'the server is not kept before the player accepts it');
    check((await outboxKeys(page) || []).includes(GAME), 'the waiting game stays in the outbox');

    // 2. Declined: the question goes, and still nothing goes there or is kept.
    await page.click('#offer-decline');
    await sleep(3000);
    check(!(await offerShown(page)), 'Decline puts the question away');
    check(sentThere().length === 0, 'nothing is sent to a declined server');
    check(!(await onlineIni(page)).includes(other.origin), 'a declined server is not kept');
    await page.close();

    // Later visits without the link: nothing goes there either.
    page = await openRunning(browser, base, errors);
    await sleep(4000);
    check(sentThere().length === 0, 'a later visit sends nothing to the server the link named');
    check((await outboxKeys(page) || []).includes(GAME), 'the waiting game is still in the outbox');
    await page.close();

    // 3. A game to watch from a site that is neither the page's nor its
    // score server: refused on the page, not fetched.
    const watch = other.origin + '/api/v1/games/5/journal';
    page = await openRunning(browser, base + '?replay=' + encodeURIComponent(watch), errors);
    const refused = await d.peek(page, `document.getElementById('message').hidden ? '' :
                                        document.getElementById('message-text').textContent`);
    check(/is not shown/.test(refused) && refused.includes(other.origin),
          'a game to watch from elsewhere is refused on the page ("' + refused + '")');
    check(!other.seen.some(r => r.url.endsWith('/journal')), 'the refused game to watch is not fetched');
    await page.close();

    // The page's own site may name a game to watch (this one is missing).
    page = await openRunning(browser, base + '?replay=' + encodeURIComponent('/no-such-game.w2g'), errors);
    const own = await d.peek(page, `document.getElementById('message-text').textContent`);
    check(/could not be fetched/.test(own), 'a game to watch from the page\'s own site is fetched ("' + own + '")');
    await page.close();

    // 4. A link's ?files= leaves the player's files where they are.
    page = await openRunning(browser, base + '?files=/Elsewhere', errors);
    await sleep(2000);
    const state = await d.peek(page, 'window.wormlobState');
    const stray = Object.keys(await d.storedFiles(page)).filter(k => !k.startsWith('/Files/'));
    check(state === 'running' && stray.length === 0,
          'a link\'s ?files= is ignored (the page ' + state + ', files kept elsewhere: ' + stray.join(', ') + ')');
    await page.close();

    // 5. Accepted: the page keeps the server and sends the waiting game
    // there; later visits send there too, and it may show games from it.
    page = await openRunning(browser, offer, errors);
    await sleep(1000);
    await page.click('#offer-accept');
    const posts = () => other.seen.filter(r => r.method === 'POST' && r.url === '/api/v1/games').map(r => r.body);
    const end = Date.now() + 30000;
    while (posts().length < 3 && Date.now() < end) await sleep(250);
    check(posts().includes(JOURNAL), 'once accepted, the waiting game is sent to the server');
    check(posts().includes(HELD_JOURNAL) && posts().includes(GONE_JOURNAL),
          'the games behind one refused for now are sent too');
    await sleep(3000);
    check((await onlineIni(page)).includes('Server=' + other.origin), 'an accepted server is kept (Online.ini)');
    // Refused with a 4xx the server does not call permanent, a game stays,
    // its reason told once; refused for good, it goes.
    const left = await outboxKeys(page);
    check(JSON.stringify(left) === JSON.stringify([HELD]),
          'only the game refused for now stays in the outbox (' + JSON.stringify(left) + ')');
    // It goes again after the pause (15 s), and the player is not told again.
    const again = Date.now() + 40000;
    while (posts().filter(b => b === HELD_JOURNAL).length < 2 && Date.now() < again) await sleep(500);
    await sleep(1000);
    const log = await d.peek(page, `(() => { try { return Module.FS.readFile('/Files/Debug.txt', {encoding: 'utf8'}); }
                                           catch (e) { return ''; } })()`);
    check(posts().filter(b => b === HELD_JOURNAL).length >= 2 && log.split('held ' + HELD_REASON).length === 2,
          'the game refused for now is sent again, its reason told once (' +
          posts().filter(b => b === HELD_JOURNAL).length + ' tries)');
    check(!(await outboxKeys(page) || []).includes(GONE), 'the game refused for good is not kept');
    await page.close();

    page = await openRunning(browser, base + '?replay=' + encodeURIComponent(watch), errors);
    const fetched = await d.peek(page, `document.getElementById('message-text').textContent`);
    check(other.seen.some(r => r.url === '/api/v1/games/5/journal') && /could not be fetched/.test(fetched),
          'a game to watch from the accepted score server is fetched ("' + fetched + '")');
    await page.close();
  } finally {
    await browser.close();
    site_.close();
    other.close();
  }
  // The refusals and missing games the test asks for show as failed loads.
  const real = errors.filter(e => !/request failed: .*(no-such-game|\/journal)|status of 40[04]/.test(e));
  check(real.length === 0, 'no page errors' + (real.length ? ': ' + real.join('; ') : ''));
  console.log(failures ? failures + ' check(s) failed' : 'all checks passed');
  process.exit(failures ? 1 : 0);
}

main().catch(e => {
  console.error(e);
  process.exit(1);
});
