// The page's side of the program's files. Setup.ini, Debug.txt and
// 418/scores.dat live in the browser's IndexedDB: they are copied into the
// program's file system before it starts, and each is stored again as soon
// as the program has written it. The assets come from the .data package.

var wormlobDb = null;       // the open database, or null without one
var wormlobDbName = 'wormlob2';
var wormlobLogMarks = window.wormlobLogMarks = {};  // log milestone -> time, for measurements

function wormlobOpenDb() {
  return new Promise(function(resolve) {
    var req;
    try {
      req = indexedDB.open(wormlobDbName, 1);
    } catch (e) {
      resolve(null);
      return;
    }
    req.onupgradeneeded = function() { req.result.createObjectStore('files'); };
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
  var ready = function() { removeRunDependency('wormlob-stored-files'); };
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

// Stores a file's current contents under its path. Transactions on one
// store complete in the order they were made, so the newest write wins.
Module['wormlobStore'] = function(path) {
  if (!wormlobDb) return;
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
