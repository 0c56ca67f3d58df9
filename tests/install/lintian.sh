#!/bin/sh
# lintian on the Debian packages this build tree makes (tavrel, libtavrel0,
# libtavrel-dev): nothing may be reported at error or warning level. Exits 77
# (skipped) where lintian or the tools cpack needs to build a package are
# missing.
#   lintian.sh CPACK BUILD_DIR
set -eu
for tool in lintian dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if ! "$1" -G DEB --config "$2/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  exit 1
fi
lintian --fail-on error,warning "$out"/*.deb
