// Console channels: the progress log (standard output, flushed after every
// message), the error log (standard error) and the fatal stop.
//
// This header includes nothing of the project: every folder prints through it,
// so it sits at the bottom of the dependency graph.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace tavrel {

// Formats like vsnprintf into a string that grows to fit. The string holds the
// exact bytes, including any NUL produced by a %c of 0.
std::string formatMessage(const char* format, std::va_list args);
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Progress log: writes the formatted message to the output stream, flushes it
// and returns the number of characters written.
int progressLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Error log: writes the formatted message to the error stream, without a flush.
void errorLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Plain formatted output to the output stream, without a flush: the usage
// option lines, the command-line errors and the code-size line.
void plainOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the process with the code after flushing every stream. The program
// uses -1 (exit status 255) for every fatal stop.
[[noreturn]] void fatalStop(int code);

// The streams the channels write to; null restores standard output and
// standard error. Tests redirect them to capture exact bytes.
void setConsoleStreams(std::FILE* out, std::FILE* err);
std::FILE* consoleOut();
std::FILE* consoleErr();

// Replaces what the fatal stop does after flushing (a test or fuzz harness
// can throw from it). The handler must not return; null restores std::exit.
using FatalHandler = void (*)(int code);
void setFatalHandler(FatalHandler handler);

}  // namespace tavrel
