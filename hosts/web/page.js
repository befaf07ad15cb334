// The page: keeps the controls as the options dialog keeps them, shows the picture and hands all
// heavy work to workers (worker.js): decoding an image, each run, each download. Only the latest
// settings and the latest image matter: a run they make stale is ended, not waited for, and an
// image opened behind another is never shown. The settings' limits, defaults, names, check and the
// sizes' order are the core's, asked of the module.

import {reducedSize, shownScale} from './view.js';

// Above this the source, the run's canvas and the result no longer fit a wasm32 module's memory
// comfortably (about 11 bytes a pixel in all).
const MAX_PIXELS = 100_000_000;
// Every host takes the seeds GIMP's parameter can hold, so that a seed travels between them.

const $ = (id) => document.getElementById(id);
const controls = {
  density: $('density'),
  minSize: $('min-size'),
  maxSize: $('max-size'),
  white: $('white'),
  seed: $('seed'),
};
const resultCanvas = $('result');
const stage = $('stage');
const downloads = [$('download'), $('download-svg')];

let wasmModule = null;
let contract = null;  // the settings contract, from the module: see loadContract
let worker = null;
let source = null;  // {name, width, height}
let keeper = null;  // the worker that decoded the image on show, which keeps its pixels
let current = null;  // the run in flight
let lastResult = null;  // the run on show, for the downloads
let runs = 0;
let loading = Promise.resolve();
let imageRequested = false;
let markFilterReady;
const filterReady = new Promise((resolve) => { markFilterReady = resolve; });

// Workers are made from the same script; each job says what it is for.
const newWorker = () => new Worker('worker.js', {type: 'module'});

// ---------------------------------------------------------------------------------------------
// Settings

// The page asks the contract of an instance of the module on its own thread: the worker may be in
// the middle of a run when a control moves, and the sizes' order must hold at once.
async function loadContract() {
  const {default: createMoxel} = await import('./moxel.mjs');
  const module = await createMoxel({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
      return {};
    },
  });
  const text = (pointer) => module.UTF8ToString(pointer);
  const {fields, shapes, seed} = JSON.parse(text(module._moxel_contract()));
  return {
    fields,
    shapes,
    seed,
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
  Object.assign(controls.seed, {min: contract.seed.lowest, max: contract.seed.highest});
  seedHint.textContent = seedHintWords();
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

// The seed field's text as a seed, or null when it is none.
function seedFromControl() {
  const text = controls.seed.value.trim();
  const value = Number(text);
  return /^\d+$/.test(text) && contract !== null && value <= contract.seed.highest ? value : null;
}

const seedHint = $('seed-hint');
const seedHintWords = () =>
  `${contract.seed.lowest} to ${contract.seed.highest}: the same seed and settings give the same picture`;
function showSeedProblem(words) {
  controls.seed.setAttribute('aria-invalid', String(words !== ''));
  seedHint.textContent = words || seedHintWords();
  seedHint.classList.toggle('problem', words !== '');
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
  return crypto.getRandomValues(new Uint32Array(1))[0] % (contract.seed.highest + 1);
}

// ---------------------------------------------------------------------------------------------
// Runs

// The worker for the next run is made ahead, in a task of its own: a run's start, which a drag
// asks for every frame, then only hands it the run.
let spare = null;
function filterWorker() {
  const job = newWorker();
  job.postMessage({type: 'init', wasmModule});
  return job;
}
function startWorker() {
  worker = spare ?? filterWorker();
  spare = null;
  setTimeout(() => { spare ??= filterWorker(); });
  worker.onmessage = ({data}) => onWorkerMessage(data);
  worker.onerror = (event) => {
    event.preventDefault();
    if (current) finish(current, new Error(`the filter stopped: ${event.message || 'worker error'}`));
  };
}

function setStatus(text, percent) {
  $('status-text').textContent = text;
  $('progress').value = percent;
}

function finish(run, error) {
  if (current === run) current = null;
  const busy = current !== null || runRequest !== null;
  stage.classList.toggle('busy', busy);
  for (const button of downloads) button.disabled = busy || error !== undefined;
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
    // The worker made the picture ready to draw, and scaled for the viewer: the page only copies
    // the part in sight.
    showResult(message);
    lastResult = {...run, source, pixels: message.pixels};
    const seconds = (performance.now() - run.started) / 1000;
    setStatus(`Done in ${seconds.toFixed(2)} s · ${run.width} × ${run.height} · seed ${run.seed}`, 100);
    finish(run);
  } else {
    finish(run, new Error(message.reason));
  }
}

// The wasm run cannot be interrupted: its worker goes, and a fresh one waits for the next run.
// Ending a busy worker held the page's thread for 15 to 25 ms, so it is ended in a task of
// its own, unheard from meanwhile.
function abandonRun() {
  cancelRunRequest();
  if (current === null) return;
  const busy = worker;
  busy.onmessage = busy.onerror = null;
  setTimeout(() => busy.terminate());
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
  stage.classList.add('busy');
  for (const button of downloads) button.disabled = true;
  setStatus(`Filtering ${run.width} × ${run.height}…`, 0);
  const port = sourcePort('run');
  worker.postMessage({type: 'run', id: run.id, width: run.width, height: run.height,
                      settings: run.settings, seed: run.seed, view: viewSettings(), port}, [port]);
  return run.promise;
}

// A port on which the keeper of the image's pixels sends a copy, for a run or a download.
function sourcePort(purpose) {
  const channel = new MessageChannel();
  keeper.postMessage({type: 'send', purpose, port: channel.port1}, [channel.port1]);
  return channel.port2;
}

// A dragged slider sends many changes a frame: only the last of each frame starts a run, in a
// task after the frame's, so that the two do not add up to one long task.
let runRequest = null;
function cancelRunRequest() {
  if (runRequest === null) return;
  cancelAnimationFrame(runRequest.frame);
  clearTimeout(runRequest.task);
  runRequest = null;
}
function rerun() {
  showValues();
  if (source === null || contract === null || runRequest !== null) return;
  // Until that run starts, what is on show is already stale.
  for (const button of downloads) button.disabled = true;
  const request = {};
  request.frame = requestAnimationFrame(() => {
    request.task = setTimeout(() => {
      runRequest = null;
      if (seedFromControl() !== null) runFilter().catch(() => {});
    });
  });
  runRequest = request;
}

// ---------------------------------------------------------------------------------------------
// Images

// Decodes in a worker of its own, which goes on keeping the pixels when they are shown; a newer
// open ends it, and its answer is then 'superseded'.
let decoding = null;
function decode(blob) {
  decoding?.cancel();
  return new Promise((resolve) => {
    const job = newWorker();
    const entry = {
      cancel: () => end({type: 'superseded'}),
    };
    const end = (answer) => {
      if (answer.type !== 'decoded') job.terminate();
      if (decoding === entry) decoding = null;
      resolve({...answer, job});
    };
    decoding = entry;
    job.onmessage = ({data}) => end(data);
    job.onerror = (event) => {
      event.preventDefault();
      end({type: 'failed'});
    };
    job.postMessage({type: 'decode', blob, maxPixels: MAX_PIXELS, view: viewSettings()});
  });
}

async function openImage(blob, name) {
  setStatus(`Opening ${name}…`, 0);
  const answer = await decode(blob);
  if (answer.type === 'superseded') throw new Error(`${name} was replaced by a newer image`);
  if (answer.type === 'refused') {
    setStatus(`${name} is ${answer.width} × ${answer.height}: images up to ` +
              `${MAX_PIXELS / 1e6} megapixels can be filtered here.`, 0);
    throw new Error(`${name} is too large`);
  }
  if (answer.type !== 'decoded') {
    setStatus(`${name} is not an image this browser can read.`, 0);
    throw new Error(`cannot decode ${name}`);
  }
  const {width, height, job} = answer;
  abandonRun();  // its result would not fit the new picture
  lastResult = null;
  keeper?.terminate();
  keeper = job;
  source = {name, width, height};
  // The original is shown until the first result.
  resultReady = false;
  setPicture('original', answer);
  stage.style.setProperty('--aspect', String(height / width));
  setZoom(zoom);
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

$('open').addEventListener('click', () => $('image').click());
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

$('controls').addEventListener('submit', (event) => event.preventDefault());
for (const input of document.querySelectorAll('#controls input:not(#image, #seed)')) {
  input.addEventListener('input', rerun);
}
// A seed out of range is refused while it is typed, and corrected to the nearest seed once left.
controls.seed.addEventListener('input', () => {
  const seed = seedFromControl();
  showSeedProblem(seed === null ? `${controls.seed.value || 'An empty field'} is not a seed: ` +
                                  `seeds are whole numbers from 0 to ${contract.seed.highest}.` : '');
  if (seed !== null) rerun();
});
controls.seed.addEventListener('change', () => {
  if (seedFromControl() !== null) return;
  const typed = controls.seed.value;
  const number = Math.trunc(Number(typed));
  controls.seed.value = Number.isFinite(number) ? Math.min(Math.max(number, 0), contract.seed.highest) : 0;
  showSeedProblem('');
  seedHint.textContent = `${typed || 'An empty field'} is not a seed: using ${controls.seed.value}.`;
  rerun();
});
$('new-seed').addEventListener('click', () => {
  controls.seed.value = randomSeed();
  showSeedProblem('');
  rerun();
});

// Each download is written by a worker of its own, from the result on show: the page stays free,
// and a run may go on meanwhile. The button shows how far it has got.
function download(button, kind) {
  const shown = lastResult;
  if (shown === null || shown.pixels === null || button.dataset.busy) return;
  const label = button.textContent;
  button.dataset.busy = 'yes';
  const job = newWorker();
  const done = (text) => {
    job.terminate();
    delete button.dataset.busy;
    button.textContent = label;
    if (text) setStatus(text, 0);
  };
  job.onerror = (event) => {
    event.preventDefault();
    done(`Could not write the ${kind.toUpperCase()}: ${event.message || 'worker error'}`);
  };
  job.onmessage = ({data}) => {
    if (data.type === 'progress') {
      button.textContent = `Writing ${kind.toUpperCase()}… ${data.percent} %`;
    } else if (data.type === 'done') {
      if (data.pixels) shown.pixels = data.pixels;
      const link = document.createElement('a');
      link.href = URL.createObjectURL(data.blob);
      link.download = `${shown.source.name.replace(/\.[^.]*$/, '') || 'image'}-stippled.${kind}`;
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10_000);
      done();
    } else {
      done(`Could not write the ${kind.toUpperCase()}: ${data.reason}`);
    }
  };
  // The SVG draws its shapes from the picture the filter read; the PNG is the result, lent to
  // the worker and given back with the file.
  const request = {type: kind, id: 0, width: shown.width, height: shown.height,
                settings: shown.settings, seed: shown.seed};
  if (kind === 'svg') {
    job.postMessage({type: 'init', wasmModule});
    request.port = sourcePort('svg');
    job.postMessage(request, [request.port]);
  } else {
    request.pixels = shown.pixels;
    shown.pixels = null;
    job.postMessage(request, [request.pixels]);
  }
}
$('download').addEventListener('click', (event) => download(event.currentTarget, 'png'));
$('download-svg').addEventListener('click', (event) => download(event.currentTarget, 'svg'));

// Hold to compare, with the pointer or with Space or Enter.
const compare = $('compare');
let comparing = false;
const showOriginal = (shown) => {
  comparing = shown;
  schedulePaint();
  compare.setAttribute('aria-pressed', String(shown));
};
compare.addEventListener('pointerdown', () => showOriginal(true));
for (const type of ['pointerup', 'pointerleave', 'pointercancel', 'blur']) {
  compare.addEventListener(type, () => showOriginal(false));
}
const isPress = (event) => event.key === ' ' || event.key === 'Enter';
compare.addEventListener('keydown', (event) => {
  if (!isPress(event)) return;
  event.preventDefault();
  showOriginal(true);
});
compare.addEventListener('keyup', (event) => {
  if (!isPress(event)) return;
  event.preventDefault();
  showOriginal(false);
});

// ---------------------------------------------------------------------------------------------
// The viewer: the whole picture, or a scale from 5 % to 3200 % kept around a point (the pointer's
// for the wheel, the stage's middle otherwise).
//
// Only the part in sight is drawn, on a canvas the size of the stage: a 12-megapixel canvas on
// show cost the page's thread a few tenths of a second to make ready, and as much again each
// time its frame changed. #extent has the size of the picture at its scale and scrolls; #view
// keeps still over it. A reduced picture comes from its worker scaled for the scale on show when
// it was made; at any other it is scaled here.

const ZOOM_RANGE = [0.05, 32];
let zoom = 'fit';
const view = $('view');
const extent = $('extent');
// Each {bitmap, preview}: full size, and reduced as the viewer showed it when the picture came.
const pictures = {original: null, result: null};
let resultReady = false;  // the result is of the image on show
// The scale (CSS pixels a picture pixel) and the picture's top left corner in #extent.
let placement = {scale: 1, x: 0, y: 0};

function setPicture(kind, {bitmap, preview}) {
  pictures[kind]?.bitmap.close();
  pictures[kind]?.preview?.close();
  pictures[kind] = {bitmap, preview};
  schedulePaint();
}

// The room the stage leaves a picture at 'fit', in CSS pixels: kept from the last layout, so that
// asking for it makes no layout of its own.
let room = {width: 1, height: 1};
// What the workers need to scale a picture as the viewer would show it now.
const viewSettings = () => ({zoom, room, ratio: devicePixelRatio});

// Sizes #extent for the picture at its scale, with a margin around it; a picture smaller than the
// stage sits in its middle. Scroll bars coming or going change the room, so until it settles.
function layOut() {
  const {width, height} = source ?? {width: 1, height: 1};
  const gap = parseFloat(getComputedStyle(stage).getPropertyValue('--gap')) || 0;
  let client = null;
  for (let pass = 0; pass < 3 && (client === null || client[0] !== stage.clientWidth ||
                                 client[1] !== stage.clientHeight); ++pass) {
    client = [stage.clientWidth, stage.clientHeight];
    room = {width: client[0] - 2 * gap, height: client[1] - 2 * gap};
    const scale = shownScale(width, height, viewSettings());
    const [shownWidth, shownHeight] = [width * scale, height * scale];
    const extentWidth = Math.max(client[0], shownWidth + 2 * gap);
    const extentHeight = Math.max(client[1], shownHeight + 2 * gap);
    Object.assign(extent.style, {width: `${extentWidth}px`, height: `${extentHeight}px`});
    Object.assign(view.style, {width: `${client[0]}px`, height: `${client[1]}px`});
    placement = {scale, x: (extentWidth - shownWidth) / 2, y: (extentHeight - shownHeight) / 2};
  }
  schedulePaint();
}

let paintRequest = 0;
function schedulePaint() {
  if (paintRequest === 0) paintRequest = requestAnimationFrame(paint);
}

function paint() {
  paintRequest = 0;
  const ratio = devicePixelRatio;
  const width = Math.round(stage.clientWidth * ratio);
  const height = Math.round(stage.clientHeight * ratio);
  if (view.width !== width || view.height !== height) Object.assign(view, {width, height});
  const context = view.getContext('2d');
  context.clearRect(0, 0, width, height);
  const picture = comparing || !resultReady ? pictures.original : pictures.result;
  if (picture === null || source === null) return;
  const {scale, x, y} = placement;
  const size = reducedSize(source.width, source.height, viewSettings()) ??
               {width: source.width * scale * ratio, height: source.height * scale * ratio};
  const left = Math.round((x - stage.scrollLeft) * ratio);
  const top = Math.round((y - stage.scrollTop) * ratio);
  // The page's white under the picture, and its shadow.
  context.save();
  Object.assign(context, {fillStyle: '#fff', shadowColor: 'rgba(0, 0, 0, 0.18)',
                          shadowBlur: 6 * ratio, shadowOffsetY: ratio});
  context.fillRect(left, top, size.width, size.height);
  context.restore();
  const {preview} = picture;
  if (preview?.width === size.width && preview?.height === size.height) {
    context.drawImage(preview, left, top);
  } else {
    // Enlarged pixels stay square; reduced ones are smoothed, through smaller copies of the
    // picture once it is reduced by more than half.
    context.imageSmoothingEnabled = scale * ratio < 1;
    context.imageSmoothingQuality = scale * ratio < 0.5 ? 'medium' : 'low';
    context.drawImage(picture.bitmap, left, top, size.width, size.height);
  }
}

function stageMiddle() {
  const box = stage.getBoundingClientRect();
  return {x: box.left + box.width / 2, y: box.top + box.height / 2};
}

function setZoom(level, point = stageMiddle()) {
  const box = stage.getBoundingClientRect();
  const origin = {x: box.left + stage.clientLeft, y: box.top + stage.clientTop};
  // The picture's point under `point`, in picture pixels, stays under it.
  const before = placement;
  const at = {x: (point.x - origin.x + stage.scrollLeft - before.x) / before.scale,
              y: (point.y - origin.y + stage.scrollTop - before.y) / before.scale};
  zoom = level === 'fit' ? 'fit'
                         : Math.min(Math.max(level, ZOOM_RANGE[0]), ZOOM_RANGE[1]);
  stage.classList.toggle('fit', zoom === 'fit');
  layOut();
  if (zoom !== 'fit') {
    stage.scrollLeft = placement.x + at.x * placement.scale - (point.x - origin.x);
    stage.scrollTop = placement.y + at.y * placement.scale - (point.y - origin.y);
  }
  for (const button of document.querySelectorAll('#zoom button')) {
    button.setAttribute('aria-pressed', String(String(zoom) === button.dataset.zoom));
  }
  $('zoom-value').value = zoom === 'fit' ? `fit ${Math.round(placement.scale * 100)} %`
                                         : `${Math.round(zoom * 100)} %`;
}

for (const button of document.querySelectorAll('#zoom button')) {
  button.addEventListener('click', () => {
    setZoom(button.dataset.zoom === 'fit' ? 'fit' : Number(button.dataset.zoom));
  });
}
stage.addEventListener('wheel', (event) => {
  event.preventDefault();
  const lines = event.deltaMode === WheelEvent.DOM_DELTA_LINE ? 40 : 1;
  setZoom(placement.scale * Math.exp(-event.deltaY * lines * 0.002),
          {x: event.clientX, y: event.clientY});
}, {passive: false});
stage.addEventListener('keydown', (event) => {
  const step = {'+': 1.25, '=': 1.25, '-': 0.8}[event.key];
  if (step) setZoom(placement.scale * step);
  else if (event.key === '0') setZoom('fit');
  else if (event.key === '1') setZoom(1);
  else return;
  event.preventDefault();
});
stage.addEventListener('scroll', schedulePaint);
// A drag moves an enlarged picture.
let drag = null;
stage.addEventListener('pointerdown', (event) => {
  if (zoom === 'fit' || event.button !== 0) return;
  drag = {x: event.clientX, y: event.clientY};
  stage.setPointerCapture(event.pointerId);
  stage.classList.add('panning');
});
stage.addEventListener('pointermove', (event) => {
  if (drag === null) return;
  stage.scrollLeft -= event.clientX - drag.x;
  stage.scrollTop -= event.clientY - drag.y;
  drag = {x: event.clientX, y: event.clientY};
});
for (const type of ['pointerup', 'pointercancel']) {
  stage.addEventListener(type, () => {
    drag = null;
    stage.classList.remove('panning');
  });
}
// Its border box: scroll bars coming and going, which layOut settles, do not change it.
new ResizeObserver(() => setZoom(zoom)).observe(stage, {box: 'border-box'});

// canvas#result holds the result on show, full size, for scripts; it is never displayed. Making
// a 12-megapixel canvas ready costs the page's thread a fifth of a second and more, so it is
// filled only when asked for: before apply() resolves, and when a script takes its context or
// its pixels.
const canvasMethods = HTMLCanvasElement.prototype;
let resultOnCanvas = null;  // the bitmap canvas#result holds
function fillResultCanvas() {
  const bitmap = pictures.result?.bitmap;
  if (!bitmap || resultOnCanvas === bitmap) return;
  canvasMethods.getContext.call(resultCanvas, '2d', {willReadFrequently: true})
      .drawImage(bitmap, 0, 0);
  resultOnCanvas = bitmap;
}
for (const name of ['getContext', 'toDataURL', 'toBlob']) {
  resultCanvas[name] = function (...rest) {
    fillResultCanvas();
    return canvasMethods[name].apply(this, rest);
  };
}

function showResult(picture) {
  const {width, height} = picture.bitmap;
  // Its size says at once which picture it holds; a new size clears it.
  if (resultCanvas.width !== width || resultCanvas.height !== height) {
    Object.assign(resultCanvas, {width, height});
  }
  resultOnCanvas = null;
  resultReady = true;
  setPicture('result', picture);
}

// ---------------------------------------------------------------------------------------------
// The test hook, and start-up

window.moxelPage = {
  image: null,
  // Sets the controls to these settings and resolves once canvas#result holds their result for
  // the loaded image. shape: a name or its number; white: a boolean or 0/1; seed: 0..2147483647.
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
    if (!(Number.isInteger(seed) && seed >= 0 && seed <= contract.seed.highest)) {
      throw new Error(`seed is ${seed}, outside its range 0 to ${contract.seed.highest}`);
    }
    document.querySelector(`input[name=shape][value="${contract.shapes[settings.shape]}"]`)
        .checked = true;
    controls.density.value = density;
    controls.minSize.value = minSize;
    controls.maxSize.value = maxSize;
    controls.white.checked = settings.white === 1;
    controls.seed.value = seed;
    showSeedProblem('');
    showValues();
    await runFilter();
    fillResultCanvas();
  },
};

async function start() {
  // Offline from the second visit on: the service worker keeps a copy of every file of the site.
  navigator.serviceWorker?.register('sw.js').catch(() => {});
  try {
    const response = await fetch('moxel.wasm');
    if (!response.ok) throw new Error(`moxel.wasm: ${response.status} ${response.statusText}`);
    wasmModule = await WebAssembly.compile(await response.arrayBuffer());
    contract = await loadContract();
  } catch (error) {
    setStatus(`The filter could not be loaded (${error.message}). Serve this page over http.`, 0);
    return;
  }
  setUpControls();
  controls.seed.value = randomSeed();
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
