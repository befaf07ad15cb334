// The page: reads an image into plain RGBA pixels, keeps the controls as the options dialog keeps
// them, and hands each run to a worker. Only the latest settings matter: a run they make stale is
// ended, not waited for. The settings' limits, defaults, names, check and the sizes' order are the
// core's, asked of the module.

// Above this the source, the run's canvas and the result no longer fit a wasm32 module's memory
// comfortably (about 11 bytes a pixel in all).
const MAX_PIXELS = 100_000_000;

const $ = (id) => document.getElementById(id);
const controls = {
  density: $('density'),
  minSize: $('min-size'),
  maxSize: $('max-size'),
  white: $('white'),
  seed: $('seed'),
};
const resultCanvas = $('result');
const downloads = [$('download'), $('download-svg')];
const originalCanvas = $('original');

let wasmModule = null;
let workerUrl = null;  // the worker's script and the module's loader, as blob URLs
let loaderUrl = null;
let contract = null;  // the settings contract, from the module: see loadContract
let worker = null;
let source = null;  // {name, width, height, pixels}: alpha already 255 everywhere
let current = null;  // the run in flight
let lastResult = null;  // the run on show, for the downloads
let runs = 0;
let loading = Promise.resolve();
let imageRequested = false;
let markFilterReady;
const filterReady = new Promise((resolve) => { markFilterReady = resolve; });

// ---------------------------------------------------------------------------------------------
// Settings

// The page asks the contract of an instance of the module on its own thread: the worker may be in
// the middle of a run when a control moves, and the sizes' order must hold at once.
async function loadContract() {
  const {default: createMoxel} = await import(loaderUrl);
  const module = await createMoxel({
    locateFile: (name) => name,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
      return {};
    },
  });
  const text = (pointer) => module.UTF8ToString(pointer);
  const {fields, shapes} = JSON.parse(text(module._moxel_contract()));
  return {
    fields,
    shapes,
    // Why the options dialog would refuse these settings (white as 0 or 1); empty if it would not.
    check: ({shape, density, minSize, maxSize, white}) =>
      text(module._moxel_check(shape, density, minSize, maxSize, white)),
    // The other size once the size control `moved` (named as in `fields`) has moved.
    otherSize: (minSize, maxSize, moved) => module._moxel_other_size(
        minSize, maxSize, fields.findIndex(({name}) => name === moved)),
  };
}

// Each control is named after its field: the ranges' limits and the defaults come from the core.
function setUpControls() {
  for (const {name, lowest, highest, default: value} of contract.fields) {
    if (name === 'shape') {
      document.querySelector(`input[name=shape][value="${contract.shapes[value]}"]`).checked = true;
    } else if (name === 'white') {
      controls.white.checked = value === 1;
    } else {
      Object.assign($(name), {min: lowest, max: highest, value});
    }
  }
}

function settingsFromControls() {
  const checked = document.querySelector('input[name=shape]:checked');
  return {
    shape: contract.shapes.indexOf(checked.value),
    density: controls.density.valueAsNumber,
    minSize: controls.minSize.valueAsNumber,
    maxSize: controls.maxSize.valueAsNumber,
    white: controls.white.checked,
  };
}

function seedFromControl() {
  const value = Math.trunc(Number(controls.seed.value));
  return Number.isFinite(value) ? Math.min(Math.max(value, 0), 0xffffffff) : 0;
}

function showValues() {
  $('density-value').value = `${controls.density.value} %`;
  $('min-size-value').value = `${controls.minSize.value} px`;
  $('max-size-value').value = `${controls.maxSize.value} px`;
}

// The sizes never cross, by the core's rule: the one moved pushes or pulls the other along.
for (const [moved, other] of [[controls.minSize, controls.maxSize],
                              [controls.maxSize, controls.minSize]]) {
  moved.addEventListener('input', () => {
    if (contract === null) return;
    other.value = contract.otherSize(controls.minSize.valueAsNumber,
                                     controls.maxSize.valueAsNumber, moved.id);
  });
}

function randomSeed() {
  return crypto.getRandomValues(new Uint32Array(1))[0];
}

// ---------------------------------------------------------------------------------------------
// Runs

function startWorker() {
  worker = new Worker(workerUrl, {type: 'module'});
  worker.onmessage = ({data}) => onWorkerMessage(data);
  worker.onerror = (event) => {
    event.preventDefault();
    if (current) finish(current, new Error(`the filter stopped: ${event.message || 'worker error'}`));
  };
  worker.postMessage({type: 'init', wasmModule, loaderUrl});
}

function setStatus(text, percent) {
  $('status-text').textContent = text;
  $('progress').value = percent;
}

function finish(run, error) {
  if (current === run) current = null;
  $('stage').classList.toggle('busy', current !== null);
  for (const button of downloads) button.disabled = current !== null || error !== undefined;
  if (error) {
    setStatus(`Could not filter this image: ${error.message}`, 0);
    run.reject(error);
  } else {
    run.resolve();
  }
}

function onWorkerMessage(message) {
  const run = current;
  if (run === null || message.id !== run.id) return;  // from a run already given up
  if (message.type === 'progress') {
    setStatus(`Filtering ${run.width} × ${run.height}… ${message.percent} %`, message.percent);
  } else if (message.type === 'done') {
    const pixels = new Uint8ClampedArray(message.pixels);
    resultCanvas.getContext('2d').putImageData(new ImageData(pixels, run.width, run.height), 0, 0);
    lastResult = {...run, base: source.name.replace(/\.[^.]*$/, '') || 'image', source: source.pixels,
                  pixels};
    const seconds = (performance.now() - run.started) / 1000;
    setStatus(`Done in ${seconds.toFixed(2)} s · ${run.width} × ${run.height} · seed ${run.seed}`, 100);
    finish(run);
  } else {
    finish(run, new Error(message.reason));
  }
}

// The wasm run cannot be interrupted: its worker goes, and a fresh one waits for the next run.
function abandonRun() {
  if (current === null) return;
  worker.terminate();
  startWorker();
  const stale = current;
  current = null;
  stale.reject(new Error('superseded by newer settings'));
}

// Starts a run of the current settings on the loaded image, ending any run in flight. The promise
// resolves once canvas#result holds the result, and rejects if a newer run supersedes it.
function runFilter() {
  const run = {id: ++runs, settings: settingsFromControls(), seed: seedFromControl(),
               width: source.width, height: source.height, started: performance.now()};
  run.promise = new Promise((resolve, reject) => Object.assign(run, {resolve, reject}));
  abandonRun();
  current = run;
  $('stage').classList.add('busy');
  for (const button of downloads) button.disabled = true;
  setStatus(`Filtering ${run.width} × ${run.height}…`, 0);
  const pixels = source.pixels.slice();
  worker.postMessage({type: 'run', id: run.id, width: run.width, height: run.height,
                      settings: run.settings, seed: run.seed, pixels: pixels.buffer},
                     [pixels.buffer]);
  return run.promise;
}

function rerun() {
  showValues();
  if (source !== null && contract !== null) runFilter().catch(() => {});
}

// ---------------------------------------------------------------------------------------------
// Images

async function openImage(blob, name) {
  setStatus(`Opening ${name}…`, 0);
  let bitmap;
  try {
    // The file's own pixel values, whatever profile it carries, and never premultiplied: a PNG
    // without a profile then reaches the filter exactly as the command-line tool reads it.
    bitmap = await createImageBitmap(blob, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
  } catch {
    setStatus(`${name} is not an image this browser can read.`, 0);
    throw new Error(`cannot decode ${name}`);
  }
  const {width, height} = bitmap;
  if (width * height > MAX_PIXELS) {
    bitmap.close();
    setStatus(`${name} is ${width} × ${height}: images up to ${MAX_PIXELS / 1e6} megapixels can be filtered here.`, 0);
    throw new Error(`${name} is too large`);
  }
  // Transparent parts are laid over white, so every pixel the filter sees is opaque and the
  // canvas gives back exactly the bytes put into it.
  originalCanvas.width = width;
  originalCanvas.height = height;
  const context = originalCanvas.getContext('2d', {willReadFrequently: true});
  context.fillStyle = '#ffffff';
  context.fillRect(0, 0, width, height);
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  abandonRun();  // its result would not fit the new picture
  lastResult = null;
  source = {name, width, height, pixels: context.getImageData(0, 0, width, height).data};
  resultCanvas.width = width;
  resultCanvas.height = height;
  resultCanvas.getContext('2d').drawImage(originalCanvas, 0, 0);
  $('image-info').textContent = `${name} · ${width} × ${height} pixels`;
  window.moxelPage.image = {name, width, height};
}

// Resolves once the image is open and its first run has started.
function load(blob, name) {
  imageRequested = true;
  loading = openImage(blob, name).then(async () => {
    await filterReady;
    runFilter().catch(() => {});
  }, () => {});
  return loading;
}

$('image').addEventListener('change', () => {
  const file = $('image').files[0];
  if (file) load(file, file.name);
});

let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
  event.preventDefault();
  if (++dragDepth === 1) $('drop-overlay').hidden = false;
});
document.addEventListener('dragleave', () => {
  if (--dragDepth === 0) $('drop-overlay').hidden = true;
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  dragDepth = 0;
  $('drop-overlay').hidden = true;
  const file = event.dataTransfer.files[0];
  if (file) load(file, file.name);
});

// ---------------------------------------------------------------------------------------------
// The rest of the controls

for (const input of document.querySelectorAll('#controls input:not(#image)')) {
  input.addEventListener('input', rerun);
}
$('new-seed').addEventListener('click', () => {
  controls.seed.value = randomSeed();
  rerun();
});

// Each download is written by a worker of its own, from the result on show: the page stays free,
// and a run may go on meanwhile. The button shows how far it has got.
function download(button, kind) {
  const shown = lastResult;
  if (shown === null || button.dataset.busy) return;
  const label = button.textContent;
  button.dataset.busy = 'yes';
  const done = (text) => {
    job.terminate();
    delete button.dataset.busy;
    button.textContent = label;
    if (text) setStatus(text, 0);
  };
  const job = new Worker(workerUrl, {type: 'module'});
  job.onerror = (event) => {
    event.preventDefault();
    done(`Could not write the ${kind.toUpperCase()}: ${event.message || 'worker error'}`);
  };
  job.onmessage = ({data}) => {
    if (data.type === 'progress') {
      button.textContent = `Writing ${kind.toUpperCase()}… ${data.percent} %`;
    } else if (data.type === 'done') {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(data.blob);
      link.download = `${shown.base}-stippled.${kind}`;
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10_000);
      done();
    } else {
      done(`Could not write the ${kind.toUpperCase()}: ${data.reason}`);
    }
  };
  job.postMessage({type: 'init', wasmModule, loaderUrl});
  // The SVG draws its shapes from the picture the filter read, the PNG is the result.
  const pixels = (kind === 'svg' ? shown.source : shown.pixels).slice();
  job.postMessage({type: kind, id: 0, width: shown.width, height: shown.height,
                   settings: shown.settings, seed: shown.seed, pixels: pixels.buffer},
                  [pixels.buffer]);
}
$('download').addEventListener('click', (event) => download(event.currentTarget, 'png'));
$('download-svg').addEventListener('click', (event) => download(event.currentTarget, 'svg'));

const compare = $('compare');
const showOriginal = (shown) => {
  originalCanvas.hidden = !shown;
  resultCanvas.hidden = shown;
};
compare.addEventListener('pointerdown', () => showOriginal(true));
for (const type of ['pointerup', 'pointerleave', 'pointercancel']) {
  compare.addEventListener(type, () => showOriginal(false));
}
$('zoom').addEventListener('click', () => {
  const fit = $('stage').classList.toggle('fit');
  $('zoom').textContent = fit ? 'Actual pixels' : 'Fit to window';
});

// ---------------------------------------------------------------------------------------------
// The test hook, and start-up

window.moxelPage = {
  image: null,
  // Sets the controls to these settings and resolves once canvas#result holds their result for
  // the loaded image. shape: a name or its number; white: a boolean or 0/1; seed: 0..4294967295.
  // Settings the options dialog would refuse reject with the core's words, the page untouched.
  async apply({shape, density, minSize, maxSize, white, seed}) {
    await loading;
    if (source === null) throw new Error('no image loaded');
    const settings = {
      shape: typeof shape === 'string' ? contract.shapes.indexOf(shape) : shape,
      density, minSize, maxSize,
      white: typeof white === 'boolean' ? Number(white) : white,
    };
    if (settings.shape === -1) {
      throw new Error(`shape is ${shape}, not one of ${contract.shapes.join(', ')}`);
    }
    // The module takes 32-bit integers: anything else would reach it changed.
    for (const [name, value] of Object.entries(settings)) {
      if (value !== (value | 0)) throw new Error(`${name} is ${value}, not a whole number`);
    }
    const refused = contract.check(settings);
    if (refused) throw new Error(refused);
    if (!(Number.isInteger(seed) && seed >= 0 && seed <= 0xffffffff)) {
      throw new Error(`seed is ${seed}, outside its range 0 to 4294967295`);
    }
    document.querySelector(`input[name=shape][value="${contract.shapes[settings.shape]}"]`)
        .checked = true;
    controls.density.value = density;
    controls.minSize.value = minSize;
    controls.maxSize.value = maxSize;
    controls.white.checked = settings.white === 1;
    controls.seed.value = seed;
    showValues();
    return runFilter();
  },
};

async function start() {
  controls.seed.value = randomSeed();
  try {
    const fetched = await Promise.all(['moxel.wasm', 'worker.js', 'moxel.mjs'].map(async (name) => {
      const response = await fetch(name);
      if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
      return response.arrayBuffer();
    }));
    wasmModule = await WebAssembly.compile(fetched[0]);
    const script = (bytes) => URL.createObjectURL(new Blob([bytes], {type: 'text/javascript'}));
    workerUrl = script(fetched[1]);
    loaderUrl = script(fetched[2]);
    contract = await loadContract();
  } catch (error) {
    setStatus(`The filter could not be loaded (${error.message}). Serve this page over http.`, 0);
    return;
  }
  setUpControls();
  showValues();
  startWorker();
  markFilterReady();
  // A file opened while the filter was loading wins over the sample.
  if (!imageRequested) {
    try {
      const response = await fetch('sample.jpg');
      if (!response.ok) throw new Error(response.statusText);
      const sample = await response.blob();
      if (!imageRequested) await load(sample, 'sample.jpg');
    } catch {
      setStatus('Open an image to start.', 0);
    }
  }
}

start();
