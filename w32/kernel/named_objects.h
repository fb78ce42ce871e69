#pragma once
// The namespace of named kernel objects, shared by every process of the machine
// and closed to other local users.
//
// A name is a file in a folder of its user alone, where no other user can
// make anything: one per logon session for plain and "Local\" names, one per
// user for "Global\" names. Every open handle holds a shared flock on its own
// descriptor of the file, so the object lives exactly while some process holds
// one, and a dying process lets go with its descriptors. A "Global\" object is
// also shown to every other user by an abstract socket of each handle
// (kernel/global_names.h); the owner is the socket's, as the kernel recorded it.
//
// No lock is ever waited for: every attempt is non-blocking. A "Global\" name
// that another user holds is refused.
#include <windows.h>

#include <memory>
#include <string>

#include "support/unique_fd.h"

namespace w32 {

// A file of the namespace: the folder it is in, its name there, our descriptor.
struct ObjectFile {
  UniqueFd folder;
  std::string name;
  UniqueFd fd;
};

class NamedObjectEntry {
 public:
  NamedObjectEntry(ObjectFile file, bool created) : file_(std::move(file)), created_(created) {}
  // The last handle of the name, in any process, removes its file.
  ~NamedObjectEntry();
  NamedObjectEntry(const NamedObjectEntry&) = delete;
  NamedObjectEntry& operator=(const NamedObjectEntry&) = delete;

  // True when this open made the object; false when it existed before.
  bool created() const { return created_; }

  // Holds `holder`, the socket that shows a "Global\" object to other users.
  void Show(UniqueFd holder) { holder_ = std::move(holder); }

  // Writes the new object's record; from then on other processes open it.
  bool Finish(const std::string& record);

 private:
  ObjectFile file_;
  UniqueFd holder_;
  bool created_;
};

// Creates or opens the named mutex `name`.
// On failure returns null and sets the last error: ERROR_ACCESS_DENIED when another
// user holds the "Global\" name, or when the user's folder of the namespace is
// a link or not the user's alone; ERROR_PATH_NOT_FOUND for an unknown
// namespace or a user without a home; ERROR_NOT_SUPPORTED when the kernel
// cannot tell who holds a "Global\" name;
// ERROR_FILENAME_EXCED_RANGE for a name over MAX_PATH characters;
// ERROR_MOD_NOT_FOUND when libcrypto, which hashes names, cannot be loaded.
std::unique_ptr<NamedObjectEntry> CreateNamedObject(const std::u16string& name);

}  // namespace w32
