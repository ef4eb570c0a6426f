// The server's JSON endpoints as the page calls them: a POST with a JSON
// body, answered by the envelope {"code", "message", "content"}.

export const STATUS = Object.freeze({ OK: 0, SESSION_NOT_FOUND: 7, NO_CONFIG: 11 });

export class ApiError extends Error {
  constructor(path, code, message) {
    super(`${path}: ${message || 'failed'} (${code})`);
    this.code = code;
  }
}

// The content of a successful answer; an ApiError otherwise.
export async function postJson(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
  const answer = await response.json().catch(() => ({ code: -1, message: `HTTP ${response.status}` }));
  if (answer.code !== STATUS.OK) throw new ApiError(path, answer.code, answer.message);
  return answer.content;
}
