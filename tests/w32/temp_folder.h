// A fresh folder under /tmp (or `base`), readable by all, removed with everything in it.
#pragma once
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

class TempFolder {
 public:
  explicit TempFolder(const std::string& base = "/tmp") {
    std::string pattern = base + "/w32-test-XXXXXX";
    path_ = ::mkdtemp(pattern.data());
    ::chmod(path_.c_str(), 0755);  // tests that act as another user read it
  }
  ~TempFolder() {
    ::nftw(path_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
           FTW_DEPTH | FTW_PHYS);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to the file `name`; its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = *this / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

 private:
  std::string path_;
};
