// Runs script sent by the test and reports what came of it, for the command pages.
// commandPage(prefix, ready): the test posts {"name": prefix + "-cmd", "id": N, "code": "..."};
// the page evaluates the code (an expression, or statements whose last value counts)
// and reports {"name": prefix + "-result", "id": N, "ok": true, "type": typeof value,
// "value": value (null for undefined and functions)} or, when it threw, {"ok": false,
// "message", "number", "isError"}. On load it reports {"name": prefix + "-ready"} with
// what ready() adds; commands posted before that are left alone, so that a page loaded
// again does not rerun them. Every command waits for the page's previous one.
function report(data) {
  return fetch("/_test/report", {method: "POST", keepalive: true,
    headers: {"Content-Type": "application/json"}, body: JSON.stringify(data)});
}

function commandPage(prefix, ready) {
  function run(cmd) {
    var out = {name: prefix + "-result", id: cmd.id};
    try {
      var value = (0, eval)(cmd.code);
      out.ok = true;
      out.type = typeof value;
      out.value = value === undefined || typeof value === "function" ? null : value;
    } catch (e) {
      out.ok = false;
      out.isError = e instanceof Error;
      out.message = e && e.message !== undefined ? String(e.message) : String(e);
      out.number = e && typeof e.number === "number" ? e.number : null;
    }
    return report(out);
  }

  function listen(since) {
    fetch("/_test/reports?" + new URLSearchParams({wait: prefix + "-cmd", since: since, timeout: 600}))
      .then(function (r) { return r.ok ? r.json() : []; })
      .then(function (found) {
        var chain = Promise.resolve();
        found.forEach(function (entry) {
          since = Math.max(since, entry.seq);
          chain = chain.then(function () { return run(entry.json); });
        });
        return chain;
      })
      .catch(function () {})
      .then(function () { listen(since); });
  }

  window.addEventListener("load", function () {
    fetch("/_test/reports")
      .then(function (r) { return r.json(); })
      .then(function (all) {
        var since = all.reduce(function (m, e) { return Math.max(m, e.seq); }, 0);
        var hello = ready ? ready() : {};
        hello.name = prefix + "-ready";
        return report(hello).then(function () { listen(since); });
      });
  });
}
