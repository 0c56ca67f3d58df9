// The file formats the page reads and writes itself: raw PPM in and out, PNG
// out (indexed while the palette fits in 256 entries), and the palette as a
// GIMP palette or JSON. No network, no library: PNG's deflate comes from the
// browser's CompressionStream.

// Reads a binary PPM (P6, maxval 1..255) into RGBA with alpha 255. Throws an
// Error whose message says what is wrong, for the page to show as it is.
export function readPpm(bytes) {
  let pos = 0;
  const isSpace = (c) => c === 0x20 || c === 0x09 || c === 0x0a || c === 0x0d || c === 0x0b || c === 0x0c;
  if (bytes.length < 2 || bytes[0] !== 0x50 || bytes[1] !== 0x36) {
    throw new Error("not a binary PPM file (it does not start with P6)");
  }
  pos = 2;
  // Header fields are separated by white space, and a # starts a comment that
  // runs to the end of its line.
  const field = (name) => {
    for (;;) {
      while (pos < bytes.length && isSpace(bytes[pos])) pos++;
      if (bytes[pos] !== 0x23) break;
      while (pos < bytes.length && bytes[pos] !== 0x0a && bytes[pos] !== 0x0d) pos++;
    }
    const start = pos;
    let value = 0;
    while (pos < bytes.length && bytes[pos] >= 0x30 && bytes[pos] <= 0x39) {
      value = value * 10 + (bytes[pos] - 0x30);
      if (value > 0xffffffff) throw new Error(`the PPM header's ${name} is too large`);
      pos++;
    }
    if (pos === start) throw new Error(`the PPM header has no valid ${name}`);
    return value;
  };
  const width = field("width");
  const height = field("height");
  const maxval = field("maximum value");
  if (pos >= bytes.length || !isSpace(bytes[pos])) {
    throw new Error("the PPM header does not end in a white-space character");
  }
  pos++;
  if (width === 0 || height === 0) throw new Error("the PPM image has no pixels (width or height 0)");
  if (maxval < 1 || maxval > 255) {
    throw new Error(`the PPM maximum value is ${maxval}; only 8-bit files (1 to 255) are read`);
  }
  const samples = width * height * 3;
  if (bytes.length - pos < samples) {
    throw new Error(`the PPM file is truncated: its header claims ${samples} bytes of samples, ` +
                    `the file holds ${bytes.length - pos}`);
  }
  // A maxval below 255 is read as the numbers it holds, as the command line does.
  const rgba = new Uint8ClampedArray(width * height * 4);
  for (let i = 0, j = pos; i < rgba.length; i += 4, j += 3) {
    rgba[i] = bytes[j];
    rgba[i + 1] = bytes[j + 1];
    rgba[i + 2] = bytes[j + 2];
    rgba[i + 3] = 255;
  }
  return { width, height, rgba };
}

// The RGB bytes of RGBA pixels as a P6 file with maxval 255.
export function writePpm(width, height, rgba) {
  const header = new TextEncoder().encode(`P6\n${width} ${height}\n255\n`);
  const out = new Uint8Array(header.length + width * height * 3);
  out.set(header);
  for (let i = 0, j = header.length; i < width * height * 4; i += 4, j += 3) {
    out[j] = rgba[i];
    out[j + 1] = rgba[i + 1];
    out[j + 2] = rgba[i + 2];
  }
  return out;
}

const crcTable = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
  return out;
}

async function deflate(bytes) {
  const stream = new Blob([bytes]).stream().pipeThrough(new CompressionStream("deflate"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

// A PNG of the image: with a palette (rgb, 3 bytes an entry, at most 256
// entries) the pixels are one index byte each (indices: width × height);
// without one they are RGB taken from rgba. Every row has filter 0; the
// smallest bit depth that holds the indices is used.
export async function encodePng(width, height, { indices, palette, rgba }) {
  const indexed = palette !== undefined;
  let depth = 8;
  if (indexed) {
    const entries = palette.length / 3;
    depth = entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8;
  }
  const rowBytes = indexed ? Math.ceil((width * depth) / 8) : width * 3;
  const raw = new Uint8Array((rowBytes + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = y * (rowBytes + 1) + 1;
    if (indexed) {
      const perByte = 8 / depth;
      for (let x = 0; x < width; x++) {
        const shift = 8 - depth * ((x % perByte) + 1);
        raw[row + Math.floor(x / perByte)] |= indices[y * width + x] << shift;
      }
    } else {
      for (let x = 0; x < width; x++) {
        const s = (y * width + x) * 4;
        raw.set(rgba.subarray(s, s + 3), row + 3 * x);
      }
    }
  }
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header[8] = depth;
  header[9] = indexed ? 3 : 2;
  const parts = [new Uint8Array([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk("IHDR", header)];
  if (indexed) parts.push(chunk("PLTE", palette));
  parts.push(chunk("IDAT", await deflate(raw)), chunk("IEND", new Uint8Array(0)));
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length;
  }
  return out;
}

// A GIMP palette (.gpl): one line "R G B<TAB>name" an entry, in palette order.
export function gimpPalette(name, palette) {
  const lines = ["GIMP Palette", `Name: ${name}`, "Columns: 16", "#"];
  for (let i = 0; i < palette.length; i += 3) {
    const [r, g, b] = palette.subarray(i, i + 3);
    const cell = (v) => String(v).padStart(3, " ");
    lines.push(`${cell(r)} ${cell(g)} ${cell(b)}\t${hex(r, g, b)}`);
  }
  return lines.join("\n") + "\n";
}

// The palette as JSON: the entries in palette order as [R, G, B] and as hex.
export function jsonPalette(name, palette) {
  const colours = [];
  for (let i = 0; i < palette.length; i += 3) {
    const [r, g, b] = palette.subarray(i, i + 3);
    colours.push({ rgb: [r, g, b], hex: hex(r, g, b) });
  }
  return JSON.stringify({ name, colours: colours.length, palette: colours }, null, 1) + "\n";
}

export function hex(r, g, b) {
  return "#" + [r, g, b].map((v) => v.toString(16).padStart(2, "0")).join("");
}
