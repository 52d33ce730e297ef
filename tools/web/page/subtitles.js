// A file stream's subtitle records as cues on the player's text track. A
// record of a file's own text track reads "Time#:ms:text", with the time of
// the picture it came with (a timed-text sample keeps its two length bytes);
// a record from a subtitle file is the SRT block from its timing line on,
// which carries its own start and end. Any other record is plain text,
// shown from where the stream had got to when it came.
const TIMED = /^Time#:(\d+):/;
const SRT_TIMES = /^\s*(\d+):(\d\d):(\d\d)[,.](\d{1,3})\s*-->\s*(\d+):(\d\d):(\d\d)[,.](\d{1,3})/;
const SHOWN_WITHOUT_END = 4;  // seconds, for a record that gives no end

function seconds(hours, minutes, secs, millis) {
  return Number(hours) * 3600 + Number(minutes) * 60 + Number(secs) + Number(millis.padEnd(3, "0")) / 1000;
}

// { start, end, text } in the file's seconds, or null for a record that is
// neither kind.
export function parseSubtitle(record) {
  const timed = TIMED.exec(record);
  if (timed) {
    const start = Number(timed[1]) / 1000;
    let text = record.slice(timed[0].length);
    if (text.charCodeAt(0) === 0) text = text.slice(2);
    return { start, end: start + SHOWN_WITHOUT_END, text: text.trim() };
  }
  const srt = SRT_TIMES.exec(record);
  if (!srt) return null;
  return {
    start: seconds(srt[1], srt[2], srt[3], srt[4]),
    end: seconds(srt[5], srt[6], srt[7], srt[8]),
    text: record.slice(srt[0].length).trim(),
  };
}

export class Subtitles {
  #track;

  constructor(video) {
    // Made before anything else: the player's first text track.
    this.#track = video.addTextTrack("subtitles", "Subtitles");
    this.#track.mode = "showing";
  }

  get shown() { return this.#track.mode === "showing"; }
  set shown(on) { this.#track.mode = on ? "showing" : "hidden"; }

  clear() {
    for (const cue of Array.from(this.#track.cues ?? [])) this.#track.removeCue(cue);
  }

  // The stream places the file's startSeconds at `timelineStart` on the
  // player's timeline; `at` is where it had got to when the record came.
  add(record, { timelineStart, startSeconds }, at) {
    const shift = timelineStart - startSeconds;
    const cue = parseSubtitle(record) ?? { start: at - shift, end: at - shift + SHOWN_WITHOUT_END, text: record.trim() };
    if (!cue.text || cue.end <= startSeconds) return;
    this.#track.addCue(new VTTCue(Math.max(cue.start + shift, timelineStart), cue.end + shift, cue.text));
  }
}
