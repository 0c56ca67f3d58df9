// The page's main thread: reads the photo, hands it to a worker that builds
// the tree and paints, and only draws what comes back. No network request is
// made; everything runs from the files next to this one.
import { clearCurve, drawCurve, format, markCurve } from "./curve.js";
import { encodePng, gimpPalette, jsonPalette, readPpm, writePpm, hex } from "./formats.js";

const $ = (id) => document.getElementById(id);
// Swatches drawn at most; larger palettes are only downloaded.
const SWATCHES = 1024;
// The slider's positions. With more colours than positions it runs on a
// logarithmic scale, so that the first few dozen colours, where the image
// changes most, are not squeezed into its first pixel; the arrow keys still
// move k by one.
const POSITIONS = 1000;
const kOf = (position) =>
  state.colours <= POSITIONS + 1 ? position + 1
                                 : Math.round(Math.exp((position / POSITIONS) * Math.log(state.colours)));
const positionOf = (k) =>
  state.colours <= POSITIONS + 1 ? k - 1 : Math.round((Math.log(k) / Math.log(state.colours)) * POSITIONS);

const state = {
  worker: null,    // serves the photo on show
  photo: null,     // { name, width, height, rgba }
  colours: 0,
  curves: [],      // the quality curve by remap, once the worker has made it
  remap: 0,        // how pixels are painted: 0 by cluster, 1 in the nearest colour
  k: 1,            // the k the slider asks for
  shown: 0,        // the k drawn on the canvas
  shownRemap: 0,   // and how it was painted
  busy: false,     // a show request is out
  inputAt: 0,      // when the slider last moved, for the timing record
  pending: null,   // the build under way: { worker, photo }
  waiting: new Map(),
};
// For the bench script (the page itself never reads them): slider-to-pixels
// times (ms) of the moves whose image was drawn, and the last build's time
// inside the worker.
window.tavrelTimings = [];
window.tavrelBuilds = [];

function setStatus(text) {
  $("status").textContent = text;
}
function setError(text) {
  $("error").textContent = text;
}

// ------------------------------------------------------------ reading --

async function decode(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (bytes[0] === 0x50 && bytes[1] === 0x36) return readPpm(bytes);
  let bitmap;
  try {
    bitmap = await createImageBitmap(file, { colorSpaceConversion: "none", premultiplyAlpha: "none" });
  } catch {
    throw new Error("the browser cannot decode it as PNG, JPEG, WebP or GIF, and it is not a binary PPM (P6) file");
  }
  const { width, height } = bitmap;
  const canvas = new OffscreenCanvas(width, height);
  const context = canvas.getContext("2d", { willReadFrequently: true });
  if (!context) throw new RangeError("no canvas of that size");
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  const rgba = context.getImageData(0, 0, width, height).data;
  // Alpha is ignored: the colours are taken as they are, shown opaque.
  for (let i = 3; i < rgba.length; i += 4) rgba[i] = 255;
  return { width, height, rgba };
}

function memoryMessage(name, width, height, colours) {
  const size = width ? ` (${width} × ${height} pixels${colours ? `, ${colours} distinct colours` : ""})` : "";
  return `“${name}”${size} does not fit in this browser's memory. Try a smaller image.`;
}

async function open(file) {
  setError("");
  setStatus(`Reading “${file.name}”…`);
  let photo;
  try {
    photo = { name: file.name, ...(await decode(file)) };
  } catch (error) {
    setStatus("");
    setError(error instanceof RangeError ? memoryMessage(file.name)
                                         : `Cannot read “${file.name}”: ${error.message}.`);
    return;
  }
  build(photo);
}

// ----------------------------------------------------------- building --

function build(photo) {
  cancelBuild();
  const worker = new Worker("worker.js");
  state.pending = { worker, photo };
  $("building").hidden = false;
  $("progress").value = 0;
  setStatus(`Building the colour tree of “${photo.name}”…`);
  worker.onmessage = ({ data }) => {
    if (data.type === "progress") {
      $("progress").value = data.fraction;
    } else if (data.type === "built") {
      finishBuild(worker, photo, data);
    } else if (data.type === "failed") {
      endBuild();
      worker.terminate();
      setStatus("");
      setError(data.reason === "memory"
        ? memoryMessage(photo.name, photo.width, photo.height, data.colours)
        : `Cannot build the colour tree of “${photo.name}”: ${data.text}.`);
    }
  };
  worker.onerror = (event) => {
    endBuild();
    worker.terminate();
    setStatus("");
    setError(/memory|allocation/i.test(event.message)
      ? memoryMessage(photo.name, photo.width, photo.height)
      : `The build of “${photo.name}” stopped: ${event.message}`);
  };
  const copy = photo.rgba.slice().buffer;
  worker.postMessage({ type: "build", rgba: copy, width: photo.width, height: photo.height }, [copy]);
}

function endBuild() {
  state.pending = null;
  $("building").hidden = true;
  $("progress").value = 0;
}

function cancelBuild() {
  if (!state.pending) return false;
  state.pending.worker.terminate();
  endBuild();
  return true;
}

function finishBuild(worker, photo, { colours, curve, buildMs }) {
  endBuild();
  window.tavrelBuilds.push(buildMs);
  if (state.worker) state.worker.terminate();
  state.worker = worker;
  state.photo = photo;
  state.colours = colours;
  state.curves = [curve, null];
  state.shown = 0;
  state.busy = false;
  worker.onmessage = ({ data }) => answer(data);
  worker.onerror = (event) => setError(`The page's worker stopped: ${event.message}`);

  $("name").textContent = photo.name;
  $("size").textContent = `${photo.width} × ${photo.height}`;
  $("colours").textContent = String(colours);
  for (const id of ["facts", "controls", "quality", "view"]) $(id).hidden = false;
  $("k").max = String(Math.min(colours - 1, POSITIONS));
  $("k-number").max = String(colours);
  for (const canvas of [$("original"), $("reduced")]) {
    canvas.width = photo.width;
    canvas.height = photo.height;
  }
  $("original").getContext("2d").putImageData(new ImageData(photo.rgba, photo.width, photo.height), 0, 0);
  showCurve();
  setStatus(`“${photo.name}”: ${colours} distinct colours.`);
  document.body.dataset.photo = photo.name;
  delete document.body.dataset.shownK;
  setK(Math.min(16, colours));
}

// ------------------------------------------------------------ showing --

// Asks the worker for k; while an image is on its way, later moves only
// update the wish, so a fast drag never queues stale images.
function setK(k) {
  k = Math.max(1, Math.min(state.colours, Math.round(k) || 1));
  state.k = k;
  $("k").value = String(positionOf(k));
  $("k-number").value = String(k);
  $("k").setAttribute("aria-valuetext", `${k} colours`);
  requestShow();
  markCurve($("curve"), k);
}

function requestShow() {
  if (state.busy || (state.k === state.shown && state.remap === state.shownRemap) || !state.worker) return;
  state.busy = true;
  state.worker.postMessage({ type: "show", k: state.k, remap: state.remap, swatches: SWATCHES });
}

// The curve of the current remap; the nearest-colour one is asked of the
// worker the first time it is wanted (it takes a moment), the image first.
const REMAP_NAMES = ["by its cluster", "in the nearest colour"];
function showCurve() {
  const { remap } = state;
  $("curve-remap").textContent = REMAP_NAMES[remap];
  const curve = state.curves[remap];
  if (curve) {
    drawCurve($("curve"), curve, state.colours);
    markCurve($("curve"), state.k);
    delete document.body.dataset.curvePending;
    return;
  }
  clearCurve($("curve"), "Measuring every number of colours painted in the nearest colour…");
  document.body.dataset.curvePending = "";
  if (state.curves.asked) return;
  state.curves.asked = true;
  const worker = state.worker;
  ask({ type: "curve", remap }).then((data) => {
    if (worker !== state.worker) return;
    state.curves[data.remap] = data.curve;
    if (state.remap === data.remap) showCurve();
  }, reportFailure("The quality curve"));
}

function ask(message) {
  return new Promise((resolve, reject) => {
    state.waiting.set(message.type, { resolve, reject });
    state.worker.postMessage(message);
  });
}

function answer(data) {
  if (data.type === "image") {
    const { width, height } = state.photo;
    const image = new ImageData(new Uint8ClampedArray(data.pixels), width, height);
    $("reduced").getContext("2d").putImageData(image, 0, 0);
    if (data.k === state.k && data.remap === state.remap && state.inputAt) {
      window.tavrelTimings.push(performance.now() - state.inputAt);
      state.inputAt = 0;
    }
    state.shown = data.k;
    state.shownRemap = data.remap;
    state.busy = false;
    $("distinct").textContent = String(data.distinct);
    drawSwatches(data.palette, data.k);
    document.body.dataset.shownK = String(data.k);
    document.body.dataset.shownRemap = String(data.remap);
    requestShow();
    return;
  }
  if (data.type === "failed" && data.request === "show") {
    state.busy = false;
    setError(data.reason === "memory"
      ? `The image for ${state.k} colours does not fit in this browser's memory.`
      : `Painting failed: ${data.text}`);
    return;
  }
  const waiter = state.waiting.get(data.request);
  if (!waiter) return;
  state.waiting.delete(data.request);
  if (data.type === "failed") waiter.reject(new Error(data.text));
  else waiter.resolve(data);
}

function drawSwatches(palette, k) {
  const list = $("palette");
  if (!palette) {
    list.replaceChildren();
    $("palette-more").textContent = `${k} colours: too many to draw here; download the palette instead.`;
    return;
  }
  const items = [];
  for (let i = 0; i < palette.length; i += 3) {
    const colour = hex(palette[i], palette[i + 1], palette[i + 2]);
    const item = document.createElement("li");
    item.style.background = colour;
    item.title = `${i / 3 + 1}: ${colour} (${palette[i]}, ${palette[i + 1]}, ${palette[i + 2]})`;
    item.setAttribute("aria-label", item.title);
    items.push(item);
  }
  list.replaceChildren(...items);
  $("palette-more").textContent = "";
}

// ---------------------------------------------------------- downloads --

function baseName() {
  return state.photo.name.replace(/\.[^.]*$/, "") || "image";
}

function save(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

async function savePng() {
  const k = state.k;
  const { width, height } = state.photo;
  let png;
  if (k <= 256) {
    const { palette, indices } = await ask({ type: "png", k, remap: state.remap });
    png = await encodePng(width, height, { palette, indices });
  } else {
    const image = $("reduced").getContext("2d").getImageData(0, 0, width, height);
    png = await encodePng(width, height, { rgba: image.data });
  }
  save(png, `${baseName()}-${k}.png`, "image/png");
}

async function savePalette(kind) {
  const k = state.k;
  const { palette } = await ask({ type: "palette", k });
  const name = `${baseName()}, ${k} colours`;
  if (kind === "gpl") save(gimpPalette(name, palette), `${baseName()}-${k}.gpl`, "text/plain");
  else save(jsonPalette(name, palette), `${baseName()}-${k}.json`, "application/json");
}

function reportFailure(what) {
  return (error) => setError(`${what} failed: ${error.message}`);
}

// ------------------------------------------------------------- wiring --

$("file").addEventListener("change", () => {
  if ($("file").files.length > 0) open($("file").files[0]);
});
for (const type of ["dragenter", "dragover"]) {
  document.addEventListener(type, (event) => {
    event.preventDefault();
    $("drop").classList.add("over");
  });
}
document.addEventListener("dragleave", () => $("drop").classList.remove("over"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  $("drop").classList.remove("over");
  if (event.dataTransfer.files.length > 0) open(event.dataTransfer.files[0]);
});
$("cancel").addEventListener("click", () => {
  if (cancelBuild()) setStatus(state.photo ? `Cancelled; still showing “${state.photo.name}”.` : "Cancelled.");
});

$("k").addEventListener("input", () => {
  state.inputAt = performance.now();
  setK(kOf(Number($("k").value)));
});
// On the slider the keys move k itself: one colour for an arrow, a tenth of
// the way for Page Up and Down, to the ends for Home and End.
$("k").addEventListener("keydown", (event) => {
  const k = state.k;
  const target = { ArrowRight: k + 1, ArrowUp: k + 1, ArrowLeft: k - 1, ArrowDown: k - 1,
                   PageUp: kOf(positionOf(k) + POSITIONS / 10), PageDown: kOf(positionOf(k) - POSITIONS / 10),
                   Home: 1, End: state.colours }[event.key];
  if (target === undefined) return;
  event.preventDefault();
  state.inputAt = performance.now();
  setK(target);
});
$("k-number").addEventListener("change", () => setK(Number($("k-number").value)));
// Arrow keys move the slider from anywhere but a text field.
document.addEventListener("keydown", (event) => {
  if (!state.worker || event.target.closest("input, select, textarea, button, [role=slider]")) return;
  const step = { ArrowRight: 1, ArrowUp: 1, ArrowLeft: -1, ArrowDown: -1 }[event.key];
  if (step === undefined) return;
  event.preventDefault();
  state.inputAt = performance.now();
  setK(state.k + step);
});

$("target-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const target = Number($("target").value);
  if (!(target >= 0)) {
    $("target-answer").textContent = "Give a mean ΔE of 0 or more.";
    return;
  }
  const remap = state.remap;
  ask({ type: "fewest", target, remap }).then(({ k, byCluster, curveEnd }) => {
    const curve = state.curves[remap];
    if (k === 0) {
      // The walk beyond the curve was too long to make here.
      $("target-answer").textContent = `more than ${curveEnd} colours in the nearest colour; ` +
        `${byCluster} by cluster`;
      return;
    }
    const mean = curve && k <= curve.length ? `: mean ΔE ${format(curve[k - 1])}` : "";
    $("target-answer").textContent = `${k} colours${mean}`;
    setK(k);
  }, reportFailure("The search"));
});

$("save-png").addEventListener("click", () => savePng().catch(reportFailure("The PNG")));
$("save-gpl").addEventListener("click", () => savePalette("gpl").catch(reportFailure("The palette")));
$("save-json").addEventListener("click", () => savePalette("json").catch(reportFailure("The palette")));
$("save-ppm").addEventListener("click", () => {
  const { width, height, rgba } = state.photo;
  save(writePpm(width, height, rgba), `${baseName()}.ppm`, "image/x-portable-pixmap");
});

for (const input of document.querySelectorAll("input[name=remap]")) {
  input.addEventListener("change", () => {
    state.remap = Number(document.querySelector("input[name=remap]:checked").value);
    $("target-answer").textContent = "";
    requestShow();
    showCurve();
  });
}

function layout() {
  const side = document.querySelector("input[name=layout]:checked").value;
  const scale = document.querySelector("input[name=scale]:checked").value;
  $("stage").className = `${side} ${scale}`;
  $("divider-row").hidden = side !== "split";
  $("reduced").style.clipPath = side === "split" ? `inset(0 0 0 ${$("divider").value}%)` : "";
}
for (const input of document.querySelectorAll("input[name=layout], input[name=scale]")) {
  input.addEventListener("change", layout);
}
$("divider").addEventListener("input", layout);
