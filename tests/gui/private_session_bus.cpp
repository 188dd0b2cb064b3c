#include "private_session_bus.hpp"

#include <gio/gio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/eventually.hpp"

extern char** environ;

namespace gui_test {

namespace fs = std::filesystem;

namespace {

// Only what the test needs: no service activation, everyone may talk and own names.
std::string busConfig(const std::string& listen) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>" + listen + "</listen>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

constexpr const char* kPortalIntrospection =
    "<node>"
    "  <interface name='org.freedesktop.portal.Email'>"
    "    <method name='ComposeEmail'>"
    "      <arg type='s' name='parent_window' direction='in'/>"
    "      <arg type='a{sv}' name='options' direction='in'/>"
    "      <arg type='o' name='handle' direction='out'/>"
    "    </method>"
    "  </interface>"
    "</node>";

bool acceptsConnections(const fs::path& socketPath) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socketPath.string();
  if (path.size() >= sizeof(address.sun_path)) {
    ::close(fd);
    return false;
  }
  std::copy(path.begin(), path.end(), address.sun_path);
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
  const fs::path socket = directory_ / "bus";
  address_ = "unix:path=" + socket.string();
  const fs::path config = directory_ / "bus.conf";
  std::ofstream(config) << busConfig(address_);
  std::string program = "dbus-daemon";
  std::string configArgument = "--config-file=" + config.string();
  std::vector<char*> argv = {program.data(), configArgument.data(), const_cast<char*>("--nofork"),
                             const_cast<char*>("--nopidfile"), nullptr};
  if (posix_spawnp(&daemon_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    daemon_ = -1;
    throw std::runtime_error("cannot start dbus-daemon");
  }
  // The socket file comes a moment before the daemon listens on it.
  if (!test_support::eventually([&] { return acceptsConnections(socket); }, std::chrono::seconds(30))) {
    throw std::runtime_error("dbus-daemon does not listen on its socket");
  }
}

PrivateSessionBus::~PrivateSessionBus() {
  if (daemon_ > 0) {
    ::kill(daemon_, SIGTERM);
    ::waitpid(daemon_, nullptr, 0);
  }
}

struct FakeEmailPortal::Impl {
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GDBusConnection* bus = nullptr;
  guint registration = 0;
  std::thread thread;
  mutable std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  std::string failure;
  bool left = false;
  std::vector<ComposedEmail> composed;

  ~Impl() {
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }

  static void onCall(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
                     GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    if (std::string(method) != "ComposeEmail") {
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
      return;
    }
    GVariant* options = g_variant_get_child_value(parameters, 1);
    ComposedEmail email;
    const char* text = nullptr;
    if (g_variant_lookup(options, "subject", "&s", &text)) email.subject = text;
    if (g_variant_lookup(options, "body", "&s", &text)) email.body = text;
    g_variant_unref(options);
    {
      std::lock_guard lock(self->mutex);
      self->composed.push_back(email);
    }
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(o)", "/org/freedesktop/portal/desktop/request/1_1/share"));
  }

  // The bus's own call; answers whether it succeeded.
  bool callBus(const char* method, GVariant* arguments) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", method, arguments, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (reply) g_variant_unref(reply);
    if (error) {
      failure = error->message;
      g_error_free(error);
      return false;
    }
    return true;
  }

  void run(const std::string& address) {
    g_main_context_push_thread_default(context);
    GError* error = nullptr;
    bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (bus) {
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kPortalIntrospection, nullptr);
      static const GDBusInterfaceVTable vtable{onCall, nullptr, nullptr, {}};
      registration = g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", node->interfaces[0],
                                                       &vtable, this, nullptr, nullptr);
      g_dbus_node_info_unref(node);
      // Flag 4: fail rather than queue behind another owner.
      callBus("RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u));
    } else {
      failure = error->message;
      g_error_free(error);
    }
    {
      std::lock_guard lock(mutex);
      started = true;
    }
    changed.notify_all();
    if (failure.empty()) g_main_loop_run(loop);
    if (bus) {
      if (registration) g_dbus_connection_unregister_object(bus, registration);
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    g_main_context_pop_thread_default(context);
  }
};

FakeEmailPortal::FakeEmailPortal(const std::string& address) : impl_(std::make_unique<Impl>()) {
  impl_->thread = std::thread([this, address] { impl_->run(address); });
  std::unique_lock lock(impl_->mutex);
  impl_->changed.wait(lock, [&] { return impl_->started; });
  if (!impl_->failure.empty()) {
    lock.unlock();
    impl_->thread.join();
    throw std::runtime_error("fake portal: " + impl_->failure);
  }
}

FakeEmailPortal::~FakeEmailPortal() {
  // Through the loop's own context, so a quit cannot come before the loop runs.
  g_main_context_invoke(impl_->context, +[](gpointer data) -> gboolean {
    g_main_loop_quit(static_cast<GMainLoop*>(data));
    return G_SOURCE_REMOVE;
  }, impl_->loop);
  impl_->thread.join();
}

void FakeEmailPortal::leave() {
  // Run on the portal's own thread, where its connection lives.
  g_main_context_invoke(impl_->context, +[](gpointer data) -> gboolean {
    auto* self = static_cast<Impl*>(data);
    self->callBus("ReleaseName", g_variant_new("(s)", "org.freedesktop.portal.Desktop"));
    {
      std::lock_guard lock(self->mutex);
      self->left = true;
    }
    self->changed.notify_all();
    return G_SOURCE_REMOVE;
  }, impl_.get());
  std::unique_lock lock(impl_->mutex);
  impl_->changed.wait(lock, [&] { return impl_->left; });
}

std::vector<ComposedEmail> FakeEmailPortal::composed() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->composed;
}

}  // namespace gui_test
