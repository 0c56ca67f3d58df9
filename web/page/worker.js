// The page's worker: it holds the library's hierarchy of one photo and paints
// into a buffer of the WebAssembly memory, so that the page's thread only
// ever draws. One worker serves one photo; a Cancel ends the worker, which is
// the only way to stop a build in it: a worker running WebAssembly reads no
// messages, and a page served without cross-origin isolation has no shared
// memory through which to raise a flag. Ending it frees all it held.
/* global createTavrel */
"use strict";
importScripts("tavrel.js");

// The quality curve covers k = 1 up to this (or the photo's colours); the
// fewest-colours answer covers every k.
const CURVE_MAX = 4096;
// The curve of nearest-colour painting costs about one pass over the
// photo's colours for every k, so it stops here (on a photo of 120,000
// colours a tenth of the build). Beyond it the fewest-colours answer walks
// on as far as this many colours, which by cluster are known to reach the
// target (painting in the nearest colour is never farther from the photo),
// and otherwise only says that more than the curve's end are needed.
const NEAREST_CURVE_MAX = 256;
const NEAREST_WALK_MAX = 1024;

const OK = 0;
const PIXELS_OUT = { rgba: 1, index8: 2 };
const REMAP = { cluster: 0, nearest: 1 };

let M = null;
let hierarchy = 0;
let colours = 0;
let width = 0;
let height = 0;
let imageSize = 0;
// Two painted images, each an RGBA buffer in the WebAssembly memory with the
// library's cursor on it: `front` holds the k shown, `back` is brought to
// k - 1 after each answer, so that a step down is ready and a step up is one
// move of the front cursor, which repaints only the split cluster.
let front = null;
let back = null;
// Nearest-colour images are painted whole for each k into a buffer of
// their own, so that the two cluster buffers and their cursors stay as they
// were for a switch back.
let nearest = null;
// The quality curves by remap, the nearest one made on first demand.
const curves = [null, null];

const ready = createTavrel({
  onProgress: (fraction) => {
    postMessage({ type: "progress", fraction });
    return true;
  },
}).then((module) => {
  M = module;
});

function statusText(status) {
  return M.UTF8ToString(M._tavrel_status_text(status));
}

// Scratch words in the WebAssembly memory for the calls' out parameters.
function withScratch(bytes, body) {
  const at = M._malloc(bytes);
  if (at === 0) throw new RangeError("out of memory");
  try {
    return body(at);
  } finally {
    M._free(at);
  }
}

function fail(what, status) {
  throw new Error(`${what}: ${statusText(status)}`);
}

function build({ rgba, width: w, height: h }) {
  const input = M._malloc(rgba.byteLength);
  if (input === 0) return { type: "failed", reason: "memory", colours: 0 };
  M.HEAPU8.set(new Uint8Array(rgba), input);
  const started = performance.now();
  const result = withScratch(8, (out) => {
    const status = M._tavrel_web_build(input, w, h, out, out + 4);
    return { status, handle: M.HEAPU32[out >> 2], count: M.HEAPU32[(out + 4) >> 2] };
  });
  const buildMs = performance.now() - started;
  M._free(input);
  if (result.status !== OK) {
    const reason = result.status === 2 ? "memory" : "other";
    return { type: "failed", reason, text: statusText(result.status), colours: result.count };
  }
  hierarchy = result.handle;
  colours = result.count;
  width = w;
  height = h;
  imageSize = M._tavrel_output_size(hierarchy, PIXELS_OUT.rgba, 0);
  front = { buffer: M._malloc(imageSize), cursor: 0, k: 0 };
  back = { buffer: M._malloc(imageSize), cursor: 0, k: 0 };
  if (front.buffer === 0 || back.buffer === 0) return { type: "failed", reason: "memory", colours };
  return { type: "built", colours, curve: curve(REMAP.cluster), buildMs };
}

function curve(remap) {
  if (curves[remap]) return curves[remap];
  const kmax = Math.min(colours, remap === REMAP.nearest ? NEAREST_CURVE_MAX : CURVE_MAX);
  curves[remap] = withScratch(8 * kmax, (out) => {
    const status = M._tavrel_mean_delta_e_remapped(hierarchy, remap, kmax, out, kmax);
    if (status !== OK) fail("quality curve", status);
    return new Float64Array(M.HEAPF64.buffer, out, kmax).slice();
  });
  return curves[remap];
}

function palette(k) {
  return withScratch(3 * k, (out) => {
    const status = M._tavrel_palette(hierarchy, k, out, 3 * k);
    if (status !== OK) fail("palette", status);
    return M.HEAPU8.slice(out, out + 3 * k);
  });
}

// Paints the image for k into a buffer: by its cursor when k lies a few
// steps ahead of it (each step repaints one cluster; many steps could cost
// more than one pass). Otherwise from scratch: with a new cursor when one is
// wanted for the steps up to come (its construction sorts the pixels by
// cluster, which costs more than the pass), by one plain pass when not.
const CURSOR_STEPS = 64;
function paintInto(image, k, wantCursor) {
  if (k === image.k) return;
  if (image.cursor !== 0 && k > image.k && k - image.k <= CURSOR_STEPS) {
    const status = M._tavrel_cursor_advance(image.cursor, k);
    if (status !== OK) fail("cursor", status);
  } else {
    M._tavrel_cursor_free(image.cursor);
    image.cursor = 0;
    if (wantCursor) {
      image.cursor = withScratch(4, (out) => {
        const status = M._tavrel_cursor_new(hierarchy, k, PIXELS_OUT.rgba, image.buffer, imageSize, 0, out);
        if (status !== OK) fail("paint", status);
        return M.HEAPU32[out >> 2];
      });
    } else {
      const status = M._tavrel_paint(hierarchy, k, PIXELS_OUT.rgba, image.buffer, imageSize, 0);
      if (status !== OK) fail("paint", status);
    }
  }
  image.k = k;
}

// The image for k, copied out for the page.
function show(k, remap) {
  let image;
  if (remap === REMAP.nearest) {
    nearest ??= { buffer: M._malloc(imageSize), k: 0 };
    if (nearest.buffer === 0) throw new RangeError("out of memory");
    if (nearest.k !== k) {
      const status = M._tavrel_paint_remapped(hierarchy, k, remap, PIXELS_OUT.rgba, nearest.buffer, imageSize, 0);
      if (status !== OK) fail("paint", status);
      nearest.k = k;
    }
    image = nearest;
  } else {
    if (k === back.k) [front, back] = [back, front];
    // A step up wants the cursor; a jump is painted in one pass.
    paintInto(front, k, k === front.k + 1);
    image = front;
  }
  const pixels = M.HEAPU8.slice(image.buffer, image.buffer + imageSize);
  return { type: "image", k, remap, pixels: pixels.buffer };
}

// After an answer by cluster: the back buffer to k - 1, by its cursor when
// it is behind.
function prepareStepDown() {
  if (front.k > 1) paintInto(back, front.k - 1, false);
}

// Palettes may repeat a colour, so the image for k can have fewer than k
// colours; painted by nearest colour it may also leave entries unused. One
// bit for each of the 2^24 colours, cleared again after use.
const seen = new Uint32Array(1 << 19);
function distinctColours(colours, stride) {
  let count = 0;
  for (let i = 0; i < colours.length; i += stride) {
    const c = (colours[i] << 16) | (colours[i + 1] << 8) | colours[i + 2];
    const bit = 1 << (c & 31);
    if ((seen[c >>> 5] & bit) === 0) {
      seen[c >>> 5] |= bit;
      count++;
    }
  }
  for (let i = 0; i < colours.length; i += stride) {
    seen[((colours[i] << 16) | (colours[i + 1] << 8) | colours[i + 2]) >>> 5] = 0;
  }
  return count;
}

function indices(k, remap) {
  const size = M._tavrel_output_size(hierarchy, PIXELS_OUT.index8, 0);
  return withScratch(size, (out) => {
    const status = M._tavrel_paint_remapped(hierarchy, k, remap, PIXELS_OUT.index8, out, size, 0);
    if (status !== OK) fail("indices", status);
    return M.HEAPU8.slice(out, out + size);
  });
}

// The smallest k whose mean difference is at most the target, or 0 where
// a nearest-colour answer would cost too long a walk (see NEAREST_WALK_MAX).
// At k = colours the image is the photo, so a curve to there always answers.
function fewest(target, remap) {
  if (remap === REMAP.nearest) {
    const k = curve(remap).findIndex((mean) => mean <= target) + 1;
    if (k > 0) return k;
    if (fewest(target, REMAP.cluster) > NEAREST_WALK_MAX) return 0;
  }
  return withScratch(4, (out) => {
    const status = M._tavrel_fewest_colours_remapped(hierarchy, remap, target, out);
    if (status !== OK) fail("fewest colours", status);
    return M.HEAPU32[out >> 2];
  });
}

onmessage = async ({ data }) => {
  await ready;
  let reply;
  try {
    switch (data.type) {
      case "build":
        reply = build(data);
        break;
      case "show": {
        reply = show(data.k, data.remap);
        const all = palette(data.k);
        // By cluster every entry paints some pixel; by nearest colour only
        // the image itself tells which do.
        reply.distinct = data.remap === REMAP.nearest ? distinctColours(new Uint8Array(reply.pixels), 4)
                                                      : distinctColours(all, 3);
        reply.palette = data.k <= data.swatches ? all : null;
        postMessage(reply, [reply.pixels]);
        if (data.remap === REMAP.cluster) prepareStepDown();
        return;
      }
      case "curve":
        reply = { type: "curve", remap: data.remap, curve: curve(data.remap) };
        break;
      case "palette":
        reply = { type: "palette", k: data.k, palette: palette(data.k) };
        break;
      case "png":
        reply = { type: "png", k: data.k, palette: palette(data.k), indices: indices(data.k, data.remap) };
        break;
      case "fewest":
        reply = { type: "fewest", target: data.target, k: fewest(data.target, data.remap),
                  byCluster: fewest(data.target, REMAP.cluster), curveEnd: curve(data.remap).length };
        break;
    }
  } catch (error) {
    const memory = error instanceof RangeError || /memory/i.test(String(error.message));
    reply = { type: "failed", reason: memory ? "memory" : "other", text: String(error.message) };
  }
  postMessage({ ...reply, request: data.type });
};
