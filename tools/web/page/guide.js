// The programme guide: what is on every channel now (shown in the channel
// list with its progress), one channel's day as a list, a programme's
// details with Record and Record series, and the recording rules. The
// gateway reads and writes the guide on the server's PC; the server
// records what the rules plan.
const $ = (id) => document.getElementById(id);
const DAY = 86400;

export const clockTime = (seconds) =>
  new Date(seconds * 1000).toLocaleTimeString([], { hour: "2-digit", minute: "2-digit" });
const dayName = (seconds) =>
  new Date(seconds * 1000).toLocaleDateString([], { weekday: "short", day: "numeric", month: "short" });
const nowSeconds = () => Date.now() / 1000;

const MARKS = { planned: "Recording planned", recording: "Recording now", conflict: "Will not record" };

function button(text, action) {
  const made = document.createElement("button");
  made.type = "button";
  made.textContent = text;
  made.addEventListener("click", action);
  return made;
}

// How far the programme on now has come, for eyes and for screen readers.
export function showProgress(progress) {
  progress.value = Math.min(progress.max, Math.max(0, nowSeconds() - Number(progress.dataset.start)));
  progress.setAttribute("aria-label", `${progress.dataset.title}: ${Math.round((100 * progress.value) / progress.max)}% shown`);
}

export class Guide {
  #onNow = new Map();   // channel → the programme on now
  #programmes = [];     // the day shown
  #dayOffset = 0;       // 0: from now; n: the local day n days on
  #chosen = null;       // { channel, programme }

  // watch(channel) plays a channel; changed() redraws the channel list.
  constructor(send, watch, changed) {
    this.send = send;
    this.watch = watch;
    this.changed = changed;
    $("guide-channel").addEventListener("change", () => { this.#dayOffset = 0; this.#askDay(); });
    $("guide-earlier").addEventListener("click", () => this.#step(-1));
    $("guide-later").addEventListener("click", () => this.#step(1));
    $("programme-record").addEventListener("click", () => this.#record(false));
    $("programme-series").addEventListener("click", () => this.#record(true));
    $("programme-watch").addEventListener("click", () => this.watch(this.#chosen.channel));
    // The progress moves; a programme that ends brings the next.
    setInterval(() => {
      if ([...this.#onNow.values()].some((on) => on.stop <= nowSeconds())) this.send({ type: "guidenow" });
      for (const progress of document.querySelectorAll("#channels progress")) showProgress(progress);
    }, 30000);
  }

  refresh() {
    this.send({ type: "guidenow" });
    this.send({ type: "rules" });
    this.#askDay();
  }

  nowOn(channel) {
    const on = this.#onNow.get(channel);
    return on && on.stop > nowSeconds() ? on : undefined;
  }

  setChannels(channels) {
    const select = $("guide-channel");
    const chosen = select.value;
    select.replaceChildren(...channels.map(({ number, name }) => new Option(`${number}  ${name}`, number)));
    if (chosen) select.value = chosen;
    if (!chosen && channels.length) this.#askDay();
  }

  showNow({ channels, error }) {
    if (error) return;
    this.#onNow = new Map(channels.map((on) => [on.channel, on]));
    this.changed();
  }

  showDay({ channel, from, programmes, error }) {
    if (error || channel !== Number($("guide-channel").value)) return;
    this.#programmes = programmes;
    $("guide-day").textContent = this.#dayOffset === 0 ? "From now" : dayName(from);
    $("guide-earlier").disabled = this.#dayOffset === 0;
    $("guide-list").replaceChildren(...programmes.map((programme) => {
      const item = document.createElement("li");
      const open = button(`${clockTime(programme.start)}  ${programme.title}`, () => this.#show(channel, programme, true));
      if (programme.mark) {
        const mark = document.createElement("span");
        mark.className = `mark ${programme.mark}`;
        mark.textContent = MARKS[programme.mark];
        open.append(mark);
      }
      item.append(open);
      return item;
    }));
    if (programmes.length === 0) {
      const empty = document.createElement("li");
      empty.textContent = "Nothing in the guide for this channel then.";
      $("guide-list").append(empty);
    }
    // The details follow what the rules now make of the programme.
    const shown = this.#chosen && programmes.find((p) => p.start === this.#chosen.programme.start);
    if (shown && this.#chosen.channel === channel) this.#show(channel, shown);
  }

  showRules({ rules, result, error }) {
    $("rule-result").textContent = error || result || "";
    if (error) return;
    $("rule-list").replaceChildren(...rules.map((rule) => {
      const item = document.createElement("li");
      const text = document.createElement("p");
      text.textContent = rule.text;
      const plans = document.createElement("ul");
      plans.replaceChildren(...rule.plans.map((plan) => {
        const line = document.createElement("li");
        line.textContent = plan;
        return line;
      }));
      const prefer = button("Win conflicts", () => this.send({ type: "preferrule", id: rule.id }));
      const remove = button("Delete", () => {
        if (confirm(`Delete rule ${rule.id}? Its recordings stay.`)) this.send({ type: "deleterule", id: rule.id });
      });
      const edit = button("Edit", () => { form.hidden = !form.hidden; });
      prefer.setAttribute("aria-label", `Let rule ${rule.id} win its conflicts`);
      remove.setAttribute("aria-label", `Delete rule ${rule.id}`);
      edit.setAttribute("aria-label", `Edit rule ${rule.id}`);
      const form = this.#editForm(rule);
      item.append(text, plans, prefer, edit, remove, form);
      return item;
    }));
    if (result) this.#askDay();
  }

  // The rule's margins, how many it keeps and, for a series, new episodes only.
  #editForm(rule) {
    const form = document.createElement("form");
    form.className = "rule-form";
    form.hidden = true;
    const number = (label, name, value) => {
      const field = document.createElement("label");
      const input = Object.assign(document.createElement("input"),
        { type: "number", name, min: 0, max: 600, step: 1, value, required: true, inputMode: "numeric" });
      field.append(label, input);
      return field;
    };
    const newOnly = document.createElement("label");
    const check = Object.assign(document.createElement("input"), { type: "checkbox", name: "newOnly", checked: rule.newOnly });
    newOnly.append(check, " New episodes only");
    newOnly.hidden = !rule.series;
    const save = Object.assign(document.createElement("button"), { type: "submit", textContent: "Save" });
    form.append(number("Minutes early", "early", rule.early), number("Minutes late", "late", rule.late),
      number("Recordings kept (0: all)", "keep", rule.keep), newOnly, save);
    form.addEventListener("submit", (event) => {
      event.preventDefault();
      const fields = form.elements;
      this.send({ type: "editrule", id: rule.id, early: Number(fields.early.value), late: Number(fields.late.value),
                  keep: Number(fields.keep.value), newOnly: fields.newOnly.checked });
    });
    return form;
  }

  #askDay() {
    const channel = Number($("guide-channel").value);
    if (!Number.isInteger(channel) || $("guide-channel").value === "") return;
    let from = nowSeconds();
    if (this.#dayOffset > 0) {
      const midnight = new Date();
      midnight.setHours(0, 0, 0, 0);
      midnight.setDate(midnight.getDate() + this.#dayOffset);
      from = midnight.getTime() / 1000;
    }
    this.send({ type: "guideday", channel, from: Math.floor(from) });
  }

  #step(days) {
    this.#dayOffset = Math.max(0, this.#dayOffset + days);
    this.#askDay();
  }

  #show(channel, programme, moveTo = false) {
    this.#chosen = { channel, programme };
    $("programme").hidden = false;
    // On a phone the details come below a long list: they are brought in.
    if (moveTo) {
      $("programme").scrollIntoView({ block: "nearest" });
      $("programme-title").focus({ preventScroll: true });
    }
    $("programme-title").textContent = programme.title + (programme.episode ? ` (${programme.episode})` : "");
    $("programme-when").textContent =
      `Channel ${channel}, ${dayName(programme.start)} ${clockTime(programme.start)}–${clockTime(programme.stop)}` +
      (programme.subTitle ? `: ${programme.subTitle}` : "");
    $("programme-description").textContent = programme.description;
    $("programme-mark").textContent = programme.why || MARKS[programme.mark] || "";
    $("programme-mark").className = `mark-text ${programme.mark ?? ""}`;
    const now = nowSeconds();
    $("programme-watch").hidden = !(programme.start <= now && now < programme.stop);
  }

  #record(series) {
    const { channel, programme } = this.#chosen;
    this.send({ type: "addrule", title: programme.title, channel, series, newOnly: series,
                showing: series ? 0 : programme.start });
  }
}
