'use strict';
// Locks the service to the program that started it.
//
// The shell hands us a secret made for this launch in BRINDLEMAR_TOKEN and gives the
// same secret, as the cookie brindlemar_token, to its web view and its player. Any
// other program on this machine (another user included) can reach 127.0.0.1 but does
// not know the secret, so every request without the exact cookie is refused before it
// is looked at. The cookie is HttpOnly (page script cannot read it) and SameSite=Strict
// (no other site's page makes the engine send it).

const crypto = require('node:crypto');

const COOKIE_NAME = 'brindlemar_token';
const MIN_LENGTH = 32;

function digest(text) {
  return crypto.createHash('sha256').update(text, 'utf8').digest();
}

// The values of every cookie named `name` in a Cookie header (node joins repeated
// headers with "; ").
function cookieValues(header, name) {
  if (typeof header !== 'string') return [];
  const values = [];
  for (const part of header.split(';')) {
    const eq = part.indexOf('=');
    if (eq < 0) continue;
    if (part.slice(0, eq).trim() === name) values.push(part.slice(eq + 1).trim());
  }
  return values;
}

// secret: the BRINDLEMAR_TOKEN value, or undefined for an unlocked service.
// Returns { locked, allows(req) }; throws on a secret too short to protect anything.
function makeLock(secret) {
  if (secret === undefined) return { locked: false, allows: () => true };
  if (secret.length < MIN_LENGTH || !/^[\x21-\x7e]+$/.test(secret) || /[;,"\\]/.test(secret)) {
    throw new Error(`BRINDLEMAR_TOKEN debe tener al menos ${MIN_LENGTH} caracteres imprimibles sin espacios, ";", ",", comillas ni "\\"`);
  }
  // Comparing digests of equal length keeps the time taken independent of how much of
  // a guess is right, and of its length.
  const expected = digest(secret);
  return {
    locked: true,
    allows(req) {
      let ok = false;
      for (const value of cookieValues(req.headers.cookie, COOKIE_NAME)) {
        if (crypto.timingSafeEqual(digest(value), expected)) ok = true;
      }
      return ok;
    },
  };
}

module.exports = { makeLock, cookieValues, COOKIE_NAME };
