#include "file_support.hpp"

#include "backend/file.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/typed_kind.hpp"

namespace backend {
namespace {

std::optional<std::string> stringAt(const platform::Dictionary& dictionary, const char* key) {
  const platform::Value value = dictionary.get(key);
  return value.isString() ? std::optional<std::string>(*value.string()) : std::nullopt;
}

// {"__type": "File"} for a file not uploaded yet, else with its URL and name.
platform::Value encodeFile(const File& file) {
  platform::Dictionary typed;
  typed.set("__type", "File");
  if (!file.isDirty()) {
    if (auto url = file.url()) typed.set("url", *url);
    if (auto name = file.name()) typed.set("name", *name);
  }
  return platform::Value(std::move(typed));
}

platform::Value decodeFile(const platform::Dictionary& typed) {
  return platform::Value(File::fileWithNameURL(stringAt(typed, "name"), stringAt(typed, "url")));
}

}  // namespace

void installFileSupport() {
  registerTypedKind(typedKindFor<File>("backend::File", "File", encodeFile, decodeFile, kRoleFieldValue));
  FileHooks hooks;
  hooks.isUnsavedFile = [](const platform::Value& value) {
    auto file = value.object<File>();
    return file && !file->url();
  };
  hooks.saveFile = [](const platform::Value& value) -> Task<void> {
    return value.object<File>()->saveAsync().onSuccess([](const Task<bool>&) {});
  };
  installFileHooks(std::move(hooks));
}

}  // namespace backend
