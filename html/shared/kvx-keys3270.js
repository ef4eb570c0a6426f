// The 3270 keys the station bar does not show by itself: Test Request and
// Cursor Select, added to the key bars of 3270 screens (desktop and touch)
// beside SysReq and Attn, each sending its station key.
import { addKeyBarButton } from './kvx-keybar.js';
import { keyTitle, stationKey } from './kvx-keymap.js';

// `send(code)` sends a key code to the session shown.
export function addKeys3270(send) {
  for (const name of ['TSTREQ', 'CURSEL']) {
    const k = stationKey('3270', name);
    addKeyBarButton({ id: `key3270-${name}`, label: k.label, title: keyTitle(k), kinds: ['3270'],
      onClick: () => send(k.code) });
  }
}
