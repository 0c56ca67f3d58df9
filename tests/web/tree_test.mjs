// The WebAssembly build's tree against the native build's, photo by photo:
// splits, linkage, costs and quality to the bit, and painted images. The
// page runs the engine under another compiler and another libm (musl's pow
// for the CIELAB cube roots), so this is where a difference would show.
//
// Environment: TAVREL_SITE (the built page), TAVREL_TREE_PRINT (the native
// printer), TAVREL_PHOTOS (optional: a folder of more P6 photos).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readdirSync } from "node:fs";
import { join, resolve } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

import { loadLibrary, treePrint } from "./tree_print.mjs";

const ROOT = resolve(fileURLToPath(import.meta.url), "../../..");
const SITE = resolve(process.env.TAVREL_SITE ?? join(ROOT, "build/web/site"));
const NATIVE = process.env.TAVREL_TREE_PRINT ?? join(ROOT, "build/tests/tavrel_tree_print");

const ppms = (folder) => readdirSync(folder).filter((f) => f.endsWith(".ppm")).sort().map((f) => join(folder, f));
const photos = [...ppms(join(ROOT, "tests/data")), ...ppms(join(ROOT, "examples")),
                ...(process.env.TAVREL_PHOTOS ? ppms(process.env.TAVREL_PHOTOS) : [])];

// Costs and means are compared within a relative tolerance and the largest
// difference reported: musl's pow rounds some cube roots differently from
// glibc's, which moves the last bits of a CIELAB distance. The tree itself
// (every split's node, pixels and colours; every merge's children and
// colours) and every painted image must be equal.
const TOLERANCE = 1e-12;
const bitsToDouble = (hex) => new DataView(new BigUint64Array([BigInt(`0x${hex}`)]).buffer).getFloat64(0, true);
// The fields of each kind of line that hold a double's bits.
const DOUBLES = { split: [10], link: [4], mean: [2] };

function compare(photo, web, native) {
  const a = web.split("\n");
  const b = native.split("\n");
  assert.equal(a.length, b.length, `${photo}: line count`);
  let largest = 0;
  a.forEach((line, i) => {
    const x = line.split(" ");
    const y = b[i].split(" ");
    const doubles = DOUBLES[x[0]] ?? [];
    const same = x.length === y.length && x.every((field, j) => doubles.includes(j) || field === y[j]);
    assert.ok(same, `${photo}: line ${i + 1} differs:\n web:    ${line}\n native: ${b[i]}`);
    for (const j of doubles) {
      const p = bitsToDouble(x[j]);
      const q = bitsToDouble(y[j]);
      const relative = p === q ? 0 : Math.abs(p - q) / Math.max(Math.abs(p), Math.abs(q));
      assert.ok(relative <= TOLERANCE, `${photo}: line ${i + 1}: ${p} against ${q}`);
      largest = Math.max(largest, relative);
    }
  });
  return largest;
}

test("the WebAssembly build makes the native build's tree, curve and images", async () => {
  const M = await loadLibrary(SITE);
  for (const photo of photos) {
    const native = execFileSync(NATIVE, [photo], { encoding: "utf8", maxBuffer: 1 << 30 });
    const largest = compare(photo, treePrint(M, photo), native);
    console.log(`${photo}: same tree; largest relative difference of a cost or mean ${largest.toExponential(2)}`);
  }
});
