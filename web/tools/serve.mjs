// A static server for the page's folder on localhost: `make serve` runs it,
// and the tests, the screenshot and the bench start it in their own process.
// It sends no cross-origin isolation headers, like any plain static host.
import { createServer } from "node:http";
import { readFile } from "node:fs/promises";
import { extname, join, normalize, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const TYPES = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".wasm": "application/wasm",
  ".png": "image/png",
  ".json": "application/json",
};

// Serves `root` on 127.0.0.1 (port 0: any free one); resolves to
// { url, close, requests } where requests lists every path asked for.
export function serve(folder, port = 0) {
  const root = resolve(folder);
  const requests = [];
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
    requests.push(path);
    const file = normalize(join(root, path.endsWith("/") ? path + "index.html" : path));
    if (!file.startsWith(root)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { "Content-Type": TYPES[extname(file)] ?? "application/octet-stream",
                                "Cache-Control": "no-store" });
      response.end(body);
    } catch {
      response.writeHead(404).end("not found");
    }
  });
  return new Promise((done, fail) => {
    server.on("error", fail);
    server.listen(port, "127.0.0.1", () => {
      const url = `http://127.0.0.1:${server.address().port}/`;
      done({ url, requests, close: () => new Promise((closed) => server.close(closed)) });
    });
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const root = resolve(process.argv[2] ?? ".");
  const { url } = await serve(root, Number(process.env.PORT ?? 8023));
  console.log(`Serving ${root} at ${url} (Ctrl-C stops it)`);
}
