"use strict";
// The page of a result series: its files decoded chunk by chunk from the data embedded in the
// page, drawn as the viewer draws them (red outlines and node points, the viewer's projection
// and view), turned, moved and stepped through with the viewer's own keys. WebGL 1 draws; where
// it is missing, the same projection is drawn on a 2-D canvas. The file and the view are kept in
// the address (#file=N&rot-x=..&rot-y=..&tx=..&ty=..&tz=..&mark=0|1).

// What the page agrees on with the viewer.
const NEAR_PLANE = 3; // glFrustum(-1, 1, -1, 1, NEAR_PLANE, FAR_PLANE)
const FAR_PLANE = 10000;
const ARROW_STEP = 10; // degrees an arrow key turns
const ROT_X_LIMIT = 90; // degrees: dragging holds rot_x within it; Up and Down test it first
const MOVE_STEP = 0.1; // mesh units a letter key moves
const SHIFT_DEPTH_STEP = 1.0; // A and D with Shift
const SHIFT_FILE_STEP = 10; // B and N with Shift

const RED = [1, 0, 0, 1];
const YELLOW = [1, 1, 0, 1];

// ---- What can be checked outside a browser ----

// The name of file n: "res0" and n with at least three digits, ".inp".
function fileName(n) {
  return "res0" + String(n).padStart(3, "0") + ".inp";
}

// A decimal number as the command line takes it, or null: an optional sign, digits with an
// optional point, an optional exponent; nothing else.
function parseDecimal(text) {
  if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text)) return null;
  const v = Number(text);
  return Number.isFinite(v) ? v : null;
}

// The shortest text that reads back as the single-precision value v.
function floatText(v) {
  for (let p = 1; p < 9; ++p) {
    const text = String(Number(v.toPrecision(p)));
    if (Math.fround(Number(text)) === v) return text;
  }
  return String(v);
}

// The held file nearest index n (the earlier one of two as near), as its place in files.
function nearestPlace(files, n) {
  let best = 0;
  for (let k = 1; k < files.length; ++k)
    if (Math.abs(files[k] - n) < Math.abs(files[best] - n)) best = k;
  return best;
}

// Takes the address's fragment into state: each key where it parses, the rest named in the
// returned list of what was ignored.
function readFragment(fragment, state, files) {
  const ignored = [];
  const text = fragment.replace(/^#/, "");
  if (text === "") return ignored;
  for (const part of text.split("&")) {
    const eq = part.indexOf("=");
    const key = eq < 0 ? part : decodeURIComponent(part.slice(0, eq));
    const value = eq < 0 ? "" : decodeURIComponent(part.slice(eq + 1));
    const number = parseDecimal(value);
    const view = { "rot-x": "rot_x", "rot-y": "rot_y", tx: "tx", ty: "ty", tz: "tz" }[key];
    if (key === "file" && /^\d+$/.test(value)) {
      state.place = nearestPlace(files, Number(value));
    } else if (view && number !== null && Number.isFinite(Math.fround(number))) {
      state.view[view] = Math.fround(number);
    } else if (key === "mark" && (value === "0" || value === "1")) {
      state.mark = value === "1";
    } else {
      ignored.push(part);
    }
  }
  return ignored;
}

// The fragment that opens the same file and view.
function fragmentOf(state, files) {
  const v = state.view;
  return "#file=" + files[state.place] + "&rot-x=" + floatText(v.rot_x) +
    "&rot-y=" + floatText(v.rot_y) + "&tx=" + floatText(v.tx) + "&ty=" + floatText(v.ty) +
    "&tz=" + floatText(v.tz) + "&mark=" + (state.mark ? 1 : 0);
}

// What key does to state, as the viewer's keys do it: each step added in double precision and
// rounded to single; Up and Down test the limit before the step. Returns whether it is a key of
// the page's.
function pressKey(state, key, shift, nfiles) {
  const v = state.view;
  const step = (field, by) => { v[field] = Math.fround(v[field] + by); };
  switch (key) {
    case "ArrowLeft": v.rot_y = Math.fround(v.rot_y + ARROW_STEP); break;
    case "ArrowRight": v.rot_y = Math.fround(v.rot_y - ARROW_STEP); break;
    case "ArrowUp": if (v.rot_x < ROT_X_LIMIT) v.rot_x = Math.fround(v.rot_x + ARROW_STEP); break;
    case "ArrowDown": if (v.rot_x > -ROT_X_LIMIT) v.rot_x = Math.fround(v.rot_x - ARROW_STEP); break;
    case "a": step("tz", -(shift ? SHIFT_DEPTH_STEP : MOVE_STEP)); break;
    case "d": step("tz", shift ? SHIFT_DEPTH_STEP : MOVE_STEP); break;
    case "z": step("tx", -MOVE_STEP); break;
    case "c": step("tx", MOVE_STEP); break;
    case "s": step("ty", -MOVE_STEP); break;
    case "x": step("ty", MOVE_STEP); break;
    case "b":
    case "n": {
      const by = (shift ? SHIFT_FILE_STEP : 1) * (key === "n" ? 1 : -1);
      state.place = Math.min(Math.max(state.place + by, 0), nfiles - 1);
      break;
    }
    case "m": state.mark = !state.mark; break;
    default: return false;
  }
  return true;
}

// The turn a drag gives: one degree per CSS pixel from the press, rot_x held within the limit.
function dragTo(state, press, x, y) {
  let rotX = Math.fround(Math.fround(y - press.y) + press.rot_x);
  const rotY = Math.fround(Math.fround(x - press.x) + press.rot_y);
  rotX = Math.min(Math.max(rotX, -ROT_X_LIMIT), ROT_X_LIMIT);
  state.view.rot_x = rotX;
  state.view.rot_y = rotY;
}

// Column-major 4x4 matrices, as OpenGL holds them.
function multiply(a, b) {
  const m = new Float64Array(16);
  for (let c = 0; c < 4; ++c)
    for (let r = 0; r < 4; ++r)
      for (let k = 0; k < 4; ++k) m[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return m;
}

// glFrustum(-1, 1, -1, 1, NEAR_PLANE, FAR_PLANE).
function frustum() {
  const n = NEAR_PLANE, f = FAR_PLANE;
  return Float64Array.of(n, 0, 0, 0, 0, n, 0, 0, 0, 0, -(f + n) / (f - n), -1,
    0, 0, -2 * f * n / (f - n), 0);
}

// glRotatef(angle, x, y, z) about a unit axis.
function rotation(degrees, x, y, z) {
  const a = degrees * Math.PI / 180, c = Math.cos(a), s = Math.sin(a), t = 1 - c;
  return Float64Array.of(t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0,
    t * x * y - s * z, t * y * y + c, t * y * z + s * x, 0,
    t * x * z + s * y, t * y * z - s * x, t * z * z + c, 0, 0, 0, 0, 1);
}

// The model-view matrix of the viewer's frame: T(tx, ty, tz) . Rx(rot_x) . Ry(rot_y).
function modelView(v) {
  const t = Float64Array.of(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, v.tx, v.ty, v.tz, 1);
  return multiply(multiply(t, rotation(v.rot_x, 1, 0, 0)), rotation(v.rot_y, 0, 1, 0));
}

// Reads the files of the series out of the inflated chunks, in order: each file's connectivity,
// its coordinates (the x of every node, then the y) and its faults.
class Decoder {
  constructor() {
    this.frames = [];
    this.mesh = null;
    this.history = []; // the last files of this mesh, the latest first
  }

  // Reads the records of count files from bytes.
  read(bytes, count) {
    let at = 0;
    const u16 = () => { const v = bytes[at] | bytes[at + 1] << 8; at += 2; return v; };
    for (let f = 0; f < count; ++f) {
      if (bytes[at++]) {
        const np = u16(), nele = u16();
        const corners = new Uint16Array(3 * nele);
        for (let i = 0; i < corners.length; ++i) corners[i] = u16();
        const lines = outlineOf(corners);
        this.mesh = { np, nele, corners, lines, edges: edgesOf(lines) };
        this.history = [];
      }
      const coords = this.coordinates(bytes, at);
      at += 8 * this.mesh.np;
      const inverted = new Uint16Array(u16()), degenerate = new Uint16Array(u16());
      for (let i = 0; i < inverted.length; ++i) inverted[i] = u16();
      for (let i = 0; i < degenerate.length; ++i) degenerate[i] = u16();
      this.frames.push({ mesh: this.mesh, coords, inverted, degenerate });
    }
  }

  // One file's coordinates from their four byte planes at bytes[at]: each the prediction from
  // the last files of the mesh plus its residual, the residuals summed along the file.
  coordinates(bytes, at) {
    const nv = 2 * this.mesh.np, h = this.history;
    const predicted = new Float32Array(nv); // the stores round to single precision
    if (h.length === 1) predicted.set(h[0]);
    for (let i = 0; h.length === 2 && i < nv; ++i) predicted[i] = 2 * h[0][i] - h[1][i];
    for (let i = 0; h.length === 3 && i < nv; ++i)
      predicted[i] = 3 * h[0][i] - 3 * h[1][i] + h[2][i];
    for (let i = 0; h.length >= 2 && i < nv; ++i)
      if (predicted[i] !== predicted[i]) predicted[i] = h[0][i];
    const predictedBits = new Uint32Array(predicted.buffer);
    const coords = new Float32Array(nv), bits = new Uint32Array(coords.buffer);
    let residual = 0;
    for (let i = 0; i < nv; ++i) {
      const z = (bytes[at + i] | bytes[at + nv + i] << 8 | bytes[at + 2 * nv + i] << 16 |
        bytes[at + 3 * nv + i] << 24) >>> 0;
      residual = (residual + ((z >>> 1) ^ -(z & 1))) | 0;
      bits[i] = predictedBits[i] + residual;
    }
    this.history = [coords].concat(this.history.slice(0, 2));
    return coords;
  }
}

// Each element's outline as three segments, corner 1 to 2, 2 to 3, 3 to 1.
function outlineOf(corners) {
  const lines = new Uint16Array(2 * corners.length);
  for (let e = 0; e < corners.length / 3; ++e)
    for (let j = 0; j < 3; ++j) {
      lines[6 * e + 2 * j] = corners[3 * e + j];
      lines[6 * e + 2 * j + 1] = corners[3 * e + (j + 1) % 3];
    }
  return lines;
}

// The outlines' segments with each edge that two elements share once: the same pixels, as the
// viewer's lines are a pixel wide whichever way they run, in half the drawing.
function edgesOf(lines) {
  const seen = new Set(), edges = [];
  for (let i = 0; i < lines.length; i += 2) {
    const a = lines[i], b = lines[i + 1], key = a < b ? a * 65536 + b : b * 65536 + a;
    if (seen.has(key)) continue;
    seen.add(key);
    edges.push(a, b);
  }
  return Uint16Array.from(edges);
}

// The status line of file n: "file_no:N nele:M NAME t=T s", the faults' counts with the marks on.
function statusText(n, frame, time, mark) {
  let text = "file_no:" + n + " nele:" + frame.mesh.nele + " " + fileName(n) + " t=" + time + " s";
  if (mark)
    text += " inverted:" + frame.inverted.length + " degenerate:" + frame.degenerate.length;
  return text;
}

// ---- Drawing ----

// Draws with WebGL 1: the frame's vertices in one buffer, x then y, the outlines from an index
// buffer of the mesh.
class GlDrawer {
  constructor(gl) {
    this.gl = gl;
    const shader = (type, text) => {
      const s = gl.createShader(type);
      gl.shaderSource(s, text);
      gl.compileShader(s);
      return s;
    };
    const program = gl.createProgram();
    gl.attachShader(program, shader(gl.VERTEX_SHADER,
      "attribute float x; attribute float y; uniform mat4 mvp;\n" +
      "void main() { gl_Position = mvp * vec4(x, y, 0.0, 1.0); gl_PointSize = 1.0; }"));
    gl.attachShader(program, shader(gl.FRAGMENT_SHADER,
      "precision mediump float; uniform vec4 colour;\n" +
      "void main() { gl_FragColor = colour; }"));
    gl.linkProgram(program);
    gl.useProgram(program);
    this.x = gl.getAttribLocation(program, "x");
    this.y = gl.getAttribLocation(program, "y");
    this.mvp = gl.getUniformLocation(program, "mvp");
    this.colour = gl.getUniformLocation(program, "colour");
    this.vertices = gl.createBuffer();
    this.outline = gl.createBuffer();
    this.marks = gl.createBuffer();
    this.mesh = null;
    this.frame = null;
    gl.enableVertexAttribArray(this.x);
    gl.enableVertexAttribArray(this.y);
  }

  draw(frame, view, mark, w, h) {
    const gl = this.gl, mesh = frame.mesh;
    gl.viewport(0, 0, w, h);
    gl.clearColor(0, 0, 0, 1);
    gl.clear(gl.COLOR_BUFFER_BIT);
    gl.uniformMatrix4fv(this.mvp, false, new Float32Array(multiply(frustum(), modelView(view))));
    if (this.frame !== frame) {
      gl.bindBuffer(gl.ARRAY_BUFFER, this.vertices);
      gl.bufferData(gl.ARRAY_BUFFER, frame.coords, gl.DYNAMIC_DRAW);
      gl.vertexAttribPointer(this.x, 1, gl.FLOAT, false, 0, 0);
      gl.vertexAttribPointer(this.y, 1, gl.FLOAT, false, 0, 4 * mesh.np);
      this.frame = frame;
    }
    if (this.mesh !== mesh) {
      gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.outline);
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, mesh.edges, gl.STATIC_DRAW);
      this.mesh = mesh;
    }
    // Inverted elements filled behind the red lines; degenerate ones drawn over them.
    if (mark) this.elements(gl.TRIANGLES, markIndices(mesh, frame.inverted, false), YELLOW);
    gl.uniform4fv(this.colour, RED);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.outline);
    gl.drawElements(gl.LINES, mesh.edges.length, gl.UNSIGNED_SHORT, 0);
    gl.drawArrays(gl.POINTS, 0, mesh.np);
    if (mark) {
      const lines = markIndices(mesh, frame.degenerate, true);
      this.elements(gl.LINES, lines, YELLOW);
      this.elements(gl.POINTS, lines, YELLOW);
    }
  }

  elements(mode, indices, colour) {
    const gl = this.gl;
    if (indices.length === 0) return;
    gl.uniform4fv(this.colour, colour);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.marks);
    gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, indices, gl.DYNAMIC_DRAW);
    gl.drawElements(mode, indices.length, gl.UNSIGNED_SHORT, 0);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.outline);
  }
}

// The corners of the listed elements: as triangles, or as their three segments.
function markIndices(mesh, elements, outline) {
  const out = new Uint16Array(elements.length * (outline ? 6 : 3));
  elements.forEach((e, k) => {
    if (outline) out.set(mesh.lines.subarray(6 * e, 6 * e + 6), 6 * k);
    else out.set(mesh.corners.subarray(3 * e, 3 * e + 3), 3 * k);
  });
  return out;
}

// Draws the same on a 2-D canvas where there is no WebGL: each vertex projected, each segment
// clipped at the near plane and drawn a pixel wide, into the canvas's pixels.
class CanvasDrawer {
  constructor(context) {
    this.context = context;
  }

  draw(frame, view, mark, w, h) {
    const image = this.context.createImageData(w, h);
    const px = new Uint32Array(image.data.buffer);
    px.fill(0xff000000);
    const eye = eyeCoordinates(frame, view);
    const mesh = frame.mesh;
    const red = 0xff0000ff, yellow = 0xff00ffff; // little-endian RGBA
    if (mark)
      for (const e of frame.inverted) fillTriangle(px, w, h, eye, mesh.corners, 3 * e, yellow);
    for (let i = 0; i < mesh.edges.length; i += 2)
      segment(px, w, h, eye, mesh.edges[i], mesh.edges[i + 1], red);
    for (let i = 0; i < mesh.np; ++i) point(px, w, h, eye, i, red);
    for (const e of mark ? frame.degenerate : [])
      for (let j = 0; j < 6; j += 2) {
        segment(px, w, h, eye, mesh.lines[6 * e + j], mesh.lines[6 * e + j + 1], yellow);
        point(px, w, h, eye, mesh.lines[6 * e + j], yellow);
      }
    this.context.putImageData(image, 0, 0);
  }
}

// Each node in eye coordinates, x, y and z in turn.
function eyeCoordinates(frame, view) {
  const m = modelView(view), np = frame.mesh.np, c = frame.coords;
  const eye = new Float64Array(3 * np);
  for (let i = 0; i < np; ++i) {
    const x = c[i], y = c[np + i];
    for (let r = 0; r < 3; ++r) eye[3 * i + r] = m[r] * x + m[4 + r] * y + m[12 + r];
  }
  return eye;
}

// A point in eye coordinates as a position in the w x h picture, from the top left.
function toPicture(x, y, z, w, h) {
  return [(NEAR_PLANE * x / -z + 1) / 2 * w, (1 - NEAR_PLANE * y / -z) / 2 * h];
}

function point(px, w, h, eye, i, colour) {
  const z = eye[3 * i + 2];
  if (z > -NEAR_PLANE || z < -FAR_PLANE) return;
  const [x, y] = toPicture(eye[3 * i], eye[3 * i + 1], z, w, h);
  if (x >= 0 && y >= 0 && x < w && y < h) px[Math.floor(y) * w + Math.floor(x)] = colour;
}

// The segment from node a to node b, the part behind the near plane cut off.
function segment(px, w, h, eye, a, b, colour) {
  let p = [eye[3 * a], eye[3 * a + 1], eye[3 * a + 2]];
  let q = [eye[3 * b], eye[3 * b + 1], eye[3 * b + 2]];
  const limit = -NEAR_PLANE;
  if (p[2] > limit && q[2] > limit) return;
  if (p[2] > limit || q[2] > limit) {
    const t = (limit - p[2]) / (q[2] - p[2]);
    const cut = [p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1]), limit];
    if (p[2] > limit) p = cut; else q = cut;
  }
  line(px, w, h, toPicture(p[0], p[1], p[2], w, h), toPicture(q[0], q[1], q[2], w, h), colour);
}

// A one-pixel line between two picture positions, through the pixels whose centres it passes
// nearest; the part outside the picture is cut off first.
function line(px, w, h, from, to, colour) {
  let [x0, y0] = from, [x1, y1] = to;
  // Liang and Barsky's cut to the picture, with a pixel to spare.
  let t0 = 0, t1 = 1;
  const dx = x1 - x0, dy = y1 - y0;
  for (const [p, q] of [[-dx, x0 + 1], [dx, w + 1 - x0], [-dy, y0 + 1], [dy, h + 1 - y0]]) {
    if (p === 0) { if (q < 0) return; continue; }
    const t = q / p;
    if (p < 0) t0 = Math.max(t0, t); else t1 = Math.min(t1, t);
    if (t0 > t1) return;
  }
  [x0, y0, x1, y1] = [x0 + t0 * dx, y0 + t0 * dy, x0 + t1 * dx, y0 + t1 * dy];
  const steps = Math.max(Math.abs(x1 - x0), Math.abs(y1 - y0));
  const n = Math.max(1, Math.ceil(steps));
  for (let k = 0; k <= n; ++k) {
    const x = Math.floor(x0 + (x1 - x0) * k / n), y = Math.floor(y0 + (y1 - y0) * k / n);
    if (x >= 0 && y >= 0 && x < w && y < h) px[y * w + x] = colour;
  }
}

// A filled triangle: every pixel whose centre lies inside it.
function fillTriangle(px, w, h, eye, corners, at, colour) {
  const v = [];
  for (let j = 0; j < 3; ++j) {
    const i = corners[at + j], z = eye[3 * i + 2];
    if (z > -NEAR_PLANE) return;
    v.push(toPicture(eye[3 * i], eye[3 * i + 1], z, w, h));
  }
  const edge = (a, b, x, y) => (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0]);
  const area = edge(v[0], v[1], v[2][0], v[2][1]);
  if (area === 0) return;
  const x0 = Math.max(0, Math.floor(Math.min(v[0][0], v[1][0], v[2][0])));
  const x1 = Math.min(w - 1, Math.ceil(Math.max(v[0][0], v[1][0], v[2][0])));
  const y0 = Math.max(0, Math.floor(Math.min(v[0][1], v[1][1], v[2][1])));
  const y1 = Math.min(h - 1, Math.ceil(Math.max(v[0][1], v[1][1], v[2][1])));
  for (let y = y0; y <= y1; ++y)
    for (let x = x0; x <= x1; ++x) {
      const cx = x + 0.5, cy = y + 0.5;
      const a = edge(v[0], v[1], cx, cy), b = edge(v[1], v[2], cx, cy), c = edge(v[2], v[0], cx, cy);
      if ((a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0)) px[y * w + x] = colour;
    }
}

// ---- The page ----

// The bytes of a chunk embedded in the page as base64, inflated.
async function inflate(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
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
    this.notes = [];
    this.canvas = document.getElementById("view");
    this.status = document.getElementById("status");
    this.slider = document.getElementById("slider");
    this.marks = document.getElementById("marks");
    this.play = document.getElementById("play");
    this.timer = null;
    this.timings = { firstFrame: null, decoded: null, steps: [], drags: [] };
    window.resviewTimings = this.timings;
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
    const gl = this.canvas.getContext("webgl", { antialias: false, preserveDrawingBuffer: true });
    if (gl) {
      this.drawer = new GlDrawer(gl);
      this.gl = gl;
    } else {
      this.drawer = new CanvasDrawer(this.canvas.getContext("2d"));
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
      const t0 = performance.now();
      dragTo(this.state, this.press, e.clientX, e.clientY);
      this.show(this.timings.drags, t0);
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
    const t0 = performance.now();
    if (!pressKey(this.state, key, e.shiftKey, this.files.length)) return;
    e.preventDefault();
    this.show(key === "b" || key === "n" ? this.timings.steps : null, t0);
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
  // file only then. A drawing's time goes into times when given.
  show(times, t0) {
    const frame = this.decoder.frames[this.state.place];
    if (!frame) return; // drawn once its chunk is decoded
    this.drawer.draw(frame, this.state.view, this.state.mark, this.w, this.h);
    // A pixel read back waits until the frame is drawn.
    if (this.gl && times) this.gl.readPixels(0, 0, 1, 1, this.gl.RGBA, this.gl.UNSIGNED_BYTE, new Uint8Array(4));
    if (times) times.push(performance.now() - t0);
    const n = this.files[this.state.place];
    const notes = this.notes.concat(this.fragmentNote ? [this.fragmentNote] : []);
    this.status.textContent = statusText(n, frame, this.meta.times[this.state.place],
      this.state.mark) + (notes.length ? " | " + notes.join(" | ") : "");
    this.slider.value = String(this.state.place);
    this.marks.checked = this.state.mark;
    this.written = fragmentOf(this.state, this.files);
    history.replaceState(null, "", this.written);
    if (this.timings.firstFrame === null) this.timings.firstFrame = performance.now();
  }

  // Decodes the chunks in order, drawing as soon as the file to show is there.
  async decode(chunks) {
    for (const chunk of chunks) {
      this.decoder.read(await inflate(chunk.textContent), Number(chunk.dataset.files));
      if (this.timings.firstFrame === null) this.show();
    }
  }
}

async function main() {
  const page = new Page(JSON.parse(document.getElementById("meta").textContent));
  await page.decode(document.querySelectorAll("script.chunk"));
  if (document.readyState === "loading")
    await new Promise((done) => document.addEventListener("DOMContentLoaded", done));
  await page.decode([...document.querySelectorAll("script.chunk")].slice(1));
  page.timings.decoded = performance.now();
}

if (typeof document !== "undefined") main();
if (typeof module !== "undefined")
  module.exports = { fileName, parseDecimal, floatText, nearestPlace, readFragment, fragmentOf,
    pressKey, dragTo, multiply, frustum, modelView, Decoder, statusText };
