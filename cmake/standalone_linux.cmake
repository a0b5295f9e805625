# Linux release binaries must run on a plain Debian 12: no libxml2, ICU or build packages. So
# the normal Linux build links libxml2 (with its liblzma and zlib), ICU's converter library and
# the C++ runtime statically and needs glibc alone. ICU's 30-MB data library is replaced by an
# empty one (status/linux/icu_stub_data.cpp): libxml2 reaches ICU only for encodings that glibc's
# iconv lacks. Sanitizer and fuzz builds keep the shared libraries.
# Defines bmc_libxml2, which status links.
find_package(LibXml2 REQUIRED)
add_library(bmc_libxml2 INTERFACE)

set(BMC_STANDALONE OFF)
if(NOT BMC_SANITIZE AND NOT BMC_FUZZ)
  find_library(BMC_LIBXML2_A NAMES libxml2.a)
  find_library(BMC_ICUUC_A NAMES libicuuc.a)
  find_library(BMC_LZMA_A NAMES liblzma.a)
  find_library(BMC_Z_A NAMES libz.a)
  if(BMC_LIBXML2_A AND BMC_ICUUC_A AND BMC_LZMA_A AND BMC_Z_A)
    set(BMC_STANDALONE ON)
  else()
    message(WARNING "Static libxml2, libicuuc, liblzma or libz missing: the binaries need the shared ones")
  endif()
endif()

if(BMC_STANDALONE)
  add_library(bmc_icu_stub_data STATIC ${PROJECT_SOURCE_DIR}/status/linux/icu_stub_data.cpp)
  bmc_strict(bmc_icu_stub_data)
  target_include_directories(bmc_libxml2 INTERFACE ${LIBXML2_INCLUDE_DIRS})
  # Link order: each archive before the ones it needs.
  target_link_libraries(bmc_libxml2 INTERFACE ${BMC_LIBXML2_A} ${BMC_ICUUC_A} bmc_icu_stub_data ${BMC_LZMA_A}
                                              ${BMC_Z_A} m)
  add_link_options(-static-libstdc++ -static-libgcc)
else()
  target_link_libraries(bmc_libxml2 INTERFACE LibXml2::LibXml2)
endif()
