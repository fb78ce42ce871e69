#pragma once
// Turns the platform's change records (FILE_NOTIFY_INFORMATION) of one
// finished read into notices, pairing the two halves of a rename.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace device {

// The rename halves of one watched folder, kept from one finished read to the
// next; empty when no half waits.
struct RenameHalves {
  std::u16string old_name;
  std::u16string new_name;
};

// Receives (kind, name, second name) for every notice, in record order.
using NoticeSink = std::function<void(const WCHAR* kind, const std::u16string& name, const std::u16string& second)>;

// Decodes the `size` bytes of records in `buffer` (any alignment). False when
// the first record is implausible and the whole batch is dropped. Records,
// names and links that reach past `size` end the walk there.
bool DecodeChanges(const BYTE* buffer, size_t size, RenameHalves& halves, const NoticeSink& post);

}  // namespace device
