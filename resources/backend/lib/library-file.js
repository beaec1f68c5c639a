'use strict';
// Opens a file of the library to read it, safely against whatever its name points to.
//
// A name can be swapped at any moment for something else: a FIFO, whose open() waits for
// a writer for ever and holds one of the few worker threads that every file operation
// of the service shares; a device, which may block or answer endlessly. So the file is
// opened without waiting (O_NONBLOCK, and O_NOCTTY so that a terminal never becomes
// ours), and what was opened is checked with fstat: only a regular file is kept. Checking
// by name before opening would leave a gap for the swap. O_NONBLOCK does not change how a
// regular file reads.

const fs = require('node:fs');
const fsp = require('node:fs/promises');

const { O_RDONLY, O_NONBLOCK, O_NOCTTY, O_NOFOLLOW } = fs.constants;

// Resolves to { fh, stat } for a regular file; the caller closes fh. Rejects with the
// open's error, or with code ENOTREG for anything that is not a regular file.
// followLinks: false refuses a symbolic link in the last component (ELOOP): for files
// of our own, which are never links. Links in the library are the user's and are followed.
async function openRegularFile(file, { followLinks = true } = {}) {
  const flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW);
  const fh = await fsp.open(file, flags);
  let stat;
  try {
    stat = await fh.stat();
  } catch (err) {
    await fh.close().catch(() => {});
    throw err;
  }
  if (!stat.isFile()) {
    await fh.close().catch(() => {});
    throw Object.assign(new Error('not a regular file'), { code: 'ENOTREG' });
  }
  return { fh, stat };
}

module.exports = { openRegularFile };
