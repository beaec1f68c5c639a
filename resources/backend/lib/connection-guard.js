'use strict';
// Keeps connections that have not shown the shell's secret from crowding out the shell.
//
// Any program on this machine can open connections to us and say nothing. Each holds a
// descriptor; enough of them use up the process's limit, and then the shell's own
// connections are refused. So connections that have not yet carried a request with
// the secret are capped: past the cap the oldest of them is closed, so a new
// connection, the shell's among them, always gets its turn. Those that stay are closed
// by the server's header time-out (see server.js). A connection that carried the secret
// is the shell's and is left alone.

const fs = require('node:fs');

const CAP_MAX = 64;
const CAP_MIN = 8;

// The soft limit on open descriptors, or null when it cannot be read.
function descriptorLimit() {
  try {
    const m = /^Max open files\s+(\d+)/m.exec(fs.readFileSync('/proc/self/limits', 'utf8'));
    return m ? Number(m[1]) : null;
  } catch {
    return null;
  }
}

// An eighth of the descriptors at most, so that files, tools and the shell keep theirs.
function capFor(limit) {
  if (!limit) return CAP_MAX;
  return Math.max(CAP_MIN, Math.min(CAP_MAX, Math.floor(limit / 8)));
}

// Watches `server`'s connections. Returns { trust(socket) }, to be called for each
// request that carried the secret.
function guardConnections(server, cap = capFor(descriptorLimit())) {
  const unproven = new Set(); // in the order they came, oldest first
  server.on('connection', (socket) => {
    unproven.add(socket);
    socket.once('close', () => unproven.delete(socket));
    if (unproven.size > cap) {
      const oldest = unproven.values().next().value;
      unproven.delete(oldest);
      oldest.destroy();
    }
  });
  return {
    trust(socket) {
      unproven.delete(socket);
    },
  };
}

module.exports = { guardConnections, capFor };
