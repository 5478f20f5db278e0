// Interprets a G-code file with the peer toolpath engine (gcode-toolpath,
// the toolpath engine of a web-based G-code sender): every line is parsed
// and interpreted, and each line and arc is handed to callbacks, which
// count them. Prints "seconds lines segments". The file is read before the
// clock starts.   node peer_toolpath.js FILE
'use strict';
const fs = require('fs');
const Toolpath = require('gcode-toolpath');

const text = fs.readFileSync(process.argv[2], 'latin1');
let segments = 0;
const toolpath = new Toolpath({
  addLine: () => { ++segments; },
  addArcCurve: () => { ++segments; },
});
const start = process.hrtime.bigint();
const lines = toolpath.loadFromStringSync(text).length;
const seconds = Number(process.hrtime.bigint() - start) / 1e9;
console.log(`${seconds.toFixed(6)} ${lines} ${segments}`);
