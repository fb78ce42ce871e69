// The decoding of change records, on hand-built buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "monitor/change_notice.h"
#include "monitor/decode_changes.h"

namespace device {
namespace {

struct Notice {
  std::u16string kind, name, second;
  bool operator==(const Notice& other) const {
    return kind == other.kind && name == other.name && second == other.second;
  }
};

std::ostream& operator<<(std::ostream& out, const Notice& notice) {
  auto narrow = [](const std::u16string& text) { return std::string(text.begin(), text.end()); };
  return out << narrow(notice.kind) << "(" << narrow(notice.name) << ", " << narrow(notice.second) << ")";
}

struct Record {
  DWORD action;
  std::u16string name;
  DWORD link = 0;  // 0: the platform's own link to the next record (or 0 for the last)
};

// Records in the platform's layout: 4-byte aligned, each linked to the next.
std::vector<BYTE> Build(const std::vector<Record>& records) {
  std::vector<BYTE> buffer;
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t start = buffer.size();
    const DWORD name_bytes = static_cast<DWORD>(records[i].name.size() * 2);
    const size_t size = (12 + name_bytes + 3) & ~size_t{3};
    buffer.resize(start + size);
    const DWORD link = records[i].link != 0 ? records[i].link : i + 1 < records.size() ? static_cast<DWORD>(size) : 0;
    const DWORD header[3] = {link, records[i].action, name_bytes};
    std::memcpy(&buffer[start], header, sizeof header);
    std::memcpy(&buffer[start + 12], records[i].name.data(), name_bytes);
  }
  return buffer;
}

// Decodes one batch after those that left `halves`; the notices it made.
std::vector<Notice> Decode(const std::vector<BYTE>& buffer, RenameHalves& halves, bool* accepted = nullptr) {
  std::vector<Notice> notices;
  const bool ok = DecodeChanges(buffer.data(), buffer.size(), halves,
                                [&](const WCHAR* kind, const std::u16string& name, const std::u16string& second) {
                                  notices.push_back({kind, name, second});
                                });
  if (accepted != nullptr) *accepted = ok;
  return notices;
}

Notice Add(const std::u16string& name) { return {u"Add", name, u""}; }
Notice Remove(const std::u16string& name) { return {u"Remove", name, u""}; }
Notice Modify(const std::u16string& name) { return {u"Modify", name, u""}; }
Notice Rename(const std::u16string& new_name, const std::u16string& old_name) { return {u"Rename", new_name, old_name}; }

// A batch of several records whose first has an implausible link or action is
// dropped whole; a single record (link 0) is always decoded. Records, names and
// links that reach past the end end the walk there (tests/fuzz tries the rest).
TEST(DecodeChanges, RecordsTheFirstRecordCheckAndTheBufferEnd) {
  std::vector<BYTE> name_past_end = Build({{1, u"a"}, {1, u"bb"}});
  name_past_end[name_past_end.size() - 12 - 4 + 8] = 200;  // the second record's name length
  std::vector<BYTE> odd_length = Build({{1, u"ab"}});
  odd_length[8] = 3;  // one and a half characters
  const struct {
    const char* what;
    std::vector<BYTE> buffer;
    bool accepted;
    std::vector<Notice> notices;
  } cases[] = {
      {"each action in record order, unknown ones skipped",
       Build({{1, u"a.txt"}, {3, u"sub/b"}, {2, u"c"}, {9, u"skipped"}, {1, u"\u00e9t\u00e9"}}), true,
       {Add(u"a.txt"), Modify(u"sub/b"), Remove(u"c"), Add(u"\u00e9t\u00e9")}},
      {"link past 64 KiB", Build({{1, u"a", 0x10004}, {1, u"b"}}), false, {}},
      {"action above 15", Build({{16, u"a"}, {1, u"b"}}), false, {}},
      {"action 15 is only skipped", Build({{15, u"a"}, {1, u"b"}}), true, {Add(u"b")}},
      {"link of exactly 64 KiB is believed", Build({{1, u"a", 0x10000}, {1, u"b"}}), true, {Add(u"a")}},
      {"single record, wild action", Build({{0xFFFFFFFF, u"a"}}), true, {}},
      {"single record", Build({{2, u"a"}}), true, {Remove(u"a")}},
      {"a link past the end", Build({{1, u"a", 4000}}), true, {Add(u"a")}},
      {"a name reaching past the end", name_past_end, true, {Add(u"a")}},
      {"an odd name length takes whole characters", odd_length, true, {Add(u"a")}},
      {"shorter than a record header", std::vector<BYTE>(11, 0xFF), true, {}},
      {"empty", {}, true, {}},
  };
  for (const auto& c : cases) {
    RenameHalves halves;
    bool accepted = !c.accepted;
    EXPECT_EQ(Decode(c.buffer, halves, &accepted), c.notices) << c.what;
    EXPECT_EQ(accepted, c.accepted) << c.what;
  }
}

TEST(DecodeChanges, RenamePairing) {
  const struct {
    const char* what;
    std::vector<std::vector<Record>> batches;
    std::vector<Notice> notices;  // of all batches together
  } cases[] = {
      {"old then new", {{{4, u"x"}, {5, u"y"}}}, {Rename(u"y", u"x")}},
      {"new then old", {{{5, u"y"}, {4, u"x"}}}, {Rename(u"y", u"x")}},
      {"across two batches", {{{1, u"a"}, {4, u"x"}}, {{5, u"y"}, {1, u"b"}}},
       {Add(u"a"), Rename(u"y", u"x"), Add(u"b")}},
      {"a second old name replaces the first", {{{4, u"x1"}, {4, u"x2"}, {5, u"y"}}}, {Rename(u"y", u"x2")}},
      {"an empty half never completes a pair", {{{4, u""}, {5, u"y"}}, {{4, u"x"}}}, {Rename(u"y", u"x")}},
      {"two renames in a row", {{{4, u"a"}, {5, u"b"}, {4, u"c"}, {5, u"d"}}},
       {Rename(u"b", u"a"), Rename(u"d", u"c")}},
      {"a lone half waits", {{{4, u"x"}, {1, u"z"}}}, {Add(u"z")}},
      {"a dropped batch leaves the halves alone", {{{4, u"old"}}, {{5, u"new", 0x20000}, {5, u"other"}}, {{5, u"new"}}},
       {Rename(u"new", u"old")}},
  };
  for (const auto& c : cases) {
    RenameHalves halves;
    std::vector<Notice> all;
    for (const auto& batch : c.batches) {
      const std::vector<Notice> notices = Decode(Build(batch), halves);
      all.insert(all.end(), notices.begin(), notices.end());
    }
    EXPECT_EQ(all, c.notices) << c.what;
  }
}

}  // namespace
}  // namespace device
