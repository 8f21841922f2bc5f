#!/bin/sh
# Every installed program's --help, --version and an unknown option, the GNU
# way: exit status, first and last lines, nothing on the wrong stream.
#   cli_check.sh HOMEPAGE VERSION PROGRAM...
set -u
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
home=$1 version=$2 failed=0
shift 2
# The exit status and standard error (the problem after "PROG: " masked) of
# the program run with $1; its standard output is left in $t/out.
run() { env -u DISPLAY "$path" "$1" >"$t/out" 2>"$t/err"; echo $?; sed '1s/: .*/: .../' "$t/err"; }
expect() { [ "$2" = "$3" ] || { printf '%s %s:\n%s\nwanted:\n%s\n' "$p" "$1" "$2" "$3" >&2; failed=1; }; }
for path; do
  p=${path##*/}
  # The client's usage line, from its option parser, wraps after "Usage:".
  expect --help "$(run --help) $(head -n2 "$t/out" | tr -s ' \n' ' ' | cut -d' ' -f1-2)
$(tail -n1 "$t/out")" "0 Usage: $p
Report bugs at: $home"
  expect --version "$(run --version) $(head -n1 "$t/out")" "0 $p $version"
  expect --bogus "$(run --bogus)$(cat "$t/out")" "2
$p: ...
Try '$p --help' for more information."
done
exit $failed
