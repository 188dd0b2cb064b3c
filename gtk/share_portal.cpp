#include "share_portal.hpp"

#include <gio/gio.h>

#include "platform/log.hpp"

namespace gtk {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kEmailInterface = "org.freedesktop.portal.Email";
// The portal answers at once (the composer is its own dialog); a bus that
// does not answer in this time has no working portal.
constexpr int kCallTimeoutMs = 10000;

// One share on its way; owned by the GIO callbacks, which free it.
struct Offer {
  std::string title;
  std::string url;
  std::function<void(bool)> done;
  GCancellable* cancellable;

  ~Offer() { g_object_unref(cancellable); }

  void finish(GError* error) {
    // A cancelled offer belongs to a portal object that is gone.
    const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error && !cancelled) platform::log(std::string("Share: no desktop portal took the page: ") + error->message);
    if (!cancelled && done) done(error == nullptr);
    delete this;
  }
};

GVariant* composeArguments(const Offer& offer) {
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "subject", g_variant_new_string(offer.title.c_str()));
  g_variant_builder_add(&options, "{sv}", "body", g_variant_new_string(offer.url.c_str()));
  return g_variant_new("(sa{sv})", "", &options);
}

void composed(GObject* source, GAsyncResult* result, gpointer data) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply) g_variant_unref(reply);
  static_cast<Offer*>(data)->finish(error);
  if (error) g_error_free(error);
}

void busReady(GObject*, GAsyncResult* result, gpointer data) {
  auto* offer = static_cast<Offer*>(data);
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  if (!bus) {
    offer->finish(error);
    g_error_free(error);
    return;
  }
  g_dbus_connection_call(bus, kPortalName, kPortalPath, kEmailInterface, "ComposeEmail", composeArguments(*offer),
                         G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, offer->cancellable, composed,
                         offer);
  g_object_unref(bus);
}

}  // namespace

struct SharePortal::Impl {
  GCancellable* cancellable = g_cancellable_new();
};

SharePortal::SharePortal() : impl_(std::make_unique<Impl>()) {}

SharePortal::~SharePortal() {
  g_cancellable_cancel(impl_->cancellable);
  g_object_unref(impl_->cancellable);
}

void SharePortal::share(const std::string& title, const std::string& url, std::function<void(bool)> done) {
  auto* offer = new Offer{title, url, std::move(done), G_CANCELLABLE(g_object_ref(impl_->cancellable))};
  g_bus_get(G_BUS_TYPE_SESSION, offer->cancellable, busReady, offer);
}

}  // namespace gtk
