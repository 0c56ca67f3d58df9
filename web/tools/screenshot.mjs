// Renders the page with a photo loaded into a PNG for the README:
// node screenshot.mjs SITE PHOTO OUT.png
import { resolve } from "node:path";

import { launch } from "./browser.mjs";
import { serve } from "./serve.mjs";

const [site, photo, out] = process.argv.slice(2);
const server = await serve(site);
const browser = await launch();
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 900 });
  await page.goto(server.url);
  await (await page.$("#file")).uploadFile(resolve(photo));
  await page.waitForFunction(() => document.body.dataset.shownK, { timeout: 120000 });
  await page.$eval("#k-number", (field) => {
    field.value = "12";
    field.dispatchEvent(new Event("change", { bubbles: true }));
  });
  await page.waitForFunction(() => document.body.dataset.shownK === "12");
  await page.screenshot({ path: out, fullPage: true });
  console.log(`wrote ${out}`);
} finally {
  await browser.close();
  await server.close();
}
