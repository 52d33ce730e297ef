// Plays the gateway's fragmented MP4 through Media Source Extensions and
// keeps a live picture close to the live edge.

// The server sends its stream in batches, so pictures arrive in bursts; the
// player stays behind the newest picture by about the longest recent gap
// between bursts, which plays smoothly (the first stall builds that lag),
// and jumps forward only when it has fallen a second further behind than
// that, after a hidden tab, say.
const JUMP_SLACK = 1.0;
const BURST_GAP = 0.25;        // a longer silence ends a burst
const GAP_MEMORY = 0.9;        // how fast the remembered gap shrinks, per burst
const SMALLEST_LAG = 0.2;
const LARGEST_LAG = 4.0;
const KEEP_BEHIND = 10;        // seconds of played stream kept buffered

export class LivePlayer {
  #video;
  #mediaSource = null;
  #sourceBuffer = null;
  #codecs = "";
  #queue = [];
  #streamStart = 0;
  #awaitingFirst = false;
  #zap = null;
  #watch = 0;
  #lastArrival = 0;
  #gap = 0;
  #live = true;
  onFirstPicture = () => {};

  constructor(video) {
    this.#video = video;
  }

  // A new stream (a channel change, a quality change, a file or a first
  // start): its fragments follow on the same timeline, from `start` seconds.
  // A file's pictures come ahead of time and play as they are.
  startStream({ codecs, start, live = true }) {
    this.#live = live;
    // A gateway that restarted begins its timeline anew: old pictures
    // would sit where the new ones go.
    const ranges = this.#video.buffered;
    const behind = ranges.length > 0 && start <= ranges.end(ranges.length - 1);
    if (codecs !== this.#codecs || !this.#mediaSource || behind) this.#open(codecs);
    // Every stream's own times start at 0; this places it on the timeline.
    this.#queue.push({ offset: start });
    this.#streamStart = start;
    this.#awaitingFirst = true;
    this.#watchForFirstPicture(start);
  }

  // The stream has sent its last picture (a file's end): once all of it is
  // in, the player plays to the end and stops there.
  endStream() {
    this.#queue.push({ end: true });
    this.#pump();
  }

  // Marks the moment a viewer asked for another channel.
  zapRequested(channel) {
    this.#zap = { channel, requested: performance.now() };
  }

  append(bytes) {
    const now = performance.now() / 1000;
    const silence = now - this.#lastArrival;
    if (this.#lastArrival && silence > BURST_GAP) this.#gap = Math.max(silence, this.#gap * GAP_MEMORY);
    this.#lastArrival = now;
    this.#queue.push(bytes);
    this.#pump();
  }

  // How far behind the newest picture the player means to stay.
  targetLag() {
    return Math.min(LARGEST_LAG, Math.max(SMALLEST_LAG, this.#gap + 0.1));
  }

  // Seconds between what plays and the newest picture received.
  behindEdge() {
    const ranges = this.#video.buffered;
    if (ranges.length === 0) return 0;
    return Math.max(0, ranges.end(ranges.length - 1) - this.#video.currentTime);
  }

  #open(codecs) {
    const Source = window.ManagedMediaSource || window.MediaSource;
    const type = `video/mp4; codecs="${codecs}"`;
    if (!Source || !Source.isTypeSupported(type)) throw new Error(`This browser cannot play ${type}`);
    this.#codecs = codecs;
    this.#queue = [];
    this.#sourceBuffer = null;
    const mediaSource = new Source();
    this.#mediaSource = mediaSource;
    this.#video.disableRemotePlayback = true;  // ManagedMediaSource wants it
    if (this.#video.src) URL.revokeObjectURL(this.#video.src);
    this.#video.src = URL.createObjectURL(mediaSource);
    mediaSource.addEventListener("sourceopen", () => {
      if (mediaSource !== this.#mediaSource) return;
      this.#sourceBuffer = mediaSource.addSourceBuffer(type);
      this.#sourceBuffer.addEventListener("updateend", () => this.#afterAppend());
      this.#pump();
    }, { once: true });
  }

  #pump() {
    const buffer = this.#sourceBuffer;
    if (!buffer || buffer.updating || this.#queue.length === 0) return;
    const played = this.#video.currentTime;
    if (buffer.buffered.length && played - buffer.buffered.start(0) > 2 * KEEP_BEHIND) {
      buffer.remove(0, played - KEEP_BEHIND);
      return;
    }
    const next = this.#queue.shift();
    if (next.end) {
      if (this.#mediaSource.readyState === "open") this.#mediaSource.endOfStream();
      return;
    }
    if (next.offset !== undefined) {
      buffer.timestampOffset = next.offset;
      this.#pump();
      return;
    }
    try {
      buffer.appendBuffer(next);
    } catch (error) {
      if (error.name !== "QuotaExceededError") throw error;
      this.#queue.unshift(next);
      if (played > 1) buffer.remove(0, played - 1);
    }
  }

  #afterAppend() {
    const ranges = this.#video.buffered;
    if (ranges.length > 0) {
      const edge = ranges.end(ranges.length - 1);
      const video = this.#video;
      if (this.#awaitingFirst && edge > this.#streamStart) {
        this.#awaitingFirst = false;
        video.currentTime = ranges.start(ranges.length - 1);
        this.#play();
      } else if (this.#live && !this.#awaitingFirst && edge - video.currentTime > this.targetLag() + JUMP_SLACK) {
        video.currentTime = edge - this.targetLag();
      }
    }
    this.#pump();
  }

  #play() {
    const video = this.#video;
    video.play().catch(() => {
      // Without a gesture on this page the browser plays only muted.
      video.muted = true;
      video.play().catch(() => {});
    });
  }

  #watchForFirstPicture(start) {
    const video = this.#video;
    if (!video.requestVideoFrameCallback) return;
    const watch = ++this.#watch;
    const check = (now, frame) => {
      if (watch !== this.#watch) return;
      if (frame.mediaTime + 0.001 < start) {
        video.requestVideoFrameCallback(check);
        return;
      }
      const zap = this.#zap;
      this.#zap = null;
      this.onFirstPicture({ start, shownAt: now, zap });
    };
    video.requestVideoFrameCallback(check);
  }
}
