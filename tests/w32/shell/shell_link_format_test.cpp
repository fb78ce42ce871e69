// The shell link reader against the published sample of the format, and
// against links cut short or pointing outside themselves.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "shell/shell_link_format.h"

namespace {

std::vector<uint8_t> Sample(const char* name) {
  std::ifstream in(std::string(LINK_SAMPLES) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(ShellLinkFormat, ReadsThePublishedSample) {
  const std::vector<uint8_t> bytes = Sample("file_in_folder");
  ASSERT_EQ(bytes.size(), 459u);
  const auto link = w32::ReadShellLink(bytes.data(), bytes.size());
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->location, u"C:\\test\\a.txt");
  EXPECT_EQ(link->attributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(link->description, u"");
  EXPECT_EQ(link->raw_target, u"");
  EXPECT_EQ(link->drive_type, static_cast<DWORD>(DRIVE_FIXED));
  EXPECT_EQ(link->serial, 0x307A8A81u);
  EXPECT_EQ(link->label, u"");
}

// The target's volume as VolumeID holds it: a label outside ASCII in its unicode form.
TEST(ShellLinkFormat, TheVolumeOfTheTargetIsKept) {
  for (const std::u16string label : {u"", u"STICK", u"Fotos \u00dcbersicht"}) {
    w32::ShellLinkData link;
    link.location = u"E:\\DCIM\\a.jpg";
    link.drive_type = DRIVE_REMOVABLE;
    link.serial = 0xC3D2E1F0;
    link.label = label;
    const std::vector<uint8_t> bytes = w32::WriteShellLink(link);
    const auto read = w32::ReadShellLink(bytes.data(), bytes.size());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->location, link.location);
    EXPECT_EQ(read->drive_type, static_cast<DWORD>(DRIVE_REMOVABLE));
    EXPECT_EQ(read->serial, 0xC3D2E1F0u);
    EXPECT_EQ(read->label, label);
  }
}

TEST(ShellLinkFormat, EveryCutOfTheSampleIsRefusedOrRead) {
  const std::vector<uint8_t> bytes = Sample("file_in_folder");
  for (size_t size = 0; size < bytes.size(); ++size) {
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + size);
    const auto link = w32::ReadShellLink(cut.data(), cut.size());
    // Until the strings are whole, nothing reads; after, the target is whole.
    if (size < 0x166) {
      EXPECT_FALSE(link.has_value()) << size;
    } else if (link) {
      EXPECT_EQ(link->location, u"C:\\test\\a.txt") << size;
    }
  }
}

TEST(ShellLinkFormat, TheItemListAloneGivesTheTarget) {
  std::vector<uint8_t> bytes = Sample("file_in_folder");
  bytes[0x14] &= static_cast<uint8_t>(~0x02);  // no link info
  bytes.erase(bytes.begin() + 0x10B, bytes.begin() + 0x10B + 0x3C);
  const auto link = w32::ReadShellLink(bytes.data(), bytes.size());
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->location, u"C:\\test\\a.txt");
}

TEST(ShellLinkFormat, OffsetsOutsideTheLinkInfoAreRefused) {
  for (size_t field : {0x10u, 0x18u}) {  // local base path, common path suffix
    std::vector<uint8_t> bytes = Sample("file_in_folder");
    bytes[0x10B + field] = 0xF0;
    EXPECT_FALSE(w32::ReadShellLink(bytes.data(), bytes.size()).has_value()) << field;
  }
}

}  // namespace
