// Checks for the values of startBridge's options. Each throws a TypeError whose message starts
// with the option's name.

/** A short description of a wrong value for an error message. */
export function describeValue(value: unknown): string {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'an array';
  if (typeof value === 'function') return 'a function';
  if (typeof value === 'string') return JSON.stringify(value.length > 40 ? `${value.slice(0, 40)}…` : value);
  if (typeof value === 'object') return 'an object';
  return String(value);
}

function fail(name: string, wanted: string, value: unknown): never {
  throw new TypeError(`${name} must be ${wanted}, not ${describeValue(value)}`);
}

export function isPlainObject(value: unknown): value is Record<string, unknown> {
  return typeof value === 'object' && value !== null && !Array.isArray(value);
}

export function objectValue(name: string, value: unknown): Record<string, unknown> {
  if (!isPlainObject(value)) fail(name, 'an object', value);
  return value;
}

export function nonEmptyString(name: string, value: unknown): string {
  if (typeof value !== 'string' || value === '') fail(name, 'a non-empty string', value);
  return value;
}

export function stringValue(name: string, value: unknown): string {
  if (typeof value !== 'string') fail(name, 'a string', value);
  return value;
}

export function functionValue(name: string, value: unknown): void {
  if (typeof value !== 'function') fail(name, 'a function', value);
}

export function booleanValue(name: string, value: unknown): boolean {
  if (typeof value !== 'boolean') fail(name, 'true or false', value);
  return value;
}

/** An array whose every item passes `item`, which is given the item's name (`name[index]`). */
export function arrayOf<T>(name: string, value: unknown, item: (name: string, value: unknown) => T): T[] {
  if (!Array.isArray(value)) fail(name, 'an array', value);
  return value.map((entry, index) => item(`${name}[${index}]`, entry));
}

/** An object whose values are strings (or undefined, which the child does not get). */
export function stringRecord(name: string, value: unknown): void {
  for (const [key, entry] of Object.entries(objectValue(name, value))) {
    if (entry !== undefined) stringValue(`${name}.${key}`, entry);
  }
}

/** A URL scheme with its colon, as URL.protocol gives it (in any letter case). */
export function urlScheme(name: string, value: unknown): string {
  if (typeof value !== 'string' || !/^[a-z][a-z0-9+.-]*:$/i.test(value)) {
    fail(name, "a URL scheme with its colon, such as 'https:'", value);
  }
  return value;
}

/** Refuses keys of `object` that are not in `known`, naming the close known key when one is. */
export function onlyKnownKeys(object: object, known: readonly string[], prefix = ''): void {
  for (const key of Object.keys(object)) {
    if (known.includes(key)) continue;
    const guess = nearestName(key, known);
    const hint = guess === undefined ? `; known: ${known.join(', ')}` : `; did you mean ${prefix}${guess}?`;
    throw new TypeError(`${prefix}${key} is not an option of startBridge${hint}`);
  }
}

/** The known name a mistyped one most likely means: at most two edits away, case aside. */
export function nearestName(name: string, known: readonly string[]): string | undefined {
  let best: string | undefined;
  let bestDistance = 3;
  for (const candidate of known) {
    const distance = editDistance(name.toLowerCase(), candidate.toLowerCase());
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

function editDistance(a: string, b: string): number {
  let previous = Array.from({ length: b.length + 1 }, (_, index) => index);
  for (let i = 1; i <= a.length; i += 1) {
    const current = [i];
    for (let j = 1; j <= b.length; j += 1) {
      const substitution = previous[j - 1] + (a[i - 1] === b[j - 1] ? 0 : 1);
      current.push(Math.min(previous[j] + 1, current[j - 1] + 1, substitution));
    }
    previous = current;
  }
  return previous[b.length];
}
