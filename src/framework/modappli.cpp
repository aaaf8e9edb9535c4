#include "framework/modappli.h"

#include "framework/logstream.h"

ModellApplication::ModellApplication(LogStream* logStream, int argc, char** argv, int position) {
  log = logStream;
  name = "ModellApplication";
  init(argc, argv, position);
}

ModellApplication::~ModellApplication() = default;

void ModellApplication::init(int, char**, int) { initComplete = 1; }

int ModellApplication::run() { return 0; }

void ModellApplication::ClearMemory() { initComplete = 0; }
