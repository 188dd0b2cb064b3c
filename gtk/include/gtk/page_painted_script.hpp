#pragma once
// A page says when it has been painted after loading: once its load event
// has fired, two animation frames later the web process has painted a frame
// with the loaded page and sent it to the window. The window's first frame
// after that message shows the page. Shared by the reader's web views and
// the bare WebKit window it is measured against, so both wait for the same.

namespace gtk {

// The message handler's name; the message is the page's address.
inline constexpr const char* kPagePaintedHandler = "painted";

inline constexpr const char* kPagePaintedScript =
    "(function(){"
    "function painted(){window.requestAnimationFrame(function(){window.requestAnimationFrame(function(){"
    "window.webkit.messageHandlers.painted.postMessage(window.location.href);});});}"
    "if(document.readyState==='complete')painted();"
    "else window.addEventListener('load',painted,{once:true});"
    "})();";

}  // namespace gtk
