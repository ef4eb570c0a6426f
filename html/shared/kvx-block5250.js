// IBM 5250 screens in the page: the 5250 models the connect panel offers
// and their settings, and the keyboard of a 5250 station (kvx-keys5250.js)
// on the block-mode screen of kvx-block.js (its key bar: kvx-keybar.js).
import { EM } from './kvx-emulations.js';
import { classify } from './kvx-keyboard.js';
import { classify5250 } from './kvx-keys5250.js';

// The models by em5250idx, the page's default first.  A 5250 station's
// `emulate` setting is EM.IBM5250 whatever the model; a bookmark's
// EM.IBM5250_3477 is taken as EM.IBM5250 with the 3477 model.
export const MODELS_5250 = Object.freeze([
  [2, 'IBM 5250 3179-2 (24 x 80)'],
  [1, 'IBM 5250 3477-FC (27 x 132, colour)'],
  [0, 'IBM 5250 5555-C01 (24 x 80, DBCS)'],
]);
export const DEFAULT_MODEL_5250 = 2;

// The rows of the screen a 5250 log-in runs on (24 and the message row, as
// Clear Unit makes it on every model): the automatic log-in's cursor steps
// count their rows from its bottom, as the session takes them in 5250.
export const LOGIN_ROWS_5250 = 25;

// The model of a choice: a model of the table, else the default (3477 for
// a bookmark's EM.IBM5250_3477).
export function model5250(emulate, model) {
  const m = model === null || model === undefined || model === '' ? NaN : Number(model);
  if (MODELS_5250.some(([n]) => n === m)) return m;
  return Number(emulate) === EM.IBM5250_3477 ? 1 : DEFAULT_MODEL_5250;
}

// Settings of a 5250 choice, beside the ones every host takes.
export function block5250Kcf(model) {
  return {
    emulate: EM.IBM5250,
    em5250idx: model5250(EM.IBM5250, model),
    bsdel: 1,      // Backspace erases the character left of the cursor
    colorbg0: 1,   // black
  };
}

// What the keyboard of a 5250 station makes of a keydown: the 5250 table
// first, then the page's own keys (characters, cursor keys, Backspace,
// Tab, Home, Insert, Delete).
export function classifyBlock5250(ev) {
  return classify5250(ev) || classify(ev);
}
