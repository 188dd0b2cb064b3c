#include "platform/curl_setup.hpp"

#include <curl/curl.h>

namespace platform {

bool ensureCurlSetUp() {
  static const bool usable = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return usable;
}

}  // namespace platform
