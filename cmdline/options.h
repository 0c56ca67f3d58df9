// The process-wide option table, its value query and the usage text that is
// generated from it.
#pragma once

#include <cstdint>

namespace tavrel {

enum OptionKind : int { Flag = 0, Range = 1, Choice = 2 };

// Option indexes; 0 means "no option" in every lookup.
enum OptionIndex : int { QuietLevelOption = 1, OverwriteOption = 2, ColorDepthOption = 3 };
constexpr int kOptionCount = 3;

struct OptionRecord {
  const char* name;
  char letter;
  std::int32_t parameterIndex;  // 0 = bare switch, 1..10 = numbered parameter
  std::int32_t kind;
  std::int32_t value;
  std::int32_t minimum;
  std::int32_t maximum;
  std::int32_t defaultValue;
  const char* const* valueNames;  // indexed by value from 0; null for Range
};

const char* optionName(int option);
char optionLetter(int option);
int optionParameterIndex(int option);
int optionKind(int option);
int optionMinimum(int option);
int optionMaximum(int option);
int optionDefaultValue(int option);
int optionValue(int option);
void setOptionValue(int option, int value);
const char* optionValueName(int option, int value);

void resetOptions();
int findOption(char letter, int parameterIndex);
int countNumberedOptions(char letter);
int isOptionLetter(char letter);

void printUsage();
void printOptionList();
void printOptionHead(char letter, int count);
void printOptionDescription(char letter, int option, int parameterIndex, int count);
void printValueText(int option, int value);

}  // namespace tavrel
