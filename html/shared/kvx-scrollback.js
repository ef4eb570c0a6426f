// The page's view of the scrollback.  The mouse wheel, Shift+Page Up /
// Page Down and the scroll bar move it; the session sends the rows (every
// browser looks back on its own, the others stay live) and says where the
// view stands; the page marks that it is not live and offers the way back.
// On the alternate screen of full-screen programs, which keeps no
// scrollback, the wheel sends the cursor keys Up and Down instead.
//
// One request is on its way at a time: moves made meanwhile are gathered
// into the next one, so a fast wheel costs as many requests as the session
// can answer, each carrying only the rows that came into view.

const LOST_AFTER_MS = 1500;

export class ScrollView {
  // `bar` is the scroll bar's track (its first child the thumb);
  // `request(n)` asks for the view n rows back (0 live); `arrows(up, n)`
  // sends n cursor keys; `onChange(view)` hears of every new state.
  constructor({ screen, bar, badge, request, arrows, onChange }) {
    this.screen = screen;
    this.bar = bar;
    this.thumb = bar.firstElementChild;
    this.badge = badge;
    this.request = request;
    this.arrows = arrows;
    this.onChange = onChange;
    this.back = 0;         // rows back the session says the view stands
    this.kept = 0;         // rows the session keeps
    this.alternate = false;
    this.target = 0;       // rows back the person asked for
    this.inFlight = false;
    this.sentAt = 0;
    this.queued = null;
    this.wheelRows = 0;    // wheel movement not yet a whole row
    this.drag = null;      // { y, back } where a drag of the thumb began
    this.requests = 0;
    screen.afterDraw = () => this.renderNow();
    badge.addEventListener('click', () => this.live());
    // The way back keeps the focus where the typing goes.
    badge.addEventListener('mousedown', (ev) => ev.preventDefault());
    bar.addEventListener('pointerdown', (ev) => this.barDown(ev));
    bar.addEventListener('pointermove', (ev) => this.barMove(ev));
    bar.addEventListener('pointerup', () => {
      this.drag = null;
    });
    bar.addEventListener('mousedown', (ev) => ev.preventDefault());
    this.render();
  }

  // Another screen (another kind of host): nothing kept until the session
  // says otherwise.
  setScreen(screen) {
    this.screen = screen;
    screen.afterDraw = () => this.renderNow();
    this.kept = 0;
    this.alternate = false;
    this.wheelRows = 0;
    this.drag = null;
    this.reset();
  }

  // A new channel: the session starts it live.
  reset() {
    this.back = 0;
    this.target = 0;
    this.inFlight = false;
    this.queued = null;
    this.screen.setBack(false);
    this.render();
  }

  // The session's SCROLLBACK frame: rows back, rows kept, and how far the
  // cells shown move before the rows that follow.
  onState(back, kept, shift) {
    if (![back, kept, shift].every(Number.isInteger) || back < 0 || kept < 0) return;
    this.screen.shift(shift);
    this.back = back;
    this.kept = kept;
    this.inFlight = false;
    this.screen.setBack(back > 0);
    const queued = this.queued;
    this.queued = null;
    if (queued !== null && queued !== back) this.go(queued);
    else this.target = back;
    this.render();
  }

  setAlternate(on) {
    this.alternate = on;
  }

  get isBack() {
    return this.back > 0;
  }

  // Asks for the view n rows back.
  go(n) {
    const want = Math.max(0, Math.min(this.kept, Math.round(n)));
    this.target = want;
    // A request the session could not answer (it was waiting for an answer
    // to a question of its own) is given up after a while.
    if (this.inFlight && performance.now() - this.sentAt < LOST_AFTER_MS) {
      this.queued = want;
      return;
    }
    this.queued = null;
    if (want === this.back) {
      this.inFlight = false;
      return;
    }
    this.inFlight = true;
    this.sentAt = performance.now();
    this.requests++;
    if (!this.request(want)) this.inFlight = false;
  }

  // Positive: further back.
  scrollBy(rows) {
    this.go((this.queued ?? this.target) + rows);
  }

  scrollPages(pages) {
    this.scrollBy(pages * this.screen.rows);
  }

  live() {
    this.go(0);
  }

  // True when the page took the wheel event.
  onWheel(ev) {
    if (ev.ctrlKey || ev.deltaY === 0) return false;
    const rowH = this.screen.cellSize().height;
    const rows = ev.deltaMode === 1 ? ev.deltaY : ev.deltaMode === 2 ? ev.deltaY * this.screen.rows : ev.deltaY / rowH;
    if (this.alternate && !this.isBack) {
      this.wheelRows += rows;
      const whole = Math.trunc(this.wheelRows);
      this.wheelRows -= whole;
      if (whole) this.arrows(whole < 0, Math.min(Math.abs(whole), this.screen.rows));
      return true;
    }
    if (this.kept === 0 && !this.isBack) return false;
    // Wheel down (positive) goes towards the live screen.
    this.wheelRows -= rows;
    const whole = Math.trunc(this.wheelRows);
    this.wheelRows -= whole;
    if (whole) this.scrollBy(whole);
    return true;
  }

  // Rows of scrollback per pixel of the track's free length.
  rowsPerPixel() {
    const track = this.bar.clientHeight - this.thumb.offsetHeight;
    return track > 0 ? this.kept / track : 0;
  }

  // The thumb follows a drag; a press on the track beside it moves a page.
  barDown(ev) {
    if (this.kept === 0 || ev.button !== 0) return;
    if (ev.target === this.thumb) {
      this.drag = { y: ev.clientY, back: this.target };
      this.bar.setPointerCapture(ev.pointerId);
      return;
    }
    const box = this.thumb.getBoundingClientRect();
    this.scrollPages(ev.clientY < box.top ? 1 : -1);
  }

  barMove(ev) {
    if (!this.drag) return;
    this.go(this.drag.back - (ev.clientY - this.drag.y) * this.rowsPerPixel());
  }

  // The scroll bar and the way back, drawn with the screen's next drawing
  // (after the rows of a move have come), or in a frame of their own.
  render() {
    if (this.renderRequested) return;
    this.renderRequested = true;
    if (this.screen.settled) {
      requestAnimationFrame(() => this.renderNow());
    }
  }

  renderNow() {
    if (!this.renderRequested) return;
    this.renderRequested = false;
    const { kept, back } = this;
    this.bar.hidden = kept === 0;
    if (kept > 0) {
      const rows = this.screen.rows;
      const track = this.bar.clientHeight;
      const size = Math.max(18, Math.round((track * rows) / (kept + rows)));
      this.thumb.style.height = `${size}px`;
      this.thumb.style.top = `${Math.round(((kept - back) / kept) * (track - size))}px`;
    }
    this.badge.hidden = back === 0;
    this.badge.textContent = `${back} ${back === 1 ? 'row' : 'rows'} back · Back to live`;
    this.onChange?.(this);
  }
}
