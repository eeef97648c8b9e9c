#include "display/PageScripts.h"

namespace hb {

// Both texts are sent to the browser exactly as written; a change here changes every page.
const char* const kDragReloadScript =
    R"JS((function(){document.addEventListener("dragstart",function(e){var t=e.target;if(t&&t.closest&&t.closest("input,textarea,[contenteditable=true],[draggable=true]"))return;e.preventDefault();},true);document.addEventListener("keydown",function(e){if(e.key==="F5"||((e.ctrlKey||e.metaKey)&&(e.key==="r"||e.key==="R"))){e.preventDefault();location.reload();}},true);})();)JS";

// The top page and the frames directly under it reach the program through chrome.webview (a
// direct frame's messages come through the runtime's frame object); a frame nested deeper has
// nobody listening there, so it hands "menu" and "input" to its parent, which passes them on
// upwards. Only those two words are passed on, and only from the window's own child frames.
const char* const kPageScript =
    R"JS((function(){var d=document,w=window,t;function post(m){try{if(w===w.top||w.parent===w.top)w.chrome.webview.postMessage(m);else w.parent.postMessage({hbRelay:m},"*");}catch(x){}}if(w!==w.top)w.addEventListener("message",function(e){var m=e.data&&e.data.hbRelay;if(m!=="menu"&&m!=="input")return;for(var i=0;i<w.frames.length;i++)if(w.frames[i]===e.source){e.stopImmediatePropagation();post(m);return;}},true);d.addEventListener("contextmenu",function(e){e.preventDefault();post("menu");},true);d.addEventListener("selectstart",function(e){e.preventDefault();},true);if(!window.__hbHideCursor)return;function nocur(on){var h=d.documentElement;if(h)h.classList[on?"add":"remove"]("hb-nocur");}function moved(){nocur(false);clearTimeout(t);t=setTimeout(function(){nocur(true);},3000);}d.addEventListener("DOMContentLoaded",function(){var s=d.createElement("style");s.textContent="html.hb-nocur,html.hb-nocur *{cursor:none!important}";d.head.appendChild(s);moved();});d.addEventListener("mousemove",moved,true);})();)JS";

const char* const kInputScript =
    "(function(){var w=window,l=0;function f(){var n=Date.now();if(n-l<10000)return;l=n;try{if(w==="
    "w.top||w.parent===w.top)w.chrome.webview.postMessage(\"input\");else w.parent.postMessage({"
    "hbRelay:\"input\"},\"*\");}catch(x){}}[\"mousedown\",\"mousemove\",\"keydown\",\"wheel\","
    "\"touchstart\"].forEach(function(t){document.addEventListener(t,f,{capture:true,passive:true})"
    ";})"
    ";})();";

std::string PageScriptWithPrefix(bool hideCursor) {
  return std::string("window.__hbHideCursor=") + (hideCursor ? "true" : "false") + ";" +
         kPageScript;
}

} // namespace hb
