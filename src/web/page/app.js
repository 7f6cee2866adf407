// The page of the figures: tables and charts built from the JSON under api/. Every text from
// the store goes into the page as text (textContent, attributes), never as markup.
"use strict";
(function () {
  const main = document.getElementById("main");
  const rangeSelect = document.getElementById("range");
  let drawing = 0;  // a drawing that a newer one overtook is dropped

  function el(tag, attributes, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) {
      if (value !== null && value !== undefined) node.setAttribute(name, String(value));
    }
    for (const child of children) {
      if (child === null || child === undefined) continue;
      node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
  }

  async function getJson(path) {
    const response = await fetch(path);
    const body = await response.json().catch(() => ({}));
    if (!response.ok) throw new Error(body.error || response.status + " " + response.statusText);
    return body;
  }

  const range = () => "since=" + encodeURIComponent(rangeSelect.value);
  const isoOf = (ms) => new Date(ms).toISOString();

  function timeText(us) {
    if (us === null || us === undefined) return "never";
    return new Date(us / 1000).toISOString().replace("T", " ").replace(/\.\d+Z$/, " UTC");
  }
  function agoText(us, nowUs) {
    if (us === null || us === undefined) return "never";
    const s = Math.max(0, (nowUs - us) / 1e6);
    if (s < 120) return Math.round(s) + " s ago";
    if (s < 7200) return Math.round(s / 60) + " min ago";
    if (s < 172800) return Math.round(s / 3600) + " h ago";
    return Math.round(s / 86400) + " days ago";
  }
  function hoursText(seconds) {
    return (seconds / 3600).toFixed(seconds < 36000 ? 2 : 1) + " h";
  }
  function rateText(bin) {
    if (bin.rate_per_hour === null) return "–";
    return bin.rate_per_hour.toFixed(2) + " (" + bin.rate_low.toFixed(2) + "–" +
        bin.rate_high.toFixed(2) + ")";
  }
  function placeText(s) {
    return s.lat === null || s.lon === null ? "" : s.lat.toFixed(2) + ", " + s.lon.toFixed(2);
  }
  function clockText(s) {
    if (s.clock_synced === null) return "–";
    return s.clock_synced ? "synced ±" + (s.clock_error_us / 1000).toFixed(1) + " ms" : "not synced";
  }

  // A table whose columns sort on a click: each column {title, value (for sorting), cell}.
  function sortableTable(columns, rows, initial) {
    const table = el("table");
    const head = el("tr");
    const body = el("tbody");
    let sortBy = initial, descending = false;
    function fill() {
      const sorted = rows.slice().sort((a, b) => {
        const x = columns[sortBy].value(a), y = columns[sortBy].value(b);
        const order = x < y ? -1 : x > y ? 1 : 0;
        return descending ? -order : order;
      });
      body.replaceChildren(...sorted.map((row) => el("tr", {}, ...columns.map((c) => c.cell(row)))));
      head.childNodes.forEach((th, i) => {
        th.className = i === sortBy ? (descending ? "sorted down" : "sorted") : "";
      });
    }
    columns.forEach((c, i) => {
      const th = el("th", {scope: "col", title: "Sort"}, c.title);
      th.addEventListener("click", () => {
        descending = sortBy === i ? !descending : false;
        sortBy = i;
        fill();
      });
      head.append(th);
    });
    table.append(el("thead", {}, head), body);
    fill();
    return el("div", {class: "scroll"}, table);
  }

  // ---- Stations ----
  const stateOrder = {down: 0, problem: 1, up: 2};
  async function drawStations() {
    const data = await getJson("api/stations?" + range());
    const now = data.now_us;
    const columns = [
      {title: "Station", value: (s) => s.station,
       cell: (s) => el("td", {class: "name"}, el("a", {href: "#/station/" + encodeURIComponent(s.station)}, s.station))},
      {title: "State", value: (s) => stateOrder[s.state],
       cell: (s) => el("td", {}, el("span", {class: "state state-" + s.state}, s.state),
                       s.problems.length ? el("div", {class: "problems"}, s.problems.join("; ")) : null)},
      {title: "Last heard", value: (s) => s.last_heartbeat_us || 0,
       cell: (s) => el("td", {title: timeText(s.last_heartbeat_us)}, agoText(s.last_heartbeat_us, now))},
      {title: "Live time", value: (s) => s.total.live_s,
       cell: (s) => el("td", {class: "number"}, hoursText(s.total.live_s))},
      {title: "Events", value: (s) => s.total.events,
       cell: (s) => el("td", {class: "number"}, s.total.events)},
      {title: "Rate per hour (68 %)", value: (s) => s.total.rate_per_hour === null ? -1 : s.total.rate_per_hour,
       cell: (s) => el("td", {class: "number"}, rateText(s.total))},
      {title: "Clock", value: (s) => clockText(s), cell: (s) => el("td", {}, clockText(s))},
      {title: "Location", value: (s) => placeText(s), cell: (s) => el("td", {}, placeText(s))},
    ];
    const counts = {up: 0, problem: 0, down: 0};
    data.stations.forEach((s) => counts[s.state]++);
    return [
      el("h2", {}, "Stations"),
      el("section", {id: "stations"},
         el("p", {class: "note"}, data.stations.length + " stations: " + counts.up + " up, " +
            counts.problem + " with a problem, " + counts.down + " down. Totals over the range; " +
            "rates per hour of live time with their 68 % interval."),
         data.stations.length ? sortableTable(columns, data.stations, 1)
                              : el("p", {class: "status"}, "No station has reported yet.")),
    ];
  }

  // ---- A station ----
  function ratePoints(bins) {
    return bins.map((b) => [new Date(b.start_us / 1000),
                            b.rate_per_hour === null ? null : [b.rate_low, b.rate_per_hour, b.rate_high]]);
  }

  function rateChart(container, station, bins) {
    let points = ratePoints(bins);
    if (points.length < 2) {
      container.replaceWith(el("p", {class: "status"}, "Not enough data for a chart in this range."));
      return;
    }
    const chart = new Dygraph(container, points, {
      labels: ["Time", "Events per hour"], customBars: true, labelsUTC: true, drawPoints: true,
      pointSize: 2, connectSeparatedPoints: false, showRangeSelector: true, rangeSelectorHeight: 30,
      ylabel: "events per hour", colors: ["#2557a7"], animatedZooms: false,
      axes: {x: {axisLabelWidth: 80}, y: {axisLabelWidth: 60}},
      zoomCallback: (from, to) => refine(from, to),
    });
    // Zoomed in, the visible part is fetched again in finer bins (down to minutes).
    async function refine(from, to) {
      if (to - from >= points[points.length - 1][0] - points[0][0]) return;
      const fine = await getJson("api/rates?station=" + encodeURIComponent(station) +
                                 "&since=" + encodeURIComponent(isoOf(from)) +
                                 "&until=" + encodeURIComponent(isoOf(to)));
      const inside = ratePoints(fine.bins);
      points = points.filter((p) => p[0] < from || p[0] >= to).concat(inside)
          .sort((a, b) => a[0] - b[0]);
      chart.updateOptions({file: points, dateWindow: [from, to]});
    }
  }

  // Where events struck, brighter for more (on a log scale), in cells of a few pixels so that a
  // single hot pixel still shows.
  function hitMap(figures) {
    const scale = Math.max(1, Math.ceil(Math.max(figures.width, figures.height) / 160));
    const w = Math.max(1, Math.ceil(figures.width / scale));
    const h = Math.max(1, Math.ceil(figures.height / scale));
    const canvas = el("canvas", {class: "hitmap", width: w, height: h, id: "hitmap",
                                 "aria-label": "Where events struck the sensor"});
    const counts = new Float64Array(w * h);
    let most = 1;
    for (const [x, y, n] of figures.hit_map) {
      const at = Math.floor(y / scale) * w + Math.floor(x / scale);
      counts[at] += n;
      most = Math.max(most, counts[at]);
    }
    const context = canvas.getContext("2d");
    const image = context.createImageData(w, h);
    for (let i = 0; i < counts.length; i++) {
      const level = counts[i] ? 0.25 + 0.75 * Math.log1p(counts[i]) / Math.log1p(most) : 0;
      image.data[4 * i] = 255 * level;
      image.data[4 * i + 1] = 200 * level;
      image.data[4 * i + 2] = 60 * level;
      image.data[4 * i + 3] = 255;
    }
    context.putImageData(image, 0, 0);
    return canvas;
  }

  function spectrumChart(container, spectrum) {
    new Dygraph(container, spectrum.map((n, level) => [level, n]), {
      labels: ["Peak brightness", "Events"], stepPlot: true, fillGraph: true,
      xlabel: "brightest channel of the peak pixel", ylabel: "events", colors: ["#a86200"],
      axes: {y: {axisLabelWidth: 60}},
    });
  }

  function crop(event, caption) {
    return el("figure", {},
              event.crop ? el("img", {src: event.crop, alt: "Crop of " + event.station + " " + event.time})
                         : el("div", {class: "status"}, "no crop"),
              el("figcaption", {}, ...caption));
  }

  async function drawStation(name) {
    const station = encodeURIComponent(name);
    const [rates, figures] = await Promise.all([
      getJson("api/rates?station=" + station + "&" + range()),
      getJson("api/station?station=" + station + "&" + range()),
    ]);
    const chart = el("div", {class: "chart", id: "rate-chart"});
    const spectrum = el("div", {class: "chart", id: "spectrum-chart"});
    const runs = figures.runs.map((r) => el("tr", {}, el("td", {}, r.run_id), el("td", {}, timeText(r.from_us)),
                                             el("td", {}, timeText(r.to_us)),
                                             el("td", {class: "number"}, hoursText(r.live_s)),
                                             el("td", {class: "number"}, r.events)));
    const gaps = figures.gaps.map((g) => el("li", {}, timeText(g.from_us) + " – " + timeText(g.to_us)));
    const parts = [
      el("h2", {}, name),
      el("section", {}, el("h3", {}, "Rate over time"),
         el("p", {class: "note"}, "Events per hour of live time in bins of " + rates.bin_s / 60 +
            " min, with the 68 % interval; drag across the chart to zoom (down to minutes), " +
            "double-click to zoom out."), chart),
      el("div", {class: "figures"},
         el("section", {}, el("h3", {}, "Hit map"),
            el("p", {class: "note"}, figures.width + "×" + figures.height + " sensor; a lone bright " +
               "dot is a hot pixel, a bright edge a light leak."), hitMap(figures)),
         el("section", {}, el("h3", {}, "Spectrum of peak brightness"), spectrum)),
      el("section", {}, el("h3", {}, "Latest events"),
         el("div", {class: "gallery", id: "gallery"},
            ...figures.latest.map((e) => crop(e, [timeText(e.t_us), el("br"), "peak " + e.peak])))),
      el("section", {}, el("h3", {}, "Runs"),
         runs.length ? el("div", {class: "scroll"}, el("table", {},
            el("thead", {}, el("tr", {}, ...["Run", "From", "To", "Live", "Events"].map((t) => el("th", {}, t)))),
            el("tbody", {}, ...runs))) : el("p", {class: "status"}, "No run in this range."),
         el("h3", {}, "Gaps"), gaps.length ? el("ul", {}, ...gaps) : el("p", {class: "status"}, "None.")),
    ];
    return {parts, after: () => {
      rateChart(chart, name, rates.bins);
      spectrumChart(spectrum, figures.spectrum);
    }};
  }

  // ---- Coincidences ----
  // Groups found beside the groups of each shifted search, and the expectation ± its spread.
  function backgroundFigure(data) {
    const counts = data.background.counts;
    const canvas = el("canvas", {id: "background-chart", width: 640, height: 220,
                                 "aria-label": "Found against the shifted searches"});
    const c = canvas.getContext("2d");
    const all = counts.concat([data.found]);
    const most = Math.max(1, ...all) * 1.15;
    const left = 40, bottom = 200, top = 10, width = 590;
    const step = width / (counts.length + 2);
    const yOf = (v) => bottom - (bottom - top) * v / most;
    c.font = "12px system-ui, sans-serif";
    c.fillStyle = "#5b6675";
    c.fillText("0", 24, bottom + 4);
    c.fillText(String(Math.round(most)), 8, top + 10);
    const band = [data.background.expected - data.background.spread,
                  data.background.expected + data.background.spread];
    c.fillStyle = "rgba(168, 98, 0, 0.15)";
    c.fillRect(left, yOf(band[1]), width, yOf(Math.max(0, band[0])) - yOf(band[1]));
    c.strokeStyle = "#a86200";
    c.beginPath();
    c.moveTo(left, yOf(data.background.expected));
    c.lineTo(left + width, yOf(data.background.expected));
    c.stroke();
    counts.forEach((n, i) => {
      c.fillStyle = "#9aa3af";
      c.fillRect(left + (i + 0.15) * step, yOf(n), step * 0.7, bottom - yOf(n));
    });
    c.fillStyle = "#2557a7";
    c.fillRect(left + (counts.length + 1.15) * step, yOf(data.found), step * 0.7, bottom - yOf(data.found));
    c.fillStyle = "#1d2733";
    c.fillText("shifted searches", left, bottom + 16);
    c.fillText("found", left + (counts.length + 0.9) * step, bottom + 16);
    return canvas;
  }

  async function drawCoincidences() {
    const data = await getJson("api/coincidences?" + range() + "&limit=50");
    const bg = data.background;
    const summary = el("div", {class: "summary"},
      el("div", {}, el("strong", {}, data.found), "found"),
      el("div", {}, el("strong", {}, bg.unavailable ? "–" : bg.expected.toFixed(2) + " ± " + bg.spread.toFixed(2)),
         "expected by chance"),
      el("div", {}, el("strong", {}, bg.unavailable ? "–" : data.excess.toFixed(2)), "excess"),
      el("div", {}, el("strong", {}, data.significance === null ? "–" : data.significance.toFixed(1) + " σ"),
         "significance"));
    const groups = data.groups.map((g) => el("div", {class: "group"},
      el("div", {}, el("strong", {}, timeText(g.t_us)), " — " + g.stations + " stations"),
      el("div", {class: "crops"}, ...g.events.map((e) => crop(e, [e.station, el("br"), e.time.slice(11),
        el("br"), "±" + ((e.t_hi_us - e.t_lo_us) / 2000).toFixed(0) + " ms, peak " + e.peak])))));
    return [
      el("h2", {}, "Coincidences"),
      el("section", {}, summary,
         el("p", {class: "note"}, "Events of at least two stations whose time intervals overlap, " +
            data.since.slice(0, 16) + " to " + data.until.slice(0, 16) + " UTC. The background is the " +
            "same search with each station's times shifted by its own multiple of 10 s" +
            (bg.unavailable ? ": " + bg.unavailable : ", " + bg.searches + " times") + "."),
         bg.unavailable ? null : backgroundFigure(data)),
      el("section", {id: "groups"}, ...(groups.length ? groups : [el("p", {class: "status"}, "None in this range.")]),
         data.found > groups.length ? el("p", {class: "note"}, "The first " + groups.length + " of " + data.found + ".") : null),
    ];
  }

  // ---- The router ----
  async function draw() {
    const mine = ++drawing;
    const hash = decodeURIComponent(location.hash.replace(/^#\/?/, ""));
    document.body.dataset.state = "loading";
    delete document.body.dataset.drawn;
    document.getElementById("nav-stations").className = hash === "" ? "current" : "";
    document.getElementById("nav-coincidences").className = hash === "coincidences" ? "current" : "";
    try {
      let result;
      if (hash.startsWith("station/")) result = await drawStation(hash.slice(8));
      else if (hash === "coincidences") result = {parts: await drawCoincidences()};
      else result = {parts: await drawStations()};
      if (mine !== drawing) return;
      main.replaceChildren(...(Array.isArray(result) ? result : result.parts));
      if (result.after) result.after();
      document.title = "Ravdel " + (hash || "stations");
      document.body.dataset.state = "ready";
    } catch (error) {
      if (mine !== drawing) return;
      main.replaceChildren(el("p", {class: "error"}, "Could not load the figures: " + error.message));
      document.body.dataset.state = "error";
    }
    document.body.dataset.drawn = location.hash || "#/";  // what the state above is of
  }

  window.addEventListener("hashchange", draw);
  rangeSelect.addEventListener("change", draw);
  draw();
})();
