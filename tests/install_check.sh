#!/bin/sh
# Installs the build into a staging folder, as the Debian package does, and
# checks what a desktop needs of it: the programs and nothing of the tests, a
# clean desktop entry, MIME types that know tapes and program images by name
# and by content,
# the icons at their sizes, and the German catalogue that the installed
# client finds for itself.
#   install_check.sh BUILD_DIR
set -eu
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install_check: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$1" --prefix /usr >/dev/null
usr=$stage/usr
for f in bin/ravelo-client bin/ravelo-tapscan bin/ravelo-totap bin/ravelo-emulator bin/ravelo-tapmaker \
  share/applications/ravelo-client.desktop share/mime/packages/ravelo-client.xml \
  share/locale/de/LC_MESSAGES/ravelo-client.mo; do
  [ -f "$usr/$f" ] || fail "not installed: $f"
done
extra=$(find "$stage" -name 'test_*' -o -name 'bench_*' -o -name 'lib*' -o -name 'ravelo-firmware' -o -name 'ravelo-icon')
[ -z "$extra" ] || fail "installed by mistake: $extra"

report=$(desktop-file-validate "$usr/share/applications/ravelo-client.desktop" 2>&1) || fail "$report"
[ -z "$report" ] || fail "$report"

update-mime-database "$usr/share/mime"
printf 'C64-TAPE-RAW\001\0\0\0' >"$stage/tape.bin"
printf 'C64File\0GAME' >"$stage/game.bin"
for f in tape.bin:x-c64-tap GAME.TAP:x-c64-tap game.bin:x-c64-p00 Game.Prg:x-c64-program \
  GAMES.T64:x-c64-t64 disk.d64:x-d64; do
  [ -e "$stage/${f%%:*}" ] || printf 'any' >"$stage/${f%%:*}"
  XDG_DATA_DIRS=$usr/share XDG_DATA_HOME=$stage/none gio info -a standard::content-type "$stage/${f%%:*}" |
    grep -q "application/${f#*:}\$" || fail "${f%%:*} is not seen as application/${f#*:}"
done

for size in 16 32 48 128; do
  png=$usr/share/icons/hicolor/${size}x$size/apps/ravelo-client.png
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
  [ "$dims" = "${size}x$size" ] || fail "$png is $dims"
done

LC_ALL=C.UTF-8 LANGUAGE=de "$usr/bin/ravelo-client" --help | grep -q 'BAND.tap' ||
  fail "the installed client does not find its German catalogue"
