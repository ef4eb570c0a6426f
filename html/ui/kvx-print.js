// Host printing on the page: the session's print jobs as the session
// announces them (PRINT_JOB, PRINT_DROPPED), a printer badge in the header
// that counts them, the list of jobs with an Open (PDF in the browser's own
// viewer and print dialog), a PDF download and a text download for each,
// and the print-screen entries (a header menu entry, and a key-bar button
// on block-mode screens).  A file is fetched from "/get_file" with the
// session's identifier, which is what lets a browser have it.
import { ACTION } from './kvx-protocol.js';
import { addKeyBarButton } from './kvx-keybar.js';
import { addHeaderItem } from './header.js';

export class PrintJobs {
  // `session()`: the session { id } now (null when none); `send(action,
  // fields)`: a frame to the session; `toast(text)`: a short message.
  constructor({ session, send, toast }) {
    this.session = session;
    this.send = send;
    this.toast = toast;
    this.jobs = [];
    this.list = document.createElement('div');
    this.list.id = 'print-jobs';
    this.list.className = 'popover kvx-print-jobs';
    this.list.setAttribute('role', 'dialog');
    this.list.setAttribute('aria-label', 'Print jobs');
    this.list.hidden = true;
    this.list.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape') this.close();
    });
    document.body.append(this.list);
    document.addEventListener('mousedown', (ev) => {
      if (!this.list.hidden && !this.list.contains(ev.target) && !ev.target.closest?.('[data-item="print-jobs"], #header-menu'))
        this.close();
    });
    addHeaderItem({ id: 'print-screen', label: 'Print screen', title: 'Print the screen as it shows now',
      order: 20, onSelect: () => this.printScreen() });
    addKeyBarButton({ id: 'print-screen', label: 'Print', title: 'Print the screen as it shows now',
      onClick: () => this.printScreen() });
    this.showBadge();
  }

  printScreen() {
    this.send(ACTION.CLIENT_ACTION_PRINT_SCREEN);
  }

  // A frame of the session; true when it was one of printing's.
  onFrame(frame) {
    const f = frame.fields;
    if (frame.action === ACTION.HOST_ACTION_PRINT_JOB) {
      const job = { id: f[0], name: f[1], pages: Number(f[2]) || 0, bytes: Number(f[3]) || 0,
        created: Number(f[4]) || 0 };
      if (!this.jobs.some((j) => j.id === job.id)) {
        this.jobs.push(job);
        if (this.attached) this.toast?.(`Print job ready: ${job.name} (${plural(job.pages, 'page')})`);
      }
    } else if (frame.action === ACTION.HOST_ACTION_PRINT_DROPPED) {
      this.jobs = this.jobs.filter((j) => j.id !== f[0]);
    } else {
      return false;
    }
    this.showBadge();
    if (!this.list.hidden) this.render();
    return true;
  }

  // A new channel: the session tells again of the jobs it keeps.
  reset() {
    this.jobs = [];
    this.attached = false;
    this.showBadge();
    // The jobs kept come right after the capabilities; those after are new.
    setTimeout(() => { this.attached = true; }, 1000);
  }

  showBadge() {
    const n = this.jobs.length;
    if (n === 0) {
      addHeaderItem({ id: 'print-jobs', label: 'Print jobs', title: 'No print jobs yet', order: 21,
        onSelect: () => this.open() });
      return;
    }
    addHeaderItem({ id: 'print-jobs', tool: true, label: `🖨\uFE0E ${n}`, title: `${plural(n, 'print job')}: show the list`,
      order: 21, onSelect: () => this.open() });
  }

  url(job, form, download) {
    const s = this.session();
    const q = new URLSearchParams({ session: s?.id ?? '', file: job.id, form });
    if (download) q.set('download', '1');
    return `/get_file?${q}`;
  }

  open() {
    this.render();
    this.list.hidden = false;
    this.list.querySelector('a, button')?.focus();
  }

  close() {
    this.list.hidden = true;
  }

  render() {
    this.list.replaceChildren();
    const title = document.createElement('h2');
    title.textContent = 'Print jobs';
    this.list.append(title);
    if (this.jobs.length === 0) {
      const p = document.createElement('p');
      p.textContent = 'No print jobs yet.';
      this.list.append(p);
    }
    const ul = document.createElement('ul');
    for (const job of [...this.jobs].reverse()) {
      const li = document.createElement('li');
      li.dataset.job = job.id;
      const name = document.createElement('span');
      name.className = 'name';
      const when = job.created ? new Date(job.created * 1000).toLocaleTimeString() : '';
      name.textContent = `${job.name} — ${plural(job.pages, 'page')}, ${size(job.bytes)}${when ? `, ${when}` : ''}`;
      li.append(name,
        link('Open', this.url(job, 'pdf', false), 'Open as PDF (print from the viewer)', true),
        link('PDF', this.url(job, 'pdf', true), 'Download as PDF'),
        link('Text', this.url(job, 'text', true), 'Download as text'));
      const drop = document.createElement('button');
      drop.type = 'button';
      drop.textContent = 'Remove';
      drop.addEventListener('click', () => this.send(ACTION.CLIENT_ACTION_PRINT_DROP, [job.id]));
      li.append(drop);
      ul.append(li);
    }
    this.list.append(ul);
  }
}

function link(text, href, title, newTab = false) {
  const a = document.createElement('a');
  a.textContent = text;
  a.href = href;
  a.title = title;
  if (newTab) {
    a.target = '_blank';
    a.rel = 'noopener';
  } else {
    a.setAttribute('download', '');
  }
  return a;
}

function plural(n, word) {
  return `${n} ${word}${n === 1 ? '' : 's'}`;
}

function size(bytes) {
  return bytes < 1024 ? `${bytes} bytes` : bytes < 1 << 20 ? `${Math.round(bytes / 1024)} KB`
    : `${(bytes / (1 << 20)).toFixed(1)} MB`;
}
