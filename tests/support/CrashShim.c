// A fault-injection shim for tests, loaded with LD_PRELOAD: it kills the
// process with SIGKILL, as a power cut or the out-of-memory killer would end
// it, at the KREVO_CRASH_AT-th file-system step of an installation. Steps
// are counted from the creation of the update journal on: every file
// created, folder made, name linked, renamed or removed, and every flush.
// Without KREVO_CRASH_AT it only counts, and at exit writes the count to the
// file KREVO_CRASH_COUNT names, when set.
//
// KREVO_KILL_CALL=renameat|utimensat (with KREVO_KILL_NAME, a part the path
// must hold, and KREVO_KILL_NTH, which matching call, 1 when unset) kills
// the process just before that call, wherever in the run it comes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long target = -1;
static long count = 0;
static int armed = 0;

static void Report(void) {
  const char* file = getenv("KREVO_CRASH_COUNT");
  FILE* f = file ? fopen(file, "w") : NULL;
  if (f) {
    fprintf(f, "%ld\n", count);
    fclose(f);
  }
}

static const char* killCall = NULL;
static const char* killName = NULL;
static long killNth = 1;
static long killSeen = 0;

__attribute__((constructor)) static void Init(void) {
  const char* at = getenv("KREVO_CRASH_AT");
  target = at ? atol(at) : -1;
  killCall = getenv("KREVO_KILL_CALL");
  killName = getenv("KREVO_KILL_NAME");
  const char* nth = getenv("KREVO_KILL_NTH");
  if (nth) killNth = atol(nth);
  atexit(Report);
}

// Kills the process when `call` on `path` is the one KREVO_KILL_* names.
static void KillAtCall(const char* call, const char* path) {
  if (!killCall || strcmp(killCall, call) != 0) return;
  if (killName && (!path || !strstr(path, killName))) return;
  if (++killSeen == killNth) kill(getpid(), SIGKILL);
}

static void Step(void) {
  if (armed && ++count == target) kill(getpid(), SIGKILL);
}

// The next definition of `name`, libc's.
#define REAL(name)                           \
  static __typeof__(&name) real_##name;      \
  if (!real_##name) real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

int openat(int dir, const char* path, int flags, ...) {
  REAL(openat);
  mode_t mode = 0;
  if (flags & (O_CREAT | __O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  if ((flags & O_CREAT) && strstr(path, ".krevo-update.journal")) armed = 1;
  if (flags & O_CREAT) Step();
  return real_openat(dir, path, flags, mode);
}

int mkdirat(int dir, const char* path, mode_t mode) {
  REAL(mkdirat);
  Step();
  return real_mkdirat(dir, path, mode);
}

int renameat(int from, const char* a, int to, const char* b) {
  REAL(renameat);
  KillAtCall("renameat", a);
  Step();
  return real_renameat(from, a, to, b);
}

int linkat(int from, const char* a, int to, const char* b, int flags) {
  REAL(linkat);
  Step();
  return real_linkat(from, a, to, b, flags);
}

int unlinkat(int dir, const char* path, int flags) {
  REAL(unlinkat);
  Step();
  return real_unlinkat(dir, path, flags);
}

int fsync(int fd) {
  REAL(fsync);
  Step();
  return real_fsync(fd);
}

int fdatasync(int fd) {
  REAL(fdatasync);
  Step();
  return real_fdatasync(fd);
}

int syncfs(int fd) {
  REAL(syncfs);
  Step();
  return real_syncfs(fd);
}

int utimensat(int dir, const char* path, const struct timespec times[2], int flags) {
  REAL(utimensat);
  KillAtCall("utimensat", path);
  return real_utimensat(dir, path, times, flags);
}
