// The page: login, the channel list, the address (#live/N) and the
// WebSocket that carries the gateway's messages and the stream.
import { Films, clock, fileHash, go, wantedFile } from "./films.js";
import { Guide, clockTime, showProgress } from "./guide.js";
import { LivePlayer } from "./player.js";
import { Recorder } from "./recorder.js";
import { Schedules } from "./schedules.js";
import { Subtitles } from "./subtitles.js";

const $ = (id) => document.getElementById(id);
const video = $("player");
const player = new LivePlayer(video);
const subtitles = new Subtitles(video);

const state = {
  socket: null,
  retryDelay: 500,
  channels: [],
  playing: -1,      // the channel the gateway streams
  file: null,       // or the file: { path, startSeconds, duration, timelineStart }
  quality: Number(localStorage.getItem("quality") ?? 1),
  size: "",
  kbps: 0,
  delay: 0,
};

// What tests and benches read: the time from a click to the new channel's
// first picture, for every channel change.
window.orvandel = {
  zaps: [],
  firstPictures: 0,
  behindEdge: () => player.behindEdge(),
  // The server-to-gateway delay of the newest chunk plus the player's lag.
  behindLive: () => state.delay + player.behindEdge(),
  // Where the playing file is, in its own seconds.
  filePosition: () => filePosition(),
};

player.onFirstPicture = ({ shownAt, zap }) => {
  window.orvandel.firstPictures += 1;
  if (zap) window.orvandel.zaps.push({ channel: zap.channel, ms: shownAt - zap.requested });
};

function wantedChannel() {
  const match = /^#live\/(\d+)$/.exec(location.hash);
  return match ? Number(match[1]) : -1;
}

function send(message) {
  if (state.socket?.readyState === WebSocket.OPEN) state.socket.send(JSON.stringify(message));
}

function play(channel) {
  if (channel < 0) return;
  player.zapRequested(channel);
  send({ type: "play", channel, quality: state.quality, captions: $("captions").checked });
}

// What the address asks for, or else the channel last played.
function playWanted() {
  const file = wantedFile();
  if (file) {
    send({ type: "playfile", path: file.path, start: file.start, quality: state.quality,
           ...films.streamsFor(file.path) });
  } else {
    play(wantedChannel() >= 0 ? wantedChannel() : state.playing);
  }
}

// The film playing goes on from where it is, with new streams or quality.
function replayFile(path = state.file?.path) {
  if (!state.file || state.file.path !== path || !wantedFile()) return;
  history.replaceState(null, "", fileHash(path, filePosition()));
  playWanted();
}

function filePosition() {
  const file = state.file;
  if (!file) return 0;
  return file.startSeconds + Math.max(0, video.currentTime - file.timelineStart);
}

function showFileControls() {
  const file = state.file;
  $("file-controls").hidden = !file;
  if (!file) return;
  // The last whole second the server still starts from.
  $("seek").max = String(Math.max(0, Math.ceil(file.duration) - 1));
  if (document.activeElement !== $("seek")) $("seek").value = String(Math.floor(filePosition()));
}

function showStatus(text, retry = false) {
  $("status").textContent = text;
  $("retry").hidden = !retry;
}

function showLogin(error = "") {
  $("watch").hidden = true;
  $("logout").hidden = true;
  $("login").hidden = false;
  $("login-error").textContent = error;
  $("login").elements.user.focus();
}

function showWatch() {
  $("login").hidden = true;
  $("watch").hidden = false;
  $("logout").hidden = false;
  connect();
}

function renderChannels() {
  const list = $("channels");
  list.replaceChildren(...state.channels.map(({ number, name, scheduled }) => {
    const item = document.createElement("li");
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = `${number}  ${name || "Channel " + number}`;
    if (scheduled) {
      const mark = document.createElement("span");
      mark.className = "scheduled";
      mark.textContent = "Recording scheduled";
      button.append(mark);
    }
    const on = guide.nowOn(number);
    if (on) button.append(onNowLine(on));
    button.setAttribute("aria-current", String(number === state.playing));
    button.addEventListener("click", () => { location.hash = `#live/${number}`; });
    item.append(button);
    return item;
  }));
  const current = state.channels.find((c) => c.number === state.playing);
  const film = state.file?.path.slice(state.file.path.lastIndexOf("/") + 1);
  $("now-playing").textContent = current ? `${current.number}  ${current.name}` : film ?? "No channel";
}

// "The News, until 20:30", with how far it has come.
function onNowLine({ title, start, stop, next }) {
  const line = document.createElement("span");
  line.className = "on-now";
  line.textContent = `${title}, until ${clockTime(stop)}` + (next ? `; then ${next}` : "");
  const progress = document.createElement("progress");
  progress.max = stop - start;
  progress.dataset.start = String(start);
  progress.dataset.title = title;
  showProgress(progress);
  line.append(progress);
  return line;
}

function renderFigures() {
  const rate = `${state.size} · ${Math.round(state.kbps)} kbit/s`;
  if (state.file) {
    $("figures").textContent = `${rate} · ${clock(filePosition())} of ${clock(state.file.duration)}`;
    showFileControls();
    return;
  }
  const behind = window.orvandel.behindLive();
  $("figures").textContent = state.playing < 0 ? "" : `${rate} · ${behind.toFixed(1)} s behind live`;
}

const films = new Films(send, () => state.quality, replayFile);
const recorder = new Recorder(send, () => state.playing);
const schedules = new Schedules(send);
const guide = new Guide(send, (channel) => { location.hash = `#live/${channel}`; }, () => renderChannels());

const handlers = {
  folder: (message) => films.showFolder(message),
  file: (message) => films.showFile(message),
  download: (message) => films.showDownload(message),
  recording: (message) => recorder.recording(message),
  recordingstatus: (message) => recorder.recordingStatus(message),
  monitoring: (message) => recorder.monitoring(message),
  motion: (message) => recorder.motion(message),
  schedules: (message) => schedules.showList(message),
  schedule: (message) => schedules.showResult(message),
  guidenow: (message) => guide.showNow(message),
  guideday: (message) => guide.showDay(message),
  rules: (message) => guide.showRules(message),
  channels({ channels }) {
    state.channels = channels;
    schedules.setChannels(channels);
    guide.setChannels(channels);
    renderChannels();
  },
  state({ state: link, channel, message }) {
    if (link === "ended") {
      player.endStream();
      return;
    }
    // Nothing streams: monitoring, which goes with the stream, has ended.
    if (link === "ready") recorder.streamStopped();
    const retry = link === "takenover" || link === "failed";
    showStatus(message || (link === "connecting" ? "Connecting…" : ""), retry);
    if (link === "playing" || link === "connecting") return;
    if (link !== "ready") state.playing = channel;
    renderChannels();
  },
  stream(info) {
    state.playing = info.channel;
    state.file = info.file === undefined ? null :
      { path: info.file, startSeconds: info.startSeconds, duration: info.duration, timelineStart: info.start };
    state.size = info.width ? `${info.width}×${info.height}` : "Sound only";
    showStatus("");
    subtitles.clear();
    recorder.streamStopped();
    player.startStream({ ...info, live: !state.file });
    if (!state.file && wantedChannel() !== info.channel) history.replaceState(null, "", `#live/${info.channel}`);
    renderChannels();
    renderFigures();
  },
  // Why the channel changed by itself: a recording took the tuner.
  notice({ text }) {
    $("notice").textContent = text;
    $("notice").hidden = false;
    clearTimeout(state.noticeTimer);
    state.noticeTimer = setTimeout(() => { $("notice").hidden = true; }, 60000);
  },
  subtitle({ text, at }) {
    if (state.file) subtitles.add(text, state.file, at);
  },
  stats({ kbps, delay }) {
    state.kbps = kbps;
    state.delay = delay;
    renderFigures();
  },
};

function reconnectLater() {
  showStatus("Reconnecting…");
  setTimeout(connect, state.retryDelay);
  state.retryDelay = Math.min(2 * state.retryDelay, 4000);
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  const socket = new WebSocket(`${scheme}://${location.host}/stream`);
  socket.binaryType = "arraybuffer";
  state.socket = socket;
  socket.addEventListener("open", () => {
    state.retryDelay = 500;
    send({ type: "visible", visible: !document.hidden });
    if (wantedFile()) playWanted();
    else play(wantedChannel());
    recorder.reconnected();
    films.open();
    schedules.refresh();
    guide.refresh();
    send({ type: "recordingstatus" });
  });
  socket.addEventListener("message", ({ data }) => {
    if (typeof data !== "string") {
      player.append(data);
      return;
    }
    const message = JSON.parse(data);
    handlers[message.type]?.(message);
  });
  socket.addEventListener("close", ({ code }) => {
    if (socket !== state.socket) return;
    // A gateway that restarted has forgotten the login: its refusal of the
    // stream looks like any dropped connection, so the session is asked.
    fetch("api/session").then((answer) => {
      if (code === 1008 || answer.status === 401) showLogin("Please log in again.");
      else reconnectLater();
    }, reconnectLater);
  });
}

async function logIn(event) {
  event.preventDefault();
  const form = event.target;
  const button = form.querySelector("button");
  button.disabled = true;
  $("login-error").textContent = "";
  try {
    const response = await fetch("api/login", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ user: form.elements.user.value, password: form.elements.password.value }),
    });
    if (response.ok) {
      form.elements.password.value = "";
      showWatch();
    } else {
      const answer = await response.json().catch(() => ({}));
      showLogin(answer.error || "The server is not reachable");
    }
  } catch {
    showLogin("The server is not reachable");
  } finally {
    button.disabled = false;
  }
}

function step(direction) {
  const numbers = state.channels.map((c) => c.number);
  if (numbers.length === 0) return;
  const at = numbers.indexOf(state.playing);
  const next = numbers[(at + direction + numbers.length) % numbers.length];
  location.hash = `#live/${next}`;
}

function updateSoundButton() {
  const on = !video.muted;
  $("sound").textContent = on ? "Sound on" : "Sound off";
  $("sound").setAttribute("aria-pressed", String(on));
}

// The gateway forgets the session and ends the streams opened with it;
// this page lets go of its connection first, so that the end is not taken
// for a drop.
async function logOut() {
  const socket = state.socket;
  state.socket = null;
  await fetch("api/logout", { method: "POST" }).catch(() => {});
  socket?.close();
  showLogin();
}

$("login").addEventListener("submit", logIn);
$("logout").addEventListener("click", logOut);
$("up").addEventListener("click", () => step(1));
$("down").addEventListener("click", () => step(-1));
$("retry").addEventListener("click", playWanted);
$("sound").addEventListener("click", () => { video.muted = !video.muted; });
video.addEventListener("volumechange", updateSoundButton);
video.addEventListener("ended", () => { if (state.file) showStatus("The end"); });
video.addEventListener("playing", updateSoundButton);
$("quality").value = String(state.quality);
$("quality").addEventListener("change", (event) => {
  state.quality = Number(event.target.value);
  localStorage.setItem("quality", String(state.quality));
  if (wantedFile()) {
    // A film goes on from where it is, in the new quality.
    if (state.file) history.replaceState(null, "", fileHash(state.file.path, filePosition()));
    playWanted();
  } else {
    play(state.playing >= 0 ? state.playing : wantedChannel());
  }
});
$("seek").addEventListener("change", (event) => {
  if (state.file) go(fileHash(state.file.path, Number(event.target.value)));
});
$("captions").addEventListener("change", () => play(state.playing));
$("subtitles-on").addEventListener("change", (event) => { subtitles.shown = event.target.checked; });
window.addEventListener("hashchange", () => {
  if (wantedFile()) playWanted();
  else if (wantedChannel() !== state.playing) play(wantedChannel());
});
document.addEventListener("visibilitychange", () => {
  send({ type: "visible", visible: !document.hidden });
  // A page hidden for long had its stream let go: back in view, it asks again.
  if (!document.hidden) playWanted();
});
setInterval(renderFigures, 1000);

fetch("api/session").then((answer) => (answer.ok ? showWatch() : showLogin()), () => showLogin());
