// bare-web-window PROXY URL: the least a window showing a web page does — a
// GTK window holding one WebKit web view on an ephemeral session that sends
// http through PROXY, loading URL. It prints "first page drawn URL" at the
// same point the reader's window does (the first frame after the page said
// it was painted) and exits: the peer of the reader's launch benchmark.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdio>
#include <string>

#include "gtk/page_painted_script.hpp"

namespace {

struct Launch {
  GtkWidget* window = nullptr;
  GMainLoop* loop = nullptr;
  std::string paintedURL;
  gulong afterPaint = 0;
  int status = 1;
};

void frameDrawn(Launch* launch) {
  std::printf("first page drawn %s\n", launch->paintedURL.c_str());
  std::fflush(stdout);
  g_signal_handler_disconnect(gtk_widget_get_frame_clock(launch->window), launch->afterPaint);
  launch->status = 0;
  g_main_loop_quit(launch->loop);
}

void pagePainted(WebKitUserContentManager*, JSCValue* value, gpointer data) {
  auto* launch = static_cast<Launch*>(data);
  if (launch->afterPaint || !jsc_value_is_string(value)) return;
  char* url = jsc_value_to_string(value);
  launch->paintedURL = url ? url : "";
  g_free(url);
  launch->afterPaint = g_signal_connect_swapped(gtk_widget_get_frame_clock(launch->window), "after-paint",
                                                G_CALLBACK(frameDrawn), launch);
  gtk_widget_queue_draw(launch->window);
}

gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
  std::fprintf(stderr, "bare-web-window: %s: %s\n", uri, error->message);
  g_main_loop_quit(static_cast<Launch*>(data)->loop);
  return FALSE;
}

WebKitNetworkSession* sessionThrough(const char* proxy) {
  WebKitNetworkSession* session = webkit_network_session_new_ephemeral();
  const char* ignore[] = {"localhost", "127.0.0.1", "::1", nullptr};
  WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(nullptr, ignore);
  webkit_network_proxy_settings_add_proxy_for_scheme(settings, "http", proxy);
  webkit_network_session_set_proxy_settings(session, WEBKIT_NETWORK_PROXY_MODE_CUSTOM, settings);
  webkit_network_proxy_settings_free(settings);
  return session;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bare-web-window PROXY URL\n");
    return 2;
  }
  if (!gtk_init_check()) {
    std::fprintf(stderr, "bare-web-window: no display\n");
    return 1;
  }
  Launch launch;
  launch.loop = g_main_loop_new(nullptr, FALSE);
  WebKitNetworkSession* session = sessionThrough(argv[1]);
  GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session, nullptr));
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view));
  // The reader's pages report from a world of their own; so do these.
  constexpr const char* kWorld = "bare";
  WebKitUserScript* script = webkit_user_script_new_for_world(gtk::kPagePaintedScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                              WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kWorld,
                                                              nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  webkit_user_content_manager_register_script_message_handler(content, gtk::kPagePaintedHandler, kWorld);
  g_signal_connect(content, (std::string("script-message-received::") + gtk::kPagePaintedHandler).c_str(),
                   G_CALLBACK(pagePainted), &launch);
  g_signal_connect(view, "load-failed", G_CALLBACK(loadFailed), &launch);

  launch.window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(launch.window), 390, 844);
  gtk_window_set_child(GTK_WINDOW(launch.window), view);
  gtk_window_present(GTK_WINDOW(launch.window));
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[2]);
  g_main_loop_run(launch.loop);
  gtk_window_destroy(GTK_WINDOW(launch.window));
  g_object_unref(session);
  g_main_loop_unref(launch.loop);
  return launch.status;
}
