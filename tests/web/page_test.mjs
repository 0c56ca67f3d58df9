// The page in Debian's chromium: what it paints for every kind of move of the
// slider is the command line's dump, byte for byte; a PNG of the photo gives
// the same; the downloads hold what is shown; the fewest-colours field agrees
// with the library; a build can be cancelled; broken files get their message;
// nothing is fetched from anywhere but the page's own folder.
//
// Environment: TAVREL_SITE (the built page), TAVREL_BINARY (the command line),
// TAVREL_TREE_PRINT (the native printer: curves, fewest colours, nearest-colour images).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { randomBytes } from "node:crypto";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join, resolve } from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";

import { launch } from "../../web/tools/browser.mjs";
import { serve } from "../../web/tools/serve.mjs";
import { commandLineDumps, distinctColours, readDump } from "./support.mjs";

const ROOT = resolve(fileURLToPath(import.meta.url), "../../..");
const SITE = resolve(process.env.TAVREL_SITE ?? join(ROOT, "build/web/site"));
const BINARY = process.env.TAVREL_BINARY ?? join(ROOT, "build/tavrel");
const PRINTER = process.env.TAVREL_TREE_PRINT ?? join(ROOT, "build/tests/web/tavrel_tree_print");
const SAMPLE = join(ROOT, "examples/coffee-320x240.ppm");
const SAMPLE_COLOURS = 34872;
const photo = readDump(SAMPLE);

const scratch = mkdtempSync(join(tmpdir(), "tavrel-web-test-"));
const downloads = join(scratch, "downloads");
let server, browser, page, codec, dump;
const requested = [];

before(async () => {
  dump = commandLineDumps(BINARY, SAMPLE, 256);
  server = await serve(SITE);
  browser = await launch();
  codec = await browser.newPage();
  page = await browser.newPage();
  mkdirSync(downloads);
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

async function openFile(path, name = basename(path)) {
  await (await page.$("#file")).uploadFile(path);
  await page.waitForFunction((n) => document.body.dataset.photo === n && document.body.dataset.shownK,
                             { timeout: 120000 }, name);
}

const ensureSample = async () =>
  (await page.$eval("body", (b) => b.dataset.photo)) === "coffee-320x240.ppm" || openFile(SAMPLE);

// Moves to k the way a user does: an arrow key on the focused slider for one
// step, the slider dragged to its end for "drag", the number typed otherwise.
async function showK(k, how) {
  if (how === "key") {
    const current = Number(await page.$eval("#k-number", (e) => e.value));
    await page.focus("#k");
    await page.keyboard.press(k > current ? "ArrowRight" : "ArrowLeft");
  } else if (how === "drag") {
    await page.$eval("#k", (s) => { s.value = s.max; s.dispatchEvent(new Event("input", { bubbles: true })); });
  } else {
    await page.click("#k-number", { clickCount: 3 });
    await page.keyboard.type(String(k));
    await page.keyboard.press("Enter");
  }
  await page.waitForFunction((n) => document.body.dataset.shownK === String(n), {}, k);
}

const canvasRgb = async (id) => Buffer.from(await page.$eval(`#${id}`, (canvas) =>
  Array.from(canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data.filter((_, i) => i % 4 !== 3))));

// Chromium's own PNG codec in a blank page, so that neither the PNG the page
// opens nor the decoding of the PNG it saves is the page's own code: with
// rgb, encodes it as PNG; without, decodes png to RGB.
async function chromiumPng({ png, width, height, rgb }) {
  const result = await codec.evaluate(async (png, width, height, rgb) => {
    if (rgb) {
      const rgba = Uint8ClampedArray.from({ length: width * height * 4 }, (_, i) => i % 4 === 3 ? 255 : rgb[i - (i >> 2)]);
      const image = new ImageData(rgba, width, height);
      const canvas = new OffscreenCanvas(width, height);
      canvas.getContext("2d").putImageData(image, 0, 0);
      return Array.from(new Uint8Array(await (await canvas.convertToBlob({ type: "image/png" })).arrayBuffer()));
    }
    const bitmap = await createImageBitmap(new Blob([Uint8Array.from(png)]),
                                           { colorSpaceConversion: "none", premultiplyAlpha: "none" });
    const context = new OffscreenCanvas(bitmap.width, bitmap.height).getContext("2d");
    context.drawImage(bitmap, 0, 0);
    return Array.from(context.getImageData(0, 0, bitmap.width, bitmap.height).data.filter((_, i) => i % 4 !== 3));
  }, png && Array.from(png), width, height, rgb && Array.from(rgb));
  return Buffer.from(result);
}

const text = (id) => page.$eval(`#${id}`, (e) => e.textContent);

async function download(button, suffix) {
  const before = new Set(readdirSync(downloads));
  await page.click(`#${button}`);
  for (;;) {
    const fresh = readdirSync(downloads).filter((f) => !before.has(f) && f.endsWith(suffix));
    if (fresh.length > 0) return readFileSync(join(downloads, fresh[0]));
    await new Promise((done) => setTimeout(done, 50));
  }
}

const writeTemp = async (name, bytes) => (writeFileSync(join(scratch, name), bytes), join(scratch, name));

// The PPM, then a PNG of it made by chromium: the same colours and images.
test("the slider paints the command line's dump for every kind of move, from a PPM and a PNG", async () => {
  const png = await writeTemp("coffee.png", await chromiumPng(photo));
  for (const [file, moves] of [
    [SAMPLE, [[2, "jump"], [3, "key"], [4, "key"], [17, "jump"], [16, "key"], [256, "jump"], [255, "key"],
              [1, "jump"], [2, "key"], [SAMPLE_COLOURS, "drag"], [SAMPLE_COLOURS - 1, "key"]]],
    [png, [[5, "jump"], [6, "key"], [64, "jump"]]]]) {
    await openFile(file);
    assert.equal(await text("colours"), String(SAMPLE_COLOURS));
    for (const [k, how] of moves) {
      await showK(k, how);
      const shown = await canvasRgb("reduced");
      const expected = k === SAMPLE_COLOURS ? photo.rgb : k > 1 && k <= 256 ? dump(k) : shown;
      assert.ok(shown.equals(expected), `${file}: k = ${k} after a ${how} move differs from the command line`);
      assert.equal(await text("distinct"), String(distinctColours(shown).size), `k = ${k}`);
      if (k === 1) assert.equal(distinctColours(shown).size, 1, "k = 1 is one colour");
    }
    assert.ok((await canvasRgb("original")).equals(photo.rgb), "the original as read");
  }
});

test("the downloads hold the image and palette shown", async () => {
  await ensureSample();
  // Palette sizes that give each bit depth of an indexed PNG, and one beyond 256.
  for (const [k, depth] of [[2, 1], [4, 2], [16, 4], [17, 8], [256, 8], [300, 8]]) {
    await showK(k, "jump");
    const png = await download("save-png", ".png");
    // IHDR's depth and colour type, then the palette's length (PLTE follows IHDR).
    assert.deepEqual([png[24], png[25]], [depth, k <= 256 ? 3 : 2], `k = ${k}: indexed exactly while k <= 256`);
    if (k <= 256) assert.equal(png.readUInt32BE(33), 3 * k, `k = ${k}: one palette entry a colour`);
    assert.ok((await chromiumPng({ png })).equals(await canvasRgb("reduced")), `k = ${k}: the PNG holds the image shown`);
  }
  await showK(17, "jump");
  const json = JSON.parse(await download("save-json", ".json"));
  const gpl = (await download("save-gpl", ".gpl")).toString("utf8").trimEnd().split("\n");
  assert.equal(gpl[0], "GIMP Palette");
  assert.deepEqual(gpl.slice(4).map((line) => line.split("\t")[0].trim().split(/\s+/).map(Number)),
                   json.palette.map((c) => c.rgb), "the two palette files list the same entries in order");
  assert.deepEqual([json.colours, new Set(json.palette.map(({ rgb: [r, g, b] }) => (r << 16) | (g << 8) | b))],
                   [17, distinctColours(dump(17))], "the palette's colours are the image's");
  assert.ok(readDump(await download("save-ppm", ".ppm")).rgb.equals(photo.rgb), "the decoded pixels saved as PPM");
});

test("Cancel ends a build and keeps the photo shown before", async () => {
  await openFile(SAMPLE);
  // 300,000 random colours take seconds to build: long enough to be stopped.
  const noise = Buffer.concat([Buffer.from("P6\n600 500\n255\n"), randomBytes(600 * 500 * 3)]);
  await (await page.$("#file")).uploadFile(await writeTemp("noise.ppm", noise));
  await page.waitForFunction(() => !document.getElementById("building").hidden &&
                             document.getElementById("progress").value > 0, { timeout: 60000 });
  await page.click("#cancel");
  assert.equal(await page.$eval("#building", (e) => e.hidden), true);
  assert.equal(await text("status"), "Cancelled; still showing “coffee-320x240.ppm”.");
  await showK(7, "jump");
  assert.ok((await canvasRgb("reduced")).equals(dump(7)), "the earlier photo still answers");
});

test("files it cannot read are refused with a message that says why", async () => {
  for (const [name, bytes, why] of [
    ["broken.png", "this is not an image at all",
     "the browser cannot decode it as PNG, JPEG, WebP or GIF, and it is not a binary PPM (P6) file."],
    ["short.ppm", "P6\n4 4\n255\n\0\0\0\0\0", "the PPM file is truncated: its header claims 48 bytes of samples, the file holds 5."],
    ["deep.ppm", "P6\n1 1\n65535\n\0\0\0\0\0\0", "the PPM maximum value is 65535; only 8-bit files (1 to 255) are read."],
    ["empty.ppm", "P6\n0 3\n255\n", "the PPM image has no pixels (width or height 0)."],
    ["header.ppm", "P6\n12 x\n255\n", "the PPM header has no valid height."],
  ]) {
    await (await page.$("#file")).uploadFile(await writeTemp(name, bytes));
    await page.waitForFunction((m) => document.getElementById("error").textContent === m, { timeout: 10000 },
                               `Cannot read “${name}”: ${why}`);
    assert.equal(await page.$eval("body", (b) => b.dataset.photo), "coffee-320x240.ppm", name);
  }
  // A header with a comment is read.
  await openFile(await writeTemp("comment.ppm", Buffer.from("P6\n# by hand\n2 1\n255\n\x01\x02\x03\x04\x05\x06", "latin1")));
  assert.equal(await text("colours"), "2");
  assert.equal(await text("error"), "");
});

// The native printer's view of a painting ("cluster" or "nearest"): the
// library's curve and fewest-colours answers, and for k up to `images` the
// nearest-colour image found by trying every entry.
function printed(path, remap, images, targets = []) {
  const lines = execFileSync(PRINTER, [path, remap, String(images), ...targets.map(String)],
                             { encoding: "utf8", maxBuffer: 1 << 28 }).trim().split("\n").map((l) => l.split(" "));
  const pick = (kind, value) => lines.filter(([k]) => k === kind).map(([, , v]) => value(v));
  return { curve: pick("mean", Number), fewest: pick("fewest", Number), images: pick("image", (v) => Buffer.from(v, "hex")) };
}

async function setRemap(remap) {
  await page.click(`input[name=remap][value="${remap}"]`);
  await page.waitForFunction((r) => document.body.dataset.shownRemap === r && !("curvePending" in document.body.dataset),
                             { timeout: 60000 }, String(remap));
}

async function askFewest(target) {
  await page.$eval("#target", (input, value) => { input.value = String(value); }, target);
  await page.$eval("#target-answer", (output) => { output.textContent = ""; });
  await page.click("#target-form button");
  await page.waitForFunction(() => document.getElementById("target-answer").textContent !== "" &&
                             document.body.dataset.shownK === document.getElementById("k-number").value);
  return Number(await page.$eval("#k-number", (e) => e.value));
}

test("the switch paints in the nearest colour, ties to the lower entry", async () => {
  // Black is measured as (1, 1, 1), so at all 8 colours the two tie and the
  // lower entry takes the pixels of both; at 2 and 3 colours some pixels are
  // nearer another cluster's colour than their own.
  const ties = await writeTemp("ties.ppm", Buffer.concat([Buffer.from("P6\n4 3\n255\n"), Buffer.from([
    0, 0, 0, 1, 1, 1, 237, 191, 136, 70, 95, 3, 173, 237, 41, 171, 20, 194, 86, 231, 216, 80, 86, 121,
    0, 0, 0, 1, 1, 1, 237, 191, 136, 1, 1, 1])]));
  const byTrial = printed(ties, "nearest", 8);
  const byCluster = commandLineDumps(BINARY, ties, 8);
  await openFile(ties);
  await setRemap(1);
  let differs = false;
  for (let k = 1; k <= 8; k++) {
    await showK(k, "jump");
    const shown = await canvasRgb("reduced");
    assert.ok(shown.equals(byTrial.images[k - 1]), `k = ${k}: not each pixel in its nearest colour`);
    assert.equal(await text("distinct"), String(distinctColours(shown).size), `k = ${k}`);
    differs ||= k > 1 && k < 8 && !shown.equals(byCluster(k));
  }
  assert.ok(differs, "some k paints otherwise than by cluster");
  assert.ok((await chromiumPng({ png: await download("save-png", ".png") })).equals(byTrial.images[7]),
            "the PNG holds the nearest-colour image");
  await setRemap(0);
});

test("the curve and the fewest-colours field follow the switch to the library's answers", async () => {
  await ensureSample();
  const cluster = dump(17);
  for (const [remap, name] of ["cluster", "nearest"].entries()) {
    const { curve } = printed(SAMPLE, name, 0);
    // Half way between neighbouring values of the curve, so that no rounding
    // can move the answer, and one beyond the end of the page's nearest curve.
    const targets = [2, 9, 40, 200].map((k) => (curve[k - 1] + curve[k - 2]) / 2).concat(0.9 * curve[255]);
    const { fewest } = printed(SAMPLE, name, 0, targets);
    await showK(17, "jump");
    await setRemap(remap);
    assert.equal(await page.$eval("#curve", (svg) => svg.getAttribute("aria-description")),
                 `17 colours: mean ΔE ${curve[16].toFixed(curve[16] >= 10 ? 1 : 2)}`);
    assert.equal((await canvasRgb("reduced")).equals(cluster), !remap, `${name}: k = 17`);
    for (const [i, target] of targets.entries()) assert.equal(await askFewest(target), fewest[i], `${name}: ${target}`);
    assert.ok(fewest[4] > 256, "a target beyond 256 colours");
  }
  await showK(17, "jump");
  await setRemap(0);
  assert.ok((await canvasRgb("reduced")).equals(cluster), "back by cluster: the image as it was");
});

test("nothing is fetched from anywhere but the page's own folder", () => {
  const outside = requested.filter((url) => !url.startsWith(server.url) && !url.startsWith("blob:") &&
                                             !url.startsWith("data:"));
  assert.deepEqual(outside, []);
  const files = new Set(server.requests);
  assert.ok(files.has("/tavrel.wasm") && files.has("/worker.js"), [...files].join(" "));
});
