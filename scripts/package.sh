#!/usr/bin/env bash
# Builds the Debian package from a clean copy of the tree, leaves it in
# build-deb/, and checks it as a user would: lintian, the desktop entry, the
# AppStream metadata and the man page; then installs it, plays it headless
# as new users (each with their own files), tries the bad states (a data
# folder the user cannot write, a font package gone, a per-user folder left
# by a `cmake --install` elsewhere), and purges it. Run as root on Debian:
# it installs what it needs, and adds and removes its own test users.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT="$ROOT/build-deb"

# Each step is a group of checks; the last line tallies them.
passed=0
current=""
fail() {
  echo "package: FAILED: $*" >&2
  echo "package: $passed passed, 1 failed"
  exit 1
}
step() {
  [ -n "$current" ] && passed=$((passed + 1))
  current=$1
  echo "package: $*"
}
[ "$(id -u)" -eq 0 ] || fail "run as root: it installs packages and adds test users"

# What building and checking a package needs, besides the game's own build
# dependencies (deps.sh --build); the font packages come with the .deb.
TOOLS=(debhelper dpkg-dev lintian appstream desktop-file-utils man-db curl python3 systemd)
step "build dependencies and tools"
bash scripts/deps.sh --build
bash scripts/deps.sh --install "${TOOLS[@]}"

# Build-Depends and the build list of deps.sh name the same packages.
control=$(sed -n '/^Build-Depends:/,/^[^ ]/p' debian/control | sed '$d; s/^Build-Depends://' |
  tr ',' '\n' | sed 's/(.*)//; s/[[:space:]]//g' | grep -v -e '^$' -e '^debhelper-compat$' | sort)
listed=$(bash scripts/deps.sh --build-list | grep -v '^build-essential$' | sort)
[ "$control" = "$listed" ] || fail "debian/control Build-Depends and scripts/deps.sh --build-list differ:
$(diff <(echo "$control") <(echo "$listed") || true)"

WORK=$(mktemp -d /tmp/wl2-package.XXXXXX)
USERS=(wl2ann wl2bob wl2cat wl2dan)
cleanup() {
  for u in "${USERS[@]}"; do id "$u" >/dev/null 2>&1 && userdel -r "$u" >/dev/null 2>&1; done
  rm -rf "$WORK" "${SSTATE:-}"
}
trap cleanup EXIT

# ----------------------------------------------------------------- build --
# Only what git tracks or would track: no build folders, no local Setup.ini
# or scores. The package build runs a short headless start of the program
# (debian/rules), not the test suite, which scripts/test.sh has run.
version=$(dpkg-parsechangelog -S Version)
SRC="$WORK/wormlob2-$version"
mkdir -p "$SRC"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -x -C "$SRC"
else
  tar --exclude='./build*' --exclude='./Files/Setup.ini' --exclude='./Files/Debug.txt' \
    --exclude='./Files/418/scores.dat*' -cf - . | tar -x -C "$SRC"
fi
step "building wormlob2 $version"
if ! (cd "$SRC" && DEB_BUILD_OPTIONS="parallel=$(nproc 2>/dev/null || echo 2)" \
      dpkg-buildpackage -us -uc -b >"$WORK/build.log" 2>&1); then
  tail -60 "$WORK/build.log"
  fail "dpkg-buildpackage"
fi
rm -rf "$OUT"
mkdir -p "$OUT"
cp "$WORK"/*.deb "$WORK"/*.changes "$WORK"/*.buildinfo "$OUT"/
arch=$(dpkg --print-architecture)
DEB="$OUT/wormlob2_${version}_${arch}.deb"
SERVER_DEB="$OUT/wormlob2-server_${version}_${arch}.deb"
[ -f "$DEB" ] || fail "no $DEB"
[ -f "$SERVER_DEB" ] || fail "no $SERVER_DEB"
echo "package: built $(basename "$DEB") and $(basename "$SERVER_DEB")"

# ------------------------------------------------------- static checks --
step "lintian, desktop entry, AppStream metadata, icons"
if ! lintian --fail-on error,warning --info "$OUT/wormlob2_${version}_${arch}.changes" >"$WORK/lintian.txt" 2>&1; then
  cat "$WORK/lintian.txt"
  fail "lintian reports errors or warnings"
fi
grep -v 'running with root privileges' "$WORK/lintian.txt" || true

TREE="$WORK/tree"
dpkg-deb -x "$DEB" "$TREE"
desktop-file-validate "$TREE/usr/share/applications/wormlob2.desktop" || fail "desktop entry"
grep -qx 'Exec="/usr/games/wormlob2"' "$TREE/usr/share/applications/wormlob2.desktop" ||
  fail "the desktop entry does not start /usr/games/wormlob2"
appstreamcli validate --pedantic --no-net "$TREE"/usr/share/metainfo/*.metainfo.xml || fail "AppStream metadata"
grep -q "<release version=\"$version\"" "$TREE"/usr/share/metainfo/*.metainfo.xml ||
  fail "the AppStream metadata lists no release $version, the version in debian/changelog"
for size in 16 32 48 64 128 256; do
  icon="$TREE/usr/share/icons/hicolor/${size}x${size}/apps/wormlob2.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  [ "$(od -An --endian=big -tu4 -j16 -N8 "$icon" | tr -s ' ')" = " $size $size" ] ||
    fail "the ${size}x${size} icon has another size"
done
[ -z "$(find "$TREE" -name '*.ttf' -type f)" ] || fail "the package ships font files instead of links"

STREE="$WORK/server-tree"
dpkg-deb -x "$SERVER_DEB" "$STREE"
UNIT="$STREE/lib/systemd/system/wormlob2-server.service"
[ -f "$UNIT" ] || fail "the server package has no systemd unit"
grep -qx 'User=wormlob2-server' "$UNIT" || fail "the server's unit does not run as its own user"
[ -f "$STREE/usr/lib/sysusers.d/wormlob2-server.conf" ] || fail "the server package does not declare its user"

# ------------------------------------------------------------- install --
step "installing $(basename "$DEB") and $(basename "$SERVER_DEB")"
export DEBIAN_FRONTEND=noninteractive
if ! apt-get install -y -qq "$DEB" "$SERVER_DEB" >"$WORK/install.log" 2>&1; then
  cat "$WORK/install.log"
  fail "apt-get install"
fi
DATA=/usr/share/games/wormlob2/Files
for font in Plainhand Roadsign Marquee; do
  target=$(readlink -e "$DATA/Common/$font.ttf") || fail "$font.ttf does not lead to an installed font"
  dpkg -S "$target" >/dev/null || fail "$font.ttf leads to $target, which no package owns"
done

# Every option --help names is in the man page.
LC_ALL=C man -l "$TREE/usr/share/man/man6/wormlob2.6.gz" 2>/dev/null | col -b >"$WORK/man.txt"
# The option list is read first: a --help that fails or names nothing would
# leave the loop empty and let the check pass.
opts=$(/usr/games/wormlob2 --help | grep -o -- '^  --[a-z-]*') || fail "wormlob2 --help fails or names no option"
[ "$(echo "$opts" | wc -w)" -ge 10 ] || fail "wormlob2 --help names too few options: $opts"
for opt in $opts; do
  grep -q -- "$opt" "$WORK/man.txt" || fail "the man page lacks $opt"
done

# The score server: its own system user, a man page for each option, and
# a start as the unit starts it (without systemd, which a build machine
# need not run): it finds the installed game and assets by itself, serves,
# and stops cleanly on SIGTERM.
step "the score server"
LC_ALL=C man -l "$STREE/usr/share/man/man1/wormlob2-server.1.gz" 2>/dev/null | col -b >"$WORK/server-man.txt"
sopts=$(wormlob2-server --help | grep -o -- '^  --[a-z-]*') || fail "wormlob2-server --help fails or names no option"
[ "$(echo "$sopts" | wc -w)" -ge 10 ] || fail "wormlob2-server --help names too few options: $sopts"
for opt in $sopts; do
  grep -q -- "$opt" "$WORK/server-man.txt" || fail "the server's man page lacks $opt"
done
suid=$(id -u wormlob2-server 2>/dev/null) || fail "installing made no wormlob2-server user"
[ "$suid" -lt 1000 ] || fail "the wormlob2-server user is no system user (uid $suid)"
command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing: the unit cannot be checked"
systemd-analyze verify /lib/systemd/system/wormlob2-server.service >"$WORK/unit.txt" 2>&1 ||
  { cat "$WORK/unit.txt"; fail "systemd-analyze rejects the unit"; }
# Its folder as the unit's state folder would be: its own, where it can reach it.
SSTATE=$(mktemp -d /tmp/wl2-server-state.XXXXXX)
chown wormlob2-server: "$SSTATE"
sport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$SSTATE" && exec setpriv --reuid=wormlob2-server --regid=wormlob2-server --init-groups \
  env -i WORMLOB_SERVER_PORT="$sport" /usr/bin/wormlob2-server >"$WORK/server.log" 2>&1) &
spid=$!
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$sport/api/v1/health" >/dev/null 2>&1 && break
  sleep 0.1
done
curl -sf "http://127.0.0.1:$sport/api/v1/health" >/dev/null || { cat "$WORK/server.log"; fail "the server does not answer"; }
curl -sf "http://127.0.0.1:$sport/" | grep -q '<h1>Wormlob 2 high scores</h1>' || fail "the server's page is missing"
grep -q 'replays run "/usr/games/wormlob2" on the assets in "/usr/share/games/wormlob2/Files"' "$WORK/server.log" ||
  { cat "$WORK/server.log"; fail "the server did not find the installed game and its assets"; }
[ -f "$SSTATE/wormlob2-scores.sqlite" ] || fail "the server made no database in its folder"
kill -TERM "$spid"
wait "$spid" || fail "the server did not stop cleanly on SIGTERM"
grep -q 'wormlob2-server: stopped' "$WORK/server.log" || fail "the server did not say it stopped"

snapshot() { find /usr/games/wormlob2 /usr/share/games/wormlob2 -printf '%p %y %s %T@\n' | sort; }
before=$(snapshot)

# Runs the installed game as a user, from their home, with a clean
# environment as a desktop session would give it. Extra VAR=value words go
# into the environment. Status, standard output and error go to $WORK/$user.*
play() {
  local user=$1; shift
  local home; home=$(getent passwd "$user" | cut -d: -f6)
  touch "$WORK/$user.start"
  set +e
  runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/local/bin:/usr/bin:/bin:/usr/games \
    SDL_AUDIODRIVER=dummy ALSOFT_DRIVERS=null "$@" \
    sh -c 'cd "$HOME" && exec timeout 300 wormlob2 --headless --virtual-clock --frames 340' \
    >"$WORK/$user.out" 2>"$WORK/$user.err"
  echo $? >"$WORK/$user.rc"
  set -e
}
rc() { cat "$WORK/$1.rc"; }
newuser() { id "$1" >/dev/null 2>&1 && userdel -r "$1" >/dev/null 2>&1; useradd -m -s /bin/sh "$1"; }
sums() { (cd "$1" && find . -type f -exec md5sum {} + | sort -k2); }
for u in "${USERS[@]}"; do newuser "$u"; done
home() { getent passwd "$1" | cut -d: -f6; }

# A first player: everything lands in ~/.local/share/wormlob2, theirs.
step "a first player"
play wl2ann
[ "$(rc wl2ann)" = 0 ] || { cat "$WORK/wl2ann.err"; fail "the first player's run ended with status $(rc wl2ann)"; }
ANN="$(home wl2ann)/.local/share/wormlob2"
for f in Setup.ini Debug.txt 418/scores.dat; do
  [ -f "$ANN/$f" ] && [ ! -L "$ANN/$f" ] || fail "no $ANN/$f"
  [ "$(stat -c %U "$ANN/$f")" = wl2ann ] || fail "$ANN/$f is not the player's own"
done
grep -q 'Play again, soon!!' "$ANN/Debug.txt" || fail "the first player's run did not end normally"
grep -q "$(printf '\tSFX(1)')" "$ANN/Debug.txt" || fail "the sounds were not found"
[ "$(readlink -e "$ANN/Common/Plainhand.ttf")" = /usr/share/fonts/truetype/quicksand/Quicksand-Bold.ttf ] ||
  fail "the player's font link does not lead to the font package"
[ -z "$(find "$(home wl2ann)" -newer "$WORK/wl2ann.start" ! -type d ! -path "$ANN/*")" ] ||
  fail "the game wrote outside its folder in the player's home"
[ ! -s "$WORK/wl2ann.err" ] || { cat "$WORK/wl2ann.err"; fail "the first player's run printed errors"; }
ann_files=$(sums "$ANN")

# A second player, with XDG_DATA_HOME set: their own files, the first
# player's left as they were.
step "a second player"
BOB_XDG="$(home wl2bob)/data"
play wl2bob XDG_DATA_HOME="$BOB_XDG"
[ "$(rc wl2bob)" = 0 ] || { cat "$WORK/wl2bob.err"; fail "the second player's run ended with status $(rc wl2bob)"; }
[ -f "$BOB_XDG/wormlob2/418/scores.dat" ] && [ -f "$BOB_XDG/wormlob2/Setup.ini" ] ||
  fail "the second player's files are not in \$XDG_DATA_HOME/wormlob2"
[ ! -e "$(home wl2bob)/.local/share/wormlob2" ] || fail "the second player's files went to ~/.local/share"
[ "$(stat -c %U "$BOB_XDG/wormlob2/418/scores.dat")" = wl2bob ] || fail "the second player's scores are not theirs"
[ "$(sums "$ANN")" = "$ann_files" ] || fail "the second player's run changed the first player's files"
[ "$(snapshot)" = "$before" ] || fail "playing changed the installed files"

# A player whose folder they cannot write (it was made read-only): a
# clear message, nothing played, nothing changed.
step "a data folder the player cannot write"
DAN="$(home wl2dan)/.local/share/wormlob2"
mkdir -p "$DAN/418"
printf 'Master = 77\r\n' >"$DAN/Setup.ini"
printf '4321|DAN|0|1700000000|3|1|0|0\r\n0\r\n' >"$DAN/418/scores.dat"
chown -R wl2dan: "$(home wl2dan)/.local"
chmod a-w "$DAN" "$DAN/418"
dan_files=$(sums "$DAN")
play wl2dan
[ "$(rc wl2dan)" = 1 ] || fail "a read-only data folder gave status $(rc wl2dan), not 1"
grep -q "cannot write in the data folder \"$DAN\"" "$WORK/wl2dan.err" ||
  { cat "$WORK/wl2dan.err"; fail "no clear message for a read-only data folder"; }
[ "$(sums "$DAN")" = "$dan_files" ] || fail "the read-only folder was changed"
chmod u+w "$DAN" "$DAN/418"
play wl2dan
[ "$(rc wl2dan)" = 0 ] || fail "the folder made writable again does not work"
grep -q '4321|DAN|' "$DAN/418/scores.dat" && grep -q '^Master = 77' "$DAN/Setup.ini" ||
  fail "the player's scores or settings were lost"

# A per-user folder left by a `cmake --install` to another prefix (here a
# copy of the assets standing in for it): links into it, a real file of the
# player's, settings and scores. The links move to the package's assets;
# the player's own files stay.
step "a per-user folder from a cmake --install elsewhere"
OLD="$WORK/oldprefix/share/wormlob2/Files"
mkdir -p "$OLD"
cp -rL "$DATA"/. "$OLD"/
CAT="$(home wl2cat)/.local/share/wormlob2"
mkdir -p "$CAT"
(cd "$OLD" && find . -mindepth 1 -type d -printf '%P\n' | while read -r d; do mkdir -p "$CAT/$d"; done &&
  find . -type f -printf '%P\n' | while read -r f; do ln -s "$OLD/$f" "$CAT/$f"; done)
rm "$CAT/418/001.wav"
printf 'mine' >"$CAT/418/001.wav"
printf 'Master = 66\r\n' >"$CAT/Setup.ini"
printf '5555|CAT|0|1700000000|3|1|0|0\r\n0\r\n' >"$CAT/418/scores.dat"
chown -R wl2cat: "$(home wl2cat)/.local"
chmod -R a+rX "$WORK"
play wl2cat
[ "$(rc wl2cat)" = 0 ] || { cat "$WORK/wl2cat.err"; fail "the old folder's run ended with status $(rc wl2cat)"; }
[ "$(readlink "$CAT/418/pod1.png")" = "$DATA/418/pod1.png" ] || fail "a link into the old install was kept"
[ "$(readlink "$CAT/Common/Marquee.ttf")" = "$DATA/Common/Marquee.ttf" ] || fail "a font link into the old install was kept"
[ "$(cat "$CAT/418/001.wav")" = mine ] || fail "the player's own sound was replaced"
grep -q '5555|CAT|' "$CAT/418/scores.dat" && grep -q '^Master = 66' "$CAT/Setup.ini" ||
  fail "the old folder's scores or settings were lost"

# A font package removed behind the game's back: it says which file is
# missing, plays on without it, and keeps the player's files.
step "a font package gone"
dpkg -r --force-depends fonts-leckerli-one >/dev/null 2>&1
play wl2ann
[ "$(rc wl2ann)" = 0 ] || { cat "$WORK/wl2ann.err"; fail "a missing font stopped the game"; }
grep -q '"Common/Marquee.ttf" is missing: the install links it to "/usr/share/fonts/truetype/leckerli-one/LeckerliOne-Regular.ttf"' \
  "$WORK/wl2ann.err" || { cat "$WORK/wl2ann.err"; fail "no clear message for the missing font"; }
grep -q 'Common/Marquee.ttf" is missing' "$ANN/Debug.txt" || fail "the missing font is not in the log"
[ -f "$ANN/418/scores.dat" ] && [ -f "$ANN/Setup.ini" ] || fail "the player's files went with the font"
apt-get install -y -qq fonts-leckerli-one >/dev/null 2>&1 || fail "cannot reinstall fonts-leckerli-one"
play wl2ann
[ ! -s "$WORK/wl2ann.err" ] || { cat "$WORK/wl2ann.err"; fail "the font is still missing after its package came back"; }
[ "$(snapshot)" = "$before" ] || fail "the players' runs changed the installed files"

# ---------------------------------------------------------------- purge --
step "purging"
dpkg -L wormlob2 wormlob2-server >"$WORK/owned"
apt-get purge -y -qq wormlob2-server wormlob2 >/dev/null 2>&1 || fail "apt-get purge"
while IFS= read -r path; do
  case "$path" in /usr/share/games/wormlob2*|/usr/games/wormlob2*|/usr/share/doc/wormlob2*|/usr/bin/wormlob2*) ;; *) [ -d "$path" ] && continue ;; esac
  [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after the purge"
done <"$WORK/owned"
[ -z "$(find /usr -iname '*wormlob*' 2>/dev/null)" ] || fail "files named wormlob are left under /usr"
for d in "$ANN" "$BOB_XDG/wormlob2" "$DAN" "$CAT"; do
  [ -f "$d/Setup.ini" ] && [ -f "$d/418/scores.dat" ] || fail "the purge took a player's files in $d"
done

passed=$((passed + 1))
echo "package: the package is $DEB"
echo "package: $passed passed, 0 failed"
