/** Joins the values of a repeated Set-Cookie header; a cookie's Expires date holds a comma. */
export const setCookieSeparator = '\n';

/**
 * The headers of an answer as one text per name. Repeated names are joined with ", ", as HTTP
 * combines them, except Set-Cookie, whose values are joined with a line feed.
 */
export function collectHeaders(headers: Headers): Record<string, string> {
  const collected = new Map<string, string>();
  const cookies: string[] = [];
  headers.forEach((value, name) => {
    if (name === 'set-cookie') {
      cookies.push(value);
      return;
    }
    const earlier = collected.get(name);
    collected.set(name, earlier === undefined ? value : `${earlier}, ${value}`);
  });
  // getSetCookie keeps the values apart even where forEach joins them.
  const setCookies = typeof headers.getSetCookie === 'function' ? headers.getSetCookie() : cookies;
  if (setCookies.length > 0) collected.set('set-cookie', setCookies.join(setCookieSeparator));
  return Object.fromEntries(collected);
}
