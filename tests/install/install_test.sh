#!/bin/sh
# The installed program and library: a staged `cmake --install` and, where
# the Debian tools are present, the three packages CPack builds. Each must
# hold its files with the usual modes; the binary must run, the library must
# export its interface and nothing else.
# Arguments: cmake cpack build-dir source-dir version bindir mandir libdir
#            includedir (absolute) libdir (under the prefix) build-type
set -eu
cmake=$1 cpack=$2 build=$3 source=$4 version=$5 bindir=$6 mandir=$7 libdir=$8 includedir=$9
shift 9
relative_libdir=$1 config=$(echo "$2" | tr A-Z a-z)
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

# The library's soname, and its exports: the C calls its header declares and,
# of C++, tavrel::version and the interface classes with their type
# information. An engine symbol or a standard library instance let out fails.
check_library() {
  objdump -p "$1" | grep -q '^  SONAME  *libtavrel\.so\.0$' || fail "$1: soname"
  nm -D --defined-only "$1" | awk '$3 ~ /^tavrel_/ { print $3 }' | sort > "$work/c-calls"
  sed -n 's/^TAVREL_API [^(]*[ *]\(tavrel_[a-z_]*\)(.*/\1/p' "$source/include/tavrel/tavrel.h" \
    | sort | cmp -s - "$work/c-calls" || fail "$1: the C calls exported differ from tavrel.h"
  nm -D --defined-only -C "$1" | cut -d ' ' -f 3- | grep -v '^tavrel_' > "$work/cxx" || true
  api='tavrel::(Hierarchy|Cursor|Error|InvalidArgument|OutOfMemory|Cancelled)'
  if grep -Ev "^(tavrel::version\(\)|$api::.*|(typeinfo|typeinfo name|vtable) for $api)$" \
    "$work/cxx"; then
    fail "$1: exports the symbols above"
  fi
  grep -qx 'typeinfo for tavrel::Error' "$work/cxx" || fail "$1: tavrel::Error cannot be caught"
}

# The man page shows the usage's option lines, and the project version.
sed -n '/^The usage text lists the options/,/^\.EE/p' "$man" | sed '1,/^\.EX/d;/^\.EE/d;s/\\-/-/g' \
  > "$work/man-options"
grep -a '^ ' "$usage" | cmp -s - "$work/man-options" || fail "man page option list"
head -n 1 "$man" | grep -q "^\.TH TAVREL 1 .* \"Tavrel $version\" " || fail "man page title"

# (Package metadata, folder modes, copyright files and the man page's markup
# are lintian's to check.)

# Modes, paths and link targets of everything a plain install writes.
stage=$work/stage
DESTDIR=$stage "$cmake" --install "$build" > /dev/null
# (The Python package, where it is built, is checked by python_install_test.sh.)
(cd "$stage" && find . ! -type d ! -path '*/dist-packages/*' -printf '%m %p %l\n' | sort) \
  > "$work/staged"
sort > "$work/expected" << END
644 .$mandir/man1/tavrel.1 
755 .$bindir/tavrel 
644 .$includedir/tavrel/export.h 
644 .$includedir/tavrel/tavrel.h 
644 .$includedir/tavrel/tavrel.hpp 
644 .$includedir/tavrel/version.h 
644 .$libdir/libtavrel.so.$version 
777 .$libdir/libtavrel.so.0 libtavrel.so.$version
777 .$libdir/libtavrel.so libtavrel.so.0
644 .$libdir/pkgconfig/tavrel.pc 
644 .$libdir/cmake/tavrel/tavrelConfig.cmake 
644 .$libdir/cmake/tavrel/tavrelConfigVersion.cmake 
644 .$libdir/cmake/tavrel/tavrelTargets.cmake 
644 .$libdir/cmake/tavrel/tavrelTargets-$config.cmake 
END
cmp -s "$work/expected" "$work/staged" || { diff "$work/expected" "$work/staged"; fail "staged"; }
cmp -s "$stage$mandir/man1/tavrel.1" "$man" || fail "staged man page"
check_binary "$stage$bindir/tavrel"
check_library "$stage$libdir/libtavrel.so.$version"
grep -qx "Version: $version" "$stage$libdir/pkgconfig/tavrel.pc" || fail "tavrel.pc version"

for tool in dpkg dpkg-deb dpkg-shlibdeps file; do
  command -v $tool > /dev/null || { echo "no $tool: the packages are not checked"; exit 0; }
done
# cpack warns of the two maintainer scripts it is told not to write.
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" > /dev/null 2>&1 \
  || fail "cpack"
arch=$(dpkg --print-architecture)
lib=./usr/$relative_libdir
# Each package's files, less its changelog and copyright.
cat > "$work/contents" << END
tavrel -rwxr-xr-x root/root ./usr/bin/tavrel  
tavrel -rw-r--r-- root/root ./usr/share/man/man1/tavrel.1.gz  
libtavrel0 lrwxrwxrwx root/root $lib/libtavrel.so.0 -> libtavrel.so.$version
libtavrel0 -rw-r--r-- root/root $lib/libtavrel.so.$version  
libtavrel-dev -rw-r--r-- root/root ./usr/include/tavrel/export.h  
libtavrel-dev -rw-r--r-- root/root ./usr/include/tavrel/tavrel.h  
libtavrel-dev -rw-r--r-- root/root ./usr/include/tavrel/tavrel.hpp  
libtavrel-dev -rw-r--r-- root/root ./usr/include/tavrel/version.h  
libtavrel-dev lrwxrwxrwx root/root $lib/libtavrel.so -> libtavrel.so.0
libtavrel-dev -rw-r--r-- root/root $lib/pkgconfig/tavrel.pc  
libtavrel-dev -rw-r--r-- root/root $lib/cmake/tavrel/tavrelConfig.cmake  
libtavrel-dev -rw-r--r-- root/root $lib/cmake/tavrel/tavrelConfigVersion.cmake  
libtavrel-dev -rw-r--r-- root/root $lib/cmake/tavrel/tavrelTargets.cmake  
libtavrel-dev -rw-r--r-- root/root $lib/cmake/tavrel/tavrelTargets-$config.cmake  
END
for package in tavrel libtavrel0 libtavrel-dev; do
  deb=$work/deb/${package}_${version}_$arch.deb
  [ -f "$deb" ] || fail "no package $package"
  { sed -n "s/^$package //p" "$work/contents"
    printf -- "-rw-r--r-- root/root ./usr/share/doc/$package/%s  \n" changelog.gz copyright; } \
    | sort > "$work/expected"
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6, $7, $8 }' | sort \
    | cmp -s "$work/expected" - || fail "$package: contents"
  dpkg-deb --extract "$deb" "$work/root"
done

# The program, as before the library: it links the engine statically.
deb=$work/deb/tavrel_${version}_$arch.deb
case $(dpkg-deb --field "$deb" Depends) in *libtavrel*) fail "tavrel: depends on the library" ;; esac
gzip -dc "$work/root/usr/share/man/man1/tavrel.1.gz" | cmp -s - "$man" || fail "packaged man page"
check_binary "$work/root/usr/bin/tavrel"

# The shared library: its shlibs file, and libc's ldconfig trigger instead of
# maintainer scripts.
deb=$work/deb/libtavrel0_${version}_$arch.deb
dpkg-deb --control "$deb" "$work/control"
[ "$(ls "$work/control" | tr '\n' ' ')" = "control md5sums shlibs triggers " ] \
  || fail "libtavrel0: control files $(ls "$work/control")"
[ "$(cat "$work/control/shlibs")" = "libtavrel 0 libtavrel0 (>= $version)" ] || fail "shlibs"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "ldconfig trigger"
check_library "$work/root/$lib/libtavrel.so.$version"

# The development files (a program built with them: examples_test.sh).
deb=$work/deb/libtavrel-dev_${version}_$arch.deb
[ "$(dpkg-deb --field "$deb" Depends)" = "libtavrel0 (= $version)" ] || fail "libtavrel-dev: Depends"
grep -qx "prefix=/usr" "$work/root/$lib/pkgconfig/tavrel.pc" || fail "packaged tavrel.pc prefix"
