// Baseline for the connector client: the same connect, framed request and framed answer as
// `quorvi request`, with no JSON parsing at all, against the same stand-in app.
//   frame_client [-i] DIR OPERATION ARGUMENTS [OPERATION ARGUMENTS]...
// ARGUMENTS is JSON text, or @FILE for the text of a file. With -i, standard input is read to
// its end first (the bytes an MCP client would pipe in). Each answer body goes to standard
// output on a line of its own.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

typedef struct {
  char* bytes;
  size_t size;
} Text;

static int die(const char* what) {
  fprintf(stderr, "frame_client: %s\n", what);
  return 1;
}

static int read_fd(int fd, Text* text) {
  size_t capacity = 1 << 16;
  text->bytes = malloc(capacity);
  text->size = 0;
  for (;;) {
    if (!text->bytes) return 0;
    if (text->size == capacity) text->bytes = realloc(text->bytes, capacity *= 2);
    if (!text->bytes) return 0;
    ssize_t got = read(fd, text->bytes + text->size, capacity - text->size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return 0;
    if (got == 0) return 1;
    text->size += (size_t)got;
  }
}

static int read_file(const char* path, Text* text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  int ok = read_fd(fd, text);
  close(fd);
  return ok;
}

// The string value of "key" in the rendezvous file; the stand-in writes plain values.
static int string_member(const Text* file, const char* key, char* out, size_t room) {
  char pattern[32];
  snprintf(pattern, sizeof pattern, "\"%s\":\"", key);
  const char* start = memmem(file->bytes, file->size, pattern, strlen(pattern));
  if (!start) return 0;
  start += strlen(pattern);
  const char* end = memchr(start, '"', file->size - (size_t)(start - file->bytes));
  if (!end || (size_t)(end - start) >= room) return 0;
  memcpy(out, start, (size_t)(end - start));
  out[end - start] = '\0';
  return 1;
}

static int send_all(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t done = send(fd, bytes, size, MSG_NOSIGNAL);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return 0;
    bytes += done;
    size -= (size_t)done;
  }
  return 1;
}

static int receive_all(int fd, char* bytes, size_t size) {
  while (size > 0) {
    ssize_t got = recv(fd, bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    bytes += got;
    size -= (size_t)got;
  }
  return 1;
}

static int exchange(const char* dir, const char* operation, const Text* arguments) {
  char path[4096], socket_name[256], token[256];
  Text rendezvous;
  snprintf(path, sizeof path, "%s/connection.json", dir);
  if (!read_file(path, &rendezvous)) return die("cannot read the rendezvous file");
  if (!string_member(&rendezvous, "socket", socket_name, sizeof socket_name) ||
      !string_member(&rendezvous, "token", token, sizeof token)) {
    return die("bad rendezvous file");
  }
  free(rendezvous.bytes);

  struct sockaddr_un address = {.sun_family = AF_UNIX};
  if (strlen(dir) + 1 + strlen(socket_name) >= sizeof address.sun_path) return die("path too long");
  memcpy(address.sun_path, dir, strlen(dir));
  address.sun_path[strlen(dir)] = '/';
  memcpy(address.sun_path + strlen(dir) + 1, socket_name, strlen(socket_name) + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
    return die("cannot connect");
  }

  static const char middle[] = ",\"operation\":\"";
  static const char scope[] = "\",\"scope\":{\"excludeTags\":[],\"onlyTags\":[]},\"token\":\"";
  size_t size =
      13 + arguments->size + strlen(middle) + strlen(operation) + strlen(scope) + strlen(token) + 2;
  char* body = malloc(4 + size + 1);
  if (!body) return die("out of memory");
  char* at = body + 4;
  at += sprintf(at, "{\"arguments\":");
  memcpy(at, arguments->bytes, arguments->size);
  at += arguments->size;
  at += sprintf(at, "%s%s%s%s\"}", middle, operation, scope, token);
  uint32_t length = (uint32_t)(at - body - 4);
  body[0] = (char)(length >> 24), body[1] = (char)(length >> 16);
  body[2] = (char)(length >> 8), body[3] = (char)length;
  if (!send_all(fd, body, 4) || !send_all(fd, body + 4, length)) return die("send failed");
  free(body);

  unsigned char prefix[4];
  if (!receive_all(fd, (char*)prefix, 4)) return die("no answer");
  length =
      (uint32_t)prefix[0] << 24 | (uint32_t)prefix[1] << 16 | (uint32_t)prefix[2] << 8 | prefix[3];
  char* answer = malloc((size_t)length + 1);
  if (!answer || !receive_all(fd, answer, length)) return die("short answer");
  close(fd);
  answer[length] = '\n';
  const char* out = answer;
  size_t left = (size_t)length + 1;
  while (left > 0) {
    ssize_t done = write(1, out, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return die("write failed");
    out += done;
    left -= (size_t)done;
  }
  free(answer);
  return 0;
}

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && strcmp(argv[1], "-i") == 0) {
    Text input;
    if (!read_fd(0, &input)) return die("cannot read standard input");
    free(input.bytes);
    first = 2;
  }
  if (argc - first < 3 || (argc - first) % 2 != 1) {
    return die("usage: frame_client [-i] DIR OPERATION ARGUMENTS [OPERATION ARGUMENTS]...");
  }
  const char* dir = argv[first];
  for (int i = first + 1; i + 1 < argc; i += 2) {
    Text arguments = {argv[i + 1], strlen(argv[i + 1])};
    if (argv[i + 1][0] == '@' && !read_file(argv[i + 1] + 1, &arguments)) {
      return die("cannot read the arguments file");
    }
    // A file's last line feed is no part of the JSON text.
    while (arguments.size > 0 && arguments.bytes[arguments.size - 1] == '\n')
      --arguments.size;
    if (exchange(dir, argv[i], &arguments) != 0) return 1;
  }
  return 0;
}
