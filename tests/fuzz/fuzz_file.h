#pragma once
// The fuzzer's input as a file: the readers under test take paths.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class FuzzFile {
 public:
  FuzzFile(const uint8_t* data, size_t size) {
    char pattern[] = "/tmp/w32-fuzz-file-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    path_ = pattern;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    close(fd);
  }
  ~FuzzFile() { std::remove(path_.c_str()); }
  FuzzFile(const FuzzFile&) = delete;
  FuzzFile& operator=(const FuzzFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
