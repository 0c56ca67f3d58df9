// The page in Debian's chromium: what it paints for every kind of move of the
// slider is the command line's dump, byte for byte; a PNG of the photo gives
// the same; the downloads hold what is shown; the fewest-colours field agrees
// with the library; a build can be cancelled; broken files get their message;
// nothing is fetched from anywhere but the page's own folder.
//
// Environment: TAVREL_SITE (the built page), TAVREL_BINARY (the command line).
import assert from "node:assert/strict";
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";
import { deflateSync } from "node:zlib";

import { launch } from "../../web/tools/browser.mjs";
import { serve } from "../../web/tools/serve.mjs";
import { loadLibrary } from "./tree_print.mjs";
import { commandLineDumps, decodePng, distinctColours, encodeRgbPng, readDump, rgbOfRgba } from "./support.mjs";

const ROOT = resolve(fileURLToPath(import.meta.url), "../../..");
const SITE = resolve(process.env.TAVREL_SITE ?? join(ROOT, "build/web/site"));
const BINARY = process.env.TAVREL_BINARY ?? join(ROOT, "build/tavrel");
const SAMPLE = join(ROOT, "examples/coffee-320x240.ppm");
const SAMPLE_COLOURS = 34872;

const scratch = mkdtempSync(join(tmpdir(), "tavrel-web-test-"));
const downloads = join(scratch, "downloads");
let server;
let browser;
let page;
let dump;
const requested = [];

before(async () => {
  dump = commandLineDumps(BINARY, SAMPLE, 256);
  server = await serve(SITE);
  browser = await launch();
  page = await browser.newPage();
  page.on("request", (request) => requested.push(request.url()));
  const cdp = await page.createCDPSession();
  await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
  await page.goto(server.url);
});

after(async () => {
  await browser?.close();
  await server?.close();
  rmSync(scratch, { recursive: true, force: true });
});

async function openFile(path, name) {
  const input = await page.$("#file");
  await input.uploadFile(path);
  await page.waitForFunction((n) => document.body.dataset.photo === n && document.body.dataset.shownK,
                             { timeout: 120000 }, name);
}

async function ensureSample() {
  if ((await page.$eval("body", (b) => b.dataset.photo)) !== "coffee-320x240.ppm") {
    await openFile(SAMPLE, "coffee-320x240.ppm");
  }
}

// Moves to k the way a user does: an arrow key on the focused slider for one
// step, the slider dragged to its end for "drag", the number typed otherwise.
async function showK(k, how) {
  if (how === "key") {
    const current = Number(await page.$eval("#k-number", (e) => e.value));
    await page.focus("#k");
    await page.keyboard.press(k > current ? "ArrowRight" : "ArrowLeft");
  } else if (how === "drag") {
    await page.$eval("#k", (slider) => {
      slider.value = slider.max;
      slider.dispatchEvent(new Event("input", { bubbles: true }));
    });
  } else {
    await page.click("#k-number", { clickCount: 3 });
    await page.keyboard.type(String(k));
    await page.keyboard.press("Enter");
  }
  await page.waitForFunction((n) => document.body.dataset.shownK === String(n), {}, k);
}

async function canvasRgb(id) {
  const base64 = await page.$eval(`#${id}`, (canvas) => {
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let text = "";
    for (let i = 0; i < data.length; i += 0x8000) text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return btoa(text);
  });
  return rgbOfRgba(Buffer.from(base64, "base64"));
}

const text = (id) => page.$eval(`#${id}`, (e) => e.textContent);

async function download(button, suffix) {
  const before = new Set(readdirSyncSafe());
  await page.click(`#${button}`);
  for (;;) {
    const fresh = readdirSyncSafe().filter((f) => !before.has(f) && f.endsWith(suffix));
    if (fresh.length > 0) return readFileSync(join(downloads, fresh[0]));
    await new Promise((done) => setTimeout(done, 50));
  }
}
function readdirSyncSafe() {
  try {
    return readdirSync(downloads);
  } catch {
    return [];
  }
}

test("the slider paints the command line's dump for every kind of move", async () => {
  await openFile(SAMPLE, "coffee-320x240.ppm");
  assert.equal(await text("colours"), String(SAMPLE_COLOURS));
  const photo = readDump(SAMPLE).rgb;
  const moves = [[2, "jump"], [3, "key"], [4, "key"], [17, "jump"], [16, "key"], [256, "jump"],
                 [255, "key"], [1, "jump"], [2, "key"], [SAMPLE_COLOURS, "drag"], [SAMPLE_COLOURS - 1, "key"]];
  for (const [k, how] of moves) {
    await showK(k, how);
    const shown = await canvasRgb("reduced");
    const expected = k === 1 ? null : k === SAMPLE_COLOURS ? photo : k <= 256 ? dump(k) : undefined;
    if (expected === undefined) {
      assert.equal(distinctColours(shown).size, Number(await text("distinct")), `k = ${k}`);
    } else if (expected) {
      assert.ok(shown.equals(expected), `k = ${k} after a ${how} move differs from the command line`);
      assert.equal(await text("distinct"), String(distinctColours(expected).size), `k = ${k}`);
    } else {
      assert.equal(distinctColours(shown).size, 1, "k = 1 is one colour");
    }
  }
  assert.ok((await canvasRgb("original")).equals(photo), "the original as read");
});

test("a PNG of the photo gives the same colours and images as its PPM", async () => {
  const { width, height, rgb } = readDump(SAMPLE);
  const png = join(scratch, "coffee.png");
  writeFileSync(png, encodeRgbPng(width, height, rgb, deflateSync));
  await openFile(png, "coffee.png");
  assert.equal(await text("colours"), String(SAMPLE_COLOURS));
  for (const k of [5, 6, 64]) {
    await showK(k, k === 6 ? "key" : "jump");
    assert.ok((await canvasRgb("reduced")).equals(dump(k)), `k = ${k} from the PNG`);
  }
});

test("the downloads hold the image and palette shown", async () => {
  await ensureSample();
  // Palette sizes that give each bit depth of an indexed PNG, and one beyond 256.
  for (const [k, depth] of [[2, 1], [4, 2], [16, 4], [17, 8], [256, 8], [300, 8]]) {
    await showK(k, "jump");
    const png = decodePng(await download("save-png", ".png"));
    const shown = await canvasRgb("reduced");
    assert.equal(png.colourType, k <= 256 ? 3 : 2, `k = ${k}: indexed exactly while k <= 256`);
    assert.equal(png.depth, depth, `k = ${k}`);
    assert.ok(png.rgb.equals(shown), `k = ${k}: the PNG holds the image shown`);
    if (k <= 256) assert.equal(png.palette.length, 3 * k, `k = ${k}: one palette entry a colour`);
  }
  await showK(17, "jump");
  const json = JSON.parse(await download("save-json", ".json"));
  const gpl = (await download("save-gpl", ".gpl")).toString("utf8").trimEnd().split("\n");
  assert.equal(json.colours, 17);
  const fromJson = json.palette.map((c) => c.rgb.join(" "));
  const fromGpl = gpl.slice(4).map((line) => line.split("\t")[0].trim().split(/\s+/).join(" "));
  assert.deepEqual(gpl.slice(0, 1), ["GIMP Palette"]);
  assert.deepEqual(fromGpl, fromJson, "the two palette files list the same entries in order");
  const used = distinctColours(dump(17));
  const listed = new Set(json.palette.map(({ rgb: [r, g, b] }) => (r << 16) | (g << 8) | b));
  assert.deepEqual(listed, used, "the palette's colours are the image's");
  const ppm = readDump(await writeTemp("saved.ppm", await download("save-ppm", ".ppm")));
  assert.ok(ppm.rgb.equals(readDump(SAMPLE).rgb), "the decoded pixels saved as PPM");
});

async function writeTemp(name, bytes) {
  const path = join(scratch, name);
  writeFileSync(path, bytes);
  return path;
}

test("the fewest-colours field moves the slider to the library's answer", async () => {
  const { width, height, rgb } = readDump(SAMPLE);
  const { curve, fewest } = await library(width, height, rgb, 300);
  await ensureSample();
  // Targets half way between neighbouring values of the curve, so that no
  // rounding can move the answer.
  const targets = [2, 9, 40, 200].map((k) => (curve[k - 1] + curve[k - 2]) / 2);
  for (const target of targets) {
    const expected = curve.findIndex((mean) => mean <= target) + 1;
    assert.equal(fewest(target), expected, `the library's answer for ${target}`);
    await page.$eval("#target", (input, value) => { input.value = String(value); }, target);
    await page.click("#target-form button");
    await page.waitForFunction((n) => document.body.dataset.shownK === String(n), {}, expected);
    assert.equal(Number(await page.$eval("#k-number", (e) => e.value)), expected, `target ${target}`);
  }
});

// The library itself, loaded under node from the same build as the page:
// its curve up to kmax and its own fewest-colours answer.
async function library(width, height, rgb, kmax) {
  const M = await loadLibrary(SITE);
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; i++) rgb.copy(rgba, 4 * i, 3 * i, 3 * i + 3);
  const input = M._malloc(rgba.length);
  M.HEAPU8.set(rgba, input);
  const out = M._malloc(8 * kmax);
  assert.equal(M._tavrel_web_build(input, width, height, out, out + 4), 0);
  const handle = M.HEAPU32[out >> 2];
  assert.equal(M._tavrel_mean_delta_e(handle, kmax, out, kmax), 0);
  const curve = Array.from(new Float64Array(M.HEAPF64.buffer, out, kmax));
  const fewest = (target) => {
    assert.equal(M._tavrel_fewest_colours(handle, target, out), 0);
    return M.HEAPU32[out >> 2];
  };
  return { curve, fewest };
}

test("Cancel ends a build and keeps the photo shown before", async () => {
  await openFile(SAMPLE, "coffee-320x240.ppm");
  // 300,000 random colours take seconds to build: long enough to be stopped.
  const width = 600;
  const height = 500;
  const noise = Buffer.alloc(width * height * 3);
  let seed = 12345;
  for (let i = 0; i < noise.length; i++) {
    seed ^= seed << 13;
    seed ^= seed >>> 17;
    seed ^= seed << 5;
    noise[i] = seed & 0xff;
  }
  const big = await writeTemp("noise.ppm", Buffer.concat([Buffer.from(`P6\n${width} ${height}\n255\n`), noise]));
  await (await page.$("#file")).uploadFile(big);
  await page.waitForFunction(() => !document.getElementById("building").hidden &&
                             document.getElementById("progress").value > 0, { timeout: 60000 });
  await page.click("#cancel");
  assert.equal(await page.$eval("#building", (e) => e.hidden), true);
  assert.equal(await text("status"), "Cancelled; still showing “coffee-320x240.ppm”.");
  await showK(7, "jump");
  assert.ok((await canvasRgb("reduced")).equals(dump(7)), "the earlier photo still answers");
});

test("files it cannot read are refused with a message that says why", async () => {
  const cases = [
    ["broken.png", Buffer.from("this is not an image at all"),
     "Cannot read “broken.png”: the browser cannot decode it as PNG, JPEG, WebP or GIF, and it is not a binary PPM (P6) file."],
    ["short.ppm", Buffer.concat([Buffer.from("P6\n4 4\n255\n"), Buffer.alloc(5)]),
     "Cannot read “short.ppm”: the PPM file is truncated: its header claims 48 bytes of samples, the file holds 5."],
    ["deep.ppm", Buffer.concat([Buffer.from("P6\n1 1\n65535\n"), Buffer.alloc(6)]),
     "Cannot read “deep.ppm”: the PPM maximum value is 65535; only 8-bit files (1 to 255) are read."],
    ["empty.ppm", Buffer.from("P6\n0 3\n255\n"),
     "Cannot read “empty.ppm”: the PPM image has no pixels (width or height 0)."],
    ["header.ppm", Buffer.from("P6\n12 x\n255\n"), "Cannot read “header.ppm”: the PPM header has no valid height."],
  ];
  for (const [name, bytes, message] of cases) {
    await (await page.$("#file")).uploadFile(await writeTemp(name, bytes));
    await page.waitForFunction((m) => document.getElementById("error").textContent === m, { timeout: 10000 }, message);
    assert.equal(await page.$eval("body", (b) => b.dataset.photo), "coffee-320x240.ppm", name);
  }
  // A header with a comment is read.
  await openFile(await writeTemp("comment.ppm", Buffer.from("P6\n# by hand\n2 1\n255\n\x01\x02\x03\x04\x05\x06", "latin1")),
                 "comment.ppm");
  assert.equal(await text("colours"), "2");
  assert.equal(await text("error"), "");
});

test("nothing is fetched from anywhere but the page's own folder", () => {
  const outside = requested.filter((url) => !url.startsWith(server.url) && !url.startsWith("blob:") &&
                                             !url.startsWith("data:"));
  assert.deepEqual(outside, []);
  const files = new Set(server.requests);
  assert.ok(files.has("/tavrel.wasm") && files.has("/worker.js"), [...files].join(" "));
});
