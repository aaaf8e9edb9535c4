// The reasons given with a file that cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
