(function () {
  'use strict';
  // Milestones since navigation began, for the benchmark's breakdown.
  var timings = window.reportTimings = { script: performance.now() };
  var D = JSON.parse(document.getElementById('estate-data').textContent);
  timings.data = performance.now();
  var F = D.files;
  var count = F.name.length;
  var GRADE_COLORS = { simple: '#3a9d5d', moderate: '#e0a100', complex: '#c8423b' };
  var PHASE_COLORS = { analysis: '#2f6fb3', conversion: '#c8423b', audit: '#7b8794' };
  var PAGE = 50;

  function fmt(n) { return Number(n).toLocaleString('en-US'); }
  // Plotly reads a few HTML tags in labels and hover text; a file or folder name must stay text.
  function esc(s) { return String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;'); }
  function el(tag, cls, text) {
    var node = document.createElement(tag);
    if (cls) node.className = cls;
    if (text !== undefined) node.textContent = text;
    return node;
  }
  function path(i) {
    var dir = D.dirs[F.dir[i]];
    return dir ? dir + '/' + F.name[i] : F.name[i];
  }
  function gradeName(i) { return F.grade[i] < 0 ? 'failed' : D.grades[F.grade[i]]; }
  function categoriesOf(i) {
    var mask = F.cats[i], out = [];
    if (Array.isArray(mask)) return mask.map(function (b) { return D.categories[b]; });
    for (var b = 0; b < D.categories.length; b++) if (Math.floor(mask / Math.pow(2, b)) % 2) out.push(D.categories[b]);
    return out;
  }
  function hasCategory(i, bit) {
    var mask = F.cats[i];
    if (Array.isArray(mask)) return mask.indexOf(bit) >= 0;
    return Math.floor(mask / Math.pow(2, bit)) % 2 === 1;
  }

  // ---- charts -------------------------------------------------------------------------------
  // Without the mode bar: hover gives the numbers, dragging zooms and a double click resets, and
  // the bar would sit on top of small charts.
  var config = { displayModeBar: false, responsive: true };
  var base = { margin: { l: 60, r: 20, t: 10, b: 60 }, legend: { orientation: 'h', y: -0.2 },
               font: { family: 'system-ui, sans-serif', size: 12 }, hoverlabel: { namelength: -1 } };
  function layout(extra) {
    var out = {};
    [base, extra || {}].forEach(function (part) { for (var k in part) out[k] = part[k]; });
    return out;
  }
  function unavailable(id, text) {
    var box = document.getElementById(id);
    box.appendChild(el('div', 'unavailable', text));
    return Promise.resolve();
  }
  var C = D.charts;
  var drawn = [];

  var gradeTraces = [{ type: 'bar', name: 'files', x: D.grades, y: C.grades.files,
    marker: { color: D.grades.map(function (g) { return GRADE_COLORS[g]; }) },
    hovertemplate: '%{x}: %{y:,} files<extra></extra>' }];
  if (C.grades.objects) {
    gradeTraces[0].marker.opacity = 1;
    gradeTraces.push({ type: 'bar', name: 'objects', x: D.grades, y: C.grades.objects,
      marker: { color: D.grades.map(function (g) { return GRADE_COLORS[g]; }), opacity: 0.55,
                pattern: { shape: '/' } },
      hovertemplate: '%{x}: %{y:,} objects<extra></extra>' });
  }
  drawn.push(Plotly.newPlot('chart-grades', gradeTraces, layout({ barmode: 'group', showlegend: true,
    annotations: C.grades.objects ? [] : [{ text: 'objects: not available', xref: 'paper', yref: 'paper',
      x: 0, y: 1.04, xanchor: 'left', showarrow: false, font: { color: '#616e7c' } }] }), config));

  var folders = C.turns.folders.map(esc);
  drawn.push(Plotly.newPlot('chart-turns', ['analysis', 'conversion', 'audit'].map(function (phase) {
    return { type: 'bar', name: phase, x: folders, y: C.turns[phase], marker: { color: PHASE_COLORS[phase] },
             hovertemplate: '%{x}<br>' + phase + ': %{y:,} turns<extra></extra>' };
  }), layout({ barmode: 'stack', xaxis: { automargin: true, tickangle: folders.length > 6 ? -30 : 0 } }), config));

  if (C.dialects) {
    drawn.push(Plotly.newPlot('chart-dialects', [{ type: 'bar', x: C.dialects.names, y: C.dialects.files,
      marker: { color: C.dialects.names.map(function (d) { return d === 'undecided' ? '#9aa5b1' : '#2f6fb3'; }) },
      hovertemplate: '%{x}: %{y:,} files<extra></extra>' }], layout({ showlegend: false }), config));
  } else {
    drawn.push(unavailable('chart-dialects', 'Dialect identification is not available in this installation.'));
  }

  if (C.categories.names.length) {
    var cats = C.categories.names.slice().reverse();
    drawn.push(Plotly.newPlot('chart-categories', [{ type: 'bar', orientation: 'h', y: cats,
      x: C.categories.files.slice().reverse(), marker: { color: '#2f6fb3' },
      hovertemplate: '%{y}: %{x:,} files<extra></extra>' }],
      layout({ showlegend: false, margin: { l: 120, r: 20, t: 10, b: 40 } }), config));
  } else {
    drawn.push(unavailable('chart-categories', 'No construct categories: no file was assessed.'));
  }

  var P = C.points;
  if (P.g.length) {
    drawn.push(Plotly.newPlot('chart-points', D.grades.map(function (grade, g) {
      var x = [], y = [], text = [], size = [];
      for (var k = 0; k < P.g.length; k++) {
        if (P.g[k] !== g) continue;
        x.push(P.e[k]); y.push(P.c[k]);
        text.push(P.n[k] > 1 ? esc(path(P.f[k])) + ' and ' + fmt(P.n[k] - 1) + ' more' : esc(path(P.f[k])));
        size.push(8 + Math.min(14, Math.log(P.n[k]) * 2));
      }
      return { type: 'scatter', mode: 'markers', name: grade, x: x, y: y, text: text,
               marker: { color: GRADE_COLORS[grade], size: size, opacity: 0.75 },
               hovertemplate: '%{text}<br>effective lines: %{x:,}<br>conversion turns: %{y}<extra>' + grade + '</extra>' };
    }), layout({ xaxis: { title: { text: 'effective lines' } }, yaxis: { title: { text: 'conversion turns' } },
                 margin: { l: 60, r: 20, t: 10, b: 50 }, legend: { orientation: 'v' } }), config));
  } else {
    drawn.push(unavailable('chart-points', 'No file was assessed.'));
  }

  timings.charts = performance.now();

  // ---- tables -------------------------------------------------------------------------------
  // A table over row indices, a page at a time: the DOM holds one page however large the estate.
  function pagedTable(container, columns, initialSort) {
    var table = el('table'), thead = el('thead'), tbody = el('tbody'), head = el('tr');
    var pager = el('div', 'pager'), prev = el('button', null, 'previous'), next = el('button', null, 'next');
    var info = el('span', 'count');
    var state = { rows: [], page: 0, sort: initialSort || null, dir: 1 };
    columns.forEach(function (column) {
      var th = el('th', column.num ? 'num' : null);
      if (column.key) {
        var button = el('button', null, column.title);
        button.type = 'button';
        button.dataset.sort = column.key;
        button.addEventListener('click', function () {
          state.dir = state.sort === column ? -state.dir : (column.num ? -1 : 1);
          state.sort = column;
          sort();
          render();
        });
        column.button = button;
        th.appendChild(button);
      } else {
        th.textContent = column.title;
      }
      head.appendChild(th);
    });
    thead.appendChild(head);
    table.appendChild(thead);
    table.appendChild(tbody);
    prev.type = next.type = 'button';
    prev.addEventListener('click', function () { state.page--; render(); });
    next.addEventListener('click', function () { state.page++; render(); });
    pager.appendChild(prev); pager.appendChild(info); pager.appendChild(next);
    container.appendChild(table);
    container.appendChild(pager);

    function sort() {
      var column = state.sort;
      if (!column) return;
      var key = column.key, dir = state.dir;
      var values = state.rows.map(key);
      var order = state.rows.map(function (_, k) { return k; });
      order.sort(function (a, b) {
        var x = values[a], y = values[b];
        return x < y ? -dir : x > y ? dir : a - b;
      });
      state.rows = order.map(function (k) { return state.rows[k]; });
      columns.forEach(function (c) {
        if (c.button) c.button.setAttribute('aria-sort', c === column ? (dir > 0 ? 'ascending' : 'descending') : 'none');
      });
    }
    function render() {
      var pages = Math.max(1, Math.ceil(state.rows.length / PAGE));
      state.page = Math.min(Math.max(0, state.page), pages - 1);
      var start = state.page * PAGE, end = Math.min(state.rows.length, start + PAGE);
      var body = document.createDocumentFragment();
      for (var k = start; k < end; k++) {
        var row = el('tr'), r = state.rows[k];
        columns.forEach(function (column) {
          var value = column.cell(r);
          var td = el('td', (column.num ? 'num ' : '') + (column.cls ? column.cls(r) : ''), value);
          row.appendChild(td);
        });
        body.appendChild(row);
      }
      tbody.replaceChildren(body);
      if (!state.rows.length) {
        var none = el('tr'), td = el('td', 'empty', 'none');
        td.colSpan = columns.length;
        none.appendChild(td);
        tbody.appendChild(none);
      }
      info.textContent = state.rows.length
        ? 'rows ' + fmt(start + 1) + '-' + fmt(end) + ' of ' + fmt(state.rows.length) + ' · page ' + fmt(state.page + 1) + ' of ' + fmt(pages)
        : '0 rows';
      prev.disabled = state.page === 0;
      next.disabled = state.page >= pages - 1;
    }
    return {
      set: function (rows) { state.rows = rows; state.page = 0; sort(); render(); },
    };
  }
  function numberCell(array) { return function (i) { return F.grade[i] < 0 ? '' : fmt(array[i]); }; }
  function numberKey(array) { return function (i) { return F.grade[i] < 0 ? -1 : array[i]; }; }

  var fileColumns = [
    { title: 'Path', key: path, cell: path, cls: function () { return 'path'; } },
    { title: 'Grade', key: function (i) { return F.grade[i]; }, cell: gradeName,
      cls: function (i) { return 'grade-' + gradeName(i); } },
  ];
  if (D.dialects) {
    fileColumns.push({ title: 'Dialect', key: function (i) { return F.dialect[i] < 0 ? '' : D.dialects[F.dialect[i]]; },
      cell: function (i) { return F.dialect[i] < 0 ? '' : D.dialects[F.dialect[i]]; } });
  }
  fileColumns.push(
    { title: 'Bytes', num: true, key: numberKey(F.bytes), cell: numberCell(F.bytes) },
    { title: 'Lines', num: true, key: numberKey(F.lines), cell: numberCell(F.lines) },
    { title: 'Eff. lines', num: true, key: numberKey(F.eff), cell: numberCell(F.eff) },
    { title: 'Analysis', num: true, key: numberKey(F.ta), cell: numberCell(F.ta) },
    { title: 'Conversion', num: true, key: numberKey(F.tc), cell: numberCell(F.tc) },
    { title: 'Audit', num: true, key: numberKey(F.tu), cell: numberCell(F.tu) },
    { title: 'Reading', num: true, key: function (i) { return F.sections[i]; },
      cell: function (i) { return F.grade[i] < 0 ? '' : F.sections[i] ? F.sections[i] + ' sections' : 'whole'; } },
    { title: 'Categories / reason', cell: function (i) {
        return F.grade[i] < 0 ? D.reasons[F.error[i]] : categoriesOf(i).join(', '); },
      cls: function () { return 'cats'; } }
  );
  var files = pagedTable(document.getElementById('files'), fileColumns);

  var byPath = document.getElementById('filter-path'), byGrade = document.getElementById('filter-grade');
  var byDialect = document.getElementById('filter-dialect'), byCategory = document.getElementById('filter-category');
  function options(select, names) {
    names.forEach(function (name, k) { var o = el('option', null, name); o.value = String(k); select.appendChild(o); });
  }
  options(byGrade, D.grades.concat(['failed']));
  if (D.dialects) options(byDialect, D.dialects); else byDialect.closest('label').hidden = true;
  options(byCategory, D.categories);
  var lowerPaths = null;
  function applyFilters() {
    var text = byPath.value.toLowerCase(), grade = byGrade.value, dialect = byDialect.value, category = byCategory.value;
    var g = grade === '' ? null : Number(grade) === D.grades.length ? -1 : Number(grade);
    if (text && !lowerPaths) { lowerPaths = new Array(count); for (var k = 0; k < count; k++) lowerPaths[k] = path(k).toLowerCase(); }
    var rows = [];
    for (var i = 0; i < count; i++) {
      if (g !== null && F.grade[i] !== g) continue;
      if (dialect !== '' && F.dialect[i] !== Number(dialect)) continue;
      if (category !== '' && (F.grade[i] < 0 || !hasCategory(i, Number(category)))) continue;
      if (text && lowerPaths[i].indexOf(text) < 0) continue;
      rows.push(i);
    }
    files.set(rows);
  }
  [byGrade, byDialect, byCategory].forEach(function (s) { s.addEventListener('change', applyFilters); });
  byPath.addEventListener('input', applyFilters);
  applyFilters();

  function listTable(id, columns, rows, message) {
    var box = document.getElementById(id);
    if (rows === null) { box.appendChild(el('p', 'empty', message)); return; }
    pagedTable(box, columns).set(rows);
  }
  function field(k) { return function (r) { return r[k]; }; }
  function numField(k) { return function (r) { return fmt(r[k]); }; }
  listTable('hardest', [
    { title: 'Object', cell: function (r) { return r[2]; } }, { title: 'Kind', cell: field(1) },
    { title: 'File', cell: field(0), cls: function () { return 'path'; } },
    { title: 'Lines', num: true, cell: function (r) { return fmt(r[3]) + '-' + fmt(r[4]); } },
    { title: 'Grade', cell: field(5), cls: function (r) { return 'grade-' + r[5]; } },
    { title: 'Eff. lines', num: true, cell: numField(6) }, { title: 'Conversion turns', num: true, cell: numField(7) },
  ], D.hardest, 'The object inventory is not available in this installation.');
  var pathColumn = { title: 'File', key: path, cell: path, cls: function () { return 'path'; } };
  listTable('chunked', [
    pathColumn,
    { title: 'Lines', num: true, key: function (i) { return F.lines[i]; }, cell: function (i) { return fmt(F.lines[i]); } },
    { title: 'Sections', num: true, key: function (i) { return F.sections[i]; }, cell: function (i) { return fmt(F.sections[i]); } },
  ], D.chunked);
  listTable('failures', [
    pathColumn,
    { title: 'Reason', key: function (i) { return D.reasons[F.error[i]]; }, cell: function (i) { return D.reasons[F.error[i]]; } },
  ], D.failures);

  timings.tables = performance.now();
  Promise.all(drawn).then(function () {
    window.reportRenderedMs = timings.ready = performance.now();
    document.body.dataset.ready = 'true';
  });
})();
