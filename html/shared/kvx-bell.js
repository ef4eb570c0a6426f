// The bell: a short flash of the terminal, and a short tone when the person
// asked for one; at most one per 200 ms however often the host rings.

export const BELL_INTERVAL_MS = 200;

export class Bell {
  // `element` flashes; `wantSound()` says whether to sound as well.
  constructor(element, wantSound = () => false) {
    this.element = element;
    this.wantSound = wantSound;
    this.last = -Infinity;
    this.rings = 0;
    this.audio = null;
  }

  ring() {
    const now = performance.now();
    if (now - this.last < BELL_INTERVAL_MS) return false;
    this.last = now;
    this.rings++;
    const el = this.element;
    el.classList.remove('kvx-bell');
    void el.offsetWidth;  // restarts the animation
    el.classList.add('kvx-bell');
    if (this.wantSound()) this.sound();
    return true;
  }

  sound() {
    try {
      this.audio ??= new AudioContext();
      const ctx = this.audio;
      const tone = ctx.createOscillator();
      const gain = ctx.createGain();
      tone.frequency.value = 880;
      gain.gain.setValueAtTime(0.12, ctx.currentTime);
      gain.gain.exponentialRampToValueAtTime(0.001, ctx.currentTime + 0.12);
      tone.connect(gain).connect(ctx.destination);
      tone.start();
      tone.stop(ctx.currentTime + 0.12);
    } catch {
      // No audio here: the flash says it.
    }
  }
}
