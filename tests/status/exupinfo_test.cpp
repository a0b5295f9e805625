#include <gtest/gtest.h>

#include <cstring>

#include "platform/files.h"
#include "platform/testing/memory_console.h"
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

}  // namespace
}  // namespace status
