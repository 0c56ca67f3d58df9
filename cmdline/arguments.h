// Parsing of the argument vector into option values and positional file
// names, and the name rules that go with it.
#pragma once

#include <cstdint>
#include <string>

namespace tavrel {

enum FileDirection : int { Output = 0, Input = 1, Exempt = 3 };

struct FileParameter {
  std::string path;              // receives the argument; grows to any length
  std::string defaultExtension;  // without the dot; empty = never appended
  std::int32_t optionalLevel = 0;  // 0 = required; k >= 1 = filled with k spare arguments
  std::int32_t direction = Output;
};

constexpr int kValueListCapacity = 20;

struct ValueList {
  int count = 0;
  std::int32_t values[kValueListCapacity];  // places 1..count; place 0 unused
};

int parseCommandLine(int argc, char** argv, int parameterCount, FileParameter* parameters);
int scanOptions(int argc, char** argv);
int parseOptionArgument(const char* argument);
void readValueList(const char* text, int capacity, ValueList* list);
int applyOptionValue(char letter, int parameterIndex, int option, int value);
int assignFileParameters(int argc, char** argv, int parameterCount, int positionalCount,
                         FileParameter* parameters);
int checkDistinctNames(int parameterCount, const FileParameter* parameters);
void appendDefaultExtension(std::string& name, const std::string& extension);
int hasExtension(const std::string& name, const char* extension);
int namesEqualIgnoringCase(const std::string& a, const std::string& b);

// Letter folding without locale: 'a'..'z' become 'A'..'Z', nothing else changes.
char foldLetter(char c);

}  // namespace tavrel
