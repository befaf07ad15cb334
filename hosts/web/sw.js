// Keeps the page working offline, reload included: every file of the site is stored when the
// page is first visited, refreshed from the network whenever it answers, and served from the
// store when it does not. Network first, so a new version shows as soon as it is online.
const STORE = 'moxel-site';
const FILES = ['./', 'index.html', 'style.css', 'page.js', 'view.js', 'worker.js', 'moxel.mjs',
               'moxel.wasm', 'sample.jpg', 'icon.svg', 'manifest.webmanifest'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(STORE).then((store) => store.addAll(FILES))
                      .then(() => self.skipWaiting()));
});

// The first visit's page is served from the network already; take it over so that its workers
// come from the store once the network has gone.
self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
  const {request} = event;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      event.waitUntil(caches.open(STORE).then((store) => store.put(request, copy)));
    }
    return response;
  }, async () => (await caches.match(request, {ignoreSearch: true})) ?? Response.error()));
});
