#include "script_bootstrap.h"

namespace sciter_engine {

// Called as f(global, N, allowEval). Wrappers of nodes in the tree are made once per node so
// that expando properties (onclick = ...) stay with the element. The cache lets go of a node
// when it leaves the tree; each wrapper keeps its node alive until the collector finalizes it,
// and a held wrapper goes back into the cache when its node is inserted again.
const char kScriptBootstrap[] = R"js((function (G, N, allowEval) {
  var wrappers = {};
  var listenersOf = {};
  var NodeProto = {}, ElementProto = Object.create(NodeProto);
  function wrap(id) {
    if (typeof id !== 'number' || id < 0) return null;
    var w = wrappers[id];
    if (!w) {
      w = Object.create(N.isElement(id) ? ElementProto : NodeProto);
      Object.defineProperty(w, '__id', { value: id });
      var cached = N.inTree(id);
      if (cached) wrappers[id] = w;
      N.retain(id, cached);
    }
    return w;
  }
  Duktape.fin(NodeProto, function (w) {
    if (Object.prototype.hasOwnProperty.call(w, '__id')) N.release(w.__id);
  });
  // After a change that took nodes out of the tree: the cache drops their wrappers, and
  // what was kept for freed nodes goes.
  function forget(uncached) {
    for (var i = 0; i < uncached.length; i++) delete wrappers[uncached[i]];
    var freed = N.takeFreed();
    for (var k = 0; k < freed.length; k++) delete listenersOf[freed[k]];
  }
  function keep(w) {
    if (!wrappers[w.__id]) { wrappers[w.__id] = w; N.cached(w.__id); }
    forget([]);
  }
  function idOf(node) {
    if (node && typeof node.__id === 'number') return node.__id;
    throw new TypeError('not an element of this document');
  }
  function wrapList(ids) {
    var out = [];
    for (var i = 0; i < ids.length; i++) out.push(wrap(ids[i]));
    return out;
  }
  function listen(key, type, fn) {
    if (typeof fn !== 'function') return;
    var all = listenersOf[key] || (listenersOf[key] = {});
    var list = all[type] || (all[type] = []);
    if (list.indexOf(fn) < 0) list.push(fn);
  }
  function unlisten(key, type, fn) {
    var list = listenersOf[key] && listenersOf[key][type];
    if (!list) return;
    var at = list.indexOf(fn);
    if (at >= 0) list.splice(at, 1);
  }
  function getter(proto, name, get, set) {
    Object.defineProperty(proto, name, { get: get, set: set, configurable: true });
  }

  getter(NodeProto, 'parentNode', function () { return wrap(N.parent(this.__id)); });
  getter(NodeProto, 'parentElement', function () { return wrap(N.parent(this.__id)); });
  getter(NodeProto, 'childNodes', function () { return wrapList(N.children(this.__id, false)); });
  getter(NodeProto, 'children', function () { return wrapList(N.children(this.__id, true)); });
  getter(NodeProto, 'firstChild', function () { return wrap(N.children(this.__id, false)[0]); });
  getter(NodeProto, 'lastChild', function () { var c = N.children(this.__id, false); return wrap(c[c.length - 1]); });
  getter(NodeProto, 'firstElementChild', function () { return wrap(N.children(this.__id, true)[0]); });
  getter(NodeProto, 'nextSibling', function () { return wrap(N.sibling(this.__id, 1)); });
  getter(NodeProto, 'previousSibling', function () { return wrap(N.sibling(this.__id, -1)); });
  getter(NodeProto, 'nodeType', function () { return N.nodeType(this.__id); });
  getter(NodeProto, 'textContent', function () { return N.getText(this.__id); },
         function (v) { forget(N.setText(this.__id, v === null || v === undefined ? '' : String(v))); });
  getter(NodeProto, 'nodeValue', function () { return N.getText(this.__id); },
         function (v) { forget(N.setText(this.__id, String(v))); });
  NodeProto.appendChild = function (c) { N.insert(this.__id, idOf(c), -1); keep(c); return c; };
  NodeProto.insertBefore = function (c, ref) { N.insert(this.__id, idOf(c), ref ? idOf(ref) : -1); keep(c); return c; };
  NodeProto.removeChild = function (c) {
    var uncached = N.remove(this.__id, idOf(c));
    if (!uncached) throw new Error('removeChild: not a child of this element');
    forget(uncached);
    return c;
  };
  NodeProto.remove = function () { var p = N.parent(this.__id); if (p >= 0) forget(N.remove(p, this.__id) || []); };
  NodeProto.contains = function (other) { return !!other && N.contains(this.__id, idOf(other)); };
  NodeProto.addEventListener = function (type, fn) { listen(this.__id, String(type), fn); };
  NodeProto.removeEventListener = function (type, fn) { unlisten(this.__id, String(type), fn); };

  getter(ElementProto, 'tagName', function () { return N.tag(this.__id).toUpperCase(); });
  getter(ElementProto, 'nodeName', function () { return N.tag(this.__id).toUpperCase(); });
  getter(ElementProto, 'innerText', function () { return N.getText(this.__id); },
         function (v) { forget(N.setText(this.__id, String(v))); });
  function attributeProperty(name, attribute) {
    getter(ElementProto, name, function () { var v = N.getAttr(this.__id, attribute); return v === null ? '' : v; },
           function (v) { N.setAttr(this.__id, attribute, String(v)); });
  }
  attributeProperty('id', 'id');
  attributeProperty('className', 'class');
  attributeProperty('title', 'title');
  attributeProperty('value', 'value');
  attributeProperty('src', 'src');
  attributeProperty('href', 'href');
  getter(ElementProto, 'disabled', function () { return N.getAttr(this.__id, 'disabled') !== null; },
         function (v) { if (v) N.setAttr(this.__id, 'disabled', ''); else N.removeAttr(this.__id, 'disabled'); });
  getter(ElementProto, 'innerHTML', function () { return N.getHtml(this.__id); },
         function (v) { forget(N.setHtml(this.__id, v === null || v === undefined ? '' : String(v))); });
  getter(ElementProto, 'dataset', function () {
    var id = this.__id;
    function attribute(k) { return 'data-' + String(k).replace(/[A-Z]/g, function (c) { return '-' + c.toLowerCase(); }); }
    return new Proxy({}, {
      get: function (t, k) { if (typeof k !== 'string') return undefined; var v = N.getAttr(id, attribute(k)); return v === null ? undefined : v; },
      set: function (t, k, v) { if (typeof k !== 'string') return false; N.setAttr(id, attribute(k), String(v)); return true; }
    });
  });
  getter(ElementProto, 'style', function () { return styleOf(this.__id); });
  getter(ElementProto, 'classList', function () { return classListOf(this.__id); });
  getter(ElementProto, 'offsetWidth', function () { return Math.round(N.geometry(this.__id)[2] / N.pixelRatio()); });
  getter(ElementProto, 'offsetHeight', function () { return Math.round(N.geometry(this.__id)[3] / N.pixelRatio()); });
  ElementProto.getBoundingClientRect = function () {
    var g = N.geometry(this.__id), r = N.pixelRatio();
    return { left: g[0] / r, top: g[1] / r, width: g[2] / r, height: g[3] / r,
             right: (g[0] + g[2]) / r, bottom: (g[1] + g[3]) / r, x: g[0] / r, y: g[1] / r };
  };
  ElementProto.getAttribute = function (n) { return N.getAttr(this.__id, String(n)); };
  ElementProto.setAttribute = function (n, v) { N.setAttr(this.__id, String(n), String(v)); };
  ElementProto.removeAttribute = function (n) { N.removeAttr(this.__id, String(n)); };
  ElementProto.hasAttribute = function (n) { return N.getAttr(this.__id, String(n)) !== null; };
  ElementProto.querySelector = function (s) { return wrap(N.query(this.__id, String(s), false)[0]); };
  ElementProto.querySelectorAll = function (s) { return wrapList(N.query(this.__id, String(s), true)); };
  ElementProto.getElementsByTagName = function (t) { return wrapList(N.query(this.__id, String(t), true)); };
  ElementProto.getElementsByClassName = function (c) { return wrapList(N.query(this.__id, '.' + String(c), true)); };
  ElementProto.focus = function () { N.focus(this.__id); };
  ElementProto.blur = function () { N.blur(this.__id); };
  ElementProto.click = function () { dispatch(this.__id, 'click', {}); };

  function styleOf(id) {
    return new Proxy({}, {
      get: function (t, k) {
        if (typeof k !== 'string') return undefined;
        if (k === 'setProperty') return function (n, v) { N.setStyle(id, String(n), v === null || v === undefined ? '' : String(v)); };
        if (k === 'removeProperty') return function (n) { N.setStyle(id, String(n), ''); };
        if (k === 'getPropertyValue') return function (n) { return N.getStyle(id, String(n)); };
        if (k === 'cssText') { var s = N.getAttr(id, 'style'); return s === null ? '' : s; }
        return N.getStyle(id, N.cssName(k));
      },
      set: function (t, k, v) {
        if (typeof k !== 'string') return false;
        if (k === 'cssText') N.setAttr(id, 'style', String(v));
        else N.setStyle(id, N.cssName(k), v === null || v === undefined ? '' : String(v));
        return true;
      }
    });
  }
  function classListOf(id) {
    return {
      add: function () { for (var i = 0; i < arguments.length; i++) N.classOp(id, 0, String(arguments[i])); },
      remove: function () { for (var i = 0; i < arguments.length; i++) N.classOp(id, 1, String(arguments[i])); },
      toggle: function (c, force) {
        var has = N.classOp(id, 3, String(c));
        var want = force === undefined ? !has : !!force;
        N.classOp(id, want ? 0 : 1, String(c));
        return want;
      },
      contains: function (c) { return N.classOp(id, 3, String(c)); }
    };
  }

  var document = {};
  var documentKey = 'document', windowKey = 'window';
  getter(document, 'documentElement', function () { return wrap(N.root()); });
  getter(document, 'body', function () { return wrap(N.body()); });
  getter(document, 'head', function () { return wrap(N.head()); });
  getter(document, 'activeElement', function () { return wrap(N.activeElement()); });
  document.getElementById = function (id) { return wrap(N.byId(String(id))); };
  document.querySelector = function (s) { return wrap(N.query(-1, String(s), false)[0]); };
  document.querySelectorAll = function (s) { return wrapList(N.query(-1, String(s), true)); };
  document.getElementsByTagName = function (t) { return wrapList(N.query(-1, String(t), true)); };
  document.getElementsByClassName = function (c) { return wrapList(N.query(-1, '.' + String(c), true)); };
  document.createElement = function (t) { return wrap(N.create(String(t))); };
  document.createTextNode = function (t) { return wrap(N.createText(String(t))); };
  document.addEventListener = function (type, fn) { listen(documentKey, String(type), fn); };
  document.removeEventListener = function (type, fn) { unlisten(documentKey, String(type), fn); };
  G.addEventListener = function (type, fn) { listen(windowKey, String(type), fn); };
  G.removeEventListener = function (type, fn) { unlisten(windowKey, String(type), fn); };
  G.document = document;
  G.window = G;
  getter(G, 'devicePixelRatio', function () { return N.pixelRatio(); });
  G.self = G;

  function text(args) {
    var parts = [];
    for (var i = 0; i < args.length; i++) {
      var a = args[i];
      if (typeof a === 'object' && a !== null && typeof a.__id !== 'number') {
        try { a = JSON.stringify(a); } catch (e) { a = String(a); }
      }
      parts.push(String(a));
    }
    return parts.join(' ');
  }
  G.console = {
    log: function () { N.log(0, text(arguments)); },
    info: function () { N.log(0, text(arguments)); },
    debug: function () { N.log(0, text(arguments)); },
    warn: function () { N.log(1, text(arguments)); },
    error: function () { N.log(2, text(arguments)); }
  };

  var timers = {}, nextTimer = 1;
  function startTimer(fn, ms, args, repeat) {
    if (typeof fn !== 'function') throw new TypeError('timer callback is not a function');
    var id = nextTimer++;
    timers[id] = { fn: fn, args: args, repeat: repeat };
    N.setTimer(id, Math.max(0, Number(ms) || 0), repeat);
    return id;
  }
  G.setTimeout = function (fn, ms) { return startTimer(fn, ms, Array.prototype.slice.call(arguments, 2), false); };
  G.setInterval = function (fn, ms) { return startTimer(fn, ms, Array.prototype.slice.call(arguments, 2), true); };
  G.clearTimeout = G.clearInterval = function (id) {
    if (timers[id]) { delete timers[id]; N.killTimer(id); }
  };
  N.fireTimer = function (id) {
    var t = timers[id];
    if (!t) { N.killTimer(id); return; }
    if (!t.repeat) delete timers[id];
    t.fn.apply(G, t.args);
  };

  G.close = function () { N.close(); };
  var viewTarget = {};
  G.view = new Proxy(viewTarget, {
    get: function (t, name) {
      if (typeof name !== 'string') return undefined;
      if (name === 'close') return function () { N.close(); };
      if (Object.prototype.hasOwnProperty.call(t, name)) return t[name];
      return function () { return N.call(name, Array.prototype.slice.call(arguments)); };
    },
    set: function (t, name, v) { t[name] = v; return true; }
  });

  function invoke(target, key, event) {
    var handler = target ? target['on' + event.type] : undefined;
    if (typeof handler !== 'function' && typeof key === 'number') handler = N.attributeHandler(key, 'on' + event.type);
    if (typeof handler === 'function') {
      try {
        if (handler.call(target, event) === false) event.preventDefault();
      } catch (e) { N.reportError(e, 'on' + event.type + ' handler'); }
    }
    var list = listenersOf[key] && listenersOf[key][event.type];
    if (!list) return;
    list = list.slice();
    for (var i = 0; i < list.length && !event.immediateStopped; i++) {
      try { list[i].call(target, event); } catch (e) { N.reportError(e, event.type + ' listener'); }
    }
  }
  function dispatch(targetId, type, details) {
    var event = {
      type: type, target: wrap(targetId), currentTarget: null,
      keyCode: details.keyCode || 0, which: details.keyCode || 0, key: details.key || '',
      shiftKey: !!details.shift, ctrlKey: !!details.ctrl, altKey: !!details.alt,
      clientX: details.x || 0, clientY: details.y || 0, button: details.button || 0,
      defaultPrevented: false, stopped: false, immediateStopped: false
    };
    event.preventDefault = function () { event.defaultPrevented = true; };
    event.stopPropagation = function () { event.stopped = true; };
    event.stopImmediatePropagation = function () { event.stopped = event.immediateStopped = true; };
    for (var id = targetId; id >= 0 && !event.stopped; id = N.parent(id)) {
      event.currentTarget = wrap(id);
      invoke(event.currentTarget, id, event);
    }
    if (!event.stopped) { event.currentTarget = document; invoke(document, documentKey, event); }
    if (!event.stopped) { event.currentTarget = G; invoke(G, windowKey, event); }
    return event.defaultPrevented;
  }
  N.dispatch = dispatch;

  if (!allowEval) {
    var refused = function () { throw new Error('eval is not allowed for this page'); };
    G.eval = refused;
    Object.defineProperty(Function.prototype, 'constructor', { value: refused });
    G.Function = refused;
  }
}))js";

const unsigned kScriptBootstrapLength = sizeof(kScriptBootstrap) - 1;

}  // namespace sciter_engine
