// The quality curve as SVG: mean ΔE (linear) against the number of colours
// (logarithmic, since the interesting part is the first few dozen), with the
// current number marked.
const SVG = "http://www.w3.org/2000/svg";
const BOX = { left: 48, right: 628, top: 14, bottom: 228 };

function element(name, attributes, text) {
  const node = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Draws the axes and the curve once a photo is built; markCurve moves the
// mark, so that a move of the slider does not redraw thousands of points.
export function drawCurve(svg, curve, colours) {
  svg.replaceChildren();
  const kmax = curve.length;
  const top = Math.max(...curve, 1e-9);
  const x = (n) => BOX.left + (kmax === 1 ? 0 : (Math.log(n) / Math.log(kmax)) * (BOX.right - BOX.left));
  const y = (d) => BOX.bottom - (d / top) * (BOX.bottom - BOX.top);
  svg.scale = { x, y, curve };

  svg.append(element("line", { class: "axis", x1: BOX.left, y1: BOX.bottom, x2: BOX.right, y2: BOX.bottom }));
  svg.append(element("line", { class: "axis", x1: BOX.left, y1: BOX.top, x2: BOX.left, y2: BOX.bottom }));
  for (let n = 1; n <= kmax; n *= 2) {
    svg.append(element("text", { x: x(n), y: BOX.bottom + 14, "text-anchor": "middle" }, String(n)));
  }
  const step = niceStep(top / 4);
  for (let d = 0; d <= top + 1e-9; d += step) {
    svg.append(element("text", { x: BOX.left - 6, y: y(d) + 4, "text-anchor": "end" }, format(d)));
  }
  svg.append(element("text", { x: 4, y: BOX.top - 2 }, "ΔE"));
  svg.append(element("text", { x: BOX.right, y: 256, "text-anchor": "end" },
                     kmax < colours ? `colours (to ${kmax} of ${colours})` : "colours"));
  const points = Array.from(curve, (d, i) => `${x(i + 1).toFixed(1)},${y(d).toFixed(1)}`);
  svg.append(element("polyline", { class: "line", points: points.join(" ") }));
  svg.mark = {
    line: element("line", { class: "mark", y1: BOX.top, y2: BOX.bottom }),
    dot: element("circle", { class: "mark", r: 3.5, fill: "none" }),
    label: element("text", { y: BOX.top + 12 }),
  };
  svg.append(svg.mark.line, svg.mark.dot, svg.mark.label);
}

// Empties the plot while a curve is being made, saying so.
export function clearCurve(svg, text) {
  svg.replaceChildren(element("text", { x: 320, y: 130, "text-anchor": "middle" }, text));
  svg.scale = null;
  svg.setAttribute("aria-description", text);
}

export function markCurve(svg, k) {
  if (!svg.scale) return;
  const { x, y, curve } = svg.scale;
  const { line, dot, label } = svg.mark;
  const kmax = curve.length;
  const shown = Math.min(k, kmax);
  const text = k <= kmax ? `${k} colours: mean ΔE ${format(curve[k - 1])}` : `${k} colours (beyond the curve)`;
  line.setAttribute("x1", x(shown));
  line.setAttribute("x2", x(shown));
  dot.setAttribute("visibility", k <= kmax ? "visible" : "hidden");
  dot.setAttribute("cx", x(shown));
  dot.setAttribute("cy", y(curve[shown - 1]));
  const right = x(shown) > (BOX.left + BOX.right) / 2;
  label.setAttribute("x", x(shown) + (right ? -6 : 6));
  label.setAttribute("text-anchor", right ? "end" : "start");
  label.textContent = text;
  svg.setAttribute("aria-description", text);
}

function niceStep(raw) {
  const power = 10 ** Math.floor(Math.log10(raw));
  const unit = raw / power;
  return (unit <= 1 ? 1 : unit <= 2 ? 2 : unit <= 5 ? 5 : 10) * power;
}

export function format(d) {
  return d >= 10 ? d.toFixed(1) : d.toFixed(2);
}
