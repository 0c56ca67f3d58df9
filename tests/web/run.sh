#!/bin/sh
# run.sh SOURCE WEBBUILD build | tree PRINTER | page BINARY PRINTER
# Builds the page's WebAssembly, or runs one of its tests under node. Exits
# 77 (skipped) when a tool it needs is not installed.
set -eu
source=$1 webbuild=$2 mode=$3
skip() { echo "skipped: $1"; exit 77; }
command -v node >/dev/null 2>&1 || skip "node is not installed"
# Debian's emscripten finds its JavaScript parser there when node is not
# Debian's own; its output needs fetch off under node 20.
export NODE_PATH=/usr/share/nodejs
node="node --no-experimental-fetch"
export TAVREL_SITE="$webbuild/site"
case $mode in
  build)
    command -v emcmake >/dev/null 2>&1 || skip "emscripten is not installed (make web installs it)"
    emcmake cmake -S "$source/web" -B "$webbuild" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$webbuild" -j 2 ;;
  tree|page)
    [ -f "$TAVREL_SITE/tavrel.wasm" ] || skip "the page was not built"
    if [ "$mode" = page ]; then
      command -v chromium >/dev/null 2>&1 || skip "chromium is not installed"
      [ -d "$source/web/node_modules/puppeteer-core" ] || { command -v npm >/dev/null 2>&1 || skip "npm is not installed"
        npm ci --prefix "$source/web" --no-audit --no-fund; }
    fi
    TAVREL_TREE_PRINT=${5-$4} TAVREL_BINARY=$4 exec $node --test-reporter=spec "$source/tests/web/${mode}_test.mjs" ;;
esac
