#include <gtest/gtest.h>

#include <cstring>

#include "platform/files.h"
#include "platform/testing/memory_console.h"
#include "status/package_files.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

struct VersionCase {
  const char* name;
  const char* content;  // nullptr: no ExUpInfo.xml
  int result;
  const char* version;
};

TEST(ReadExUpInfoVersion, OutcomesForTheDescriptorsTheManagerMayLeave) {
  const VersionCase cases[] = {
      {"plain", "<?xml version='1.0'?><ExUpInfo><version>01.05</version></ExUpInfo>", 0, "01.05"},
      {"nested deep, first in document order wins",
       "<ExUpInfo><pkg><fw><version>2.10</version></fw></pkg><version>9.99</version></ExUpInfo>", 0, "2.10"},
      {"text of all descendants", "<a><version>0<b>1</b>.0<![CDATA[7]]></version></a>", 0, "01.07"},
      {"layout around the text", "<a>\n  <version>\n    01.05\n  </version>\n</a>\n", 0, "01.05"},
      {"only whitespace", "<a><version>\n  </version></a>", -4, ""},
      {"one character", "<a><version>7</version></a>", 0, "7"},
      {"missing", nullptr, -2, ""},
      {"empty file", "", -2, ""},
      {"not well-formed", "<ExUpInfo><version>01.05</ExUpInfo>", -2, ""},
      {"no version element", "<ExUpInfo><name>x</name></ExUpInfo>", -3, ""},
      {"the document element itself does not count", "<version>01.05</version>", -3, ""},
      {"empty version", "<ExUpInfo><version></version></ExUpInfo>", -4, ""},
      {"empty version element", "<ExUpInfo><version/></ExUpInfo>", -4, ""},
      {"six characters are not cut", "<ExUpInfo><version>01.050</version></ExUpInfo>", -4, ""},
      {"long text", "<ExUpInfo><version>01.05.0001-beta</version></ExUpInfo>", -4, ""},
  };
  for (const VersionCase& c : cases) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDir cwd(dir.path());
    if (c.content) testsupport::WriteFile(dir.File("ExUpInfo.xml"), c.content);
    char out[8];
    std::memset(out, 'Z', sizeof out);
    platform::MemoryConsole console;
    EXPECT_EQ(ReadExUpInfoVersion(out, console), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_STREQ(out, c.version) << c.name;
    }
    EXPECT_EQ(out[6], 'Z') << c.name;  // at most six bytes are delivered
    EXPECT_EQ(out[7], 'Z') << c.name;
    EXPECT_EQ(console.Output(), "") << c.name;
  }
}

// A descriptor with a document type is refused as unreadable on both sides; what its entities
// point at never becomes the version.
TEST(ReadExUpInfoVersion, DocumentTypeIsRefusedAndItsEntitiesNeverFollowed) {
  const struct {
    const char* name;
    const char* content;
  } cases[] = {
      {"internal subset",
       "<?xml version='1.0'?><!DOCTYPE ExUpInfo [<!ELEMENT ExUpInfo "
       "ANY>]><ExUpInfo><version>01.05</version></ExUpInfo>"},
      {"internal entity",
       "<!DOCTYPE ExUpInfo [<!ENTITY v '01.05'>]><ExUpInfo><version>&v;</version></ExUpInfo>"},
      {"external entity naming a file that exists",
       "<!DOCTYPE ExUpInfo [<!ENTITY v SYSTEM 'secret.txt'>]><ExUpInfo><version>&v;</version></ExUpInfo>"},
      {"parameter entity",
       "<!DOCTYPE ExUpInfo [<!ENTITY % p SYSTEM 'secret.dtd'> "
       "%p;]><ExUpInfo><version>&v;</version></ExUpInfo>"},
      {"external subset",
       "<!DOCTYPE ExUpInfo SYSTEM 'secret.dtd'><ExUpInfo><version>&v;</version></ExUpInfo>"},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDir cwd(dir.path());
    testsupport::WriteFile(dir.File("secret.txt"), "07.77");
    testsupport::WriteFile(dir.File("secret.dtd"), "<!ENTITY v '07.77'>");
    testsupport::WriteFile(dir.File("ExUpInfo.xml"), c.content);
    char out[8];
    std::memset(out, 'Z', sizeof out);
    platform::MemoryConsole console;
    EXPECT_EQ(ReadExUpInfoVersion(out, console), -2) << c.name;
    EXPECT_EQ(std::string(out, sizeof out), std::string(8, 'Z')) << c.name;
    EXPECT_EQ(console.Output(), "") << c.name;
  }
}

std::string Parents(int levels) {
  std::string prefix;
  for (int i = 0; i < levels; ++i) prefix += platform::ParentPrefix();
  return prefix;
}

TEST(LocateResultDir, FindsTheNearestDirectoryAboveThatHoldsTheDescriptor) {
  const struct {
    std::vector<const char*> descriptorsIn;  // relative to the package root
    std::string expected;
  } cases[] = {
      {{"pkg/sdr/work"}, ""},           {{"pkg/sdr"}, Parents(1)},     {{"pkg"}, Parents(2)},
      {{"pkg", "pkg/sdr"}, Parents(1)}, {{"pkg/sdr/work/deeper"}, ""}, {{}, ""},
  };
  for (const auto& c : cases) {
    testsupport::TempDir dir;
    std::string work = dir.File("pkg");
    ASSERT_TRUE(platform::MakeDirectory(work));
    for (const char* sub : {"sdr", "work", "deeper"}) {
      work = platform::JoinPath(work, sub);
      ASSERT_TRUE(platform::MakeDirectory(work));
    }
    for (const char* where : c.descriptorsIn) {
      testsupport::WriteFile(dir.File(std::string(where) + "/ExUpInfo.xml"), "<ExUpInfo/>");
    }
    testsupport::ScopedCurrentDir cwd(dir.File("pkg/sdr/work"));
    EXPECT_EQ(LocateResultDir(), c.expected) << (c.descriptorsIn.empty() ? "none" : c.descriptorsIn.back());
  }
}

}  // namespace
}  // namespace status
