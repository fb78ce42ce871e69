#pragma once
// The namespace of named kernel objects, shared by every process of the machine.
//
// Each name is a lock file in a runtime folder: one per logon session for plain
// and "Local\" names, one per machine for "Global\" names. Every open handle
// holds a shared flock on its own descriptor of the file, so the object exists
// exactly while some process holds one; a dying process lets go with its
// descriptors. The file records the kind of object and the creating user.
#include <windows.h>

#include <memory>
#include <string>

namespace w32 {

class NamedObjectEntry {
 public:
  NamedObjectEntry(int fd, std::string folder, std::string path, bool created)
      : fd_(fd), folder_(std::move(folder)), path_(std::move(path)), created_(created) {}
  ~NamedObjectEntry();
  NamedObjectEntry(const NamedObjectEntry&) = delete;
  NamedObjectEntry& operator=(const NamedObjectEntry&) = delete;

  // True when this open made the object; false when it existed before.
  bool created() const { return created_; }

 private:
  int fd_;
  std::string folder_;
  std::string path_;
  bool created_;
};

// Creates or opens the object `name` of `kind` ("Mutex", "Event", ...).
// On failure returns null and sets the last error: ERROR_INVALID_HANDLE when
// the name holds another kind of object, ERROR_ACCESS_DENIED when another
// user's object holds it, ERROR_PATH_NOT_FOUND for an unknown namespace,
// ERROR_FILENAME_EXCED_RANGE for a name over MAX_PATH characters,
// ERROR_MOD_NOT_FOUND when libcrypto, which hashes names, cannot be loaded.
std::unique_ptr<NamedObjectEntry> CreateNamedObject(const std::u16string& name, const char* kind);

}  // namespace w32
