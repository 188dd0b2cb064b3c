// libcurl is opened on first use rather than by the loader at exec: with the
// two dozen libraries it pulls in (two TLS stacks, Kerberos, LDAP, SSH, ...)
// it costs a program about 15 ms before main. These definitions stand in for
// the functions the programs call and hand each call to the library, which
// ensureCurlSetUp() opens and sets up once for the process.

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/curl_setup.hpp"

namespace platform {
namespace {

constexpr const char* kLibraryName = "libcurl.so.4";

struct CurlLibrary {
  std::string problem;  // empty once every function is found
  CURLcode (*globalInit)(long);
  CURL* (*easyInit)();
  void (*easyCleanup)(CURL*);
  void (*easyReset)(CURL*);
  CURLcode (*easyPerform)(CURL*);
  CURLcode (*easySetopt)(CURL*, CURLoption, ...);
  CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
  const char* (*easyStrerror)(CURLcode);
  CURLHcode (*easyHeader)(CURL*, const char*, size_t, unsigned int, int, curl_header**);
  curl_slist* (*slistAppend)(curl_slist*, const char*);
  void (*slistFreeAll)(curl_slist*);
  int (*strequal)(const char*, const char*);
  CURLM* (*multiInit)();
  CURLMcode (*multiCleanup)(CURLM*);
  CURLMcode (*multiAddHandle)(CURLM*, CURL*);
  CURLMcode (*multiRemoveHandle)(CURLM*, CURL*);
  CURLMcode (*multiPerform)(CURLM*, int*);
  CURLMcode (*multiPoll)(CURLM*, curl_waitfd[], unsigned int, int, int*);
  CURLMcode (*multiWakeup)(CURLM*);
  CURLMsg* (*multiInfoRead)(CURLM*, int*);
  void (*globalCleanup)();
};

template <class Function>
void find(void* handle, const char* name, Function& function, std::string& problem) {
  function = reinterpret_cast<Function>(::dlsym(handle, name));
  if (!function && problem.empty()) problem = std::string(kLibraryName) + " has no " + name;
}

CurlLibrary open() {
  CurlLibrary library{};
  void* handle = ::dlopen(kLibraryName, RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    library.problem = why ? why : std::string("cannot open ") + kLibraryName;
    return library;
  }
  std::string& problem = library.problem;
  find(handle, "curl_global_init", library.globalInit, problem);
  find(handle, "curl_global_cleanup", library.globalCleanup, problem);
  find(handle, "curl_easy_init", library.easyInit, problem);
  find(handle, "curl_easy_cleanup", library.easyCleanup, problem);
  find(handle, "curl_easy_reset", library.easyReset, problem);
  find(handle, "curl_easy_perform", library.easyPerform, problem);
  find(handle, "curl_easy_setopt", library.easySetopt, problem);
  find(handle, "curl_easy_getinfo", library.easyGetinfo, problem);
  find(handle, "curl_easy_strerror", library.easyStrerror, problem);
  find(handle, "curl_easy_header", library.easyHeader, problem);
  find(handle, "curl_slist_append", library.slistAppend, problem);
  find(handle, "curl_slist_free_all", library.slistFreeAll, problem);
  find(handle, "curl_strequal", library.strequal, problem);
  find(handle, "curl_multi_init", library.multiInit, problem);
  find(handle, "curl_multi_cleanup", library.multiCleanup, problem);
  find(handle, "curl_multi_add_handle", library.multiAddHandle, problem);
  find(handle, "curl_multi_remove_handle", library.multiRemoveHandle, problem);
  find(handle, "curl_multi_perform", library.multiPerform, problem);
  find(handle, "curl_multi_poll", library.multiPoll, problem);
  find(handle, "curl_multi_wakeup", library.multiWakeup, problem);
  find(handle, "curl_multi_info_read", library.multiInfoRead, problem);
  if (problem.empty() && library.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) problem = "curl_global_init failed";
  return library;
}

// Opened and set up once, by whichever thread comes first; later callers wait.
const CurlLibrary& loaded() {
  static const CurlLibrary library = open();
  return library;
}

// The library for a call that cannot report failure: callers are expected to
// have checked ensureCurlSetUp(), so reaching here without it is a defect.
const CurlLibrary& usable() {
  const CurlLibrary& library = loaded();
  if (!library.problem.empty()) {
    std::fprintf(stderr, "libcurl is not usable: %s\n", library.problem.c_str());
    std::abort();
  }
  return library;
}

}  // namespace

bool ensureCurlSetUp() { return loaded().problem.empty(); }

}  // namespace platform

using platform::usable;

extern "C" {

CURLcode curl_global_init(long flags) {
  // The library's own set-up ran when it was opened; this call only counts.
  return platform::ensureCurlSetUp() ? usable().globalInit(flags) : CURLE_FAILED_INIT;
}
void curl_global_cleanup() {
  if (platform::ensureCurlSetUp()) usable().globalCleanup();
}
CURL* curl_easy_init() { return platform::ensureCurlSetUp() ? usable().easyInit() : nullptr; }
// Releasing nothing needs no library, even one that could not be opened.
void curl_easy_cleanup(CURL* easy) {
  if (easy) usable().easyCleanup(easy);
}
void curl_easy_reset(CURL* easy) { usable().easyReset(easy); }
CURLcode curl_easy_perform(CURL* easy) { return usable().easyPerform(easy); }

// Every option takes one argument, whose kind its number's range gives.
CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  va_list arguments;
  va_start(arguments, option);
  const auto set = usable().easySetopt;
  CURLcode code;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    code = set(easy, option, va_arg(arguments, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    code = set(easy, option, va_arg(arguments, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    code = set(easy, option, va_arg(arguments, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    code = set(easy, option, va_arg(arguments, curl_off_t));
  } else {
    code = set(easy, option, va_arg(arguments, void*));
  }
  va_end(arguments);
  return code;
}

// Every query takes one pointer to where the answer goes.
CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  va_list arguments;
  va_start(arguments, info);
  void* answer = va_arg(arguments, void*);
  va_end(arguments);
  return usable().easyGetinfo(easy, info, answer);
}

const char* curl_easy_strerror(CURLcode code) {
  return platform::ensureCurlSetUp() ? usable().easyStrerror(code) : "libcurl is not usable";
}
CURLHcode curl_easy_header(CURL* easy, const char* name, size_t index, unsigned int origin, int request,
                           curl_header** header) {
  return usable().easyHeader(easy, name, index, origin, request, header);
}
curl_slist* curl_slist_append(curl_slist* list, const char* text) { return usable().slistAppend(list, text); }
void curl_slist_free_all(curl_slist* list) {
  if (list) usable().slistFreeAll(list);
}
int curl_strequal(const char* a, const char* b) { return usable().strequal(a, b); }
CURLM* curl_multi_init() { return platform::ensureCurlSetUp() ? usable().multiInit() : nullptr; }
CURLMcode curl_multi_cleanup(CURLM* multi) { return multi ? usable().multiCleanup(multi) : CURLM_BAD_HANDLE; }
CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) { return usable().multiAddHandle(multi, easy); }
CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) { return usable().multiRemoveHandle(multi, easy); }
CURLMcode curl_multi_perform(CURLM* multi, int* running) { return usable().multiPerform(multi, running); }
CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready) {
  return usable().multiPoll(multi, extra, count, timeoutMs, ready);
}
CURLMcode curl_multi_wakeup(CURLM* multi) { return usable().multiWakeup(multi); }
CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) { return usable().multiInfoRead(multi, queued); }

}  // extern "C"
