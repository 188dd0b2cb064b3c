#pragma once
// Remote-notification payloads and device tokens, as the shell reads them.

#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace app {

// The parts of a payload the shell uses: "aps"."alert" and the top-level
// "url". An alert in the dictionary form gives its "body", else its "title".
// Anything of the wrong kind counts as missing.
struct PushPayload {
  std::optional<std::string> alert;
  std::optional<std::string> url;

  static PushPayload fromValue(const platform::Value& userInfo);
};

enum class ApplicationActivity { Active, Inactive, Background };

enum class PushAction {
  Ignore,       // no alert text: nothing happens, the URL is not kept
  OpenArticle,  // not in the foreground: open the article at once
  AskUser,      // in the foreground: show the "Les mer" / "Lukk" alert first
};

PushAction decidePushAction(const PushPayload& payload, ApplicationActivity activity);

// The token as the provider and the installation want it: lower-case hex
// digits of the bytes, in order, without separators.
std::string deviceTokenText(const platform::Bytes& token);

// The same from the platform's description of the token data
// ("<0a1b2c3d 4e5f6071>"): every "<", ">" and " " removed.
std::string deviceTokenTextFromDescription(std::string_view description);

// kMainSiteURL + "/pn/addDevice/" + token text.
std::string providerRegistrationURL(std::string_view tokenText);

}  // namespace app
