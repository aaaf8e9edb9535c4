#include <iostream>

#include "framework/entry.h"

int main(int argc, char** argv) { return ExitStatus(RunOrvel(argc, argv, std::cout)); }
