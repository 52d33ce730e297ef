// The server's scheduled recordings: the list, and a form that adds one or
// changes the one picked. The server checks every schedule and answers with
// a result code, which the form shows as a sentence.
const $ = (id) => document.getElementById(id);

const RESULTS = {
  0: "The schedule is stored.",
  [-2]: "All 20 schedules are in use.",
  [-3]: "The start is in the past.",
  [-4]: "The end must come after the start.",
  [-5]: "This time overlaps another schedule.",
  [-6]: "This channel is not set up.",
  [-7]: "The schedule to change no longer exists.",
  [-8]: "A date or time is out of range.",
};

// "2026-12-09T18:30" as the picker shows it, in the viewer's own words.
function shown(when) {
  return new Date(when).toLocaleString([], { dateStyle: "short", timeStyle: "short" });
}

export class Schedules {
  #changing = -1;  // the row the form changes, or -1 to add

  constructor(send) {
    this.send = send;
    $("schedule-form").addEventListener("submit", (event) => this.#submit(event));
    $("schedule-cancel").addEventListener("click", () => this.#edit(-1));
  }

  refresh() {
    this.send({ type: "schedules" });
  }

  // Offers the channels of the lineup in the form.
  setChannels(channels) {
    const select = $("schedule-channel");
    const chosen = select.value;
    select.replaceChildren(...channels.map(({ number, name }) => new Option(`${number}  ${name}`, number)));
    if (chosen) select.value = chosen;
  }

  showList({ rows, error }) {
    if (error) return;
    $("schedule-list").replaceChildren(...rows.map((row) => {
      const item = document.createElement("li");
      const text = document.createElement("span");
      text.textContent = `Channel ${row.channel}: ${shown(row.start)} – ${shown(row.end)}`;
      const change = document.createElement("button");
      change.type = "button";
      change.textContent = "Change";
      change.addEventListener("click", () => this.#edit(row.row, row));
      const remove = document.createElement("button");
      remove.type = "button";
      remove.textContent = "Delete";
      remove.addEventListener("click", () => this.send({ type: "deleteschedule", row: row.row }));
      item.append(text, change, remove);
      return item;
    }));
  }

  showResult({ result, deleted, error }) {
    $("schedule-result").textContent = error || (deleted === undefined ? RESULTS[result] ?? `Refused (${result})` :
      deleted ? "The schedule is deleted." : "The schedule could not be deleted.");
    if (result === 0 || deleted) this.#edit(-1);
    this.refresh();
  }

  #edit(row, schedule) {
    this.#changing = row;
    $("schedule-submit").textContent = row < 0 ? "Add" : "Change";
    $("schedule-cancel").hidden = row < 0;
    if (schedule) {
      $("schedule-channel").value = String(schedule.channel);
      $("schedule-start").value = schedule.start;
      $("schedule-end").value = schedule.end;
    }
  }

  #submit(event) {
    event.preventDefault();
    this.send({
      type: "addschedule",
      channel: Number($("schedule-channel").value),
      start: $("schedule-start").value,
      end: $("schedule-end").value,
      row: this.#changing,
    });
  }
}
