#!/bin/sh
# The installed program: a staged `cmake --install` and, where the Debian
# tools are present, the package CPack builds. Each must hold the binary and
# the man page with the usual modes, and its binary must run.
# Arguments: cmake cpack build-dir source-dir version bindir mandir
set -eu
cmake=$1 cpack=$2 build=$3 source=$4 version=$5 bindir=$6 mandir=$7
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
usage=$source/tests/data/usage.txt man=$source/doc/tavrel.1

# Without arguments: the usage and 255. A two-colour job with -C2: one dump,
# the input itself.
check_binary() {
  status=0 && "$1" > "$work/usage" || status=$?
  [ $status -eq 255 ] && cmp -s "$work/usage" "$usage" || fail "$1: usage run ($status)"
  rm -rf "$work/job" && mkdir "$work/job"
  printf 'P6\n2 1\n255\n\050\024\310\310\132\024' > "$work/job/in.ppm"
  out=$(cd "$work/job" && "$1" -Q1 -C2 in.ppm out 2>&1) || fail "$1: job failed"
  [ "$out" = "CodeSize : 0 bytes 0.000000 bpp" ] || fail "$1: job printed $out"
  [ "$(ls "$work/job" | tr '\n' ' ')" = "dump2_out.ppm in.ppm " ] || fail "$1: files"
  cmp -s "$work/job/in.ppm" "$work/job/dump2_out.ppm" || fail "$1: dump differs"
}

# The man page shows the usage's option lines, and the project version.
sed -n '/^The usage text lists the options/,/^\.EE/p' "$man" | sed '1,/^\.EX/d;/^\.EE/d;s/\\-/-/g' \
  > "$work/man-options"
grep -a '^ ' "$usage" | cmp -s - "$work/man-options" || fail "man page option list"
head -n 1 "$man" | grep -q "^\.TH TAVREL 1 .* \"Tavrel $version\" " || fail "man page title"
if command -v mandoc > /dev/null; then [ -z "$(mandoc -T lint "$man" 2>&1)" ] || fail mandoc; fi
if command -v groff > /dev/null; then [ -z "$(groff -man -ww -z "$man" 2>&1)" ] || fail groff; fi

stage=$work/stage
DESTDIR=$stage "$cmake" --install "$build" > /dev/null
[ "$(cd "$stage" && find . ! -type d -printf '%m %p\n' | sort | tr '\n' ' ')" = \
  "644 .$mandir/man1/tavrel.1 755 .$bindir/tavrel " ] || fail "staged files"
cmp -s "$stage$mandir/man1/tavrel.1" "$man" || fail "staged man page"
check_binary "$stage$bindir/tavrel"

for tool in dpkg dpkg-deb dpkg-shlibdeps file; do
  command -v $tool > /dev/null || { echo "no $tool: the package is not checked"; exit 0; }
done
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" > /dev/null
deb=$work/deb/tavrel_${version}_$(dpkg --print-architecture).deb
dpkg-deb --field "$deb" Package Version Section Priority Maintainer > "$work/fields"
printf '%s\n' "Package: tavrel" "Version: $version" "Section: graphics" "Priority: optional" \
  "Maintainer: Tavrel developers <tavrel@example.org>" | cmp -s - "$work/fields" || fail "fields"
depends=$(dpkg-deb --field "$deb" Depends)  # read off the binary by dpkg-shlibdeps
case $depends in *"libc6 (>= "*"libstdc++6 (>= "* | *"libstdc++6 (>= "*"libc6 (>= "*) ;;
  *) fail "Depends: $depends" ;; esac
[ "$(dpkg-deb --field "$deb" Description | head -n 2)" = "Nested colour-reduction progressions \
of a photo
 Tavrel turns one colour photo in raw PPM format into a progression of" ] || fail "Description"
[ "$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | tr '\n' ' ')" = \
  "-rwxr-xr-x root/root ./usr/bin/tavrel -rw-r--r-- root/root ./usr/share/doc/tavrel/changelog.gz \
-rw-r--r-- root/root ./usr/share/doc/tavrel/copyright \
-rw-r--r-- root/root ./usr/share/man/man1/tavrel.1.gz " ] || fail "package contents"
dpkg-deb --contents "$deb" | awk '$1 ~ /^d/ && $1 $2 != "drwxr-xr-xroot/root" { exit 1 }' \
  || fail "package folders"
dpkg-deb --extract "$deb" "$work/root"
gzip -dc "$work/root/usr/share/man/man1/tavrel.1.gz" | cmp -s - "$man" || fail "packaged man page"
check_binary "$work/root/usr/bin/tavrel"
