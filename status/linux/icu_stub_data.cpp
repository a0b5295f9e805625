// ICU's data library (libicudata, ~30 MB) replaced by an empty table of contents, the way
// ICU's own "stubdata" build does it. libxml2 asks ICU only for a converter that neither it
// nor iconv has; without the data such a converter fails to open and libxml2 reports the
// encoding as unsupported. Linked only into the statically linked Linux builds.
#include <unicode/udata.h>
#include <unicode/utypes.h>

namespace {

// The common-data header ICU checks before it looks anything up (ICU's ucmndata.h).
struct StubDataHeader {
  uint16_t headerSize;
  uint8_t magic1;
  uint8_t magic2;
  UDataInfo info;
  char padding[8];
  uint32_t count;
  uint32_t reserved;
  uint32_t toc[4];
};

}  // namespace

extern "C" U_EXPORT const StubDataHeader U_ICUDATA_ENTRY_POINT;
extern "C" U_EXPORT const StubDataHeader U_ICUDATA_ENTRY_POINT = {
    32,
    0xda,
    0x27,
    {sizeof(UDataInfo),
     0,
     U_IS_BIG_ENDIAN,
     U_CHARSET_FAMILY,
     U_SIZEOF_UCHAR,
     0,
     {0x54, 0x6f, 0x43, 0x50},  // "ToCP"
     {1, 0, 0, 0},
     {0, 0, 0, 0}},
    {0, 0, 0, 0, 0, 0, 0, 0},
    0,  // no entries
    0,
    {0, 0, 0, 0},
};
