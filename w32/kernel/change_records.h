#pragma once
// Change records and overlapped results: the records of one directory handle
// that wait for a read, its one pending read, and the status a finished read
// leaves in its OVERLAPPED, as the platform keeps it.
#include <windows.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "kernel/event.h"
#include "kernel/file.h"

namespace w32 {

// NTSTATUS values of a finished read, kept in OVERLAPPED::Internal as the platform does.
constexpr ULONG_PTR kStatusSuccess = 0x00000000;
constexpr ULONG_PTR kStatusNotifyEnumDir = 0x0000010C;  // changes were lost: enumerate again
constexpr ULONG_PTR kStatusObjectPathNotFound = 0xC000003A;
constexpr ULONG_PTR kStatusNetworkNameDeleted = 0xC00000C9;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

// The status of an overlapped I/O, STATUS_PENDING until it finishes.
ULONG_PTR OverlappedStatus(const OVERLAPPED* overlapped);
// The last error a finished I/O's status gives; ERROR_SUCCESS also for lost changes.
DWORD ErrorFromStatus(ULONG_PTR status);

struct PendingRead {
  BYTE* buffer;
  DWORD length;
  OVERLAPPED* overlapped;
  std::shared_ptr<Event> event;  // null when the read signals only the file
  DWORD thread;
};

// Kept from the first read on, also while no read is armed, up to a bound;
// past it the records are dropped and the next read finishes with 0 bytes,
// as the platform does when its buffer overflows. Every call is made with the
// change service's lock held.
class ChangeRecords {
 public:
  ChangeRecords(File& file, DWORD filter) : file_(file), filter_(filter) {}

  // Queues a record of `path` (relative to the watched folder) when the
  // handle's filter asks for one of the `filter` bits; false when the bound
  // was passed and the records were lost.
  bool Queue(DWORD action, const std::string& path, DWORD filter);
  // Changes were lost: the records go, and the next read finishes with 0 bytes.
  void Lose();
  // The folder cannot be watched any more: once the records are given, reads fail with `error`.
  void Break(DWORD error);
  // As Break, at once: what was kept and the lost-changes mark go too.
  void Fail(DWORD error);

  // Arms a read: ERROR_SUCCESS, with the read perhaps finished at once, or why not.
  DWORD Arm(PendingRead read);
  // Finishes the pending read as cancelled: the calling thread's, or any.
  void Cancel(DWORD thread);
  void CancelAny();
  // Finishes the pending read when there is something to give it.
  void Deliver();

 private:
  struct Record {
    DWORD action;
    std::u16string name;
  };

  void Finish(ULONG_PTR status, DWORD bytes);

  File& file_;
  const DWORD filter_;  // the first read's; later reads cannot change what is watched
  std::deque<Record> queue_;
  bool overflow_ = false;
  DWORD broken_ = ERROR_SUCCESS;  // why the folder cannot be watched any more
  std::optional<PendingRead> pending_;
};

}  // namespace w32
