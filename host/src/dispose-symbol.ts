// `await using` looks for Symbol.asyncDispose. Node.js 20 defines it; an older embedded Node.js
// may not, so it gets the same registered symbol Node.js itself uses.
const symbols = Symbol as { asyncDispose?: symbol };
symbols.asyncDispose ??= Symbol.for('nodejs.asyncDispose');

export {};
