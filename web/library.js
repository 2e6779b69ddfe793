// The program's calls into its page (declared in media/platform_web.cpp);
// the work is done by the page's own code in pre.js.
mergeInto(LibraryManager.library, {
  wormlob_store_file: function(path) {
    Module['wormlobStore'](UTF8ToString(path));
  },
  wormlob_offer_download: function(path, name) {
    Module['wormlobDownload'](UTF8ToString(path), UTF8ToString(name));
  },
  wormlob_presented: function() {
    Module['wormlobPresented']();
  },
  wormlob_drawn: function() {
    Module['wormlobDrawn']();
  },
  // The page's drawing goes to an OffscreenCanvas when the browser has one
  // (pre.js); these are the program's side of it (media/graphics_gl.cpp).
  wormlob_gl_offscreen: function() {
    return Module['wormlobDrawsOffscreen']() ? 1 : 0;
  },
  wormlob_hand_over_frame: function() {
    return Module['wormlobHandOverFrame']() ? 1 : 0;
  },
  wormlob_shown_picture_into: function(texture) {
    Module['wormlobShownPictureInto'](GLctx, GL.textures[texture]);
  },
  // The program's sleep. emscripten_sleep wakes the program from its
  // timer, so each sleep's timer is set from the timer that ended the one
  // before; browsers hold such nested timers to at least 4 ms, and a 1 ms
  // sleep took 4 to 5 (a frame already over its time lost 4 ms more in the
  // frame wait). Here the timer only posts a message and the program wakes
  // in that message's turn, where timers do not nest; a sleep of 0 is that
  // one turn of the event loop, with no timer. The build lists this
  // function among the imports that may sleep.
  wormlob_sleep__deps: ['$safeSetTimeout', '$callUserCallback'],
  wormlob_sleep: function(ms) {
    Asyncify.handleSleep(function(wakeUp) {
      var channel = Module['wormlobSleepChannel'] || (Module['wormlobSleepChannel'] = new MessageChannel());
      var start = performance.now();
      // The time asked for and slept so far, for the page's frame-time tests.
      Module['wormlobAskedMs'] = (Module['wormlobAskedMs'] || 0) + ms;
      channel.port1.onmessage = function() {
        Module['wormlobSleptMs'] = (Module['wormlobSleptMs'] || 0) + performance.now() - start;
        callUserCallback(wakeUp);
      };
      if (ms > 0) safeSetTimeout(function() { channel.port2.postMessage(0); }, ms);
      else channel.port2.postMessage(0);
    });
  },
  wormlob_program_ended: function(status) {
    Module['wormlobEnded'](status);
  },
  // The score client (services/online.cpp): the page's script talks to the
  // server; strings come back through the program's buffers.
  wormlob_online_start: function(server) {
    Module['wormlobOnlineStart'](UTF8ToString(server));
  },
  wormlob_online_take_ticket: function(out, size) {
    var ticket = Module['wormlobOnlineTakeTicket']();
    if (!ticket) return 0;
    stringToUTF8(ticket, out, size);
    return ticket.length;
  },
  wormlob_online_ask_daily: function(mode) {
    Module['wormlobOnlineAskDaily'](UTF8ToString(mode));
  },
  wormlob_online_has_server: function() {
    return Module['wormlobOnlineHasServer']() ? 1 : 0;
  },
  wormlob_online_daily_state: function() {
    return Module['wormlobOnlineDailyState']();
  },
  wormlob_online_daily_trouble: function(out, size) {
    var why = Module['wormlobOnlineDailyTrouble']();
    if (!why) return 0;
    stringToUTF8(why, out, size);
    return why.length;
  },
  wormlob_online_game_filed: function(path) {
    Module['wormlobOnlineGameFiled'](UTF8ToString(path));
  },
  wormlob_online_next_news: function(out, size) {
    var news = Module['wormlobOnlineNextNews']();
    if (!news) return 0;
    stringToUTF8(news, out, size);
    return 1;
  },
  // A score server from the page's address that the player has accepted.
  wormlob_online_agreed_server: function(out, size) {
    var server = Module['wormlobOnlineAgreedServer']();
    if (!server) return 0;
    stringToUTF8(server, out, size);
    return 1;
  },
});
