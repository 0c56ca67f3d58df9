#!/bin/sh
# Plants each fault of scripts/faults.txt in the shipped code, one at a time,
# builds, runs the suite and restores the file; prints which tests failed.
# A fault that no test catches is a gap in the suite. Usage, from the top of
# a clean checkout: scripts/plant-faults.sh [build-dir] (default build-faults).
set -u
build=${1:-build-faults}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null || exit 1
grep -v '^#' scripts/faults.txt | grep -v '^$' | while IFS='|' read -r file change what; do
  cp "$file" "$file.orig"
  sed -i "$change" "$file"
  if cmp -s "$file" "$file.orig"; then
    caught="NOT PLANTED (the pattern no longer matches)"
  elif ! cmake --build "$build" -j 2 > "$build/fault.log" 2>&1; then
    caught="the build"
  else
    ctest --test-dir "$build" -j 2 --timeout 120 > "$build/fault.log" 2>&1
    caught=$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$build/fault.log" | tr '\n' ' ')
    [ -n "$caught" ] || caught="NOTHING"
  fi
  mv "$file.orig" "$file"
  touch "$file"  # the copy is older than the objects built from the fault
  printf '%s | %s | %s\n' "$file" "$what" "$caught"
done
cmake --build "$build" -j 2 > /dev/null
