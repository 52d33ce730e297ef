// Recording the channel playing, and watching it for motion: both are the
// server's, asked for over the page's WebSocket and polled while they run.
import { clock } from "./films.js";

const $ = (id) => document.getElementById(id);
const RECORDING_POLL_MS = 1000;
const MOTION_POLL_MS = 3000;

export class Recorder {
  #recordingPoll = 0;
  #motionPoll = 0;
  #asking = new Set();  // polls sent and not answered yet: never two at once

  // `channel` gives the channel playing, or -1.
  constructor(send, channel) {
    this.send = send;
    this.channel = channel;
    $("record").addEventListener("click", () => this.#toggleRecording());
    $("monitor").addEventListener("click", () => this.#startMonitoring());
  }

  #toggleRecording() {
    if (this.#recordingPoll) this.send({ type: "stoprecord" });
    else if (this.channel() >= 0) this.send({ type: "record", channel: this.channel() });
  }

  #startMonitoring() {
    if (this.channel() < 0) return;
    if ("Notification" in window && Notification.permission === "default") Notification.requestPermission();
    this.send({ type: "monitor", channel: this.channel() });
  }

  // The answers the gateway passes on.
  recording({ started, stopped, error }) {
    if (error || started === false) {
      $("record-state").textContent = error || "The recording did not start";
      return;
    }
    if (started) {
      $("record-state").textContent = "Recording 00:00:00";
      clearInterval(this.#recordingPoll);
      this.#recordingPoll = setInterval(() => this.#poll("recordingstatus"), RECORDING_POLL_MS);
    }
    if (stopped) this.send({ type: "recordingstatus" });
    this.#showRecording(Boolean(started));
  }

  // Also asked for at the page's start: a recording that runs, begun by a
  // schedule, say, shows and is followed.
  recordingStatus({ seconds, running, error }) {
    this.#asking.delete("recordingstatus");
    if (error || (!running && !this.#recordingPoll && seconds === 0)) return;
    $("record-state").textContent = running ? `Recording ${clock(seconds)}` : `Recorded ${clock(seconds)}`;
    if (running && !this.#recordingPoll) {
      this.#recordingPoll = setInterval(() => this.#poll("recordingstatus"), RECORDING_POLL_MS);
    }
    if (!running) {
      clearInterval(this.#recordingPoll);
      this.#recordingPoll = 0;
    }
    this.#showRecording(running);
  }

  monitoring({ started, error }) {
    clearInterval(this.#motionPoll);
    this.#motionPoll = 0;
    if (error || !started) {
      $("motion-state").textContent = error || "This channel does not watch for motion";
      return;
    }
    $("motion-state").textContent = "Watching for motion";
    this.#motionPoll = setInterval(() => this.#poll("motionstatus"), MOTION_POLL_MS);
  }

  motion({ seen, error }) {
    this.#asking.delete("motionstatus");
    if (error || !seen || !this.#motionPoll) return;
    $("motion-state").textContent = `Motion seen at ${new Date().toLocaleTimeString()}`;
    clearInterval(this.#motionPoll);
    this.#motionPoll = 0;
    if ("Notification" in window && Notification.permission === "granted") {
      new Notification("Orvandel", { body: "Motion was seen on the channel you watch" });
    }
  }

  // A new connection gets no answers meant for the old one.
  reconnected() {
    this.#asking.clear();
  }

  // Stopping the stream ends monitoring on the server.
  streamStopped() {
    clearInterval(this.#motionPoll);
    this.#motionPoll = 0;
    $("motion-state").textContent = "";
  }

  #poll(type) {
    if (this.#asking.has(type)) return;
    this.#asking.add(type);
    this.send({ type });
  }

  #showRecording(running) {
    $("record").textContent = running ? "Stop recording" : "Record";
    $("record").setAttribute("aria-pressed", String(running));
  }
}
