// Works off the page's thread: decodes images, runs the filter and encodes the downloads. One
// worker serves one job at a time; the page ends a worker whose run a newer setting has made stale
// (a run cannot be stopped from inside) and starts a worker of its own for each image and each
// download. The page hands over the module it compiled, so a new worker compiles nothing.
//
// The worker that decoded the image on show keeps its pixels, and hands each run and download a
// copy of its own through a port: copying 48 MB of a 12-megapixel picture takes a fifth of a
// second, which the page's thread must never spend.
import {reducedSize} from './view.js';

let moxel = null;
let kept = null;  // the decoded picture's RGBA pixels
const wanted = new Map();  // for each purpose, the newest port waiting for a copy
let serving = false;

const post = (message, transfer = []) => self.postMessage(message, transfer);

// The filter's module, or a message saying why it is missing.
async function filterModule(id) {
  try {
    return await moxel;
  } catch (error) {
    post({type: 'failed', id, reason: `the filter did not load (${error.message})`});
    return null;
  }
}

// The picture's pixels, from the worker that keeps them.
const received = (port) => new Promise((resolve) => {
  port.onmessage = ({data}) => {
    port.close();
    resolve(new Uint8Array(data));
  };
});

// Only the newest request of each purpose is served: the runs a drag makes stale are gone by now.
function serve() {
  serving = false;
  for (const port of wanted.values()) {
    const copy = kept.slice(0);
    port.postMessage(copy, [copy]);
    port.close();
  }
  wanted.clear();
}

// The picture as the page's viewer draws it when reduced, scaled here with the browser's best
// filter so that the page's thread only copies it (scaling 12 megapixels there takes 30 to 70 ms);
// null when the viewer draws it at full size or enlarged.
async function preview(bitmap, view) {
  const size = view ? reducedSize(bitmap.width, bitmap.height, view) : null;
  return size && createImageBitmap(bitmap, {resizeWidth: size.width, resizeHeight: size.height,
                                            resizeQuality: 'high'});
}
const bitmaps = (...list) => list.filter((bitmap) => bitmap);

// Copies `bytes` into the module's memory; 0 when there is no room.
function copyIn(module, bytes) {
  const pointer = module._malloc(bytes.length);
  if (pointer !== 0) module.HEAPU8.set(bytes, pointer);
  return pointer;
}

const handlers = {
  init({wasmModule}) {
    moxel = import('./moxel.mjs').then(({default: createMoxel}) => createMoxel({
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
        return {};
      },
    }));
  },

  async run({id, width, height, settings, seed, view, port}) {
    const module = await filterModule(id);
    if (module === null) return;
    const pixels = await received(port);
    const pointer = copyIn(module, pixels);
    if (pointer === 0) {
      post({type: 'failed', id, reason: 'not enough memory for this image'});
      return;
    }
    let reported = -1;
    module.onProgress = (percent) => {
      if (percent !== reported) post({type: 'progress', id, percent: reported = percent});
    };
    const status = module._moxel_stipple(pointer, width, height, settings.shape, settings.density,
                                         settings.minSize, settings.maxSize, settings.white ? 1 : 0,
                                         seed >>> 0);
    // Memory may have grown during the run: HEAPU8 is read again, not kept from before.
    if (status === 0) pixels.set(module.HEAPU8.subarray(pointer, pointer + pixels.length));
    module._free(pointer);
    if (status === 0) {
      // Ready to draw, without a conversion on the page's thread.
      const bitmap = await createImageBitmap(
          new ImageData(new Uint8ClampedArray(pixels.buffer), width, height));
      const reduced = await preview(bitmap, view);
      post({type: 'done', id, pixels: pixels.buffer, bitmap, preview: reduced},
           [pixels.buffer, ...bitmaps(bitmap, reduced)]);
    } else {
      // The core's words: a refused setting, an image too large or too little memory.
      post({type: 'failed', id, reason: module.UTF8ToString(module._moxel_describe())});
    }
  },

  // The file's own pixel values, whatever profile it carries, and never premultiplied: a PNG
  // without a profile then reaches the filter exactly as the command-line tool reads it.
  // Transparent parts are laid over white, so every pixel the filter sees is opaque. A picture
  // over the limit is refused from its header where its format is known here, before decoding.
  async decode({blob, maxPixels, view}) {
    const size = await headerSize(blob).catch(() => null);
    if (size !== null && size.width * size.height > maxPixels) {
      post({type: 'refused', ...size});
      return;
    }
    let bitmap;
    try {
      bitmap = await createImageBitmap(blob, {colorSpaceConversion: 'none',
                                              premultiplyAlpha: 'none'});
    } catch {
      post({type: 'failed'});
      return;
    }
    const {width, height} = bitmap;
    if (width * height > maxPixels) {
      bitmap.close();
      post({type: 'refused', width, height});
      return;
    }
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d', {willReadFrequently: true});
    context.fillStyle = '#ffffff';
    context.fillRect(0, 0, width, height);
    context.drawImage(bitmap, 0, 0);
    bitmap.close();
    const image = context.getImageData(0, 0, width, height);
    // Made from the pixels, the bitmap is ready to draw; the canvas's own would be read back on
    // the page's thread first.
    const shown = await createImageBitmap(image);
    const reduced = await preview(shown, view);
    kept = image.data.buffer;
    post({type: 'decoded', width, height, bitmap: shown, preview: reduced},
         bitmaps(shown, reduced));
  },

  send({purpose, port}) {
    wanted.get(purpose)?.close();
    wanted.set(purpose, port);
    if (!serving) {
      serving = true;
      setTimeout(serve);
    }
  },

  // The result comes lent by the page, and goes back with the file.
  async png({id, width, height, pixels}) {
    const blob = await encodePng(new Uint8Array(pixels), width, height,
                                 (percent) => post({type: 'progress', id, percent}));
    post({type: 'done', id, blob, pixels}, [pixels]);
  },

  // The run's shapes as vectors, over the picture the filter read (as a PNG inside the document)
  // or over white, as the run paints them.
  async svg({id, width, height, settings, seed, port}) {
    const module = await filterModule(id);
    if (module === null) return;
    const pixels = await received(port);
    let href = '';
    if (!settings.white) {
      const picture = await encodePng(pixels, width, height,
                                      (percent) => post({type: 'progress', id, percent: percent >> 1}));
      href = new FileReaderSync().readAsDataURL(picture);
    }
    const hrefBytes = new TextEncoder().encode(`${href}\0`);
    const source = copyIn(module, pixels);
    const hrefPointer = source === 0 ? 0 : copyIn(module, hrefBytes);
    if (hrefPointer === 0) {
      post({type: 'failed', id, reason: 'not enough memory for this image'});
      return;
    }
    post({type: 'progress', id, percent: 50});
    const status = module._moxel_svg(source, width, height, settings.shape, settings.density,
                                     settings.minSize, settings.maxSize, settings.white ? 1 : 0,
                                     seed >>> 0, hrefPointer);
    module._free(hrefPointer);
    module._free(source);
    if (status !== 0) {
      post({type: 'failed', id, reason: module.UTF8ToString(module._moxel_describe())});
      return;
    }
    const text = module._moxel_svg_text();
    const blob = new Blob([module.HEAPU8.subarray(text, text + module._moxel_svg_length())],
                          {type: 'image/svg+xml'});
    post({type: 'done', id, blob});
  },
};

self.onmessage = ({data}) => handlers[data.type]?.(data);

// ---------------------------------------------------------------------------------------------
// A picture's size from its header, for PNG, JPEG, GIF, WebP and BMP; null for other formats.

async function headerSize(blob) {
  const bytes = async (at, length) => new Uint8Array(await blob.slice(at, at + length).arrayBuffer());
  const head = await bytes(0, 32);
  const view = new DataView(head.buffer);
  const text = (at, length) => String.fromCharCode(...head.subarray(at, at + length));
  if (text(1, 3) === 'PNG' && text(12, 4) === 'IHDR') {
    return {width: view.getUint32(16), height: view.getUint32(20)};
  }
  if (text(0, 4) === 'GIF8') return {width: view.getUint16(6, true), height: view.getUint16(8, true)};
  if (text(0, 2) === 'BM') {
    return {width: Math.abs(view.getInt32(18, true)), height: Math.abs(view.getInt32(22, true))};
  }
  if (text(0, 4) === 'RIFF' && text(8, 4) === 'WEBP') {
    const kind = text(12, 4);
    if (kind === 'VP8 ') return {width: view.getUint16(26, true) & 0x3fff,
                                 height: view.getUint16(28, true) & 0x3fff};
    if (kind === 'VP8L') {
      const bits = view.getUint32(21, true);
      return {width: (bits & 0x3fff) + 1, height: ((bits >>> 14) & 0x3fff) + 1};
    }
    if (kind === 'VP8X') {
      const size = (at) => (head[at] | head[at + 1] << 8 | head[at + 2] << 16) + 1;
      return {width: size(24), height: size(27)};
    }
    return null;
  }
  if (head[0] !== 0xff || head[1] !== 0xd8) return null;
  // A JPEG's size is in its frame header (SOF), after any number of other segments.
  for (let at = 2, segments = 0; at < blob.size && segments < 1000; ++segments) {
    const marker = await bytes(at, 9);
    if (marker[0] !== 0xff) return null;
    const type = marker[1];
    if (type === 0xff) {  // fill byte
      ++at;
      continue;
    }
    if (type >= 0xc0 && type <= 0xcf && type !== 0xc4 && type !== 0xc8 && type !== 0xcc) {
      return {width: marker[7] << 8 | marker[8], height: marker[5] << 8 | marker[6]};
    }
    at += 2 + (marker[2] << 8 | marker[3]);
  }
  return null;
}

// ---------------------------------------------------------------------------------------------
// PNG, written here rather than by a canvas: a canvas always writes RGBA, which for an opaque
// picture is close to twice the size of the same pixels as RGB.

const CRC_TABLE = new Int32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});

function chunk(type, data) {
  const bytes = new Uint8Array(12 + data.length);
  const view = new DataView(bytes.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; ++i) bytes[4 + i] = type.charCodeAt(i);
  bytes.set(data, 8);
  let crc = -1;
  for (let i = 4; i < 8 + data.length; ++i) crc = CRC_TABLE[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
  view.setUint32(8 + data.length, ~crc >>> 0);
  return bytes;
}

// RGB unless some pixel is not opaque; each row filtered by the one above (PNG's "Up"), which
// leaves the flat insides of shapes as runs of zeros. Reports progress in percent as rows go.
async function encodePng(rgba, width, height, onProgress) {
  let alpha = false;
  for (let i = 3; i < rgba.length && !alpha; i += 4) alpha = rgba[i] !== 255;
  const channels = alpha ? 4 : 3;
  const rowBytes = width * channels;
  const deflate = new CompressionStream('deflate');
  const compressed = new Response(deflate.readable).arrayBuffer();
  const writer = deflate.writable.getWriter();
  const rowsPerBatch = Math.max(1, Math.floor((4 << 20) / (rowBytes + 1)));
  let above = new Uint8Array(rowBytes);
  let row = new Uint8Array(rowBytes);
  let reported = -1;
  for (let top = 0; top < height; top += rowsPerBatch) {
    const rows = Math.min(rowsPerBatch, height - top);
    const batch = new Uint8Array(rows * (rowBytes + 1));
    for (let y = 0; y < rows; ++y) {
      let from = (top + y) * width * 4;
      if (alpha) {
        row = rgba.subarray(from, from + rowBytes);
      } else {
        for (let x = 0; x < rowBytes; x += 3, from += 4) {
          row[x] = rgba[from];
          row[x + 1] = rgba[from + 1];
          row[x + 2] = rgba[from + 2];
        }
      }
      const out = y * (rowBytes + 1);
      batch[out] = 2;  // Up
      for (let x = 0; x < rowBytes; ++x) batch[out + 1 + x] = row[x] - above[x];
      [above, row] = [row, above];
    }
    await writer.write(batch);
    const percent = Math.floor((top + rows) * 100 / height);
    if (percent !== reported) onProgress(reported = percent);
  }
  await writer.close();
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width);
  view.setUint32(4, height);
  header.set([8, alpha ? 6 : 2, 0, 0, 0], 8);
  return new Blob([new Uint8Array([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
                   chunk('IHDR', header), chunk('IDAT', new Uint8Array(await compressed)),
                   chunk('IEND', new Uint8Array(0))], {type: 'image/png'});
}
