// The WebAssembly build's side of tree_print.cpp: the same calls through the
// same C interface, printed in the same text.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { join } from "node:path";

import { readDump } from "./support.mjs";

export async function loadLibrary(site) {
  const createTavrel = createRequire(import.meta.url)(join(site, "tavrel.js"));
  return createTavrel({ onProgress: () => true });
}

const hex = (value) => {
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, value);
  return view.getBigUint64(0).toString(16).padStart(16, "0");
};

function hash(bytes) {
  let h = 0xcbf29ce484222325n;
  for (const byte of bytes) h = ((h ^ BigInt(byte)) * 0x100000001b3n) & 0xffffffffffffffffn;
  return h.toString(16).padStart(16, "0");
}

// Builds the photo in M (a loaded module) and returns the printout.
export function treePrint(M, path) {
  const { width, height, rgb } = readDump(path);
  const rgba = new Uint8Array(width * height * 4);
  for (let i = 0; i < width * height; i++) rgba.set(rgb.subarray(3 * i, 3 * i + 3), 4 * i);
  const input = M._malloc(rgba.length);
  M.HEAPU8.set(rgba, input);
  const slot = M._malloc(64);
  const status = M._tavrel_web_build(input, width, height, slot, slot + 4);
  M._free(input);
  if (status !== 0) throw new Error(`${path}: build failed with status ${status}`);
  const tree = M.HEAPU32[slot >> 2];
  const n = M._tavrel_colours(tree);
  const lines = [`colours ${n}`];
  for (let s = 0; s + 1 < n; s++) {
    // tavrel_split: node u32, pixels u64 (at 8), left[3] (16), right[3] (19), cost (24).
    M._tavrel_split_at(tree, s, slot);
    const at = (offset) => M.HEAPU8[slot + offset];
    const pixels = M.HEAPU32[(slot + 8) >> 2] + M.HEAPU32[(slot + 12) >> 2] * 2 ** 32;
    lines.push(`split ${s} ${M.HEAPU32[slot >> 2]} ${pixels} ${at(16)} ${at(17)} ${at(18)} ` +
               `${at(19)} ${at(20)} ${at(21)} ${hex(M.HEAPF64[(slot + 24) >> 3])}`);
  }
  const big = M._malloc(Math.max(8, 32 * (n - 1), 3 * width * height, 8 * 256));
  M._tavrel_linkage(tree, big, 4 * (n - 1));
  for (let r = 0; r + 1 < n; r++) {
    const row = Array.from(M.HEAPF64.subarray((big >> 3) + 4 * r, (big >> 3) + 4 * r + 4));
    lines.push(`link ${r} ${row[0]} ${row[1]} ${hex(row[2])} ${row[3]}`);
  }
  const kmax = Math.min(n, 256);
  M._tavrel_mean_delta_e(tree, kmax, big, kmax);
  for (let k = 1; k <= kmax; k++) lines.push(`mean ${k} ${hex(M.HEAPF64[(big >> 3) + k - 1])}`);
  for (const k of [1, 2, 3, 16, 256, n]) {
    if (k > n) continue;
    M._tavrel_paint(tree, k, 0, big, 3 * width * height, 0);
    lines.push(`image ${k} ${hash(M.HEAPU8.subarray(big, big + 3 * width * height))}`);
  }
  M._free(big);
  M._free(slot);
  M._tavrel_free(tree);
  return lines.join("\n") + "\n";
}

export function readText(path) {
  return readFileSync(path, "utf8");
}
