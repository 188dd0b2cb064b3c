// newsreader: the news reader. With a display it opens a window (handing over
// to newsreader-window, which carries GTK 4 and WebKitGTK); with --headless,
// or where there is no display, it runs in the terminal: the real
// application on the headless UI, driven by one command per line on stdin.
// Both modes read the same commands from stdin. Without the toolkit's
// libraries this program starts in a fraction of the window program's time.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "program/reader_program.hpp"

namespace {

bool displayNamed() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  return (wayland && *wayland) || (x11 && *x11);
}

// The window program beside this one.
std::filesystem::path windowProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path() / "newsreader-window";
}

}  // namespace

int main(int argc, char** argv) {
  const reader::WindowMode window{
      [argv] {
        if (!displayNamed()) return false;
        const std::filesystem::path program = windowProgram();
        ::execv(program.c_str(), argv);
        std::cerr << "newsreader: cannot start " << program << ": " << std::strerror(errno) << std::endl;
        return false;
      },
      nullptr};
  return reader::runReader(argc, argv, window);
}
