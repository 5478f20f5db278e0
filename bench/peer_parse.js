// Parses a G-code file line by line with the peer parser, parse only, and
// prints "seconds lines".   node peer_parse.js FILE
'use strict';
const fs = require('fs');
const { parseLine } = require('gcode-parser');

const text = fs.readFileSync(process.argv[2], 'latin1');
const start = process.hrtime.bigint();
let lines = 0;
let from = 0;
for (;;) {
  const end = text.indexOf('\n', from);
  const line = end < 0 ? text.slice(from) : text.slice(from, end);
  if (end < 0 && line.length === 0) break;
  parseLine(line);
  ++lines;
  if (end < 0) break;
  from = end + 1;
}
const seconds = Number(process.hrtime.bigint() - start) / 1e9;
console.log(`${seconds.toFixed(6)} ${lines}`);
