#include "bench_support.h"

#include <omp.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "framework/thread_policy.h"

namespace bench {

namespace {

[[noreturn]] void Usage(const char* program, const char* usage, const std::string& why) {
  std::fprintf(stderr,
               "%s: %s\nusage: %s [--size N] [--threads 1,2,8|all] [--steps N] [--repeats N] [--folder DIR]%s%s\n",
               program, why.c_str(), program, usage && *usage ? " " : "", usage ? usage : "");
  std::exit(2);
}

int Positive(const char* program, const char* usage, const std::string& name, const std::string& text) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 1 || v > 1000000000L) Usage(program, usage, "--" + name + " " + text);
  return static_cast<int>(v);
}

}  // namespace

std::string Options::Extra(const std::string& name, const std::string& fallback) const {
  for (auto it = extra.rbegin(); it != extra.rend(); ++it)
    if (it->first == name) return it->second;
  return fallback;
}

std::vector<std::string> Options::ExtraAll(const std::string& name) const {
  std::vector<std::string> all;
  for (const auto& e : extra)
    if (e.first == name) all.push_back(e.second);
  return all;
}

Options Start(int argc, char** argv, int defaultSteps, int defaultSize, const std::vector<std::string>& accepted,
              const char* usage) {
  ApplyWaitPolicy(argv);  // as the program's main: may start the benchmark again
  const char* program = argc > 0 ? argv[0] : "bench";
  Options o;
  o.steps = defaultSteps;
  o.size = defaultSize;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) Usage(program, usage, "unexpected argument " + a);
    const std::string name = a.substr(2);
    const bool flag = std::find(accepted.begin(), accepted.end(), name + "!") != accepted.end();
    if (flag) {
      o.extra.emplace_back(name, "1");
      continue;
    }
    if (i + 1 >= argc) Usage(program, usage, a + " without a value");
    const std::string v = argv[++i];
    if (name == "size") {
      o.size = Positive(program, usage, name, v);
    } else if (name == "steps") {
      o.steps = Positive(program, usage, name, v);
    } else if (name == "repeats") {
      o.repeats = Positive(program, usage, name, v);
    } else if (name == "folder") {
      o.folder = v;
    } else if (name == "threads") {
      std::stringstream s(v);
      std::string part;
      while (std::getline(s, part, ','))
        o.threads.push_back(part == "all" ? omp_get_num_procs() : Positive(program, usage, name, part));
    } else if (std::find(accepted.begin(), accepted.end(), name) != accepted.end()) {
      o.extra.emplace_back(name, v);
    } else {
      Usage(program, usage, "unknown option " + a);
    }
  }
  if (o.threads.empty()) {
    o.threads.push_back(1);
    if (omp_get_num_procs() > 1) o.threads.push_back(omp_get_num_procs());
  }
  return o;
}

Folder::Folder(const std::string& given, const char* tag) {
  namespace fs = std::filesystem;
  previous_ = fs::current_path().string();
  if (!given.empty()) {
    fs::create_directories(given);
    path_ = fs::absolute(given).string();
  } else {
    std::string pattern = (fs::temp_directory_path() / (std::string(tag) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::exit(2);
    }
    path_ = pattern;
    temporary_ = true;
  }
  fs::current_path(path_);
}

Folder::~Folder() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  if (temporary_) std::filesystem::remove_all(path_, ignored);
}

double Timing::Min() const { return seconds.empty() ? 0.0 : *std::min_element(seconds.begin(), seconds.end()); }

double Timing::Median() const {
  if (seconds.empty()) return 0.0;
  std::vector<double> s = seconds;
  std::sort(s.begin(), s.end());
  const size_t n = s.size();
  return n % 2 ? s[n / 2] : 0.5 * (s[n / 2 - 1] + s[n / 2]);
}

std::map<int, Timing> TimeThreadCounts(const Options& o, const std::function<double(int threads)>& measure) {
  std::map<int, Timing> t;
  for (int round = 0; round < o.repeats; ++round)
    for (int threads : o.threads) {
      omp_set_num_threads(threads);
      t[threads].seconds.push_back(measure(threads));
    }
  return t;
}

void PrintTimings(const std::string& label, const std::vector<int>& threads, const std::map<int, Timing>& t,
                  double work, const char* unit) {
  std::printf("%s (%s)\n", label.c_str(), LoadText().c_str());
  if (threads.empty()) return;
  const Timing& first = t.at(threads.front());
  std::vector<int> shown;
  for (int n : threads) {
    if (std::find(shown.begin(), shown.end(), n) != shown.end()) continue;
    shown.push_back(n);
    const Timing& k = t.at(n);
    std::printf("  %2d thread%s: min %8.4f s  median %8.4f s  %10.4g / %10.4g %s/s  gain x%.2f (median x%.2f)\n", n,
                n == 1 ? " " : "s", k.Min(), k.Median(), work / k.Min(), work / k.Median(), unit,
                first.Min() / k.Min(), first.Median() / k.Median());
  }
}

std::string LoadText() {
  double l[3] = {0, 0, 0};
  if (getloadavg(l, 3) != 3) return "load unknown";
  char text[80];
  std::snprintf(text, sizeof text, "load %.1f / %.1f / %.1f on %d cores", l[0], l[1], l[2], omp_get_num_procs());
  return text;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

}  // namespace bench
