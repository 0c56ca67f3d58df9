#include "shell/console.h"

#include <cstdlib>
#include <vector>

namespace tavrel {
namespace {

std::FILE* gOut = nullptr;
std::FILE* gErr = nullptr;
FatalHandler gFatalHandler = nullptr;

// Messages are written by their length, not as C strings: a %c of 0 (the
// letter of a lone '-') must not cut the rest of the message off.
std::size_t writeAll(std::FILE* stream, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

std::string formatMessage(const char* format, std::va_list args) {
  // Most messages are short; a long path label or file name grows the
  // buffer instead of being cut or overrunning it.
  char small[256];
  std::va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<std::size_t>(needed) < sizeof small) return std::string(small, needed);
  std::vector<char> big(static_cast<std::size_t>(needed) + 1);
  va_copy(copy, args);
  std::vsnprintf(big.data(), big.size(), format, copy);
  va_end(copy);
  return std::string(big.data(), needed);
}

std::string formatString(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  return text;
}

std::FILE* consoleOut() { return gOut ? gOut : stdout; }
std::FILE* consoleErr() { return gErr ? gErr : stderr; }

void setConsoleStreams(std::FILE* out, std::FILE* err) {
  gOut = out;
  gErr = err;
}

int progressLog(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  std::FILE* out = consoleOut();
  std::size_t written = writeAll(out, text);
  std::fflush(out);
  return static_cast<int>(written);
}

void errorLog(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  writeAll(consoleErr(), text);
}

void plainOutput(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = formatMessage(format, args);
  va_end(args);
  writeAll(consoleOut(), text);
}

void setFatalHandler(FatalHandler handler) { gFatalHandler = handler; }

void fatalStop(int code) {
  std::fflush(consoleOut());
  std::fflush(consoleErr());
  if (gFatalHandler) gFatalHandler(code);
  std::exit(code);
}

}  // namespace tavrel
