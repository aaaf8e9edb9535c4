// The reasons given with a file that cannot be opened.
#include <gtest/gtest.h>

#include <cerrno>

#include "framework/file_reason.h"
#include "support/test_support.h"

TEST(FileOpenReason, NamesTheSystemReasonAndAMissingOutputFolder) {
  TempDir dir;
  WriteTextFile(dir.file("plain"), "x");
  // Reading: the reason is found again when the caller lost errno.
  EXPECT_EQ(FileOpenReason(dir.file("absent.asc"), false, 0), " (No such file or directory)");
  EXPECT_EQ(FileOpenReason(dir.file("absent.asc"), false, ENOENT), " (No such file or directory)");
  EXPECT_EQ(FileOpenReason(dir.file("plain"), false, 0), "");  // it opens: nothing to say
  // Writing: the folder that is missing, or that is a file.
  EXPECT_EQ(FileOpenReason(dir.file("out/g.asc"), true, ENOENT),
            " (No such file or directory; the folder " + dir.file("out") + "/ does not exist)");
  EXPECT_EQ(FileOpenReason(dir.file("plain/g.asc"), true, ENOTDIR),
            " (Not a directory; " + dir.file("plain") + "/ is not a folder)");
  EXPECT_EQ(FileOpenReason(dir.file("g.asc"), true, EACCES), " (Permission denied)");
}
