#include "support/test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
  // A name of small letters and digits only: a routing description counts its keywords (TG,
  // OL, ZL, AL, SP) wherever they stand, also inside the file names it holds, so a name that
  // mkdtemp gives (capitals too) could put one into a test's description.
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 pick(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = "orvel-test-";
    for (int i = 0; i < 8; ++i) name += kChars[pick() % (sizeof kChars - 1)];
    const fs::path p = fs::temp_directory_path() / name;
    if (mkdir(p.c_str(), 0700) == 0) {
      path_ = p.string();
      return;
    }
    if (errno != EEXIST) break;
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

CapturedLog::CapturedLog(int maxLevel) : diagPath_(dir_.file("diag.xml")) {
  log_ = std::make_unique<LogStream>(console_, diagPath_, maxLevel);
}

CapturedLog::~CapturedLog() = default;

std::string CapturedLog::CloseAndReadDiag() {
  log_.reset();
  return ReadTextFile(diagPath_);
}

WorkingDirectory::WorkingDirectory(const std::string& path) : previous_(fs::current_path().string()) {
  fs::current_path(path);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

void CopyExampleInputs(const std::string& exampleFolder, const std::string& dir) {
  for (const auto& e : fs::directory_iterator(exampleFolder)) {
    const std::string name = e.path().filename().string();
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || name == "README.md" || ext == ".py" || ext == ".png" || ext == ".tmp" ||
        name.find(".intern") != std::string::npos || name.rfind("modell_", 0) == 0)
      continue;
    fs::copy_file(e.path(), fs::path(dir) / name, fs::copy_options::overwrite_existing);
  }
}

bool MakeNullDevice(const std::string& path, std::string* why) {
  const auto fail = [&](const std::string& what) {
    if (why) *why = what + " (" + std::strerror(errno) + "): no character device to write into";
    ::unlink(path.c_str());
    return false;
  };
  if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) return fail("mknod " + path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return fail("open " + path);
  const bool written = ::write(fd, "x", 1) == 1;
  ::close(fd);
  if (!written) return fail("write " + path);
  return true;
}

bool ToolsInstalled(const std::string& commands) {
  std::istringstream words(commands);
  std::string tool;
  while (words >> tool)
    if (RunCommand("command -v '" + tool + "' >/dev/null") != 0) return false;
  return true;
}

bool ToolsRequired() {
  const char* v = std::getenv("ORVEL_REQUIRE_TOOLS");
  return v != nullptr && v[0] != '\0' && std::string(v) != "0";
}

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* p = popen(full.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsWellFormedXml(const std::string& path, std::string* why) {
  std::string out;
  int rc = RunCommand("xmllint --noout '" + path + "'", &out);
  if (why) *why = out;
  return rc == 0;
}
