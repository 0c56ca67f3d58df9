#include "shell/driver.h"

int main(int argc, char** argv) { return tavrel::runDriver(argc, argv); }
