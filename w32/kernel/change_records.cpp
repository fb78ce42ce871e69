// Change records and overlapped results: packing queued records into a read's
// buffer as FILE_NOTIFY_INFORMATION, and finishing the read.
#include "kernel/change_records.h"

#include <cstddef>
#include <cstring>
#include <mutex>

#include "support/file_name.h"

namespace w32 {
namespace {

constexpr size_t kMaxPendingRecords = size_t{1} << 15;

ULONG_PTR StatusFromError(DWORD error) {
  return error == ERROR_NETNAME_DELETED ? kStatusNetworkNameDeleted : kStatusObjectPathNotFound;
}

void StartOverlapped(OVERLAPPED* overlapped) {
  overlapped->InternalHigh = 0;
  __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(STATUS_PENDING), __ATOMIC_RELEASE);
}

// The byte count is written before the status, which publishes it.
void FinishOverlapped(OVERLAPPED* overlapped, ULONG_PTR status, DWORD bytes) {
  overlapped->InternalHigh = bytes;
  __atomic_store_n(&overlapped->Internal, status, __ATOMIC_RELEASE);
}

}  // namespace

ULONG_PTR OverlappedStatus(const OVERLAPPED* overlapped) {
  return __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE);
}

DWORD ErrorFromStatus(ULONG_PTR status) {
  switch (status) {
    case kStatusSuccess:
    case kStatusNotifyEnumDir: return ERROR_SUCCESS;
    case kStatusObjectPathNotFound: return ERROR_PATH_NOT_FOUND;
    case kStatusNetworkNameDeleted: return ERROR_NETNAME_DELETED;
    case kStatusCancelled: return ERROR_OPERATION_ABORTED;
    default: return ERROR_GEN_FAILURE;
  }
}

bool ChangeRecords::Queue(DWORD action, const std::string& path, DWORD filter) {
  if ((filter & filter_) == 0 || overflow_) return true;
  std::u16string name = FileNameFromBytes(path);
  // Consecutive writes to one file make one record, as on the platform.
  if (action == FILE_ACTION_MODIFIED && !queue_.empty() && queue_.back().action == FILE_ACTION_MODIFIED &&
      queue_.back().name == name) {
    return true;
  }
  if (queue_.size() >= kMaxPendingRecords) {
    Lose();
    return false;
  }
  queue_.push_back(Record{action, std::move(name)});
  return true;
}

void ChangeRecords::Lose() {
  overflow_ = true;
  std::deque<Record>().swap(queue_);
}

void ChangeRecords::Break(DWORD error) {
  if (broken_ == ERROR_SUCCESS) broken_ = error;
}

void ChangeRecords::Fail(DWORD error) {
  std::deque<Record>().swap(queue_);
  overflow_ = false;
  Break(error);
}

DWORD ChangeRecords::Arm(PendingRead read) {
  if (pending_) return ERROR_INVALID_PARAMETER;  // one outstanding read per handle
  if (queue_.empty() && !overflow_ && broken_ != ERROR_SUCCESS) return broken_;
  StartOverlapped(read.overlapped);
  if (read.event) read.event->Reset();  // as the platform does when an I/O starts
  {
    std::lock_guard<std::mutex> guard(WaitLock());
    file_.SetSignalled(false);
  }
  pending_ = std::move(read);
  Deliver();
  return ERROR_SUCCESS;
}

void ChangeRecords::Cancel(DWORD thread) {
  if (pending_ && pending_->thread == thread) Finish(kStatusCancelled, 0);
}

void ChangeRecords::CancelAny() {
  if (pending_) Finish(kStatusCancelled, 0);
}

void ChangeRecords::Deliver() {
  if (!pending_) return;
  if (overflow_) {
    overflow_ = false;
    Finish(kStatusNotifyEnumDir, 0);
    return;
  }
  if (queue_.empty()) {
    if (broken_ != ERROR_SUCCESS) Finish(StatusFromError(broken_), 0);
    return;
  }
  // FILE_NOTIFY_INFORMATION records, each on a 4-byte boundary.
  constexpr size_t kHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  BYTE* const buffer = pending_->buffer;
  const size_t length = pending_->length;
  size_t offset = 0;
  size_t previous = 0;
  bool first = true;
  while (!queue_.empty()) {
    const Record& record = queue_.front();
    const DWORD name_bytes = static_cast<DWORD>(record.name.size() * sizeof(WCHAR));
    const size_t start = (offset + 3) & ~size_t{3};
    if (start + kHeader + name_bytes > length) break;
    if (!first) {
      const DWORD link = static_cast<DWORD>(start - previous);
      std::memcpy(buffer + previous + offsetof(FILE_NOTIFY_INFORMATION, NextEntryOffset), &link, sizeof link);
    }
    const DWORD header[3] = {0, record.action, name_bytes};
    std::memcpy(buffer + start, header, sizeof header);
    std::memcpy(buffer + start + kHeader, record.name.data(), name_bytes);
    previous = start;
    offset = start + kHeader + name_bytes;
    first = false;
    queue_.pop_front();
  }
  if (first) {
    // A record larger than the whole buffer: it can never be given, so the changes are lost.
    std::deque<Record>().swap(queue_);
    Finish(kStatusNotifyEnumDir, 0);
    return;
  }
  Finish(kStatusSuccess, static_cast<DWORD>(offset));
}

void ChangeRecords::Finish(ULONG_PTR status, DWORD bytes) {
  PendingRead read = std::move(*pending_);
  pending_.reset();
  FinishOverlapped(read.overlapped, status, bytes);
  if (read.event) read.event->Set();
  std::lock_guard<std::mutex> guard(WaitLock());
  file_.SetSignalled(true);
}

}  // namespace w32
