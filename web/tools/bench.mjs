// The page's speed targets, measured in headless chromium:
//   node bench.mjs SITE TAVREL PHOTO.ppm [ROUNDS]
// - building the tree in the page (inside the worker) against the command
//   line's -C0 on the same file, runs interleaved, medians and spread;
// - one slider step, from the input event to the end of putImageData, the
//   median of 20 moves up and 20 down, 60 ms apart (and of 20 jumps), by
//   cluster and then in the nearest colour (each k painted from scratch),
//   and the time the nearest-colour curve takes to appear;
// - the page's download size.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readdirSync, rmSync, statSync, symlinkSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join, resolve } from "node:path";

import { launch } from "./browser.mjs";
import { serve } from "./serve.mjs";

const [site, binary, photo, roundsText] = process.argv.slice(2);
const rounds = Number(roundsText ?? 5);
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};
const spread = (values) => `${Math.min(...values).toFixed(0)}..${Math.max(...values).toFixed(0)}`;

const folder = mkdtempSync(join(tmpdir(), "tavrel-web-bench-"));
symlinkSync(resolve(photo), join(folder, "input.ppm"));
function nativeMs() {
  const started = process.hrtime.bigint();
  execFileSync(resolve(binary), ["-Q0", "-C0", "input.ppm", "out"], { cwd: folder });
  return Number(process.hrtime.bigint() - started) / 1e6;
}

const server = await serve(site);
const browser = await launch();
try {
  const page = await browser.newPage();
  await page.goto(server.url);
  const native = [];
  const web = [];
  for (let round = 0; round < rounds; round++) {
    native.push(nativeMs());
    const builds = await page.evaluate(() => window.tavrelBuilds.length);
    // A second open of the same file builds again from scratch.
    await page.evaluate(() => { document.getElementById("file").value = ""; });
    await (await page.$("#file")).uploadFile(resolve(photo));
    await page.waitForFunction((n) => window.tavrelBuilds.length > n && document.body.dataset.shownK,
                               { timeout: 600000 }, builds);
    web.push(await page.evaluate(() => window.tavrelBuilds.at(-1)));
  }

  const moves = async (keys) => {
    await page.evaluate(() => { window.tavrelTimings.length = 0; });
    await page.focus("#k");
    for (const key of keys) {
      const before = await page.evaluate(() => window.tavrelTimings.length);
      await page.keyboard.press(key);
      await page.waitForFunction((n) => window.tavrelTimings.length > n, {}, before);
      // A pause as between two presses of a key, in which the worker
      // prepares the step down.
      await new Promise((done) => setTimeout(done, 60));
    }
    return page.evaluate(() => [...window.tavrelTimings]);
  };
  const steps = async () => {
    await page.focus("#k");
    await page.keyboard.press("Home");
    return { up: await moves(Array(20).fill("ArrowRight")), down: await moves(Array(20).fill("ArrowLeft")),
             jumps: await moves(Array(20).fill(0).map((_, i) => (i % 2 ? "PageDown" : "PageUp"))) };
  };
  const cluster = await steps();
  const curveStarted = Date.now();
  await page.click('input[name=remap][value="1"]');
  await page.waitForFunction(() => document.body.dataset.shownRemap === "1" &&
                             !("curvePending" in document.body.dataset), { timeout: 600000 });
  const curveMs = Date.now() - curveStarted;
  const nearest = await steps();

  const files = readdirSync(site).filter((f) => !f.startsWith("."));
  const bytes = files.reduce((n, f) => n + statSync(join(site, f)).size, 0);
  const wasm = statSync(join(site, "tavrel.wasm")).size;
  const { width, height, colours } = await page.evaluate(() => ({
    width: document.getElementById("reduced").width, height: document.getElementById("reduced").height,
    colours: document.getElementById("colours").textContent }));

  console.log(`${basename(photo)}: ${width} x ${height}, ${colours} colours; ${rounds} interleaved rounds`);
  console.log(`build in the page  median ${median(web).toFixed(0)} ms (${spread(web)})`);
  console.log(`command line -C0   median ${median(native).toFixed(0)} ms (${spread(native)})`);
  console.log(`ratio              ${(median(web) / median(native)).toFixed(2)} (target at most 3)`);
  const times = (values) => `median ${median(values).toFixed(1)} ms of 20 (max ${Math.max(...values).toFixed(1)})`;
  for (const [name, { up, down, jumps }] of [["by cluster", cluster], ["nearest colour", nearest]]) {
    console.log(`slider step up     ${times(up)}, ${name}`);
    console.log(`slider step down   ${times(down)}, ${name} (target at most 16)`);
    console.log(`slider jump        ${times(jumps)}, ${name}`);
  }
  console.log(`nearest curve      ${curveMs} ms from the switch to the curve drawn (k = 1 to 256)`);
  console.log(`download           ${bytes} bytes in ${files.length} files, ${wasm} of them WebAssembly (target at most 1 MB)`);
} finally {
  await browser.close();
  await server.close();
  rmSync(folder, { recursive: true, force: true });
}
