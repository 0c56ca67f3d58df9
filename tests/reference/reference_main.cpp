// The reference program: the shipped driver over the literal progression.
#include "reference/splitting.h"
#include "shell/driver.h"

int main(int argc, char** argv) {
  return tavrel::runDriver(argc, argv, tavrel::reference::runProgression);
}
