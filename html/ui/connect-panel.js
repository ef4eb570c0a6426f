// The connect panel: the recent hosts first (one click connects again), then
// the fields of a host choice (protocol, host, port, user, password,
// emulation, certificate check) and the sections its owner gives it (the
// automatic log-in).  Fields show for the protocols that use them; a port
// still at the previous protocol's default follows the new one.
import {
  EMULATIONS, PROTOCOLS, describeChoice, emulationOfValue, emulationValue, normalizeChoice, protocolOf,
} from './kvx-hosts.js';
import { is3270 } from './kvx-emulations.js';
import { forgetChoice, recentChoices } from './kvx-recent.js';

// Names by the emulation field's value (a 5250 model has its own).
const EMULATION_NAMES = new Map(EMULATIONS.map(([n, label, model]) => [emulationValue(n, model), label]));

// How a recent choice reads in the list.
export function recentLabel(choice) {
  const c = normalizeChoice(choice);
  const emulation = EMULATION_NAMES.get(emulationValue(c.emulate, c.model));
  return emulation ? `${describeChoice(choice)} · ${emulation}` : describeChoice(choice);
}

export class ConnectPanel {
  // `current()` is the choice in force; `connect(choice, password)` connects.
  // `sections`: the panel's extra sections, in order, each
  //   { id, title, build() -> element, fill(element, choice),
  //     read(element, choice) -> choice, shown(protocol) -> boolean }
  // `fill` shows a choice, `read` adds the section's values to the choice the
  // panel connects to; all but `id` and `build` are optional.
  constructor(form, toggle, { current, connect, onClose, sections = [] }) {
    this.form = form;
    this.toggle = toggle;
    this.current = current;
    this.connect = connect;
    this.onClose = onClose;
    this.protocol = null;  // the protocol shown before a change
    this.field = (name) => form.elements.namedItem(name);
    this.sections = [];

    const protocolField = this.field('commtype');
    for (const p of PROTOCOLS) protocolField.append(new Option(p.label, String(p.commtype)));
    for (const [n, label, model] of EMULATIONS) this.field('emulate').append(new Option(label, emulationValue(n, model)));
    const holder = form.querySelector('[data-sections]');
    for (const section of sections) {
      const el = section.build();
      el.dataset.section = section.id;
      if (section.title) el.setAttribute('aria-label', section.title);
      holder.append(el);
      this.sections.push({ section, el });
    }

    this.field('emulate').addEventListener('change', () => this.showSize3270());
    protocolField.addEventListener('change', () => {
      this.showFields(this.protocol);
      this.protocol = protocolOf(Number(protocolField.value));
    });
    toggle.addEventListener('click', () => this.open(form.hidden));
    form.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape') this.open(false);
    });
    form.addEventListener('submit', (ev) => {
      ev.preventDefault();
      const choice = this.read();
      const password = protocolOf(choice.commtype).ssh ? this.field('password').value : '';
      this.field('password').value = '';
      this.open(false);
      this.connect(choice, password);
    });
  }

  get isOpen() {
    return !this.form.hidden;
  }

  open(open) {
    this.form.hidden = !open;
    this.toggle.setAttribute('aria-expanded', String(open));
    if (open) {
      this.fill(this.current());
      this.showRecent();
      const first = this.form.querySelector('.recent-choice') ||
        (protocolOf(this.current().commtype).remote ? this.field('node') : this.field('commtype'));
      first.focus();
    } else {
      this.onClose?.();
    }
  }

  // The choice the fields and sections hold.
  read() {
    let choice = {
      commtype: Number(this.field('commtype').value),
      node: this.field('node').value,
      port: Number(this.field('port').value),
      user: this.field('user').value,
      ...emulationOfValue(this.field('emulate').value),
      verify: this.field('verify').checked,
      language: this.current().language,
      size3270: { rows: this.field('rows3270').valueAsNumber, cols: this.field('cols3270').valueAsNumber },
    };
    for (const { section, el } of this.sections) if (section.read) choice = section.read(el, choice) || choice;
    return choice;
  }

  fill(choice) {
    const c = normalizeChoice(choice);
    this.field('commtype').value = String(c.commtype);
    this.field('node').value = c.node;
    this.field('port').value = protocolOf(c.commtype).remote ? String(c.port) : '';
    this.field('user').value = c.user;
    this.field('password').value = '';
    this.field('emulate').value = emulationValue(c.emulate, c.model);
    this.field('verify').checked = c.verify;
    this.field('rows3270').value = c.size3270 ? String(c.size3270.rows) : '';
    this.field('cols3270').value = c.size3270 ? String(c.size3270.cols) : '';
    for (const { section, el } of this.sections) section.fill?.(el, choice);
    this.protocol = protocolOf(c.commtype);
    this.showFields();
  }

  showFields(previous) {
    const protocol = protocolOf(Number(this.field('commtype').value));
    for (const label of this.form.querySelectorAll('[data-remote]')) label.hidden = !protocol.remote;
    for (const label of this.form.querySelectorAll('[data-ssh]')) label.hidden = !protocol.ssh;
    for (const label of this.form.querySelectorAll('[data-tls]')) label.hidden = !protocol.tls;
    for (const { section, el } of this.sections) if (section.shown) el.hidden = !section.shown(protocol);
    this.showSize3270();
    this.field('node').required = protocol.remote;
    this.field('port').required = protocol.remote;
    const port = this.field('port');
    if (previous && (port.value === '' || Number(port.value) === previous.port)) {
      port.value = protocol.remote ? String(protocol.port) : '';
    }
  }

  // The custom 3270 size shows beside a 3270 model only.
  showSize3270() {
    const { emulate } = emulationOfValue(this.field('emulate').value);
    for (const label of this.form.querySelectorAll('[data-size3270]')) label.hidden = !is3270(emulate);
  }

  // The recent hosts, newest first; the host field offers their names.
  showRecent() {
    const box = this.form.querySelector('[data-recent]');
    const list = box.querySelector('ul');
    const recent = recentChoices();
    list.replaceChildren();
    for (const choice of recent) {
      const label = recentLabel(choice);
      const go = Object.assign(document.createElement('button'), {
        type: 'button', className: 'recent-choice', textContent: label, title: `Connect to ${label}`,
      });
      go.addEventListener('click', () => {
        this.open(false);
        this.connect(choice, '');
      });
      const forget = Object.assign(document.createElement('button'), {
        type: 'button', className: 'recent-forget', textContent: '×', title: `Forget ${label}`,
      });
      forget.setAttribute('aria-label', `Forget ${label}`);
      forget.addEventListener('click', () => {
        forgetChoice(choice);
        this.showRecent();
      });
      const item = document.createElement('li');
      item.append(go, forget);
      list.append(item);
    }
    box.hidden = recent.length === 0;
    const names = this.form.querySelector('#recent-nodes');
    names.replaceChildren(...[...new Set(recent.map((c) => c.node).filter(Boolean))]
      .map((node) => new Option(node)));
  }
}
