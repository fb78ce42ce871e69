#include "monitor/decode_changes.h"

#include <cstring>

#include "monitor/change_notice.h"

namespace device {
namespace {

constexpr size_t kHeaderSize = offsetof(FILE_NOTIFY_INFORMATION, FileName);
// What a first record may hold for its batch to be believed.
constexpr DWORD kMaxFirstLink = 0x10000;
constexpr DWORD kMaxFirstAction = 15;

struct RecordHeader {
  DWORD next;
  DWORD action;
  DWORD name_bytes;
};

RecordHeader ReadHeader(const BYTE* record) {
  RecordHeader header;
  std::memcpy(&header.next, record + offsetof(FILE_NOTIFY_INFORMATION, NextEntryOffset), sizeof(DWORD));
  std::memcpy(&header.action, record + offsetof(FILE_NOTIFY_INFORMATION, Action), sizeof(DWORD));
  std::memcpy(&header.name_bytes, record + offsetof(FILE_NOTIFY_INFORMATION, FileNameLength), sizeof(DWORD));
  return header;
}

}  // namespace

bool DecodeChanges(const BYTE* buffer, size_t size, RenameHalves& halves, const NoticeSink& post) {
  if (size < kHeaderSize) return true;
  const RecordHeader first = ReadHeader(buffer);
  if (first.next != 0 && (first.next > kMaxFirstLink || first.action > kMaxFirstAction)) return false;
  for (size_t offset = 0; size - offset >= kHeaderSize;) {
    const RecordHeader record = ReadHeader(buffer + offset);
    if (record.name_bytes > size - offset - kHeaderSize) break;
    std::u16string name(record.name_bytes / sizeof(WCHAR), u'\0');
    std::memcpy(name.data(), buffer + offset + kHeaderSize, name.size() * sizeof(WCHAR));
    switch (record.action) {
      case FILE_ACTION_ADDED: post(kNoticeAdd, name, u""); break;
      case FILE_ACTION_REMOVED: post(kNoticeRemove, name, u""); break;
      case FILE_ACTION_MODIFIED: post(kNoticeModify, name, u""); break;
      case FILE_ACTION_RENAMED_OLD_NAME: halves.old_name = std::move(name); break;
      case FILE_ACTION_RENAMED_NEW_NAME: halves.new_name = std::move(name); break;
      default: break;
    }
    const bool rename_half =
        record.action == FILE_ACTION_RENAMED_OLD_NAME || record.action == FILE_ACTION_RENAMED_NEW_NAME;
    if (rename_half && !halves.old_name.empty() && !halves.new_name.empty()) {
      post(kNoticeRename, halves.new_name, halves.old_name);
      halves.old_name.clear();
      halves.new_name.clear();
    }
    if (record.next == 0 || record.next > size - offset) break;
    offset += record.next;
  }
  return true;
}

}  // namespace device
