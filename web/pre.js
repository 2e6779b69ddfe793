// The page's side of the program's files. Setup.ini, Debug.txt and
// 418/scores.dat live in the browser's IndexedDB: they are copied into the
// program's file system before it starts, and each is stored again as soon
// as the program has written it. The assets come from the .data package.
// A game watched from a score server (?replay=) is fetched into the file
// system before the program starts, and watching stores nothing. The score
// client's outbox is a store of its own in the same database.

var wormlobDb = null;       // the open database, or null without one
var wormlobDbName = 'wormlob2';
var wormlobLogMarks = window.wormlobLogMarks = {};  // log milestone -> time, for measurements
var wormlobFilesRestored;   // resolves once the stored files are in the file system
var wormlobFilesRestoredNow = null;
wormlobFilesRestored = new Promise(function(resolve) { wormlobFilesRestoredNow = resolve; });

function wormlobOpenDb() {
  return new Promise(function(resolve) {
    var req;
    try {
      req = indexedDB.open(wormlobDbName, 2);
    } catch (e) {
      resolve(null);
      return;
    }
    // Version 1 had the files alone; version 2 adds the games to send.
    req.onupgradeneeded = function() {
      var names = req.result.objectStoreNames;
      if (!names.contains('files')) req.result.createObjectStore('files');
      if (!names.contains('outbox')) req.result.createObjectStore('outbox');
    };
    req.onsuccess = function() { resolve(req.result); };
    req.onerror = function() { resolve(null); };
    req.onblocked = function() { resolve(null); };
  });
}

function wormlobLoadStoredFiles(db) {
  return new Promise(function(resolve) {
    var tx = db.transaction('files', 'readonly');
    var store = tx.objectStore('files');
    var files = [];
    var cursor = store.openCursor();
    cursor.onsuccess = function() {
      var c = cursor.result;
      if (c) {
        files.push([c.key, c.value]);
        c.continue();
      }
    };
    tx.oncomplete = function() { resolve(files); };
    tx.onerror = function() { resolve(files); };
  });
}

function wormlobWriteIntoFs(path, data) {
  var slash = path.lastIndexOf('/');
  if (slash > 0) FS.mkdirTree(path.substring(0, slash));
  FS.writeFile(path, data);
}

Module['preRun'] = Module['preRun'] || [];
Module['preRun'].push(function() {
  // SDL would yield to the browser inside every buffer swap; the program
  // yields in its own frame wait instead, and shows the frame it drew
  // off-screen at the present.
  ENV['SDL_EMSCRIPTEN_ASYNCIFY'] = '0';
  addRunDependency('wormlob-stored-files');
  // Files a test hands to the program (a journal to replay), by absolute path.
  var given = Module['wormlobGivenFiles'] || {};
  for (var path in given) wormlobWriteIntoFs(path, given[path]);
  var ready = function() {
    wormlobFilesRestoredNow();
    removeRunDependency('wormlob-stored-files');
  };
  if (typeof indexedDB == 'undefined' || !indexedDB) {
    Module['wormlobNotice']('This browser gives the page no IndexedDB: scores and settings last only until the page is closed.');
    ready();
    return;
  }
  wormlobOpenDb().then(function(db) {
    if (!db) {
      Module['wormlobNotice']('The browser refused the page its IndexedDB: scores and settings last only until the page is closed.');
      ready();
      return;
    }
    wormlobDb = db;
    return wormlobLoadStoredFiles(db).then(function(files) {
      files.forEach(function(f) {
        try {
          wormlobWriteIntoFs(f[0], f[1]);
        } catch (e) {
          err('wormlob2: stored file ' + f[0] + ' could not be restored: ' + e);
        }
      });
      ready();
    });
  }).catch(function(e) {
    err('wormlob2: IndexedDB: ' + e);
    ready();
  });
});

// The score server the player chose (Online.ini, restored from the stored
// files), as an origin; "" when none.
function wormlobSavedServerOrigin() {
  var text = '';
  try {
    text = FS.readFile('/Files/Online.ini', {encoding: 'utf8'});
  } catch (e) {
    return '';
  }
  var m = /^[ \t]*server[ \t]*=[ \t]*(\S+)/im.exec(text);
  try {
    return m ? new URL(m[1]).origin : '';
  } catch (e) {
    return '';
  }
}

// Where a game to watch may come from: this page's own site, or the score
// server the player chose. A journal from anywhere else was never verified
// by either, and the page would show it as if it were a ranked game.
function wormlobWatchableFrom(url) {
  var u;
  try {
    u = new URL(url, location.href);
  } catch (e) {
    return false;
  }
  if (u.protocol !== 'http:' && u.protocol !== 'https:') return false;
  return u.origin === location.origin || (u.origin !== 'null' && u.origin === wormlobSavedServerOrigin());
}

// A game to watch named by its address (a score server's leaderboard links
// to /play/?replay=/api/v1/games/ID/journal) is fetched before the program
// starts; the program is given the copy.
Module['preRun'].push(function() {
  var url = Module['wormlobReplayUrl'];
  if (!url) return;
  addRunDependency('wormlob-replay');
  wormlobFilesRestored.then(function() {
    if (!wormlobWatchableFrom(url)) {
      var e = new Error('the page shows only games from its own site or its score server');
      e.refused = true;
      throw e;
    }
    return fetch(url);
  }).then(function(r) {
    if (!r.ok) throw new Error('the server answered ' + r.status);
    return r.arrayBuffer();
  }).then(function(data) {
    wormlobWriteIntoFs(Module['wormlobReplay'], new Uint8Array(data));
    removeRunDependency('wormlob-replay');
  }).catch(function(e) {
    if (e.refused)
      Module['wormlobFail']('The game to watch is not shown: ' + url + ' is neither this site nor its score ' +
                            'server, and the page shows only games one of them has verified.', false);
    else
      Module['wormlobFail']('The game to watch could not be fetched from ' + url + ': ' + e.message + '.');
  });
});

// Stores a file's current contents under its path. Transactions on one
// store complete in the order they were made, so the newest write wins.
Module['wormlobStore'] = function(path) {
  // Watching someone's game files their record in the file system only:
  // the player's own scores and settings stay as they were.
  if (!wormlobDb || Module['wormlobReplay']) return;
  var data;
  try {
    data = FS.readFile(path);
  } catch (e) {
    // Gone again: a temporary file, or one the program removed (an old game
    // journal): whatever was kept under its name goes too.
    try {
      wormlobDb.transaction('files', 'readwrite').objectStore('files').delete(path);
    } catch (e2) {}
    return;
  }
  // For the measurements: when the log reaches the start-up's milestones
  // (the performance test's start and end, the end of loading; the title
  // follows once the splash has been held its time).
  if (/Debug\.txt$/.test(path) && !('Finished Loading' in wormlobLogMarks)) {
    var tail = String.fromCharCode.apply(null, data.subarray(Math.max(0, data.length - 40)));
    ['Starting Engine Test', 'Test Complete', 'Finished Loading'].forEach(function(mark) {
      if (!(mark in wormlobLogMarks) && tail.indexOf(mark) >= 0) wormlobLogMarks[mark] = performance.now();
    });
  }
  try {
    var tx = wormlobDb.transaction('files', 'readwrite');
    tx.objectStore('files').put(data, path);
    tx.onerror = function() { err('wormlob2: could not store ' + path); };
  } catch (e) {
    err('wormlob2: could not store ' + path + ': ' + e);
  }
};

Module['wormlobDownload'] = function(path, name) {
  var data;
  try {
    data = FS.readFile(path);
  } catch (e) {
    return;
  }
  var url = URL.createObjectURL(new Blob([data], {type: 'image/png'}));
  var a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(function() { URL.revokeObjectURL(url); }, 10000);
  // The page keeps no copy: memory is all it would have.
  try { FS.unlink(path); } catch (e) {}
};

// The program asks for full screen ("Apply" on the settings panel) and for
// the pointer lock (a game starting) from its own frame, never inside one of
// the browser's event handlers, so Emscripten holds each request back until
// the next click or key: a quick click on "Apply" would go full screen only
// at the click after it, and a tap never. The browser grants both for a few
// seconds after a gesture (its transient user activation); while that lasts
// the request is made at once.
Module['preRun'].push(function() {
  if (typeof JSEvents == 'undefined' || typeof navigator == 'undefined' || !navigator.userActivation) return;
  var inHandler = JSEvents.canPerformEventHandlerRequests;
  JSEvents.canPerformEventHandlerRequests = function() {
    return navigator.userActivation.isActive || inHandler();
  };
});

// Browsers let sound start only after a gesture. Emscripten's OpenAL tries
// once at the first key, mouse button or touch start; a touch start is not
// a gesture to the browser (the touch's end is), so a game played by touch
// would stay silent. Every gesture resumes the sound until it runs.
function wormlobResumeSound() {
  if (typeof AL == 'undefined' || !AL.contexts) return;
  for (var id in AL.contexts) {
    var ac = AL.contexts[id] && AL.contexts[id].audioCtx;
    // A refused resume is tried again at the next gesture.
    if (ac && ac.state == 'suspended') ac.resume().catch(function() {});
  }
}
['touchend', 'mousedown', 'keydown'].forEach(function(type) {
  window.addEventListener(type, wormlobResumeSound, true);
});

// A browser shows a gamepad to the page only once a button of it is
// pressed, and its 'gamepadconnected' event carries the pad as it is at that
// press. SDL keeps that state as the one it starts from and reports only
// later changes, so the press that revealed the pad (Start at the title,
// say) would never reach the program, nor a stick already pushed. SDL is
// told of the pad as one at rest instead, with a time stamp no sample has,
// and its first poll finds what is held. A capturing listener on the window
// runs before SDL's own.
window.addEventListener('gamepadconnected', function(e) {
  var g = e.gamepad;
  if (e.wormlobAtRest || !g) return;
  e.stopImmediatePropagation();
  var rest = new Event('gamepadconnected');
  rest.wormlobAtRest = true;
  rest.gamepad = {id: g.id, index: g.index, mapping: g.mapping, connected: g.connected, timestamp: -1,
                  axes: Array.from(g.axes, function() { return 0; }),
                  buttons: Array.from(g.buttons, function() { return {pressed: false, touched: false, value: 0}; })};
  window.dispatchEvent(rest);
}, true);

// ---- The score server ----
// The program (services/online.cpp) says when sending is on and to which
// server ("auto": the server that serves this page, if it is a score
// server), when a game starts (it takes the session token kept ready, with
// the seed the game starts from, or the daily challenge's) and when a game
// that counts is filed. Each filed game is put into the outbox store first
// and sent only once the store has it; it leaves the store when the server
// has acknowledged it. The verdicts come back to the program as news lines
// ("sent", "ranked RANK MODE", "daily-ranked RANK MODE", "refused REASON",
// "held REASON", "kept COUNT") that it turns into messages. Only the journal
// goes out, and the address it is sent from.
var wormlobOnline = {server: '', news: [], sending: false, again: false,
                     pause: 0, timer: null, toldKept: {}, toldHeld: {}, memory: {}, starts: 0,
                     // The token kept ready for the next game ({token, seed, at}),
                     // whether it is being asked for, and the pause after a failure.
                     ready: null, asking: false, readyTimer: null, readyPause: 0,
                     // The daily challenge: 0 not asked, 1 asking, 2 ready, 3 failed.
                     dailyState: 0, daily: null, dailyTrouble: ''};
var wormlobTokenFreshMs = 10 * 60 * 1000;

function wormlobOutbox(mode, work) {
  // Without IndexedDB the outbox lasts as long as the page.
  if (!wormlobDb) return Promise.resolve(work(null));
  return new Promise(function(resolve, reject) {
    var tx = wormlobDb.transaction('outbox', mode), result;
    result = work(tx.objectStore('outbox'));
    tx.oncomplete = function() { resolve(result); };
    tx.onerror = tx.onabort = function() { reject(tx.error); };
  });
}

function wormlobOutboxPut(key, data) {
  return wormlobOutbox('readwrite', function(store) {
    if (store) store.put(data, key);
    else wormlobOnline.memory[key] = data;
  });
}

function wormlobOutboxRemove(key) {
  return wormlobOutbox('readwrite', function(store) {
    if (store) store.delete(key);
    else delete wormlobOnline.memory[key];
  });
}

// The games waiting, oldest first (their names start with the time stamp).
function wormlobOutboxList() {
  var list = [];
  return wormlobOutbox('readonly', function(store) {
    if (!store) {
      Object.keys(wormlobOnline.memory).forEach(function(k) { list.push({key: k, data: wormlobOnline.memory[k]}); });
      return;
    }
    store.openCursor().onsuccess = function(e) {
      var c = e.target.result;
      if (!c) return;
      list.push({key: c.key, data: c.value});
      c.continue();
    };
  }).then(function() {
    return list.sort(function(a, b) { return a.key < b.key ? -1 : a.key > b.key ? 1 : 0; });
  });
}

function wormlobNews(line) {
  wormlobOnline.news.push(line.replace(/[\r\n]+/g, ' '));
}

function wormlobJsonObject(text) {
  try {
    var j = JSON.parse(text);
    return j && typeof j === 'object' && !Array.isArray(j) ? j : null;
  } catch (e) {
    return null;
  }
}

// Only a 4xx with the score server's own error marked permanent refuses a
// game for good; another 4xx with its error holds the game (kept, the reason
// told); anything else (no answer, a proxy's page, "too many requests")
// keeps it.
function wormlobReadSubmit(status, body) {
  var j = wormlobJsonObject(body);
  if (status >= 200 && status < 300 && j && (typeof j.id === 'number' || typeof j.id === 'string') &&
      /^[A-Za-z0-9_-]{1,64}$/.test(String(j.id)))
    return {kind: 'accepted', id: String(j.id)};
  if (status >= 400 && status < 500 && status !== 408 && status !== 429 && j && typeof j.error === 'string' && j.error)
    return {kind: j.permanent === true ? 'refused' : 'held', reason: j.error};
  return {kind: 'retry'};
}

function wormlobAwaitVerdict(id, asked) {
  // Verification takes a moment: ask after half a second, then 1, 2, 4 ...
  // up to every 30 seconds, for a quarter of an hour at most.
  var delay = asked === 0 ? 500 : Math.min(1000 * Math.pow(2, Math.min(asked - 1, 5)), 30000);
  setTimeout(function() {
    fetch(wormlobOnline.server + '/api/v1/games/' + id, {cache: 'no-store'}).then(function(r) {
      return r.status === 200 ? r.text() : '';
    }).then(function(text) {
      var j = wormlobJsonObject(text);
      // A daily game's rank is its place in its day's table.
      if (j && j.status === 'ranked' && j.rank >= 1 && ['easy', 'medium', 'hard'].indexOf(j.mode) >= 0)
        wormlobNews((j.challenge === 'daily' ? 'daily-ranked ' : 'ranked ') + Math.floor(j.rank) + ' ' + j.mode);
      else if (j && j.status === 'rejected')
        wormlobNews('refused ' + (typeof j.reason === 'string' ? j.reason : ''));
      else if (asked < 40)
        wormlobAwaitVerdict(id, asked + 1);
    }, function() {
      if (asked < 40) wormlobAwaitVerdict(id, asked + 1);
    });
  }, delay);
}

// Sends the outbox, oldest first; stops at the first game the server does
// not take, and tries again after a pause that doubles up to ten minutes.
function wormlobSendAll() {
  var o = wormlobOnline;
  if (!o.server) return;
  if (o.sending) {
    o.again = true;
    return;
  }
  o.sending = true;
  clearTimeout(o.timer);
  o.timer = null;
  var done = function(failed) {
    o.sending = false;
    if (failed) {
      o.pause = Math.min(o.pause ? o.pause * 2 : 15000, 600000);
      o.timer = setTimeout(wormlobSendAll, o.pause);
    } else {
      o.pause = 0;
    }
    if (o.again) {
      o.again = false;
      wormlobSendAll();
    }
  };
  wormlobOutboxList().then(function(entries) {
    var i = 0, held = false;
    var next = function() {
      if (i >= entries.length) return done(held);
      var e = entries[i];
      return fetch(o.server + '/api/v1/games', {method: 'POST', body: e.data,
                                                headers: {'Content-Type': 'application/octet-stream'}})
        .then(function(r) { return r.text().then(function(t) { return {status: r.status, body: t}; }); },
              function() { return {status: 0, body: ''}; })
        .then(function(a) {
          var v = wormlobReadSubmit(a.status, a.body);
          if (v.kind === 'retry') {
            var fresh = 0;
            for (var k = i; k < entries.length; k++) {
              if (!o.toldKept[entries[k].key]) fresh++;
              o.toldKept[entries[k].key] = true;
            }
            if (fresh) wormlobNews('kept ' + fresh);
            return done(true);
          }
          if (v.kind === 'held') {
            // Refused, but not for good: the game stays for the next round
            // and the games after it go now; the reason is told once, and
            // again only when it changes.
            held = true;
            o.toldKept[e.key] = true;
            if (o.toldHeld[e.key] !== v.reason) wormlobNews('held ' + v.reason);
            o.toldHeld[e.key] = v.reason;
            i++;
            return next();
          }
          return wormlobOutboxRemove(e.key).then(function() {
            if (v.kind === 'accepted') {
              wormlobNews('sent');
              wormlobAwaitVerdict(v.id, 0);
            } else {
              wormlobNews('refused ' + v.reason);
            }
            i++;
            return next();
          });
        });
    };
    return next();
  }).catch(function(e) {
    err('wormlob2: the outbox: ' + e);
    done(true);
  });
}

// A session answer: {token, seed} (seed -1 when the server gave none), and
// for a daily challenge (mode given) its date and mode, all of them there
// and the mode the one asked for; null when it is not usable.
function wormlobReadSession(text, mode) {
  var j = wormlobJsonObject(text);
  if (!j || typeof j.token !== 'string' || !/^[A-Za-z0-9._-]{1,128}$/.test(j.token)) return null;
  var seed = Number.isInteger(j.seed) && j.seed >= 0 && j.seed <= 2147483647 ? j.seed : -1;
  var t = {token: j.token, seed: seed, date: '', mode: ''};
  if (!mode) return t;
  if (j.challenge !== 'daily' || j.mode !== mode || typeof j.date !== 'string' ||
      !/^\d{4}-\d{2}-\d{2}$/.test(j.date) || seed < 0)
    return null;
  t.date = j.date;
  t.mode = mode;
  return t;
}

function wormlobAskSession(body) {
  // A plain text body: a cross-origin request needs no preflight.
  return fetch(wormlobOnline.server + '/api/v1/sessions', {method: 'POST', body: body, cache: 'no-store'})
    .then(function(r) { return r.text().then(function(t) { return {status: r.status, body: t}; }); },
          function() { return {status: 0, body: ''}; });
}

// Keeps one token ready, so that a game never waits for the network:
// asked again once a game took it or it is ten minutes old, and after a
// failure again in 15 s, doubling to at most five minutes.
function wormlobKeepTokenReady() {
  var o = wormlobOnline;
  clearTimeout(o.readyTimer);
  o.readyTimer = null;
  if (!o.server || o.asking) return;
  if (o.ready && Date.now() - o.ready.at < wormlobTokenFreshMs) {
    o.readyTimer = setTimeout(wormlobKeepTokenReady, wormlobTokenFreshMs - (Date.now() - o.ready.at));
    return;
  }
  o.ready = null;
  o.asking = true;
  wormlobAskSession('{}').then(function(a) {
    o.asking = false;
    var t = a.status >= 200 && a.status < 300 ? wormlobReadSession(a.body, '') : null;
    if (t) {
      t.at = Date.now();
      o.ready = t;
      o.readyPause = 0;
      o.readyTimer = setTimeout(wormlobKeepTokenReady, wormlobTokenFreshMs);
    } else {
      o.readyPause = Math.min(o.readyPause ? o.readyPause * 2 : 15000, 300000);
      o.readyTimer = setTimeout(wormlobKeepTokenReady, o.readyPause);
    }
  });
}

Module['wormlobOnlineStart'] = function(setting) {
  // A later start (a server the player accepted on the page) wins over an
  // earlier one still asking.
  var start = ++wormlobOnline.starts;
  if (setting !== 'auto') {
    wormlobOnline.server = setting;
    wormlobKeepTokenReady();
    wormlobSendAll();
    return;
  }
  // A score server serves the page under /play/ and answers for its health
  // at the same origin; a plain static host sends nothing.
  var none = function() {
    wormlobOnline.noServer = true;
    // A daily challenge asked for meanwhile cannot be had.
    if (wormlobOnline.dailyState !== 1) return;
    wormlobOnline.dailyTrouble = 'no score server serves this page';
    wormlobOnline.dailyState = 3;
  };
  if (!/^\/play\//.test(location.pathname)) return none();
  fetch('/api/v1/health', {cache: 'no-store'}).then(function(r) {
    return r.ok ? r.text() : '';
  }).then(function(text) {
    // A later start (a server accepted on the page) has taken over.
    if (start !== wormlobOnline.starts) return;
    if (!wormlobJsonObject(text)) return none();
    wormlobOnline.server = location.origin;
    wormlobKeepTokenReady();
    if (wormlobOnline.dailyState === 1) wormlobAskDaily();
    wormlobSendAll();
  }, none);
};

// A game starts from the title: it takes the daily challenge's ticket when
// one waits, else the token kept ready (spent: the next game takes the
// next one), as "TOKEN SEED DATE MODE" with "-" for what it has not; '' when
// it has no token and is played offline.
Module['wormlobOnlineTakeTicket'] = function() {
  var o = wormlobOnline, t = null;
  if (o.dailyState === 2) {
    t = o.daily;
    o.daily = null;
    o.dailyState = 0;
  } else {
    if (o.ready && Date.now() - o.ready.at <= wormlobTokenFreshMs + 60000) t = o.ready;
    o.ready = null;
    wormlobKeepTokenReady();
  }
  if (!t) return '';
  return [t.token, t.seed >= 0 ? String(t.seed) : '-', t.date || '-', t.mode || '-'].join(' ');
};

// The daily challenge of mode ('easy', 'medium' or 'hard'): its token is
// asked for when the player picks it, and the game starts once it is here.
// (A page that looks for its own server asks once it has found it.)
Module['wormlobOnlineAskDaily'] = function(mode) {
  var o = wormlobOnline;
  if (o.dailyState === 1) return;
  o.daily = null;
  if (!o.server && o.noServer) {
    o.dailyTrouble = 'no score server serves this page';
    o.dailyState = 3;
    return;
  }
  o.dailyState = 1;
  o.dailyMode = mode;
  if (o.server) wormlobAskDaily();
};

// Whether games go anywhere: not once the page found no score server of its own.
Module['wormlobOnlineHasServer'] = function() { return !wormlobOnline.noServer; };

function wormlobAskDaily() {
  var o = wormlobOnline, mode = o.dailyMode;
  wormlobAskSession(JSON.stringify({challenge: 'daily', mode: mode})).then(function(a) {
    var t = a.status >= 200 && a.status < 300 ? wormlobReadSession(a.body, mode) : null;
    if (t) {
      o.daily = t;
      o.dailyState = 2;
    } else {
      o.dailyTrouble = a.status === 0 ? 'the score server cannot be reached' :
                       a.status >= 200 && a.status < 300 ? 'the score server offers no daily challenge' :
                                                           'the score server refused it';
      o.dailyState = 3;
    }
  });
};

Module['wormlobOnlineDailyState'] = function() { return wormlobOnline.dailyState; };

Module['wormlobOnlineDailyTrouble'] = function() {
  var o = wormlobOnline;
  if (o.dailyState === 3) o.dailyState = 0;
  return o.dailyTrouble;
};

Module['wormlobOnlineGameFiled'] = function(path) {
  if (!wormlobOnline.server) return;
  var data;
  try {
    data = FS.readFile(path);
  } catch (e) {
    err('wormlob2: the game journal ' + path + ' cannot be read: ' + e);
    return;
  }
  var key = path.substring(path.lastIndexOf('/') + 1);
  wormlobOutboxPut(key, data).then(wormlobSendAll, function(e) {
    err('wormlob2: the outbox cannot keep ' + key + ': ' + e);
  });
};

Module['wormlobOnlineNextNews'] = function() { return wormlobOnline.news.shift() || ''; };

// A score server the page's address named, once the player has accepted it
// on the page (shell.html): handed to the program once, which keeps it.
Module['wormlobOnlineAgreedServer'] = function() {
  var server = Module['wormlobAgreedServer'] || '';
  Module['wormlobAgreedServer'] = '';
  return server;
};

// The program draws its frames into an OffscreenCanvas that nobody sees,
// and each finished frame is handed to the page's canvas whole
// (transferToImageBitmap), without a copy: the browser shows a frame only
// when the program presents it, although the program yields mid-frame.
// The WebGL context the program (and a test) asks of the page's canvas is
// made on the OffscreenCanvas instead, which follows the canvas's size; the
// canvas itself shows the handed-over frames through a bitmap renderer. A
// browser without OffscreenCanvas WebGL gets the canvas's own context, and
// the program then copies each frame to it (media/graphics_gl.cpp).
Module['preRun'].push(function() {
  var canvas = Module['canvas'];
  var offscreen = null, gl = null, shown = null;
  Module['wormlobDrawsOffscreen'] = function() {
    return !!gl && typeof GLctx != 'undefined' && GLctx === gl;
  };
  Module['wormlobHandOverFrame'] = function() {
    if (!gl || GLctx !== gl) return false;
    try {
      shown.transferFromImageBitmap(offscreen.transferToImageBitmap());
    } catch (e) {
      // A lost context has no frame to give: the canvas keeps the last one.
      return false;
    }
    fitSize();
    return true;
  };
  function fitSize() {
    if (offscreen.width != canvas.width) offscreen.width = canvas.width;
    if (offscreen.height != canvas.height) offscreen.height = canvas.height;
  }
  if (!canvas || typeof OffscreenCanvas == 'undefined' || !canvas.getContext) return;
  var own = canvas.getContext;
  canvas.getContext = function(type, attributes) {
    var webgl = type == 'webgl' || type == 'webgl2' || type == 'experimental-webgl';
    if (!webgl) return own.apply(canvas, arguments);
    if (gl) {
      fitSize();
      var wantsTwo = type == 'webgl2';
      var isTwo = typeof WebGL2RenderingContext != 'undefined' && gl instanceof WebGL2RenderingContext;
      return wantsTwo == isTwo ? gl : null;
    }
    try {
      var candidate = new OffscreenCanvas(canvas.width || 1, canvas.height || 1);
      var context = candidate.getContext(type, attributes);
      var bitmaps = context && typeof candidate.transferToImageBitmap == 'function' ?
          own.call(canvas, 'bitmaprenderer') : null;
      if (!bitmaps) {
        // Without a way to show its frames, the canvas's own context is
        // used (a WebGL 1 request after a refused WebGL 2 one comes here
        // again).
        return own.apply(canvas, arguments);
      }
      offscreen = candidate;
      gl = context;
      shown = bitmaps;
      return gl;
    } catch (e) {
      return own.apply(canvas, arguments);
    }
  };
  // The picture the canvas shows, into a texture, bottom row first as GL
  // keeps its frames, colours untouched.
  Module['wormlobShownPictureInto'] = function(ctx, texture) {
    ctx.bindTexture(ctx.TEXTURE_2D, texture);
    ctx.pixelStorei(ctx.UNPACK_FLIP_Y_WEBGL, true);
    ctx.pixelStorei(ctx.UNPACK_PREMULTIPLY_ALPHA_WEBGL, false);
    ctx.pixelStorei(ctx.UNPACK_COLORSPACE_CONVERSION_WEBGL, ctx.NONE);
    ctx.texImage2D(ctx.TEXTURE_2D, 0, ctx.RGBA, ctx.RGBA, ctx.UNSIGNED_BYTE, canvas);
    ctx.pixelStorei(ctx.UNPACK_FLIP_Y_WEBGL, false);
    ctx.pixelStorei(ctx.UNPACK_COLORSPACE_CONVERSION_WEBGL, ctx.BROWSER_DEFAULT_WEBGL);
  };
});
