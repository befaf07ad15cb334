// Runs the filter off the page's thread. One worker serves one run at a time; the page ends a
// worker whose run a newer setting has made stale (a run cannot be stopped from inside).
//
// The page starts workers from copies it holds in memory, and hands over the loader's copy and the
// compiled module: a new worker then needs nothing from the network, and the page keeps working
// offline.
let moxel = null;

self.onmessage = async ({data}) => {
  if (data.type === 'init') {
    // Set before anything is awaited: a run may arrive right behind this message.
    moxel = import(data.loaderUrl).then(({default: createMoxel}) => createMoxel({
      // The loader's copy has a blob URL, no place to find files beside it; it needs none.
      locateFile: (name) => name,
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(data.wasmModule, imports).then((instance) => receive(instance));
        return {};
      },
    }));
    return;
  }
  if (data.type !== 'run') return;
  const {id, width, height, settings, seed} = data;
  let module;
  try {
    module = await moxel;
  } catch (error) {
    self.postMessage({type: 'failed', id, reason: `the filter did not load (${error.message})`});
    return;
  }
  const pixels = new Uint8Array(data.pixels);
  const pointer = module._malloc(pixels.length);
  if (pointer === 0) {
    self.postMessage({type: 'failed', id, reason: 'not enough memory for this image'});
    return;
  }
  module.HEAPU8.set(pixels, pointer);
  let reported = -1;
  module.onProgress = (percent) => {
    if (percent !== reported) {
      reported = percent;
      self.postMessage({type: 'progress', id, percent});
    }
  };
  const status = module._moxel_stipple(pointer, width, height, settings.shape, settings.density,
                                       settings.minSize, settings.maxSize, settings.white ? 1 : 0,
                                       seed >>> 0);
  const done = status === 0;
  // Memory may have grown during the run: HEAPU8 is read again, not kept from before.
  if (done) pixels.set(module.HEAPU8.subarray(pointer, pointer + pixels.length));
  module._free(pointer);
  if (done) {
    self.postMessage({type: 'done', id, pixels: pixels.buffer}, [pixels.buffer]);
  } else {
    // The core's words: a refused setting, an image too large or too little memory.
    self.postMessage({type: 'failed', id, reason: module.UTF8ToString(module._moxel_describe())});
  }
};
