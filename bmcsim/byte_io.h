#pragma once
#include "wire/byte_io.h"

namespace bmcsim {

using wire::ByteReader;
using wire::Bytes;
using wire::ByteWriter;

}  // namespace bmcsim
