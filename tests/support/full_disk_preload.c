// Preloaded into the program by fault tests (LD_PRELOAD): a file whose name (the part after
// the last "/") is listed in ORVEL_FULL_DISK (names separated by ":") behaves as a file on a
// full disk. Opened for writing, it gives /dev/full instead, whose every write fails with
// ENOSPC; the file itself stays as it was. Opening for reading is left alone.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

typedef int (*OpenFunction)(const char*, int, ...);
typedef int (*OpenAtFunction)(int, const char*, int, ...);

static int Listed(const char* path) {
  const char* list = getenv("ORVEL_FULL_DISK");
  if (list == NULL || path == NULL) return 0;
  const char* slash = strrchr(path, '/');
  const char* name = slash != NULL ? slash + 1 : path;
  const size_t length = strlen(name);
  for (const char* p = list; *p != '\0';) {
    const char* end = strchr(p, ':');
    const size_t n = end != NULL ? (size_t)(end - p) : strlen(p);
    if (n == length && strncmp(p, name, n) == 0) return 1;
    if (end == NULL) break;
    p = end + 1;
  }
  return 0;
}

static int Writing(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

static mode_t ModeOf(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(args, int) : 0;
}

static int OpenVia(const char* symbol, const char* path, int flags, mode_t mode) {
  const OpenFunction real = (OpenFunction)dlsym(RTLD_NEXT, symbol);
  if (Writing(flags) && Listed(path)) return real("/dev/full", O_WRONLY | (flags & O_CLOEXEC));
  return real(path, flags, mode);
}

static int OpenAtVia(const char* symbol, int dir, const char* path, int flags, mode_t mode) {
  const OpenAtFunction real = (OpenAtFunction)dlsym(RTLD_NEXT, symbol);
  if (Writing(flags) && Listed(path)) return real(AT_FDCWD, "/dev/full", O_WRONLY | (flags & O_CLOEXEC));
  return real(dir, path, flags, mode);
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return OpenVia("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return OpenVia("open64", path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return OpenAtVia("openat", dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = ModeOf(flags, args);
  va_end(args);
  return OpenAtVia("openat64", dir, path, flags, mode);
}
