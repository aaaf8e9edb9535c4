// The program run on malformed variants of the example basin. Each file of
// tests/data/bad-inputs is one case: the edits that spoil a copy of examples/basin, the
// error code the run must end with and the words its log must hold.
//
//   # what the case spoils
//   code: 17                      error code (0: the run succeeds)
//   status: 120                   exit status, where 8 bits do not keep the code itself
//   expect: section [model_time]  words the log must hold (any number of lines)
//   lacks: no reader knows        words the log must not hold (any number of lines)
//   writes: output/a.asc          a grid file the run must leave in the basin copy (any number)
//   keeps: dem.asc                a file the run must leave as the case made it (any number)
//   holds: output/t.stat YY\tMM   a file the run leaves and words it must hold (escapes as below)
//   same: output/a output2/a      two files the run leaves, which must hold the same bytes
//   as-example: output/a          a file the run leaves with the bytes the unchanged example's run leaves
//                                 there (a folder, "output/": every file of it but the diagnostics)
//   none-ending: .tmp             no file the run leaves in the basin copy has a name ending so
//   args: basin.ctl               command line (default: basin.ctl -diagfile:output/d.xml)
//   in: basin.ctl                 the file the following edits change
//   replace: 1       # end month  text to replace (first occurrence; \n, \r, \t, \\ and \xHH escapes)
//   with: 13      # end month     (@DIR@ stands for the basin copy's folder, as an absolute path)
//   replace-all: 60 # interval    the same for every occurrence (followed by "with")
//   keep-lines: 6                 keep the first lines of the file
//   cut-at: [zone_grid]           keep the text before the first occurrence
//   cut-to: 30%                   keep the first 30 % of the file's bytes (a copy cut short)
//   write: text                   the file's whole content (escapes as above)
//   hex: 43444601 00*64 0a        the file's whole content as bytes ("XX*N": byte XX N times)
//   remove:                       delete the file
//   copy: dem.asc                 the file becomes a copy of another file of the basin copy
//   copy-test-data: stations/t.dat  the file becomes a copy of a file of tests/data
//   mkdir: name / rmdir: name     make or remove a folder of the basin copy
//   read-only: name               make a folder of the basin copy read-only for the run
//   mkfifo: name                  make a FIFO (a named pipe nobody writes to) of the name
//   mknull: name                  make a character device that throws away what it is given,
//                                 as /dev/null (the case is skipped where none can be made)
//   symlink: ../dem.asc           the file becomes a symbolic link to the target as written
//   hardlink: dem.asc             the file becomes a second name of a file of the basin copy
//   crlf:                         end every line of the file with CR LF (as saved on Windows)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/entry.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kCaseFolder = std::string(ORVEL_TEST_DATA) + "/bad-inputs";
const std::string kBasinFolder = std::string(ORVEL_SOURCE_DIR) + "/examples/basin";

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'x' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
      continue;
    }
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

std::string FromHex(const std::string& hex) {
  std::string bytes, word;
  std::istringstream words(hex);
  while (words >> word) {
    const size_t star = word.find('*');
    if (star != std::string::npos) {
      bytes.append(std::stoul(word.substr(star + 1)), static_cast<char>(std::stoi(word.substr(0, star), nullptr, 16)));
      continue;
    }
    for (size_t i = 0; i + 1 < word.size(); i += 2)
      bytes += static_cast<char>(std::stoi(word.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct Case {
  std::string what;
  std::string args = "basin.ctl -diagfile:output/d.xml";
  int code = -1;
  int status = -1;  // -1: ExitStatus(code)
  std::vector<std::string> expect;
  std::vector<std::string> lacks;
  std::vector<std::string> writes;
  std::vector<std::string> keeps;
  std::vector<std::string> holds;  // file name, a blank, the words
  std::vector<std::string> same;   // two file names, separated by a blank
  std::vector<std::string> asExample;
  std::vector<std::string> noneEnding;
  std::vector<std::string> readOnly;
  std::string skip;                // why the case cannot be made here
};

// Reads the case and applies its edits to the basin copy in dir; a malformed case fails
// the test.
Case PrepareCaseText(const std::string& caseFile, const std::string& text, const std::string& dir) {
  Case c;
  std::istringstream in(text);
  std::string file, line, pendingReplace;
  bool replacing = false, everyOccurrence = false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (c.what.empty()) c.what = line.substr(1);
      continue;
    }
    const size_t colon = line.find(':');
    EXPECT_NE(colon, std::string::npos) << caseFile << ": " << line;
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    const std::string path = dir + "/" + file;
    EXPECT_TRUE(!replacing || key == "with") << caseFile << ": \"replace\" without \"with\"";
    if (key == "code") {
      c.code = std::stoi(value);
    } else if (key == "status") {
      c.status = std::stoi(value);
    } else if (key == "expect") {
      c.expect.push_back(value);
    } else if (key == "lacks") {
      c.lacks.push_back(value);
    } else if (key == "writes") {
      c.writes.push_back(value);
    } else if (key == "keeps") {
      c.keeps.push_back(value);
    } else if (key == "holds") {
      EXPECT_NE(value.find(' '), std::string::npos) << caseFile << ": " << line;
      c.holds.push_back(value);
    } else if (key == "same") {
      EXPECT_NE(value.find(' '), std::string::npos) << caseFile << ": " << line;
      c.same.push_back(value);
    } else if (key == "as-example") {
      c.asExample.push_back(value);
    } else if (key == "none-ending") {
      c.noneEnding.push_back(value);
    } else if (key == "read-only") {
      EXPECT_EQ(::chmod((dir + "/" + value).c_str(), 0555), 0) << caseFile << ": " << value;
      c.readOnly.push_back(dir + "/" + value);
    } else if (key == "args") {
      c.args = value;
    } else if (key == "in") {
      file = value;
    } else if (key == "replace" || key == "replace-all") {
      pendingReplace = Unescape(value);
      replacing = true;
      everyOccurrence = key == "replace-all";
    } else if (key == "with") {
      std::string text = ReadBytes(path);
      std::string by = Unescape(value);
      for (size_t at; (at = by.find("@DIR@")) != std::string::npos;) by.replace(at, 5, dir);
      size_t p = text.find(pendingReplace);
      EXPECT_NE(p, std::string::npos) << caseFile << ": not in " << file << ": " << pendingReplace;
      while (p != std::string::npos) {
        text.replace(p, pendingReplace.size(), by);
        p = everyOccurrence && !pendingReplace.empty() ? text.find(pendingReplace, p + by.size()) : std::string::npos;
      }
      WriteBytes(path, text);
      replacing = false;
    } else if (key == "keep-lines") {
      std::istringstream lines(ReadBytes(path));
      std::string kept, l;
      for (int n = std::stoi(value); n > 0 && std::getline(lines, l); --n) kept += l + "\n";
      WriteBytes(path, kept);
    } else if (key == "cut-at") {
      std::string text = ReadBytes(path);
      const size_t p = text.find(Unescape(value));
      EXPECT_NE(p, std::string::npos) << caseFile << ": not in " << file << ": " << value;
      WriteBytes(path, text.substr(0, p));
    } else if (key == "write") {
      WriteBytes(path, Unescape(value));
    } else if (key == "hex") {
      WriteBytes(path, FromHex(value));
    } else if (key == "copy") {
      WriteBytes(path, ReadBytes(dir + "/" + value));
    } else if (key == "copy-test-data") {
      EXPECT_TRUE(fs::is_regular_file(std::string(ORVEL_TEST_DATA) + "/" + value)) << caseFile << ": " << value;
      WriteBytes(path, ReadBytes(std::string(ORVEL_TEST_DATA) + "/" + value));
    } else if (key == "remove") {
      fs::remove(path);
    } else if (key == "mkdir") {
      fs::create_directories(dir + "/" + value);
    } else if (key == "rmdir") {
      fs::remove_all(dir + "/" + value);
    } else if (key == "mkfifo") {
      EXPECT_EQ(::mkfifo((dir + "/" + value).c_str(), 0644), 0) << caseFile << ": " << value;
    } else if (key == "mknull") {
      std::string why;
      if (!MakeNullDevice(dir + "/" + value, &why)) c.skip = why;
    } else if (key == "symlink") {
      fs::remove(path);
      EXPECT_EQ(::symlink(value.c_str(), path.c_str()), 0) << caseFile << ": " << value;
    } else if (key == "hardlink") {
      fs::remove(path);
      EXPECT_EQ(::link((dir + "/" + value).c_str(), path.c_str()), 0) << caseFile << ": " << value;
    } else if (key == "cut-to") {
      const std::string bytes = ReadBytes(path);
      WriteBytes(path, bytes.substr(0, bytes.size() * std::stoul(value) / 100));
    } else if (key == "crlf") {
      std::string text;
      for (const char ch : ReadBytes(path)) text += ch == '\n' ? "\r\n" : std::string(1, ch);
      WriteBytes(path, text);
    } else {
      ADD_FAILURE() << caseFile << ": unknown line " << line;
    }
  }
  EXPECT_GE(c.code, 0) << caseFile << ": no \"code\" line";
  return c;
}

std::vector<std::string> CaseFiles() {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& e : fs::directory_iterator(kCaseFolder, ignored))
    if (e.path().extension() == ".case") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class BadInput : public testing::TestWithParam<std::string> {};

// The folder of the unchanged example's run (run once, when first asked).
const TempDir& ExampleRun() {
  static TempDir dir;
  static const bool ran = [] {
    CopyExampleInputs(kBasinFolder, dir.path());
    fs::create_directories(dir.file("output"));
    std::string out;
    RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' basin.ctl -diagfile:output/d.xml </dev/null", &out);
    return true;
  }();
  (void)ran;
  return dir;
}

// The files of the run in dir named by an "as-example" line that differ from the example's.
void ExpectAsExample(const TempDir& dir, const std::string& name) {
  std::vector<std::string> files{name};
  if (!name.empty() && name.back() == '/') {
    files.clear();
    for (const auto& e : fs::directory_iterator(ExampleRun().file(name)))
      if (e.path().extension() != ".xml") files.push_back(name + e.path().filename().string());
    EXPECT_GE(files.size(), 20u) << "the example's run leaves few files in " << name;
  }
  for (const std::string& file : files) {
    const std::string theirs = ReadBytes(ExampleRun().file(file));
    EXPECT_FALSE(theirs.empty()) << "the example's run leaves no " << file;
    EXPECT_TRUE(ReadBytes(dir.file(file)) == theirs) << file << " differs from the example's";
  }
}

// Runs a case on a copy of the example and checks what it ends with.
void RunCase(const std::string& name, const std::string& caseText) {
  TempDir dir;
  CopyExampleInputs(kBasinFolder, dir.path());
  fs::create_directories(dir.file("output"));
  const Case c = PrepareCaseText(name, caseText, dir.path());
  if (!c.skip.empty()) GTEST_SKIP() << c.skip;
  std::vector<std::string> kept;
  for (const std::string& file : c.keeps) kept.push_back(ReadBytes(dir.file(file)));
  std::string out;
  const int status = RunCommand("cd '" + dir.path() + "' && '" ORVEL_BINARY "' " + c.args + " </dev/null", &out);

  for (const std::string& folder : c.readOnly) ::chmod(folder.c_str(), 0755);
  SCOPED_TRACE(c.what);
  EXPECT_EQ(status, c.status >= 0 ? c.status : ExitStatus(c.code)) << out;
  if (c.code != 0) {
    EXPECT_NE(out.find("Program aborted with exit code " + std::to_string(c.code) + "\n"), std::string::npos) << out;
  }
  for (const std::string& words : c.expect) EXPECT_NE(out.find(words), std::string::npos) << words << "\n" << out;
  for (const std::string& words : c.lacks) EXPECT_EQ(out.find(words), std::string::npos) << words << "\n" << out;
  for (const std::string& file : c.writes)
    EXPECT_EQ(ReadTextFile(dir.file(file)).rfind("ncols", 0), 0u) << file << " is not a written grid";
  for (size_t i = 0; i < c.keeps.size(); ++i)
    EXPECT_TRUE(ReadBytes(dir.file(c.keeps[i])) == kept[i]) << c.keeps[i] << " was changed";
  for (const std::string& name : c.asExample) ExpectAsExample(dir, name);
  for (const std::string& pair : c.same) {
    const std::string a = pair.substr(0, pair.find(' ')), b = pair.substr(pair.find(' ') + 1);
    const std::string first = ReadBytes(dir.file(a));
    EXPECT_FALSE(first.empty()) << a << " is missing or empty";
    EXPECT_TRUE(first == ReadBytes(dir.file(b))) << b << " differs from " << a;
  }
  for (const auto& f : c.noneEnding.empty() ? fs::recursive_directory_iterator() : fs::recursive_directory_iterator(dir.path()))
    for (const std::string& ending : c.noneEnding) {
      const std::string name = f.path().filename().string();
      EXPECT_FALSE(name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
          << "left behind: " << f.path();
    }
  for (const std::string& h : c.holds) {
    const size_t blank = h.find(' ');
    const std::string text = ReadBytes(dir.file(h.substr(0, blank)));
    EXPECT_NE(text.find(Unescape(h.substr(blank + 1))), std::string::npos) << h << "\n" << text.substr(0, 400);
  }
}

TEST_P(BadInput, EndsWithItsCodeAndNamesTheFault) {
  RunCase(GetParam(), ReadTextFile(kCaseFolder + "/" + GetParam()));
}

// The example's storage file cut at every whole percent of its length: never read as a
// whole file of an older layout, whatever part or line the cut falls in.
class CutStorageFile : public testing::TestWithParam<int> {};

TEST_P(CutStorageFile, IsRefused) {
  const std::string percent = std::to_string(GetParam()) + "%";
  RunCase("the storage file cut to " + percent,
          "# the storage file cut to " + percent + "\ncode: 71\nexpect: soil_state.txt\nin: soil_state.txt\ncut-to: " +
              percent + "\n");
}

INSTANTIATE_TEST_SUITE_P(EveryPercent, CutStorageFile, testing::Range(1, 100));

INSTANTIATE_TEST_SUITE_P(Corpus, BadInput, testing::ValuesIn(CaseFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.substr(0, info.param.find('.'));
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

TEST(BadInputCorpus, HoldsAtLeast150Cases) { EXPECT_GE(CaseFiles().size(), 150u); }

}  // namespace
