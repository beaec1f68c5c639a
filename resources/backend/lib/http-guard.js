'use strict';
// Who may talk to the service.
//
// Only requests addressed to our own origin are served: a page in the user's browser can
// point a name it controls at 127.0.0.1 (DNS rebinding) and would otherwise read the
// library; its requests carry that name in Host. Requests that change state must, in
// addition, not come from another origin's page (a form or fetch posted across origins
// carries that origin in Origin), and must send JSON, which a cross-origin page cannot do
// without a preflight we never answer.

const SAFE_METHODS = new Set(['GET', 'HEAD']);

// Returns null when the request may go on, else { status, text } to refuse it with.
function checkRequest(req, origin) {
  const expectedHost = origin.host;
  if (req.headers.host !== expectedHost) {
    return { status: 421, text: 'Solicitud rechazada: dirección no válida.' };
  }
  if (!SAFE_METHODS.has(req.method)) {
    const from = req.headers.origin;
    if (from !== undefined && from !== origin.href) {
      return { status: 403, text: 'Solicitud rechazada: origen no permitido.' };
    }
    const fetchSite = req.headers['sec-fetch-site'];
    if (fetchSite !== undefined && fetchSite !== 'same-origin' && fetchSite !== 'none') {
      return { status: 403, text: 'Solicitud rechazada: origen no permitido.' };
    }
  }
  return null;
}

// { host: '127.0.0.1:47874', href: 'http://127.0.0.1:47874' }
function serviceOrigin(bind, port) {
  const hostPart = bind.includes(':') ? `[${bind}]` : bind;
  return { host: `${hostPart}:${port}`, href: `http://${hostPart}:${port}` };
}

module.exports = { checkRequest, serviceOrigin };
