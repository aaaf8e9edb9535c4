// Feeds arbitrary arguments (separated by NUL bytes) to the command-line reader of the
// entry: the options found must lie among the arguments, and a command line is either one
// with control files or one that gets the usage text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words{"orvelvco64"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (!word.empty()) words.push_back(word);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  const CommandLine cl = ParseCommandLine(argc, argv.data());
  if (cl.levelOptionPosition < 0 || cl.levelOptionPosition >= argc || cl.fileOptionPosition < 0 ||
      cl.fileOptionPosition >= argc || cl.diagLevel < 0 || cl.diagLevel > 4)
    __builtin_trap();
  const int controlFiles = ControlFileCount(argc, cl);
  if (controlFiles < 0 || controlFiles > argc - 1) __builtin_trap();
  return 0;
}
