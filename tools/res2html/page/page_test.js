"use strict";
// The page's script outside a browser: the numbers it shares with the viewer, the address, the
// keys, and its decoder against a page res2html writes, bit for bit.
//   node page_test.js RES2HTML SAMPLE_SERIES
const assert = require("assert");
const { execFileSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const zlib = require("zlib");
const page = require(path.join(__dirname, "view.js"));

const tests = [];
const test = (name, fn) => tests.push([name, fn]);
const bits = (v) => new Uint32Array(Float32Array.of(v).buffer)[0];

test("each view value is written as the shortest text that reads back", () => {
  const cases = [
    [Math.fround(-15 + 0.1), "-14.9"], [Math.fround(0.1), "0.1"], [-15, "-15"], [0, "0"],
    [Math.fround(1e-7), "1e-7"], [Math.fround(3.4e38), "3.4e+38"],
    [Math.fround(123456.79), "123456.79"],
    [Math.fround(1 / 3), "0.33333334"],
  ];
  for (const [v, text] of cases) {
    assert.strictEqual(page.floatText(v), text);
    assert.strictEqual(Math.fround(Number(page.floatText(v))), v);
  }
});

test("decimal numbers as the command line takes them", () => {
  const cases = [["1.5", 1.5], [".5", 0.5], ["-2e-1", -0.2], ["+3", 3], ["1,5", null],
    ["abc", null], ["1e999", null], ["", null], ["0x10", null], ["5.", 5], ["1e", null]];
  for (const [text, v] of cases) assert.strictEqual(page.parseDecimal(text), v, text);
});

test("keys step as the viewer's do, each step rounded to single precision", () => {
  const files = [0, 1, 2, 3, 4];
  const fresh = () =>
    ({ place: 1, view: { rot_x: 0, rot_y: 0, tx: 0, ty: 0, tz: -15 }, mark: false });
  let s = fresh();
  for (let k = 0; k < 10; ++k) page.pressKey(s, "d", false, files.length);
  assert.strictEqual(bits(s.view.tz), 0xC15FFFFC); // -13.999996185302734375
  s = fresh();
  for (let k = 0; k < 10; ++k) page.pressKey(s, "a", false, files.length);
  assert.strictEqual(s.view.tz, -16.000003814697265625);
  s = fresh();
  s.view.rot_x = 85;
  page.pressKey(s, "ArrowUp", false, 5);
  assert.strictEqual(s.view.rot_x, 95); // the limit is tested before the step
  page.pressKey(s, "ArrowUp", false, 5);
  assert.strictEqual(s.view.rot_x, 95);
  page.pressKey(s, "ArrowLeft", false, 5);
  assert.strictEqual(s.view.rot_y, 10);
  page.pressKey(s, "n", true, 5);
  assert.strictEqual(s.place, 4); // held at the last
  page.pressKey(s, "b", false, 5);
  page.pressKey(s, "b", true, 5);
  assert.strictEqual(s.place, 0); // and at the first
  assert.strictEqual(page.pressKey(s, "q", false, 5), false);
  page.dragTo(s, { x: 100, y: 100, rot_x: 0, rot_y: 0 }, 130, 300);
  assert.deepStrictEqual([s.view.rot_x, s.view.rot_y], [90, 30]);
});

test("the address: each key where it parses, the nearest file held, the rest named", () => {
  const files = [0, 10, 20, 40, 50];
  const cases = [
    ["#file=40&rot-x=30&rot-y=-20&tz=-14.9&mark=1", 3,
      { rot_x: 30, rot_y: -20, tz: Math.fround(-14.9) }, true, []],
    ["#file=44", 3, {}, false, []],
    ["#file=45", 3, {}, false, []],
    ["#file=999&tx=.5", 4, { tx: 0.5 }, false, []],
    ["#tz=abc&mark=2&file=-3&rot-y=5&zoom=2", 1, { rot_y: 5 }, false,
      ["tz=abc", "mark=2", "file=-3", "zoom=2"]],
    ["", 1, {}, false, []],
  ];
  for (const [fragment, place, view, mark, ignored] of cases) {
    const s = { place: 1, view: { rot_x: 0, rot_y: 0, tx: 0, ty: 0, tz: -15 }, mark: false };
    assert.deepStrictEqual(page.readFragment(fragment, s, files), ignored, fragment);
    assert.strictEqual(s.place, place, fragment);
    assert.strictEqual(s.mark, mark, fragment);
    for (const [k, v] of Object.entries(view)) assert.strictEqual(s.view[k], v, fragment + " " + k);
    const again = { place: 0, view: {}, mark: false };
    page.readFragment(page.fragmentOf(s, files), again, files);
    assert.deepStrictEqual(again, s, "the written address reads back: " + fragment);
  }
});

test("the model-view matrix places a point as the viewer does", () => {
  const m = page.modelView({ rot_x: 90, rot_y: 0, tx: 0, ty: 0, tz: -15 });
  // Turned 90 degrees about x, the point (0, 1, 0) comes towards the eye: z = -15 + 1.
  const z = m[2] * 0 + m[6] * 1 + m[14];
  assert.ok(Math.abs(z + 14) < 1e-12);
  const p = page.multiply(page.frustum(),
    page.modelView({ rot_x: 0, rot_y: 0, tx: 0, ty: 0, tz: -15 }));
  // At the start a node at (4, 0) lands at 4/5 of the half width.
  assert.ok(Math.abs((p[0] * 4 + p[12]) / (p[3] * 4 + p[15]) - 0.8) < 1e-12);
});

// Every coordinate of every file of a page res2html wrote, decoded, is the file's single-precision
// value; every connectivity and fault list is the file's.
test("the decoder gives back every file res2html put in the page, bit for bit", () => {
  const [res2html, sample] = process.argv.slice(2);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "page_test."));
  try {
    execFileSync(sample, ["--last", "60", "--fold", "20", path.join(dir, "s")]);
    // A new mesh part way, a gap, and the first mesh again.
    fs.copyFileSync(path.join(dir, "s", "res0003.inp"), path.join(dir, "s", "res0030.inp"));
    // A node beyond single precision: its coordinate is infinite, and so are predictions from it.
    for (const n of [31, 32, 33])
      fs.writeFileSync(path.join(dir, "s", page.fileName(n)),
        "3 1\n1 1 3 2\n1 0 " + n + "\n2 1e-3 0\n3 0 1e39\n");
    fs.unlinkSync(path.join(dir, "s", "res0040.inp"));
    execFileSync(res2html, ["-o", path.join(dir, "p.html"), path.join(dir, "s")],
      { stdio: "pipe" });
    const html = fs.readFileSync(path.join(dir, "p.html"), "utf8");
    const meta =
      JSON.parse(/<script type="application\/json" id="meta">(.*?)<\/script>/s.exec(html)[1]);
    const decoder = new page.Decoder();
    const chunk = /class="chunk" data-files="(\d+)">([^<]*)</g;
    for (let m; (m = chunk.exec(html));)
      decoder.read(new Uint8Array(zlib.inflateSync(Buffer.from(m[2], "base64"))), Number(m[1]));
    assert.strictEqual(decoder.frames.length, meta.files.length);
    assert.strictEqual(meta.files.length, 60);
    meta.files.forEach((n, k) => {
      const tokens =
        fs.readFileSync(path.join(dir, "s", page.fileName(n)), "utf8").trim().split(/\s+/);
      const np = Number(tokens[0]), nele = Number(tokens[1]), frame = decoder.frames[k];
      assert.strictEqual(frame.mesh.np, np);
      assert.strictEqual(frame.mesh.nele, nele);
      for (let e = 0; e < nele; ++e)
        for (let j = 0; j < 3; ++j)
          assert.strictEqual(frame.mesh.corners[3 * Number(tokens[2 + 4 * e]) - 3 + j],
            Number(tokens[3 + 4 * e + j]) - 1);
      for (let i = 0, at = 2 + 4 * nele; i < np; ++i, at += 3) {
        const slot = Number(tokens[at]) - 1;
        const name = page.fileName(n);
        assert.strictEqual(bits(frame.coords[slot]), bits(Number(tokens[at + 1])), name);
        assert.strictEqual(bits(frame.coords[np + slot]), bits(Number(tokens[at + 2])), name);
      }
    });
    // The fold from file 20: one element, then three, inverted.
    assert.deepStrictEqual(
      meta.files.slice(19, 23).map((n, k) => decoder.frames[19 + k].inverted.length),
      [0, 1, 3, 3]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

let failed = 0;
for (const [name, fn] of tests) {
  try {
    fn();
    console.log("ok   " + name);
  } catch (e) {
    ++failed;
    console.log("FAIL " + name + "\n" + e.stack);
  }
}
console.log(failed ? failed + " of " + tests.length + " failed"
  : "all " + tests.length + " passed");
process.exit(failed ? 1 : 0);
