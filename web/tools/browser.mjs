// Debian's chromium, headless, through puppeteer-core: nothing is downloaded,
// no first-run or background traffic, and a fresh profile every time.
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import puppeteer from "puppeteer-core";

const CANDIDATES = ["/usr/bin/chromium", "/usr/bin/chromium-browser"];

export async function launch() {
  const { existsSync } = await import("node:fs");
  const executablePath = process.env.CHROMIUM ?? CANDIDATES.find((path) => existsSync(path));
  if (!executablePath) throw new Error("chromium is not installed (apt-get install chromium)");
  const profile = mkdtempSync(join(tmpdir(), "tavrel-chromium-"));
  const browser = await puppeteer.launch({
    executablePath,
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync",
           `--user-data-dir=${profile}`],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}
