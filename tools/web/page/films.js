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

// The file and start position the address asks for, or null.
export function wantedFile() {
  const match = /^#file\/([^?]+)(?:\?start=(\d+(?:\.\d*)?))?$/.exec(location.hash);
  return match ? { path: decodeURIComponent(match[1]), start: Math.floor(Number(match[2] ?? 0)) } : null;
}

export class Films {
  // `quality` gives the quality a download is made in.
  constructor(send, quality) {
    this.send = send;
    this.quality = quality;
    this.path = "/";
    this.roots = [];
    this.duration = 0;
    $("download-cancel").addEventListener("click", () => this.send({ type: "canceldownload" }));
  }

  open(path) {
    this.send({ type: "browse", path });
  }

  // The shared folders are roots: ".." above one of them leads back to "/".
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

  showFolder({ path, error, entries }) {
    // The reason is in the gateway's log: the page says nothing of what
    // lies outside the shared folders.
    if (error) {
      $("films-path").textContent = "This folder is not available";
      $("films-list").replaceChildren();
      return;
    }
    this.path = path;
    if (path === "/") this.roots = entries.map((entry) => entry.name);
    $("films-path").textContent = path === "/" ? "Shared folders" : path;
    $("films-list").replaceChildren(...entries.map((entry) => {
      const item = document.createElement("li");
      const button = document.createElement("button");
      const isFolder = entry.type === FOLDER || entry.type === FOLDER_LINK;
      button.type = "button";
      button.className = isFolder ? "folder" : "file";
      button.textContent = entry.name === ".." ? "Up" : entry.name;
      const target = this.targetOf(entry);
      button.addEventListener("click", () =>
        isFolder ? this.open(target) : this.send({ type: "describe", path: target }));
      item.append(button);
      return item;
    }));
  }

  showFile({ path, error, duration, kbps, streams, artist, album, genre }) {
    this.duration = duration;
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
    $("play-file").hidden = $("download-file").hidden = Boolean(error);
    $("play-file").onclick = () => { location.hash = fileHash(path, 0); };
    $("download-file").onclick = () => this.send({ type: "download", path, quality: this.quality() });
    $("file-info").hidden = false;
  }

  // A download's start, progress, end or failure, as the gateway tells it.
  showDownload({ state, error, seconds, name, url, bytes }) {
    const progress = $("download-progress");
    const link = $("download-link");
    $("download").hidden = false;
    $("download-cancel").hidden = Boolean(error) || state === "ready";
    link.hidden = state !== "ready";
    if (error) {
      $("download-text").textContent = error;
    } else if (state === "started") {
      progress.value = 0;
      $("download-text").textContent = `Downloading ${name}…`;
    } else if (state === "progress") {
      progress.value = this.duration > 0 ? Math.min(1, seconds / this.duration) : 0;
      $("download-text").textContent = `Downloading: ${Math.round(progress.value * 100)} %`;
    } else if (state === "ready") {
      progress.value = 1;
      $("download-text").textContent = `${(bytes / 1e6).toFixed(1)} MB in ${seconds.toFixed(1)} s`;
      link.href = url;
      link.download = name;
      link.textContent = `Save ${name}`;
    }
  }
}
