// The films' browser: the shared folders, their subfolders and files, and
// a file's description, asked of the gateway over the page's WebSocket.
const $ = (id) => document.getElementById(id);

// Entry letters of a listing: folder, shortcut to a folder, shortcut to a
// file (both with their target's full path as the name), file.
const FOLDER = "d", FOLDER_LINK = "l", FILE_LINK = "v";

export function clock(seconds) {
  const whole = Math.floor(seconds);
  const parts = [Math.floor(whole / 3600), Math.floor(whole / 60) % 60, whole % 60];
  return parts.map((part) => String(part).padStart(2, "0")).join(":");
}

// The address that plays a file from a position.
export function fileHash(path, start) {
  return `#file/${encodeURIComponent(path)}?start=${Math.max(0, Math.floor(start))}`;
}

// Goes to an address; the same address again plays again.
export function go(hash) {
  if (location.hash === hash) window.dispatchEvent(new HashChangeEvent("hashchange"));
  else location.hash = hash;
}

// The file and start position the address asks for, or null.
export function wantedFile() {
  const match = /^#file\/([^?]+)(?:\?start=(\d+(?:\.\d*)?))?$/.exec(location.hash);
  return match ? { path: decodeURIComponent(match[1]), start: Math.floor(Number(match[2] ?? 0)) } : null;
}

// One folder's listing as buttons: folders open in place ("Up" above a
// shared folder leads back to the list of them), files go to `pick`.
class FolderView {
  constructor(list, heading, browse, pick) {
    Object.assign(this, { list, heading, browse, pick });
    this.path = "/";
    this.roots = [];
  }

  parentOf(path) {
    if (this.roots.includes(path)) return "/";
    const cut = path.lastIndexOf("/");
    return cut > 0 ? path.slice(0, cut) : "/";
  }

  targetOf(entry) {
    if (entry.name === "..") return this.parentOf(this.path);
    if (this.path === "/" || entry.type === FOLDER_LINK || entry.type === FILE_LINK) return entry.name;
    return `${this.path}/${entry.name}`;
  }

  // The reason is in the gateway's log: the page says nothing of what lies
  // outside the shared folders, which the server lists as empty, without
  // even "..". A way back to the shared folders stays.
  show({ path, error, entries }) {
    if (error || (path !== "/" && entries.length === 0)) {
      this.heading.textContent = "This folder is not available";
      const back = document.createElement("button");
      back.type = "button";
      back.textContent = "Shared folders";
      back.addEventListener("click", () => this.browse("/"));
      const item = document.createElement("li");
      item.append(back);
      this.list.replaceChildren(item);
      return;
    }
    this.path = path;
    if (path === "/") this.roots = entries.map((entry) => entry.name);
    this.heading.textContent = path === "/" ? "Shared folders" : path;
    this.list.replaceChildren(...entries.map((entry) => {
      const item = document.createElement("li");
      const button = document.createElement("button");
      const isFolder = entry.type === FOLDER || entry.type === FOLDER_LINK;
      button.type = "button";
      button.className = isFolder ? "folder" : "file";
      button.textContent = entry.name === ".." ? "Up" : entry.name;
      const target = this.targetOf(entry);
      button.addEventListener("click", () => (isFolder ? this.browse(target) : this.pick(target)));
      item.append(button);
      return item;
    }));
  }
}

// Which of a film's streams play: the server's choice of sound (-1) or a
// stream of the file; subtitles from the companion file (COMPANION), a
// stream of the file, another subtitle file, or none (-1).
const COMPANION = -2;
const COMPANION_TEXT = "Subtitle: srt: ";
const DEFAULT_STREAMS = { audio: -1, subtitle: COMPANION, subtitleFile: "" };

export class Films {
  #choice = { path: "", ...DEFAULT_STREAMS };

  // `quality` gives the quality a download is made in; `replay` restarts
  // the film playing with the streams chosen.
  constructor(send, quality, replay) {
    this.send = send;
    this.quality = quality;
    this.replay = replay;
    this.downloadSpan = 0;
    this.folders = new FolderView($("films-list"), $("films-path"), (path) => this.send({ type: "browse", path }),
                                  (path) => this.send({ type: "describe", path }));
    this.subtitleFiles = new FolderView($("subtitle-list"), $("subtitle-path"),
                                        (path) => this.send({ type: "browse", path, subtitles: true }),
                                        (path) => this.#pickSubtitleFile(path));
    $("download-cancel").addEventListener("click", () => this.send({ type: "canceldownload" }));
    $("audio-choice").addEventListener("change", (event) => this.#choose({ audio: Number(event.target.value) }));
    $("subtitle-choice").addEventListener("change", (event) => this.#chooseSubtitles(event.target.value));
  }

  open(path = this.folders.path) {
    this.folders.browse(path);
  }

  showFolder(message) {
    if (message.subtitles) this.subtitleFiles.show(message);
    else this.folders.show(message);
  }

  // The streams to ask for with the file at `path`: the viewer's choice for
  // the film described, the defaults for any other.
  streamsFor(path) {
    const { audio, subtitle, subtitleFile } = path === this.#choice.path ? this.#choice : DEFAULT_STREAMS;
    return { audio, subtitle, subtitleFile };
  }

  #choose(change) {
    Object.assign(this.#choice, change);
    this.replay(this.#choice.path);
  }

  #chooseSubtitles(value) {
    $("subtitle-picker").hidden = value !== "file";
    if (value === "file") {
      this.subtitleFiles.roots = this.folders.roots;
      this.subtitleFiles.browse(this.folders.parentOf(this.#choice.path));
      return;
    }
    this.#choose({ subtitle: Number(value), subtitleFile: "" });
  }

  #pickSubtitleFile(path) {
    $("subtitle-picker").hidden = true;
    $("subtitle-file").textContent = path.slice(path.lastIndexOf("/") + 1);
    this.#choose({ subtitleFile: path });
  }

  // The sound and subtitle choices the description offers.
  #offerStreams(path, streams) {
    const numbered = streams.map((text, index) => ({ text, index }));
    const sounds = numbered.filter(({ text }) => text.startsWith("Audio:"));
    const companion = streams.some((text) => text.startsWith(COMPANION_TEXT));
    // The server loads its subtitle file, the companion, for any subtitle
    // number: beside one, the film's own subtitle streams cannot be had.
    const embedded = companion ? [] : numbered.filter(({ text }) => text.startsWith("Subtitle:"));
    this.#choice = { path, ...DEFAULT_STREAMS, subtitle: companion ? COMPANION : -1 };
    $("audio-choice").replaceChildren(new Option("Automatic", -1),
                                      ...sounds.map(({ text, index }) => new Option(text, index)));
    $("audio-choice").parentElement.hidden = sounds.length < 2;
    $("subtitle-choice").replaceChildren(
      ...(companion ? [new Option("The film's subtitle file", COMPANION)] : []),
      ...embedded.map(({ text, index }) => new Option(text, index)),
      new Option("Another subtitle file…", "file"), new Option("None", -1));
    $("subtitle-choice").value = String(this.#choice.subtitle);
    $("subtitle-picker").hidden = true;
    $("subtitle-file").textContent = "";
  }

  showFile({ path, error, duration, kbps, streams, artist, album, genre }) {
    $("file-name").textContent = path.slice(path.lastIndexOf("/") + 1);
    const fields = error ? [["", "This file is not available"]] : [
      ["Duration", clock(duration)],
      ["Bit rate", `${kbps} kbit/s`],
      ...streams.map((text, index) => [`Stream ${index + 1}`, text]),
      ["Artist", artist], ["Album", album], ["Genre", genre],
    ].filter(([, value]) => value);
    $("file-fields").replaceChildren(...fields.flatMap(([name, value]) => {
      const term = document.createElement("dt");
      const detail = document.createElement("dd");
      term.textContent = name;
      detail.textContent = value;
      return [term, detail];
    }));
    if (!error) this.#offerStreams(path, streams);
    $("stream-choices").hidden = Boolean(error);
    $("play-file").hidden = $("download-file").hidden = Boolean(error);
    $("play-file").onclick = () => go(fileHash(path, 0));
    $("download-file").onclick = () => {
      const start = Number($("download-from").value) || 0;
      const length = Number($("download-length").value) || 0;
      this.downloadSpan = length || duration - start;
      this.send({ type: "download", path, quality: this.quality(), start, length });
    };
    $("file-info").hidden = false;
  }

  // A download's start, progress, end or failure, as the gateway tells it.
  showDownload({ state, error, seconds, name, url, bytes }) {
    const progress = $("download-progress");
    const link = $("download-link");
    $("download").hidden = false;
    $("download-cancel").hidden = Boolean(error) || state === "ready" || state === "writing";
    link.hidden = state !== "ready";
    if (error) {
      $("download-text").textContent = error;
    } else if (state === "started") {
      progress.value = 0;
      $("download-text").textContent = `Downloading ${name}…`;
    } else if (state === "progress") {
      progress.value = this.downloadSpan > 0 ? Math.min(1, seconds / this.downloadSpan) : 0;
      $("download-text").textContent = `Downloading: ${Math.round(progress.value * 100)} %`;
    } else if (state === "writing") {
      progress.value = 1;
      $("download-text").textContent = "Writing the MP4…";
    } else if (state === "ready") {
      progress.value = 1;
      $("download-text").textContent = `${(bytes / 1e6).toFixed(1)} MB in ${seconds.toFixed(1)} s`;
      link.href = url;
      link.download = name;
      link.textContent = `Save ${name}`;
    }
  }
}
