// The page's header: its tools (text size, Sessions, Share, Settings,
// Host… and those other parts add) and the menu at its end.  On a narrow
// or touch window (the compact layout) the tools fold into the menu, which
// then lists each of them; on any window the menu holds the entries that
// have no button of their own (Key help, and those other parts add).  After
// a tool or a menu entry has done its work, the typing goes back to the
// terminal unless the tool opened something that took the focus.
//
// Other parts of the page add to the header with addHeaderItem: a button
// among the tools (folded into the menu on a compact layout), or an entry
// of the menu only.

const COMPACT_QUERY = '(max-width: 720px), (pointer: coarse)';

const registered = [];
let current = null;

// Adds to the header:
//   { id, label, title, onSelect(), tool: true }   a button among the tools
//   { id, label, title, onSelect() }               an entry of the menu
// `order` places entries among each other (default 100; Key help is 10).
// A tool's button can have an element id (`buttonId`) and, when its label
// is a symbol, a name (`name`, also its entry in the folded menu).  An
// item with the id of one added before replaces it.
export function addHeaderItem(item) {
  const i = registered.findIndex((r) => r.id === item.id);
  if (i >= 0) registered.splice(i, 1, item);
  else registered.push(item);
  registered.sort((a, b) => (a.order ?? 100) - (b.order ?? 100));
  current?.renderTools();
}

export class Header {
  // `tools`: the element of the tool buttons; `menuButton` and `menu`: the
  // menu's button and its list; `focusTerminal()` gives the typing back;
  // `onLayout(compact)` hears of a change between the layouts.
  constructor({ tools, menuButton, menu, focusTerminal, onLayout }) {
    this.tools = tools;
    this.menuButton = menuButton;
    this.menu = menu;
    this.focusTerminal = focusTerminal;
    this.onLayout = onLayout;
    this.query = matchMedia(COMPACT_QUERY);
    this.query.addEventListener('change', () => this.layout());
    this.layout(false);
    current = this;
    this.renderTools();

    menuButton.addEventListener('click', () => (menu.hidden ? this.openMenu() : this.closeMenu(true)));
    menu.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape') this.closeMenu(true);
      if (ev.key === 'ArrowDown' || ev.key === 'ArrowUp') {
        const items = [...menu.querySelectorAll('button')];
        const at = items.indexOf(document.activeElement);
        items[(at + (ev.key === 'ArrowDown' ? 1 : items.length - 1)) % items.length]?.focus();
        ev.preventDefault();
      }
    });
    document.addEventListener('mousedown', (ev) => {
      if (!menu.hidden && !menu.contains(ev.target) && !menuButton.contains(ev.target)) this.closeMenu(false);
    });
    // A tool that has done its work leaves the focus to the terminal.
    tools.addEventListener('click', (ev) => {
      const button = ev.target.closest('button');
      if (button) this.afterUse(button);
    });
  }

  get compact() {
    return this.query.matches;
  }

  layout(tell = true) {
    document.body.classList.toggle('kvx-compact', this.compact);
    if (this.compact) this.tools.setAttribute('aria-hidden', 'true');
    else this.tools.removeAttribute('aria-hidden');
    if (!this.menu.hidden) this.closeMenu(false);
    if (tell) this.onLayout?.(this.compact);
  }

  // The registered tools, before the page's own Host… button.
  renderTools() {
    for (const el of this.tools.querySelectorAll('[data-item]')) el.remove();
    const before = this.tools.querySelector('#connect-toggle');
    for (const item of registered.filter((r) => r.tool)) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = item.label;
      if (item.title) button.title = item.title;
      button.dataset.item = item.id;
      if (item.buttonId) button.id = item.buttonId;
      if (item.name) button.setAttribute('aria-label', item.name);
      button.addEventListener('click', () => item.onSelect());
      this.tools.insertBefore(button, before);
    }
  }

  // The entries: on a compact layout every tool shown, then the menu's own.
  entries() {
    const entries = [];
    if (this.compact) {
      for (const button of this.tools.querySelectorAll('button')) {
        if (button.hidden || button.disabled) continue;
        const label = button.dataset.menuLabel || button.getAttribute('aria-label') || button.textContent.trim();
        entries.push({ id: button.id || button.dataset.item, label, select: () => button.click(), tool: button });
      }
    }
    for (const item of registered.filter((r) => !r.tool)) {
      entries.push({ id: item.id, label: item.label, title: item.title, select: () => item.onSelect() });
    }
    return entries;
  }

  openMenu() {
    for (const other of document.querySelectorAll('.popover')) other.hidden = true;
    const items = this.entries().map((entry) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.setAttribute('role', 'menuitem');
      button.textContent = entry.label;
      if (entry.title) button.title = entry.title;
      if (entry.id) button.dataset.entry = entry.id;
      button.addEventListener('click', () => {
        this.closeMenu(false);
        entry.select();
        this.afterUse(entry.tool || button);
      });
      return button;
    });
    this.menu.replaceChildren(...items);
    this.menu.hidden = false;
    this.menuButton.setAttribute('aria-expanded', 'true');
    items[0]?.focus();
  }

  closeMenu(giveBack) {
    this.menu.hidden = true;
    this.menuButton.setAttribute('aria-expanded', 'false');
    if (giveBack) this.focusTerminal();
  }

  // After a tool or entry acted: unless it moved the focus somewhere of its
  // own (a panel, a popover), the terminal has it again.
  afterUse(button) {
    setTimeout(() => {
      const at = document.activeElement;
      if (!at || at === document.body || at === button || this.menu.contains(at) || at === this.menuButton ||
        (this.tools.contains(at) && at.tagName === 'BUTTON')) {
        this.focusTerminal();
      }
    });
  }
}
