// newsreader-window: the reader with its window (GTK 4 and WebKitGTK).
// `newsreader` hands over to it where a display is named; it still falls
// back to the terminal when the display cannot be opened.

#include <gtk/gtk.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "app/app_delegate.hpp"
#include "app/desktop_push.hpp"
#include "control_channel.hpp"
#include "front_end.hpp"
#include "glib_main_queue.hpp"
#include "platform/executor.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/toolkit.hpp"
#include "program/reader_program.hpp"

namespace {

namespace ui = platform::ui;

// The window mode: the GLib main loop is the main queue, the front end the
// toolkit; the application launches once the loop runs.
int runWindow(ui::Size windowSize, std::optional<ui::Size>& closedSize) {
  // Never destroyed: a thread that looked the main queue up just before the
  // window closed may still post to it.
  static auto* queue = new gtk::GlibMainQueue();
  platform::setMainQueue(queue);
  int status = 0;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  {
    gtk::FrontEnd frontEnd(windowSize);
    ui::setToolkit(&frontEnd);
    ui::Application& application = ui::Application::shared();
    auto delegate = std::make_shared<app::AppDelegate>([&](int exitStatus) {
      status = exitStatus;
      g_main_loop_quit(loop);
    });
    application.setDelegate(delegate);
    gtk::ControlChannel control(frontEnd, delegate, std::cout, [&](int exitStatus) {
      status = exitStatus;
      g_main_loop_quit(loop);
    });
    frontEnd.setShortcutHandler([&](gtk::Shortcut shortcut) { return control.perform(shortcut); });
    frontEnd.setCloseHandler([&] {
      application.terminate();
      g_main_loop_quit(loop);
    });
    std::unique_ptr<app::DesktopPush> push;
    platform::mainQueue().post([&] {
      application.launch();
      push = std::make_unique<app::DesktopPush>(delegate);
      push->start();
      control.start();
    });
    g_main_loop_run(loop);
    closedSize = frontEnd.windowSize();
    // The screens (and their web views) go before the window that shows them.
    push.reset();
    control.stop();
    application.setDelegate(nullptr);
    delegate.reset();
    ui::setToolkit(nullptr);
  }
  g_main_loop_unref(loop);
  platform::setMainQueue(nullptr);
  return status;
}

bool haveDisplay() {
  // The desktop matches the window to its entry (test.vestavind.reader.desktop) by this name.
  g_set_prgname("test.vestavind.reader");
  g_set_application_name("Vestavind");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  const bool named = (wayland && *wayland) || (x11 && *x11);
  return named && gtk_init_check();
}

}  // namespace

int main(int argc, char** argv) { return reader::runReader(argc, argv, {haveDisplay, runWindow}); }
