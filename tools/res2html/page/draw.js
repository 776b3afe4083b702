"use strict";
/* global NEAR_PLANE, FAR_PLANE, multiply, frustum, modelView */ // from view.js
/* exported GlDrawer, CanvasDrawer */ // for page.js
// Drawing a file of the series as the viewer draws it: with WebGL 1, or, where a browser gives
// none, the same projection on a 2-D canvas, each segment clipped at the near plane.

const RED = [1, 0, 0, 1];
const YELLOW = [1, 1, 0, 1];
const MARK_POINT_SIZE = 3; // pixels: a marked element's corners

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
      "attribute float x; attribute float y; uniform mat4 mvp; uniform float size;\n" +
      "void main() { gl_Position = mvp * vec4(x, y, 0.0, 1.0); gl_PointSize = size; }"));
    gl.attachShader(program, shader(gl.FRAGMENT_SHADER,
      "precision mediump float; uniform vec4 colour;\n" +
      "void main() { gl_FragColor = colour; }"));
    gl.linkProgram(program);
    gl.useProgram(program);
    this.x = gl.getAttribLocation(program, "x");
    this.y = gl.getAttribLocation(program, "y");
    this.mvp = gl.getUniformLocation(program, "mvp");
    this.colour = gl.getUniformLocation(program, "colour");
    this.size = gl.getUniformLocation(program, "size");
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
      gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, mesh.lines, gl.STATIC_DRAW);
      this.mesh = mesh;
    }
    gl.uniform4fv(this.colour, RED);
    gl.uniform1f(this.size, 1);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.outline);
    gl.drawElements(gl.LINES, mesh.lines.length, gl.UNSIGNED_SHORT, 0);
    gl.drawArrays(gl.POINTS, 0, mesh.np);
    // Over the red: inverted elements filled, and every marked element's edges and its corners
    // larger, so that a crushed one shows at any scale.
    if (mark) {
      const marked = markedElements(frame);
      this.elements(gl.TRIANGLES, markIndices(mesh, frame.inverted, false), YELLOW);
      this.elements(gl.LINES, markIndices(mesh, marked, true), YELLOW);
      gl.uniform1f(this.size, MARK_POINT_SIZE);
      this.elements(gl.POINTS, markIndices(mesh, marked, false), YELLOW);
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

// The elements marked: inverted, then degenerate.
function markedElements(frame) {
  return Array.from(frame.inverted).concat(Array.from(frame.degenerate));
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
    for (let i = 0; i < mesh.lines.length; i += 2)
      segment(px, w, h, eye, mesh.lines[i], mesh.lines[i + 1], red);
    for (let i = 0; i < mesh.np; ++i) point(px, w, h, eye, i, red, 1);
    if (mark) {
      for (const e of frame.inverted) fillTriangle(px, w, h, eye, mesh.corners, 3 * e, yellow);
      for (const e of markedElements(frame))
        for (let j = 0; j < 6; j += 2) {
          segment(px, w, h, eye, mesh.lines[6 * e + j], mesh.lines[6 * e + j + 1], yellow);
          point(px, w, h, eye, mesh.lines[6 * e + j], yellow, MARK_POINT_SIZE);
        }
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

// Node i as a square of size pixels (an odd number): the pixels whose centres it covers.
function point(px, w, h, eye, i, colour, size) {
  const z = eye[3 * i + 2];
  if (z > -NEAR_PLANE || z < -FAR_PLANE) return;
  const [x, y] = toPicture(eye[3 * i], eye[3 * i + 1], z, w, h);
  if (x < 0 || y < 0 || x >= w || y >= h) return; // clipped by its centre, as OpenGL clips it
  const r = (size - 1) / 2;
  for (let py = Math.floor(y) - r; py <= Math.floor(y) + r; ++py)
    for (let qx = Math.floor(x) - r; qx <= Math.floor(x) + r; ++qx)
      if (qx >= 0 && py >= 0 && qx < w && py < h) px[py * w + qx] = colour;
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
      const a = edge(v[0], v[1], cx, cy), b = edge(v[1], v[2], cx, cy);
      const c = edge(v[2], v[0], cx, cy);
      if ((a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0)) px[y * w + x] = colour;
    }
}
