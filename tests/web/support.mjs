// Helpers of the page's tests: the command line's dumps, and the library of
// the page's own build loaded under node.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, symlinkSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";

// A P6 file (a path or its bytes) with maxval 255 as { width, height, rgb }.
export function readDump(file) {
  const bytes = typeof file === "string" ? readFileSync(file) : file;
  const match = /^P6\s+(\d+)\s+(\d+)\s+255\s/.exec(bytes.subarray(0, 64).toString("latin1"));
  if (!match) throw new Error(`${file}: not a P6 file with maxval 255`);
  const [width, height] = [Number(match[1]), Number(match[2])];
  return { width, height, rgb: bytes.subarray(match[0].length, match[0].length + width * height * 3) };
}

// The command line's dumps 2..limit of a photo, in a fresh folder; returns
// a function from k to the dump's RGB bytes.
export function commandLineDumps(binary, photo, limit) {
  const folder = mkdtempSync(join(tmpdir(), "tavrel-web-dumps-"));
  symlinkSync(resolve(photo), join(folder, "input.ppm"));
  execFileSync(resolve(binary), ["-Q0", `-C${limit}`, "input.ppm", "out"], { cwd: folder });
  return (k) => readDump(join(folder, `dump${k}_out.ppm`)).rgb;
}

export function distinctColours(rgb) {
  const seen = new Set();
  for (let i = 0; i < rgb.length; i += 3) seen.add((rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2]);
  return seen;
}

export async function loadLibrary(site) {
  return createRequire(import.meta.url)(join(site, "tavrel.js"))({ onProgress: () => true });
}

// Builds the tree of a photo in M (a loaded library); returns its handle.
export function buildIn(M, { width, height, rgb }) {
  const rgba = new Uint8Array(width * height * 4);
  for (let i = 0; i < width * height; i++) rgba.set(rgb.subarray(3 * i, 3 * i + 3), 4 * i);
  const input = M._malloc(rgba.length);
  const slot = M._malloc(8);
  M.HEAPU8.set(rgba, input);
  const status = M._tavrel_web_build(input, width, height, slot, slot + 4);
  const tree = M.HEAPU32[slot >> 2];
  M._free(input);
  M._free(slot);
  if (status !== 0) throw new Error(`build failed with status ${status}`);
  return tree;
}
