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
  wormlob_program_ended: function(status) {
    Module['wormlobEnded'](status);
  },
});
