// The page: login, the channel list, the address (#live/N) and the
// WebSocket that carries the gateway's messages and the stream.
import { Films } from "./films.js";
import { LivePlayer } from "./player.js";

const $ = (id) => document.getElementById(id);
const video = $("player");
const player = new LivePlayer(video);

const state = {
  socket: null,
  retryDelay: 500,
  channels: [],
  playing: -1,      // the channel the gateway streams
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
  send({ type: "play", channel, quality: state.quality });
}

function showStatus(text, retry = false) {
  $("status").textContent = text;
  $("retry").hidden = !retry;
}

function showLogin(error = "") {
  $("watch").hidden = true;
  $("login").hidden = false;
  $("login-error").textContent = error;
  $("login").elements.user.focus();
}

function showWatch() {
  $("login").hidden = true;
  $("watch").hidden = false;
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
    button.setAttribute("aria-current", String(number === state.playing));
    button.addEventListener("click", () => { location.hash = `#live/${number}`; });
    item.append(button);
    return item;
  }));
  const current = state.channels.find((c) => c.number === state.playing);
  $("now-playing").textContent = current ? `${current.number}  ${current.name}` : "No channel";
}

function renderFigures() {
  const behind = window.orvandel.behindLive();
  $("figures").textContent = state.playing < 0 ? "" :
    `${state.size} · ${Math.round(state.kbps)} kbit/s · ${behind.toFixed(1)} s behind live`;
}

const films = new Films(send);

const handlers = {
  folder: (message) => films.showFolder(message),
  file: (message) => films.showFile(message),
  channels({ channels }) {
    state.channels = channels;
    renderChannels();
  },
  state({ state: link, channel, message }) {
    const retry = link === "takenover" || link === "failed";
    showStatus(message || (link === "connecting" ? "Connecting…" : ""), retry);
    if (link === "playing" || link === "connecting") return;
    if (link !== "ready") state.playing = channel;
    renderChannels();
  },
  stream(info) {
    state.playing = info.channel;
    state.size = info.width ? `${info.width}×${info.height}` : "Sound only";
    showStatus("");
    player.startStream(info);
    if (wantedChannel() !== info.channel) history.replaceState(null, "", `#live/${info.channel}`);
    renderChannels();
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
    play(wantedChannel());
    films.open(films.path);
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

$("login").addEventListener("submit", logIn);
$("up").addEventListener("click", () => step(1));
$("down").addEventListener("click", () => step(-1));
$("retry").addEventListener("click", () => play(wantedChannel() >= 0 ? wantedChannel() : state.playing));
$("sound").addEventListener("click", () => { video.muted = !video.muted; });
video.addEventListener("volumechange", updateSoundButton);
video.addEventListener("playing", updateSoundButton);
$("quality").value = String(state.quality);
$("quality").addEventListener("change", (event) => {
  state.quality = Number(event.target.value);
  localStorage.setItem("quality", String(state.quality));
  play(state.playing >= 0 ? state.playing : wantedChannel());
});
window.addEventListener("hashchange", () => {
  if (wantedChannel() !== state.playing) play(wantedChannel());
});
document.addEventListener("visibilitychange", () => {
  send({ type: "visible", visible: !document.hidden });
  // A page hidden for long had its stream let go: back in view, it asks again.
  if (!document.hidden) play(wantedChannel() >= 0 ? wantedChannel() : state.playing);
});
setInterval(renderFigures, 1000);

fetch("api/session").then((answer) => (answer.ok ? showWatch() : showLogin()), () => showLogin());
