// Drives an MCP server over two pipes as a client would, and times it:
//   mcp_drive REPS WORKLOAD ANSWERS -- COMMAND [ARGUMENTS]...
// Each repetition starts COMMAND, sends "initialize" and waits for its answer (the start-up
// time), sends "notifications/initialized", then writes the lines of the file WORKLOAD while
// reading answers until ANSWERS lines have come (the work time). Then it closes the server's
// input and collects its peak resident set and processor time (user and system). One warm-up
// run is not counted. Prints one JSON object of per-run lists, with the number of answers that
// carried an error.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static const char kInitialize[] =
    "{\"jsonrpc\":\"2.0\",\"id\":0,\"method\":\"initialize\",\"params\":{\"protocolVersion\":"
    "\"2025-06-18\",\"capabilities\":{},\"clientInfo\":{\"name\":\"bench\",\"version\":\"1\"}}}\n";
static const char kInitialized[] =
    "{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n";

typedef struct {
  double init_us, work_us, cpu_us;
  long rss_kb;
  long errors;
} Run;

static double now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static void die(const char* what) {
  fprintf(stderr, "mcp_drive: %s: %s\n", what, strerror(errno));
  exit(1);
}

static void write_all(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t done = write(fd, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) die("write");
    bytes += done;
    size -= (size_t)done;
  }
}

// Answers are scanned as they stream in: lines are counted, and so are errors (an "error"
// member or a tool result flagged as one; an answer holds at most one). The last bytes of each
// chunk are kept so that a mark cut in two by a chunk boundary is still seen.
enum { kCarry = 15 };
typedef struct {
  long lines, errors;
  size_t carried;
  char work[kCarry + (1 << 16)];
} Scan;

static void scan(Scan* s, const char* bytes, size_t size) {
  static const char* marks[] = {"\"error\":{", "\"isError\":true"};
  for (const char* at = bytes; (at = memchr(at, '\n', size - (size_t)(at - bytes))) != NULL; ++at)
    s->lines++;
  memcpy(s->work + s->carried, bytes, size);
  size_t total = s->carried + size;
  for (int m = 0; m < 2; ++m) {
    size_t length = strlen(marks[m]);
    const char* from = s->work;
    const char* found;
    while ((found = memmem(from, total - (size_t)(from - s->work), marks[m], length)) != NULL) {
      // A mark that lies wholly in the carried bytes was counted with the previous chunk.
      if ((size_t)(found - s->work) + length > s->carried) s->errors++;
      from = found + 1;
    }
  }
  s->carried = total < kCarry ? total : kCarry;
  memmove(s->work, s->work + total - s->carried, s->carried);
}

static void read_lines(int fd, Scan* s, long wanted, char* buffer, size_t room) {
  while (s->lines < wanted) {
    ssize_t got = read(fd, buffer, room);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) die("server ended early");
    scan(s, buffer, (size_t)got);
  }
}

static Run run_once(char** command, const char* workload, size_t workload_size, long answers) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) die("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  Run run = {0};
  double start = now_us();
  pid_t child;
  errno = posix_spawn(&child, command[0], &actions, NULL, command, environ);
  if (errno != 0) die("spawn");
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);

  static char buffer[1 << 16];
  static Scan s;
  s.lines = s.errors = 0;
  s.carried = 0;
  write_all(in[1], kInitialize, strlen(kInitialize));
  read_lines(out[0], &s, 1, buffer, sizeof buffer);
  run.init_us = now_us() - start;
  write_all(in[1], kInitialized, strlen(kInitialized));

  // Writes and reads interleave so that neither pipe fills up and stalls the other side.
  double begin = now_us();
  s.lines = 0;
  s.errors = 0;
  size_t sent = 0;
  if (fcntl(in[1], F_SETFL, O_NONBLOCK) != 0) die("fcntl");
  while (s.lines < answers) {
    struct pollfd fds[2] = {{out[0], POLLIN, 0}, {sent < workload_size ? in[1] : -1, POLLOUT, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) die("poll");
    if (fds[1].revents & (POLLOUT | POLLERR)) {
      ssize_t done = write(in[1], workload + sent, workload_size - sent);
      if (done < 0 && errno != EAGAIN && errno != EINTR) die("write");
      if (done > 0) sent += (size_t)done;
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got == 0) die("server ended early");
      if (got > 0) scan(&s, buffer, (size_t)got);
    }
  }
  run.work_us = now_us() - begin;
  run.errors = s.errors;
  close(in[1]);
  while (read(out[0], buffer, sizeof buffer) > 0) {
  }
  close(out[0]);
  int status;
  struct rusage usage;
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) die("wait");
  }
  run.rss_kb = usage.ru_maxrss;
  run.cpu_us = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
               (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  return run;
}

static char* read_file(const char* path, size_t* size) {
  int fd = open(path, O_RDONLY);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) die(path);
  char* bytes = malloc((size_t)info.st_size + 1);
  size_t have = 0;
  while (bytes && have < (size_t)info.st_size) {
    ssize_t got = read(fd, bytes + have, (size_t)info.st_size - have);
    if (got <= 0) die(path);
    have += (size_t)got;
  }
  close(fd);
  *size = have;
  return bytes;
}

int main(int argc, char** argv) {
  if (argc < 6 || strcmp(argv[4], "--") != 0) {
    fprintf(stderr, "usage: mcp_drive REPS WORKLOAD ANSWERS -- COMMAND [ARGUMENTS]...\n");
    return 2;
  }
  int reps = atoi(argv[1]);
  long answers = atol(argv[3]);
  size_t size;
  char* workload = read_file(argv[2], &size);
  Run* runs = calloc((size_t)reps + 1, sizeof *runs);
  for (int i = 0; i <= reps; ++i)
    runs[i] = run_once(argv + 5, workload, size, answers);
  const char* names[] = {"init_us", "work_us", "rss_kb", "errors", "cpu_us"};
  printf("{");
  for (int field = 0; field < 5; ++field) {
    printf("%s\"%s\":[", field ? "," : "", names[field]);
    for (int i = 1; i <= reps; ++i) {
      double value = field == 0   ? runs[i].init_us
                     : field == 1 ? runs[i].work_us
                     : field == 2 ? (double)runs[i].rss_kb
                     : field == 3 ? (double)runs[i].errors
                                  : runs[i].cpu_us;
      printf("%s%.1f", i > 1 ? "," : "", value);
    }
    printf("]");
  }
  printf("}\n");
  return 0;
}
