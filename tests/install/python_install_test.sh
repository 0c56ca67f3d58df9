#!/bin/sh
# The installed Python module: a staged `cmake --install` of it lands where
# the python3 it was built for looks, and imports from there; where the
# Debian tools are present, the package python3-tavrel holds it under /usr
# with the right dependencies, and the module imports and builds from it.
# Arguments: cmake cpack build-dir source-dir version python3 prefix python-dir
set -eu
cmake=$1 cpack=$2 build=$3 source=$4 version=$5 python=$6 prefix=$7 pydir=$8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The module from a tree, on a two-colour photo, without the build tree's copy.
check_module() {
  (cd "$work" && PYTHONPATH=$1 "$python" -c '
import sys, numpy, tavrel
assert tavrel.__file__.startswith(sys.argv[1]), tavrel.__file__
assert tavrel.__version__ == sys.argv[2], tavrel.__version__
h = tavrel.Hierarchy(numpy.array([[[0, 0, 0], [250, 250, 250]]], numpy.uint8))
assert h.colours == 2 and h.palette(1).tolist() == [[125, 125, 125]]
' "$1" "$version") || fail "the module in $1"
}

"$python" -c 'import sys; print("\n".join(sys.path))' > "$work/path"
grep -qx "$prefix/$pydir" "$work/path" || fail "$python does not look in $prefix/$pydir"

stage=$work/stage
DESTDIR=$stage "$cmake" --install "$build" --component python > /dev/null
suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
files="tavrel/__init__.py tavrel/__init__.pyi tavrel/_tavrel$suffix tavrel/py.typed"
(cd "$stage$prefix/$pydir" && find . ! -type d -printf '%m %p\n' | sort) > "$work/staged"
printf '644 ./%s\n' $files | sort > "$work/expected"
cmp -s "$work/expected" "$work/staged" || { diff "$work/expected" "$work/staged"; fail "staged"; }
check_module "$stage$prefix/$pydir"

for tool in dpkg dpkg-deb dpkg-shlibdeps file; do
  command -v $tool > /dev/null || { echo "no $tool: the package is not checked"; exit 0; }
done
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" > /dev/null 2>&1 \
  || fail "cpack"
deb=$work/deb/python3-tavrel_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no package python3-tavrel"
depends=$(dpkg-deb --field "$deb" Depends)
minor=$("$python" -c 'import sys; print(sys.version_info[1])')
for need in "python3 (>= 3.$minor~)" "python3 (<< 3.$((minor + 1)))" python3-numpy \
  "libc6 (>= " "libstdc++6 (>= "; do
  case $depends in *"$need"*) ;; *) fail "Depends lacks $need: $depends" ;; esac
done
case $depends in *libtavrel*) fail "Depends: $depends" ;; esac
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort > "$work/files"
{ printf -- '-rw-r--r-- root/root ./usr/lib/python3/dist-packages/%s\n' $files
  printf -- '-rw-r--r-- root/root ./usr/share/doc/python3-tavrel/%s\n' changelog.gz copyright; } \
  | sort > "$work/expected"
cmp -s "$work/expected" "$work/files" || { diff "$work/expected" "$work/files"; fail "contents"; }
dpkg-deb --extract "$deb" "$work/root"
check_module "$work/root/usr/lib/python3/dist-packages"
