// The reasons given with a file that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "framework/append_file.h"
#include "framework/file_reason.h"
#include "framework/new_file.h"
#include "support/test_support.h"

TEST(FileOpenReason, NamesTheSystemReasonAndAMissingOutputFolder) {
  TempDir dir;
  WriteTextFile(dir.file("plain"), "x");
  // Reading: the reason is found again when the caller lost errno.
  EXPECT_EQ(FileOpenReason(dir.file("absent.asc"), false, 0), " (No such file or directory)");
  EXPECT_EQ(FileOpenReason(dir.file("absent.asc"), false, ENOENT), " (No such file or directory)");
  EXPECT_EQ(FileOpenReason(dir.file("plain"), false, 0), "");  // it opens: nothing to say
  // A FIFO or a device is never opened (a FIFO would wait for a writer for ever).
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  EXPECT_EQ(FileOpenReason(dir.file("pipe"), false, 0), " (a FIFO, not a regular file)");
  EXPECT_EQ(FileOpenReason("/dev/zero", false, 0), " (a character device, not a regular file)");
  // Writing: the folder that is missing, or that is a file.
  EXPECT_EQ(FileOpenReason(dir.file("out/g.asc"), true, ENOENT),
            " (No such file or directory; the folder " + dir.file("out") + "/ does not exist)");
  EXPECT_EQ(FileOpenReason(dir.file("plain/g.asc"), true, ENOTDIR),
            " (Not a directory; " + dir.file("plain") + "/ is not a folder)");
  EXPECT_EQ(FileOpenReason(dir.file("g.asc"), true, EACCES), " (Permission denied)");
}

// A file the run is about to fill is made new: whatever stands under its name is removed,
// and what a link leads to is never touched.
TEST(CreateNewFile, NeverWritesThroughWhatStandsUnderTheName) {
  TempDir dir;
  WriteTextFile(dir.file("input.asc"), "the input");
  auto fill = [](const std::string& path) {
    std::FILE* f = CreateNewStream(path, "wb");
    if (f == nullptr) return false;
    std::fputs("new", f);
    return std::fclose(f) == 0;
  };
  // A symbolic link to an input, a hard link sharing it, a stale file of an earlier run.
  ASSERT_EQ(::symlink(dir.file("input.asc").c_str(), dir.file("a.tmp").c_str()), 0);
  ASSERT_EQ(::link(dir.file("input.asc").c_str(), dir.file("b.tmp").c_str()), 0);
  WriteTextFile(dir.file("c.tmp"), "stale and longer than the new text");
  // A dangling link: the write must not create its target.
  ASSERT_EQ(::symlink(dir.file("elsewhere.asc").c_str(), dir.file("d.tmp").c_str()), 0);
  for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "d.tmp"}) {
    ASSERT_TRUE(fill(dir.file(name))) << name;
    struct stat st;
    ASSERT_EQ(::lstat(dir.file(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_nlink, 1u) << name;
    EXPECT_EQ(ReadTextFile(dir.file(name)), "new") << name;
  }
  EXPECT_EQ(ReadTextFile(dir.file("input.asc")), "the input");
  EXPECT_NE(::access(dir.file("elsewhere.asc").c_str(), F_OK), 0);
  // A folder under the name is left alone and named as the reason.
  ASSERT_EQ(::mkdir(dir.file("e.tmp").c_str(), 0755), 0);
  EXPECT_EQ(CreateNewFile(dir.file("e.tmp")), -1);
  EXPECT_EQ(errno, EISDIR);
}

// A device under the name is never removed: the name may be all the system has of it.
TEST(CreateNewFile, LeavesADeviceUnderTheName) {
  TempDir dir;
  const std::string device = dir.file("null.tmp");
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "no devices can be made here";
  EXPECT_EQ(CreateNewFile(device), -1);
  EXPECT_EQ(errno, EEXIST);
  struct stat st;
  ASSERT_EQ(::lstat(device.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// An output whose "<name>.tmp" would be longer than its folder's file system takes is written
// under a temporary name cut to fit: the same for the same name, another for another name
// however alike, never cut inside a character. A name that fits keeps "<name>.tmp".
TEST(OutputName, ATemporaryNameTooLongIsCutToFitTheSameEveryTime) {
  TempDir dir;
  const size_t most = NameLimitsOf(dir.file("x")).name;
  EXPECT_EQ(OutputName(dir.file("sd.asc")).Temporary(), dir.file("sd.asc.tmp"));
  const std::string fits = dir.file(std::string(most - 4, 'f'));
  EXPECT_EQ(OutputName(fits).Temporary(), fits + ".tmp");
  const std::string a = dir.file(std::string(most - 5, 'p') + "a.asc"), b = dir.file(std::string(most - 5, 'p') + "b.asc");
  const std::string ta = OutputName(a).Temporary(), tb = OutputName(b).Temporary();
  EXPECT_EQ(BaseLength(ta), most) << ta;
  EXPECT_EQ(ta.compare(0, a.size() - 21, a, 0, a.size() - 21), 0) << ta;
  EXPECT_EQ(ta.substr(ta.size() - 4), ".tmp");
  EXPECT_EQ(OutputName(a).Temporary(), ta);
  EXPECT_NE(ta, tb);
  // Written through it, a stale file left there by an earlier run replaced.
  WriteTextFile(ta, "stale");
  bool opened = false;
  EXPECT_EQ(OutputName(a).Write("grid", opened), 0);
  EXPECT_EQ(ReadTextFile(a), "grid");
  EXPECT_NE(::access(ta.c_str(), F_OK), 0);
  // Two-byte characters: the cut falls before a whole one.
  std::string umlauts;
  for (size_t i = 0; 2 * i + 7 <= most; ++i) umlauts += "\xc3\xa4";
  const std::string u = dir.file("x" + umlauts + ".asc");
  const std::string tu = OutputName(u).Temporary();
  const size_t kept = BaseLength(tu) - 21;
  EXPECT_EQ(kept % 2, 1u) << tu;  // "x" and whole characters
  EXPECT_EQ(OutputName(u).Write("grid", opened), 0);
  EXPECT_EQ(ReadTextFile(u), "grid");
}

// The module log grows in place while it is a file of its own; a link under its name, or a
// second name of its file, is replaced, and what they lead to keeps what it held.
TEST(AppendUnshared, GrowsItsOwnFileAndReplacesLinksAndSharedFiles) {
  TempDir dir;
  auto append = [](const std::string& path, const std::string& text) {
    bool opened = false;
    return AppendUnshared(path, text, opened);
  };
  auto inode = [](const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_ino;
  };
  const std::string own = dir.file("own.log");
  ASSERT_EQ(append(own, "a\n"), 0);  // made new
  const auto first = inode(own);
  ASSERT_EQ(append(own, "b\n"), 0);
  EXPECT_EQ(ReadTextFile(own), "a\nb\n");
  EXPECT_EQ(inode(own), first);  // in place: runs side by side append to one file

  WriteTextFile(dir.file("backup.log"), "earlier\n");
  ASSERT_EQ(::link(dir.file("backup.log").c_str(), dir.file("shared.log").c_str()), 0);
  ASSERT_EQ(append(dir.file("shared.log"), "new\n"), 0);
  EXPECT_EQ(ReadTextFile(dir.file("shared.log")), "earlier\nnew\n");
  EXPECT_EQ(ReadTextFile(dir.file("backup.log")), "earlier\n");

  WriteTextFile(dir.file("elsewhere.txt"), "someone else's\n");
  ASSERT_EQ(::symlink(dir.file("elsewhere.txt").c_str(), dir.file("linked.log").c_str()), 0);
  ASSERT_EQ(append(dir.file("linked.log"), "new\n"), 0);
  EXPECT_EQ(ReadTextFile(dir.file("linked.log")), "new\n");
  EXPECT_EQ(ReadTextFile(dir.file("elsewhere.txt")), "someone else's\n");
  struct stat st;
  ASSERT_EQ(::lstat(dir.file("linked.log").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}
