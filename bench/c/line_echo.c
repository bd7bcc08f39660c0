// Baseline for the MCP loop: writes every input line back with one write per line, the least a
// line-oriented server that answers each line at once can do.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int write_all(const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t done = write(1, bytes, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return 0;
    bytes += done;
    size -= (size_t)done;
  }
  return 1;
}

int main(void) {
  size_t capacity = 1 << 16, used = 0;
  char* buffer = malloc(capacity);
  if (!buffer) return 1;
  for (;;) {
    if (used == capacity) {
      capacity *= 2;
      char* grown = realloc(buffer, capacity);
      if (!grown) return 1;
      buffer = grown;
    }
    ssize_t got = read(0, buffer + used, capacity - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return 1;
    if (got == 0) return used > 0 && !write_all(buffer, used);
    used += (size_t)got;
    size_t start = 0;
    char* feed;
    while ((feed = memchr(buffer + start, '\n', used - start)) != NULL) {
      size_t end = (size_t)(feed - buffer) + 1;
      if (!write_all(buffer + start, end - start)) return 1;
      start = end;
    }
    memmove(buffer, buffer + start, used - start);
    used -= start;
  }
}
