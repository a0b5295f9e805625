#include <gtest/gtest.h>

#include <cstring>

#include "platform/files.h"
#include "platform/testing/memory_console.h"
#include "status/package_files.h"
#include "status/xml_document.h"
#include "tests/support/temp_dir.h"

namespace status {
namespace {

// A descriptor with a document type is refused as unreadable on both sides; what its entities
// point at never becomes the version.
TEST(ReadFirstElementText, DocumentTypeIsRefusedAndItsEntitiesNeverFollowed) {
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
    std::string text = "untouched";
    platform::MemoryConsole console;
    EXPECT_EQ(ReadFirstElementText("ExUpInfo.xml", "version", &text, console), XmlTextResult::kNotLoaded)
        << c.name;
    EXPECT_EQ(text, "untouched") << c.name;
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
