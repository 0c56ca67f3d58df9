// Helpers of the page's tests: reading the command line's dumps and decoding
// PNG files independently of the page's own code.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, symlinkSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { inflateSync } from "node:zlib";

// A P6 file with maxval 255 as { width, height, rgb }.
export function readDump(path) {
  const bytes = readFileSync(path);
  const text = bytes.subarray(0, 64).toString("latin1");
  const match = /^P6\s+(\d+)\s+(\d+)\s+255\s/.exec(text);
  if (!match) throw new Error(`${path}: not a P6 file with maxval 255`);
  const width = Number(match[1]);
  const height = Number(match[2]);
  return { width, height, rgb: bytes.subarray(match[0].length, match[0].length + width * height * 3) };
}

export function rgbOfRgba(rgba) {
  const rgb = Buffer.alloc((rgba.length / 4) * 3);
  for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
    rgb[j] = rgba[i];
    rgb[j + 1] = rgba[i + 1];
    rgb[j + 2] = rgba[i + 2];
  }
  return rgb;
}

// The command line's dumps 2..limit of a photo, in a fresh folder; returns
// a function from k to the dump's RGB bytes.
export function commandLineDumps(binary, photo, limit) {
  const folder = mkdtempSync(join(tmpdir(), "tavrel-web-dumps-"));
  symlinkSync(resolve(photo), join(folder, "input.ppm"));
  execFileSync(resolve(binary), ["-Q0", `-C${limit}`, "input.ppm", "out"], { cwd: folder });
  return (k) => readDump(join(folder, `dump${k}_out.ppm`)).rgb;
}

// Decodes the PNG files the page writes: 8-bit RGB or palette images of
// depth 1, 2, 4 or 8, not interlaced, every row with filter 0 (the page
// writes no other filter, so any other byte is an error here).
export function decodePng(bytes) {
  const signature = "89504e470d0a1a0a";
  if (bytes.subarray(0, 8).toString("hex") !== signature) throw new Error("not a PNG signature");
  let pos = 8;
  let header;
  let palette = null;
  const data = [];
  while (pos < bytes.length) {
    const length = bytes.readUInt32BE(pos);
    const type = bytes.subarray(pos + 4, pos + 8).toString("latin1");
    const body = bytes.subarray(pos + 8, pos + 8 + length);
    if (type === "IHDR") {
      header = { width: body.readUInt32BE(0), height: body.readUInt32BE(4), depth: body[8],
                 colourType: body[9], interlace: body[12] };
    } else if (type === "PLTE") {
      palette = Buffer.from(body);
    } else if (type === "IDAT") {
      data.push(body);
    }
    pos += 12 + length;
  }
  const { width, height, depth, colourType } = header;
  const raw = inflateSync(Buffer.concat(data));
  const indexed = colourType === 3;
  const rowBytes = indexed ? Math.ceil((width * depth) / 8) : width * 3;
  const rgb = Buffer.alloc(width * height * 3);
  const indices = indexed ? Buffer.alloc(width * height) : null;
  for (let y = 0; y < height; y++) {
    const row = y * (rowBytes + 1);
    if (raw[row] !== 0) throw new Error(`row ${y} has filter ${raw[row]}`);
    for (let x = 0; x < width; x++) {
      const out = 3 * (y * width + x);
      if (indexed) {
        const bit = x * depth;
        const index = (raw[row + 1 + (bit >> 3)] >> (8 - depth - (bit & 7))) & ((1 << depth) - 1);
        indices[y * width + x] = index;
        palette.copy(rgb, out, 3 * index, 3 * index + 3);
      } else {
        raw.copy(rgb, out, row + 1 + 3 * x, row + 4 + 3 * x);
      }
    }
  }
  return { ...header, palette, indices, rgb };
}

// A truecolour PNG of RGB bytes, written here so that the page's decoding of
// a PNG is tested with a file the page did not make.
export function encodeRgbPng(width, height, rgb, deflate) {
  const rows = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) rgb.copy(rows, y * (width * 3 + 1) + 1, y * width * 3, (y + 1) * width * 3);
  const chunk = (type, body) => {
    const out = Buffer.alloc(12 + body.length);
    out.writeUInt32BE(body.length, 0);
    out.write(type, 4, "latin1");
    body.copy(out, 8);
    out.writeUInt32BE(crc(out.subarray(4, 8 + body.length)), 8 + body.length);
    return out;
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;
  ihdr[9] = 2;
  return Buffer.concat([Buffer.from("89504e470d0a1a0a", "hex"), chunk("IHDR", ihdr),
                        chunk("IDAT", deflate(rows)), chunk("IEND", Buffer.alloc(0))]);
}

function crc(bytes) {
  let c = ~0;
  for (const byte of bytes) {
    c ^= byte;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  }
  return ~c >>> 0;
}

export function distinctColours(rgb) {
  const seen = new Set();
  for (let i = 0; i < rgb.length; i += 3) seen.add((rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2]);
  return seen;
}
