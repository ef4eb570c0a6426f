// The key help: the keyboard map of the emulation in use (kvx-keymap.js)
// with the person's own map in force (kvx-keymap-user.js), what each
// station key is on a PC keyboard, and the page's own keys.  A
// station key in the list presses when clicked, so that keys no keyboard
// has (SysReq, Test Request, Cursor Select) are there too.
import { keyHelp } from './kvx-keymap.js';

export class KeyHelp {
  // `element` holds the list (the page's popover); `send(code)` presses a
  // station key.
  constructor(element, { send }) {
    this.element = element;
    this.send = send;
  }

  // `chords`: the page's chords in force; `mine`: the person's maps.
  fill(kind, chords, mine) {
    const parts = [];
    const title = document.createElement('h2');
    title.textContent = 'Keys';
    parts.push(title);
    for (const section of keyHelp(kind, chords, mine)) {
      const table = document.createElement('table');
      table.className = 'kvx-keyhelp';
      const caption = table.createCaption();
      caption.textContent = section.title;
      for (const row of section.rows) {
        const tr = table.insertRow();
        const what = tr.insertCell();
        if (row.key) {
          const button = document.createElement('button');
          button.type = 'button';
          button.textContent = row.label;
          button.title = `Press ${row.label}`;
          button.dataset.key = row.key.name;
          button.addEventListener('click', () => this.send(row.key.code));
          what.append(button);
        } else {
          what.textContent = row.label;
        }
        tr.insertCell().textContent = row.keys;
      }
      parts.push(table);
    }
    this.element.replaceChildren(...parts);
  }
}
