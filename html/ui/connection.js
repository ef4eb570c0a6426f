// Where the page stands with its session and the session's host, as one
// value: a state of CONN.  Each state says whether the channel is open,
// whether a host is connected, and whether a connect the page asked for is
// on its way: its settings still being posted ("post": while they are, a
// "not connected" from the session is the end of the previous host, not of
// the connect they ask for) or asked of the session ("host").  The page
// moves from state to state only through the events below.

const states = [];
function state(name, open, host, ask) {
  const s = Object.freeze({ name, open, host, ask });
  states.push(s);
  return s;
}

export const CONN = Object.freeze({
  // The channel opens (or opens again after a drop): nothing to show yet.
  OPENING: state('opening', false, false, ''),
  OPENING_POSTING: state('opening, settings posted', false, false, 'post'),
  OPENING_CONNECTING: state('opening, connect asked', false, false, 'host'),
  // The channel is open.
  DISCONNECTED: state('disconnected', true, false, ''),
  POSTING: state('settings posted', true, false, 'post'),
  CONNECTING: state('connecting', true, false, 'host'),
  CONNECTED: state('connected', true, true, ''),
  // Connected; the settings of another host are on their way, or the
  // connect to it is asked for.
  CONNECTED_POSTING: state('connected, settings posted', true, true, 'post'),
  CONNECTED_CONNECTING: state('connected, connect asked', true, true, 'host'),
  // The session is gone.
  ENDED: state('ended', false, false, ''),
});

// The state of an open or closed channel, a host connected (only on an
// open channel) and a connect on its way.
function find(open, host, ask) {
  return states.find((s) => s !== CONN.ENDED && s.open === open && s.host === (open && host) && s.ask === ask);
}

// What the page shows and tells: a host connected, a connect on its way.
export const hostConnected = (s) => s.host;
export const hostConnecting = (s) => s.ask !== '';

// The events.
export const TRANSITIONS = Object.freeze({
  // The page starts (again) to open a channel to a session.
  starting: (s) => find(false, false, s === CONN.ENDED ? '' : s.ask),
  channelOpen: (s) => (s === CONN.ENDED ? s : find(true, false, s.ask)),
  // The channel closed (it may open again): no host until the session says.
  channelClosed: (s) => (s === CONN.ENDED ? s : find(false, false, s.ask)),
  ended: () => CONN.ENDED,
  // The settings of a host to connect to are posted, and the session took
  // them (connectPosted: the latest of them); a post that failed, or a
  // connect that ended in an error, asks nothing any more.
  connectPosting: (s) => (s === CONN.ENDED ? s : find(s.open, s.host, 'post')),
  connectPosted: (s) => (s.ask === 'post' ? find(s.open, s.host, 'host') : s),
  connectFailed: (s) => (s === CONN.ENDED ? s : find(s.open, s.host, '')),
  // A connect asked for on the channel (Connect again).
  connectAsked: (s) => (s.open ? find(true, s.host, s.ask === 'post' ? 'post' : 'host') : s),
  // The session says whether its host is connected.
  hostUp: (s) => (s.open ? find(true, true, '') : s),
  hostDown: (s) => (s.open ? find(true, false, s.ask === 'post' ? 'post' : '') : s),
});

// A connection error as the page shows it: naming the host, the port and
// the cause.  The session's text is the cause; where it does not name the
// port (telnet's "Connection to HOST failed", "Connection Refused"), the
// host and port the page asked for are added.  `host` and `port` are those
// of a remote host; without them the text stays as it is.
export function connectionMessage(text, host, port) {
  const cause = String(text ?? '').trim();
  if (!host || !port || !cause || new RegExp(`\\bport ${port}\\b`).test(cause)) return cause;
  const escaped = host.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const named = new RegExp(`^(Connection to|Error connecting to) ${escaped}(?=\\b|$)`, 'i').exec(cause);
  if (named) return `${named[0]} port ${port}${cause.slice(named[0].length)}`;
  if (/^connection refused\.?$/i.test(cause)) return `Connection to ${host} port ${port} refused`;
  if (cause.includes(host)) return cause;
  return `Connection to ${host} port ${port}: ${cause}`;
}
