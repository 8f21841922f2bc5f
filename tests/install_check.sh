#!/usr/bin/env bash
# Installs each package's part of the build into a staging folder, as the
# Debian packages do, and checks what a distribution needs of it: exactly the
# files of each package, a clean desktop entry, MIME types that know tapes and
# program images by name and by content, the icons at their sizes, the German
# catalogue that the installed client finds for itself, man pages without
# warnings, valid AppStream metadata, and every program's command line. With
# --package, also the packages themselves, which lintian must pass.
#   install_check.sh BUILD_DIR HOMEPAGE VERSION [--package]
set -eu
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install_check: $*" >&2; exit 1; }

for package in ravelo-client ravelo-client-tools; do
  DESTDIR=$stage/$package cmake --install "$1" --prefix /usr --component $package >/dev/null
done
files=$(cd "$stage" && find . ! -type d | sort)
c=./ravelo-client/usr t=./ravelo-client-tools/usr
expected=$(printf '%s\n' $c/bin/ravelo-{client,tapscan,totap} \
  $c/share/man/man1/ravelo-{client,tapscan,totap}.1.gz $c/share/doc/ravelo-client/{changelog.gz,copyright} \
  $c/share/icons/hicolor/{16x16,32x32,48x48,128x128}/apps/ravelo-client.png \
  $c/share/{applications/ravelo-client.desktop,locale/de/LC_MESSAGES/ravelo-client.mo} \
  $c/share/{metainfo/org.ravelo.client.metainfo.xml,mime/packages/ravelo-client.xml} \
  $t/bin/ravelo-{emulator,tapmaker} $t/share/man/man1/ravelo-{emulator,tapmaker}.1.gz \
  $t/share/doc/ravelo-client-tools/{changelog.gz,copyright} | sort)
changes=$(diff <(echo "$expected") <(echo "$files")) || fail "the packages hold other files: $changes"
usr=$stage/ravelo-client/usr
report=$(desktop-file-validate "$usr/share/applications/ravelo-client.desktop" 2>&1) &&
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
LC_ALL=C.UTF-8 LANGUAGE=de "$usr/bin/ravelo-totap" /dev/zero 2>&1 | grep -q 'kein Programm' ||
  fail "the installed ravelo-totap does not find its German catalogue"

# Each checker runs when it is installed, and must say nothing. Every program answers --help
# (and -h alike), --version and an unknown option the GNU way: exit status, first and last lines,
# nothing on the wrong stream. run: the status and standard error ("PROG: " and what follows masked) of the
# program run with $1, its standard output in $stage/out.
has() { command -v "$1" >/dev/null; }
run() { env -u DISPLAY "$program" "$1" >"$stage/out" 2>"$stage/err"; echo $?; sed '1s/: .*/: .../' "$stage/err"; }
expect() { [ "$2" = "$3" ] || fail "$p $1 gave [$2], wanted [$3]"; }
for program in "$stage"/*/usr/bin/*; do
  p=${program##*/}
  page=${program%/bin/*}/share/man/man1/$p.1.gz
  ! has man || out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "${out-}" ] || fail "$page: $out"
  # The client's usage line, from its option parser, wraps after "Usage:".
  expect --help "$(run --help) $(head -n2 "$stage/out" | tr -s ' \n' ' ' | cut -d' ' -f1-2)
$(tail -n1 "$stage/out")" "0 Usage: $p
Report bugs at: $2"
  help=$(run --help; cat "$stage/out")
  expect -h "$(run -h; cat "$stage/out")" "$help"
  expect --version "$(run --version) $(head -n1 "$stage/out")" "0 $p $3"
  expect --bogus "$(run --bogus)$(cat "$stage/out")" "2
$p: ...
Try '$p --help' for more information."
done
! has appstreamcli || out=$(appstreamcli validate --no-net --pedantic --format=yaml \
  "$usr"/share/metainfo/*.xml 2>&1) || fail "metainfo: $out"

[ "${4-}" = --package ] || exit 0
cpack -G DEB -B "$stage/packages" --config "$1/CPackConfig.cmake" >/dev/null
for deb in "$stage"/packages/*.deb "$stage"/packages/*.ddeb; do
  ! has lintian || out=$(lintian --pedantic "$deb" 2>&1 | grep -v 'root privileges' || :)
  [ -z "${out-}" ] || fail "$out"
done
