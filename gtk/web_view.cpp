#include "web_view.hpp"

#include <webkit/webkit.h>

#include <chrono>

#include "gtk/page_painted_script.hpp"
#include "platform/executor.hpp"
#include "platform/log.hpp"
#include "platform/service_routing.hpp"
#include "platform/url.hpp"

namespace gtk {

namespace {

ui::WebViewNavigationType typeOf(WebKitNavigationType type) {
  switch (type) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED: return ui::WebViewNavigationType::LinkClicked;
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED: return ui::WebViewNavigationType::FormSubmitted;
    case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD: return ui::WebViewNavigationType::BackForward;
    case WEBKIT_NAVIGATION_TYPE_RELOAD: return ui::WebViewNavigationType::Reload;
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED: return ui::WebViewNavigationType::FormResubmitted;
    default: return ui::WebViewNavigationType::Other;
  }
}

ui::URLRequest modelRequestOf(WebKitURIRequest* request) {
  const char* uri = webkit_uri_request_get_uri(request);
  ui::URLRequest model(uri ? uri : "");
  if (const char* method = webkit_uri_request_get_http_method(request)) model.setHTTPMethod(method);
  if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request)) {
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, headers);
    const char* name = nullptr;
    const char* value = nullptr;
    while (soup_message_headers_iter_next(&iter, &name, &value)) model.setValue(value, name);
  }
  return model;
}

// A JavaScript string literal holding `text`.
std::string scriptString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// Pages tell the app where they are scrolled to (at most once a frame),
// from a script world of the app's own that the page's scripts cannot reach.
constexpr const char* kAppWorld = "vestavind-app";
constexpr const char* kScrollHandler = "scrolled";
constexpr const char* kScrollScript =
    "(function(){"
    "var pending=false;"
    "function report(){pending=false;"
    "window.webkit.messageHandlers.scrolled.postMessage({x:window.scrollX,y:window.scrollY});}"
    "function soon(){if(pending)return;pending=true;window.requestAnimationFrame(report);}"
    "window.addEventListener('scroll',soon,{passive:true});"
    "window.addEventListener('load',report);"
    "window.addEventListener('pageshow',report);"
    "})();";

double numberIn(JSCValue* object, const char* name) {
  JSCValue* member = jsc_value_object_get_property(object, name);
  const double number = jsc_value_is_number(member) ? jsc_value_to_double(member) : 0;
  g_object_unref(member);
  return number;
}

}  // namespace

struct WebView::Impl {
  WebView& owner;
  WebKitWebView* view = nullptr;
  ui::URLRequest request;
  // From a load this view started until WebKit finishes, fails or refuses it.
  bool loadPending = false;
  // What the page last said about its scroll position.
  bool scrolledToTop = true;
  // Set while the delegate is being asked, so loads it starts wait for the
  // decision to be answered first.
  bool deciding = false;

  explicit Impl(WebView& owner) : owner(owner) {}

  void startLoad(const ui::URLRequest& model) {
    WebKitURIRequest* request = webkit_uri_request_new(model.url().c_str());
    if (SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request)) {
      for (const auto& [name, value] : model.allHTTPHeaderFields()) {
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
      }
    }
    webkit_web_view_load_request(view, request);
    g_object_unref(request);
  }

  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    // A redirect continues a navigation the delegate already allowed.
    if (webkit_navigation_action_is_redirect(action)) {
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    const ui::URLRequest request = modelRequestOf(webkit_navigation_action_get_request(action));
    const bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    const ui::WebViewNavigationType navigation =
        newWindow ? ui::WebViewNavigationType::LinkClicked
                  : typeOf(webkit_navigation_action_get_navigation_type(action));
    bool allow = true;
    self->deciding = true;
    if (auto delegate = self->owner.delegate()) allow = delegate->webViewShouldStartLoad(self->owner, request, navigation);
    self->deciding = false;
    if (allow && newWindow) {
      // One window: a link aimed at a new one opens in place.
      self->request = request;
      self->loadPending = true;
      self->startLoad(request);
      allow = false;
    }
    if (allow) {
      webkit_policy_decision_use(decision);
    } else {
      webkit_policy_decision_ignore(decision);
      if (!webkit_web_view_is_loading(self->view) && !self->queuedLoad) self->loadPending = false;
    }
    return TRUE;
  }

  static void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    switch (event) {
      case WEBKIT_LOAD_STARTED:
        if (auto delegate = self->owner.delegate()) delegate->webViewDidStartLoad(self->owner);
        break;
      case WEBKIT_LOAD_COMMITTED:
        // A new document starts at its top until it says otherwise.
        self->scrolledToTop = true;
        self->owner.scrollView().contentDidScroll({0, 0});
        if (const char* uri = webkit_web_view_get_uri(view); uri && self->request.url() != uri) {
          self->request = ui::URLRequest(uri);
        }
        break;
      case WEBKIT_LOAD_FINISHED:
        self->loadPending = false;
        if (auto delegate = self->owner.delegate()) delegate->webViewDidFinishLoad(self->owner);
        break;
      default:
        break;
    }
  }

  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    // A load replaced by another is not a failure of the page.
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
    if (g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
      return FALSE;
    }
    self->loadPending = false;
    if (auto delegate = self->owner.delegate()) {
      delegate->webViewDidFailLoad(self->owner, platform::Error("WebKit", error->code, platform::Value()));
    }
    return FALSE;
  }

  // The model's offset follows the page, so a relayout never moves it.
  static void onScrollReport(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (!jsc_value_is_object(value)) return;
    const ui::Point offset{numberIn(value, "x"), numberIn(value, "y")};
    self->scrolledToTop = offset.y <= 0;
    self->owner.scrollView().contentDidScroll(offset);
  }

  std::function<void(const std::string&)> onPainted;

  static void onPaintReport(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (!self->onPainted || !jsc_value_is_string(value)) return;
    char* url = jsc_value_to_string(value);
    const std::string address = url ? url : "";
    g_free(url);
    self->onPainted(address);
  }

  // A script in the app's own world, which page scripts cannot reach, and the
  // handler its messages come back to.
  void addAppWorldScript(const char* source, const char* handler, GCallback onMessage) {
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
    WebKitUserScript* script = webkit_user_script_new_for_world(
        source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kAppWorld, nullptr,
        nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    webkit_user_content_manager_register_script_message_handler(content, handler, kAppWorld);
    g_signal_connect(content, (std::string("script-message-received::") + handler).c_str(), onMessage, this);
  }

  void watchPainting() { addAppWorldScript(kPagePaintedScript, kPagePaintedHandler, G_CALLBACK(onPaintReport)); }

  void watchScrollPosition() { addAppWorldScript(kScrollScript, kScrollHandler, G_CALLBACK(onScrollReport)); }

  bool queuedLoad = false;
};

WebView::WebView(ui::Rect frame, WebKitNetworkSession* session) : ui::WebView(frame), impl_(std::make_unique<Impl>(*this)) {
  impl_->view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session, nullptr));
  g_object_ref_sink(impl_->view);
  WebKitSettings* settings = webkit_web_view_get_settings(impl_->view);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_media_playback_requires_user_gesture(settings, TRUE);
  g_signal_connect(impl_->view, "decide-policy", G_CALLBACK(Impl::onDecidePolicy), impl_.get());
  g_signal_connect(impl_->view, "load-changed", G_CALLBACK(Impl::onLoadChanged), impl_.get());
  g_signal_connect(impl_->view, "load-failed", G_CALLBACK(Impl::onLoadFailed), impl_.get());
  impl_->watchScrollPosition();
  impl_->watchPainting();
}

WebView::~WebView() {
  g_signal_handlers_disconnect_by_data(impl_->view, impl_.get());
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(impl_->view), impl_.get());
  GtkWidget* widget = GTK_WIDGET(impl_->view);
  if (gtk_widget_get_parent(widget)) gtk_widget_unparent(widget);
  g_object_unref(impl_->view);
}

GtkWidget* WebView::widget() const { return GTK_WIDGET(impl_->view); }

void WebView::loadRequest(const ui::URLRequest& request) {
  if (request.url().empty()) return;
  // WebKit would open local files and scripts too; the app only shows the web.
  if (!platform::isWebURL(request.url())) {
    platform::log("Web view: not a web address, not loaded: " + request.url());
    return;
  }
  impl_->request = request;
  impl_->loadPending = true;
  if (!impl_->deciding) {
    impl_->startLoad(request);
    return;
  }
  // Started from inside a policy decision: WebKit answers that decision
  // first, then this load begins.
  impl_->queuedLoad = true;
  std::weak_ptr<ui::View> weak = weak_from_this();
  platform::mainQueue().post([weak, request] {
    auto view = std::static_pointer_cast<WebView>(weak.lock());
    if (!view) return;
    view->impl_->queuedLoad = false;
    view->impl_->startLoad(request);
  });
}

void WebView::followLink(const std::string& url) {
  const std::string script = "(function(){var a=document.createElement('a');a.href=" + scriptString(url) +
                             ";a.style.display='none';document.body.appendChild(a);a.click();a.remove();})();";
  webkit_web_view_evaluate_javascript(impl_->view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void WebView::reload() {
  impl_->loadPending = true;
  webkit_web_view_reload(impl_->view);
}

void WebView::stopLoading() {
  impl_->loadPending = false;
  webkit_web_view_stop_loading(impl_->view);
}

void WebView::goBack() {
  if (!canGoBack()) return;
  impl_->loadPending = true;
  webkit_web_view_go_back(impl_->view);
}

void WebView::goForward() {
  if (!canGoForward()) return;
  impl_->loadPending = true;
  webkit_web_view_go_forward(impl_->view);
}

bool WebView::canGoBack() const { return webkit_web_view_can_go_back(impl_->view); }
bool WebView::canGoForward() const { return webkit_web_view_can_go_forward(impl_->view); }

bool WebView::isLoading() const { return impl_->loadPending || webkit_web_view_is_loading(impl_->view); }

ui::URLRequest WebView::request() const { return impl_->request; }

namespace {

struct ScriptWait {
  bool done = false;
  std::string result;
};

void scriptFinished(GObject* source, GAsyncResult* result, gpointer data) {
  auto* wait = static_cast<std::shared_ptr<ScriptWait>*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (value) {
    if (!jsc_value_is_undefined(value) && !jsc_value_is_null(value)) {
      char* text = jsc_value_to_string(value);
      (*wait)->result = text ? text : "";
      g_free(text);
    }
    g_object_unref(value);
  }
  if (error) g_error_free(error);
  (*wait)->done = true;
  delete wait;
}

gboolean cancelScript(gpointer data) {
  g_cancellable_cancel(G_CANCELLABLE(data));
  return G_SOURCE_REMOVE;
}

}  // namespace

std::string WebView::stringByEvaluatingJavaScript(const std::string& script) {
  auto wait = std::make_shared<ScriptWait>();
  GCancellable* cancellable = g_cancellable_new();
  // Keeps the view alive through the nested iterations below.
  g_object_ref(impl_->view);
  webkit_web_view_evaluate_javascript(impl_->view, script.c_str(), -1, nullptr, nullptr, cancellable, scriptFinished,
                                      new std::shared_ptr<ScriptWait>(wait));
  const guint timeout = g_timeout_add_full(G_PRIORITY_HIGH, 3000, cancelScript, g_object_ref(cancellable), g_object_unref);
  while (!wait->done) g_main_context_iteration(nullptr, TRUE);
  if (!g_cancellable_is_cancelled(cancellable)) g_source_remove(timeout);
  g_object_unref(cancellable);
  g_object_unref(impl_->view);
  return wait->result;
}

void WebView::scrollTo(ui::Point offset) {
  const std::string script = "window.scrollTo(" + std::to_string(offset.x) + "," + std::to_string(offset.y) + ");";
  webkit_web_view_evaluate_javascript(impl_->view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

bool WebView::isScrolledToTop() const { return impl_->scrolledToTop; }

void WebView::setPaintedHandler(std::function<void(const std::string&)> handler) {
  impl_->onPainted = std::move(handler);
}

WebKitNetworkSession* sharedNetworkSession() {
  static WebKitNetworkSession* session = [] {
    WebKitNetworkSession* created = webkit_network_session_new_ephemeral();
    const platform::ServiceRouting& routing = platform::ServiceRouting::shared();
    if (routing.isActive()) {
      // Only the routed hosts go through the local server; loopback itself never does.
      const std::string proxy = routing.baseURL();
      const char* ignore[] = {"localhost", "127.0.0.1", "::1", nullptr};
      WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(nullptr, ignore);
      webkit_network_proxy_settings_add_proxy_for_scheme(settings, "http", proxy.c_str());
      webkit_network_session_set_proxy_settings(created, WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
      webkit_network_proxy_settings_free(settings);
    }
    return created;
  }();
  return session;
}

}  // namespace gtk
