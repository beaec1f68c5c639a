// Calls to the library service. Every call resolves to the parsed answer or rejects with
// an Error whose message is the service's Spanish explanation.

async function call(method, url, body) {
  const init = { method, headers: {}, cache: 'no-store' };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let res;
  try {
    res = await fetch(url, init);
  } catch {
    throw new Error('No se pudo contactar con el servicio de la biblioteca.');
  }
  let data = null;
  try {
    data = await res.json();
  } catch {
    // not JSON: the status says enough
  }
  if (!res.ok) throw new Error((data && data.error) || `Error ${res.status}`);
  return data;
}

export const api = {
  library: () => call('GET', '/api/library'),
  status: () => call('GET', '/api/status'),
  browse: (path) => call('GET', `/api/browse?path=${encodeURIComponent(path || '')}`),
  progress: (id, position, duration) => call('POST', '/api/progress',
    duration > 0 ? { id, position, duration } : { id, position }),
  duration: (id, duration) => call('POST', '/api/duration', { id, duration }),
  watched: (id, watched) => call('POST', '/api/watched', { id, watched }),
  prefs: (prefs) => call('POST', '/api/prefs', prefs),
  choices: (key, choice) => call('POST', '/api/choices', { key, ...choice }),
  addFolder: (path) => call('POST', '/api/folders/add', { path }),
  removeFolder: (path) => call('POST', '/api/folders/remove', { path }),
  rescan: () => call('POST', '/api/rescan', {}),
};
