"use strict";
// The page's view of a series, what can be checked outside a browser: the numbers it agrees on
// with the viewer, names and numbers as text, the address, the keys and the drag, the matrices of
// the viewer's frame, and the decoder of the page's data.

const NEAR_PLANE = 3; // glFrustum(-1, 1, -1, 1, NEAR_PLANE, FAR_PLANE)
const FAR_PLANE = 10000;
const ARROW_STEP = 10; // degrees an arrow key turns
const ROT_X_LIMIT = 90; // degrees: dragging holds rot_x within it; Up and Down test it first
const MOVE_STEP = 0.1; // mesh units a letter key moves
const SHIFT_DEPTH_STEP = 1.0; // A and D with Shift
const SHIFT_FILE_STEP = 10; // B and N with Shift

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
    const centre = key === "centre" ? value.split(",").map(parseDecimal) : null;
    if (key === "file" && /^\d+$/.test(value)) {
      state.place = nearestPlace(files, Number(value));
    } else if (centre && centre.length === 2 &&
      centre.every((c) => c !== null && Number.isFinite(Math.fround(c)))) {
      state.view.cx = Math.fround(centre[0]);
      state.view.cy = Math.fround(centre[1]);
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

// The fragment that opens the same file and view; the centre only where the mesh does not turn
// about the origin.
function fragmentOf(state, files) {
  const v = state.view;
  const centre = v.cx || v.cy ? "&centre=" + floatText(v.cx) + "," + floatText(v.cy) : "";
  return "#file=" + files[state.place] + "&rot-x=" + floatText(v.rot_x) +
    "&rot-y=" + floatText(v.rot_y) + "&tx=" + floatText(v.tx) + "&ty=" + floatText(v.ty) +
    "&tz=" + floatText(v.tz) + centre + "&mark=" + (state.mark ? 1 : 0);
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
    case "ArrowDown":
      if (v.rot_x > -ROT_X_LIMIT) v.rot_x = Math.fround(v.rot_x - ARROW_STEP);
      break;
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

// glTranslatef(x, y, z).
function translation(x, y, z) {
  return Float64Array.of(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
}

// The model-view matrix of the viewer's frame: T(tx, ty, tz) . Rx(rot_x) . Ry(rot_y) . T(-c),
// turned about the centre c; the last factor is left out where c is the origin, as the viewer
// leaves out its call.
function modelView(v) {
  const turned = multiply(multiply(translation(v.tx, v.ty, v.tz), rotation(v.rot_x, 1, 0, 0)),
    rotation(v.rot_y, 0, 1, 0));
  return v.cx || v.cy ? multiply(turned, translation(-v.cx, -v.cy, 0)) : turned;
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
        this.mesh = { np, nele, corners, lines };
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

// Each element's outline as three segments, corner 1 to 2, 2 to 3, 3 to 1, as the viewer's line
// loop draws them: an edge that two elements share is drawn twice, once each way round. Mesa's
// rasteriser gives two thirds of random segments other pixels one way than the other
// (bench/segment_bench), Chromium's SwiftShader none (bench/page_view_bench.py): drawn both ways,
// the page has the viewer's pixels on either.
function outlineOf(corners) {
  const lines = new Uint16Array(2 * corners.length);
  for (let e = 0; e < corners.length / 3; ++e)
    for (let j = 0; j < 3; ++j) {
      lines[6 * e + 2 * j] = corners[3 * e + j];
      lines[6 * e + 2 * j + 1] = corners[3 * e + (j + 1) % 3];
    }
  return lines;
}

// The status line of file n: "file_no:N nele:M NAME t=T s" (the unit only where the times have
// one), the faults' counts with the marks on.
function statusText(n, frame, time, unit, mark) {
  let text = "file_no:" + n + " nele:" + frame.mesh.nele + " " + fileName(n) + " t=" + time +
    (unit ? " " + unit : "");
  if (mark)
    text += " inverted:" + frame.inverted.length + " degenerate:" + frame.degenerate.length;
  return text;
}

if (typeof module !== "undefined")
  module.exports = { NEAR_PLANE, fileName, parseDecimal, floatText, nearestPlace, readFragment,
    fragmentOf, pressKey, dragTo, multiply, frustum, modelView, Decoder, statusText };
