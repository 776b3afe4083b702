"use strict";
/* global Decoder, readFragment, fragmentOf, pressKey, dragTo, statusText */ // from view.js
/* global GlDrawer, CanvasDrawer */ // from draw.js
/* global pako */ // the inflater the page carries, for browsers that have none
// The page of a result series: its files decoded chunk by chunk from the data embedded in the
// page, drawn as the viewer draws them (red outlines and node points, the viewer's projection
// and view), turned, moved and stepped through with the viewer's own keys. WebGL 1 draws; where
// it is missing, the same projection is drawn on a 2-D canvas. The file and the view are kept in
// the address (#file=N&rot-x=..&rot-y=..&tx=..&ty=..&tz=..&mark=0|1).

// Built into the page after view.js and draw.js, in one script.

// Whether the browser inflates by itself; where it does not, the page's own inflater does.
const BROWSER_INFLATES = typeof DecompressionStream !== "undefined";

// The bytes of a chunk embedded in the page as base64, inflated.
async function inflate(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  if (!BROWSER_INFLATES) return pako.inflate(bytes);
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

class Page {
  constructor(meta) {
    this.meta = meta;
    this.files = meta.files;
    this.decoder = new Decoder();
    this.state = {
      place: Math.max(0, this.files.indexOf(1)),
      view: Object.assign({}, meta.view),
      mark: meta.mark,
    };
    this.notes = meta.notes.map((n) => "left out: " + n);
    if (!BROWSER_INFLATES)
      this.notes.push("inflated by the page: this browser gives no DecompressionStream");
    this.canvas = document.getElementById("view");
    this.status = document.getElementById("status");
    this.slider = document.getElementById("slider");
    this.marks = document.getElementById("marks");
    this.play = document.getElementById("play");
    this.timer = null;
    this.addressTimer = null;
    this.shown = false; // a file has been drawn
    this.decodedChunks = 0;
    this.setUpCanvas();
    this.readAddress();
    this.listen();
  }

  // The canvas keeps its CSS size and draws at the screen's device pixel ratio.
  setUpCanvas() {
    const ratio = window.devicePixelRatio || 1;
    this.w = Math.round(this.meta.w * ratio);
    this.h = Math.round(this.meta.h * ratio);
    this.canvas.width = this.w;
    this.canvas.height = this.h;
    const gl = this.canvas.getContext("webgl", { antialias: false });
    if (gl) {
      this.drawer = new GlDrawer(gl);
    } else {
      const context = this.canvas.getContext("2d");
      if (!context) throw new Error("it gives neither WebGL nor a 2-D canvas");
      this.drawer = new CanvasDrawer(context);
      this.notes.push("drawn on a 2-D canvas: this browser gives no WebGL");
    }
    this.slider.max = String(this.files.length - 1);
  }

  readAddress() {
    const ignored = readFragment(location.hash, this.state, this.files);
    this.fragmentNote = ignored.length ? "ignored in the address: " + ignored.join(", ") : "";
  }

  listen() {
    document.addEventListener("keydown", (e) => this.onKey(e));
    window.addEventListener("hashchange", () => {
      if (location.hash === this.written) return;
      this.readAddress();
      this.show();
    });
    this.slider.addEventListener("input", () => this.go(Number(this.slider.value)));
    this.marks.addEventListener("change", () => {
      this.state.mark = this.marks.checked;
      this.show();
    });
    this.play.addEventListener("click", () => this.togglePlay());
    this.canvas.addEventListener("pointerdown", (e) => {
      this.canvas.setPointerCapture(e.pointerId);
      const v = this.state.view;
      this.press = { x: e.clientX, y: e.clientY, rot_x: v.rot_x, rot_y: v.rot_y };
    });
    this.canvas.addEventListener("pointermove", (e) => {
      if (!this.press || !(e.buttons & 1)) return;
      dragTo(this.state, this.press, e.clientX, e.clientY);
      this.show();
    });
    this.canvas.addEventListener("pointerup", () => { this.press = null; });
  }

  onKey(e) {
    if (e.ctrlKey || e.metaKey || e.altKey || e.target === this.slider) return;
    if (e.key === " ") {
      e.preventDefault();
      this.togglePlay();
      return;
    }
    const key = e.key.length === 1 ? e.key.toLowerCase() : e.key;
    if (!pressKey(this.state, key, e.shiftKey, this.files.length)) return;
    e.preventDefault();
    this.show();
  }

  go(place) {
    this.state.place = place;
    this.show();
  }

  togglePlay() {
    if (this.timer) {
      clearInterval(this.timer);
      this.timer = null;
    } else {
      this.timer = setInterval(() => {
        this.state.place = (this.state.place + 1) % this.files.length;
        this.show();
      }, 1000 / this.meta.fps);
    }
    this.play.textContent = this.timer ? "Pause" : "Play";
  }

  // Draws the file and view of the state once its file is decoded; the status line names the
  // file only then.
  show() {
    const frame = this.decoder.frames[this.state.place];
    if (!frame) return; // drawn once its chunk is decoded
    this.drawer.draw(frame, this.state.view, this.state.mark, this.w, this.h);
    this.shown = true;
    const n = this.files[this.state.place];
    const notes = this.notes.concat(this.fragmentNote ? [this.fragmentNote] : []);
    this.status.textContent = statusText(n, frame, this.meta.times[this.state.place],
      this.meta.time_unit, this.state.mark) + (notes.length ? " | " + notes.join(" | ") : "");
    this.slider.value = String(this.state.place);
    this.marks.checked = this.state.mark;
    this.keepAddress();
  }

  // Writes the file and the view into the address, at most five times a second: a drag draws many
  // frames, and browsers refuse a flood of address changes.
  keepAddress() {
    if (this.addressTimer) return;
    this.addressTimer = setTimeout(() => {
      this.addressTimer = null;
      this.written = fragmentOf(this.state, this.files);
      history.replaceState(null, "", this.written);
    }, 200);
  }

  // Decodes the chunks in order from the first not decoded yet, as many as the document holds
  // now, drawing as soon as the file to show is there.
  async decode() {
    const chunks = document.querySelectorAll("script.chunk");
    for (; this.decodedChunks < chunks.length; ++this.decodedChunks) {
      const chunk = chunks[this.decodedChunks];
      this.decoder.read(await inflate(chunk.textContent), Number(chunk.dataset.files));
      if (!this.shown) this.show();
    }
  }
}

// The chunks that stand before the script are decoded at once, so that the first file is drawn
// while the rest of the page still loads; the others once the document is whole.
async function main() {
  const page = new Page(JSON.parse(document.getElementById("meta").textContent));
  await page.decode();
  if (document.readyState === "loading")
    await new Promise((done) => document.addEventListener("DOMContentLoaded", done));
  await page.decode();
}

if (typeof document !== "undefined") main();
