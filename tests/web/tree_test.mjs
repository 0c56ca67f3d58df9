// The WebAssembly build's tree against the native build's, photo by photo:
// every split, the quality curve and a few painted images, printed by both
// in the same text (tree_print.cpp is the native side; doubles with digits
// enough to read back their bits, images as hexadecimal RGB). The page runs
// the engine under another compiler and another libm (musl's pow for the
// CIELAB cube roots), so this is where a difference would show.
//
// Environment: TAVREL_SITE (the built page), TAVREL_TREE_PRINT (the native
// printer), TAVREL_PHOTOS (optional: a folder of more P6 photos).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readdirSync } from "node:fs";
import { join, resolve } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

import { buildIn, loadLibrary, readDump } from "./support.mjs";

const ROOT = resolve(fileURLToPath(import.meta.url), "../../..");
const SITE = resolve(process.env.TAVREL_SITE ?? join(ROOT, "build/web/site"));
const NATIVE = process.env.TAVREL_TREE_PRINT ?? join(ROOT, "build/tests/web/tavrel_tree_print");
const ppms = (folder) => readdirSync(folder).filter((f) => f.endsWith(".ppm")).sort().map((f) => join(folder, f));
const photos = [...ppms(join(ROOT, "tests/data")), ...ppms(join(ROOT, "examples")),
                ...(process.env.TAVREL_PHOTOS ? ppms(process.env.TAVREL_PHOTOS) : [])];

function treePrint(M, photo) {
  const tree = buildIn(M, photo);
  const n = M._tavrel_colours(tree);
  const pixels = 3 * photo.width * photo.height;
  const big = M._malloc(Math.max(64, pixels, 8 * 256));
  const lines = [`colours ${n}`];
  for (let s = 0; s + 1 < n; s++) {
    // tavrel_split: node u32, pixels u64 (at 8), left[3] (16), right[3] (19), cost (24).
    M._tavrel_split_at(tree, s, big);
    const at = (offset) => M.HEAPU8[big + offset];
    const count = M.HEAPU32[(big + 8) >> 2] + M.HEAPU32[(big + 12) >> 2] * 2 ** 32;
    lines.push(`split ${s} ${M.HEAPU32[big >> 2]} ${count} ${at(16)} ${at(17)} ${at(18)} ` +
               `${at(19)} ${at(20)} ${at(21)} ${M.HEAPF64[(big + 24) >> 3]}`);
  }
  const kmax = Math.min(n, 256);
  M._tavrel_mean_delta_e(tree, kmax, big, kmax);
  for (let k = 1; k <= kmax; k++) lines.push(`mean ${k} ${M.HEAPF64[(big >> 3) + k - 1]}`);
  for (const k of [1, 2, 3, 16, 256, n].filter((k) => k <= n)) {
    M._tavrel_paint(tree, k, 0, big, pixels, 0);
    lines.push(`image ${k} ${Buffer.from(M.HEAPU8.subarray(big, big + pixels)).toString("hex")}`);
  }
  M._free(big);
  M._tavrel_free(tree);
  return lines.join("\n") + "\n";
}

// The tree (every split's node, pixels and colours) and every painted image
// must be equal. Costs and means (the last field of split and mean lines)
// only within a relative 1e-12: musl's pow rounds some cube roots
// differently from glibc's, which moves the last bits of a CIELAB distance.
test("the WebAssembly build makes the native build's tree, curve and images", async () => {
  const M = await loadLibrary(SITE);
  for (const path of photos) {
    const web = treePrint(M, readDump(path)).split("\n");
    const native = execFileSync(NATIVE, [path], { encoding: "utf8", maxBuffer: 1 << 30 }).split("\n");
    assert.equal(web.length, native.length, `${path}: line count`);
    let largest = 0;
    web.forEach((line, i) => {
      const [x, y] = [line.split(" "), native[i].split(" ")];
      const double = x[0] === "split" || x[0] === "mean";
      const message = `${path}: line ${i + 1} differs:\n web:    ${line.slice(0, 200)}\n native: ${native[i].slice(0, 200)}`;
      assert.deepEqual(double ? x.slice(0, -1) : x, double ? y.slice(0, -1) : y, message);
      if (!double) return;
      const [p, q] = [Number(x.at(-1)), Number(y.at(-1))];
      const relative = p === q ? 0 : Math.abs(p - q) / Math.max(Math.abs(p), Math.abs(q));
      assert.ok(relative <= 1e-12, message);
      largest = Math.max(largest, relative);
    });
    console.log(`${path}: same tree; largest relative difference of a cost or mean ${largest.toExponential(2)}`);
  }
});
