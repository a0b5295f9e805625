# The release archive of this build (./dev.sh package runs cpack): the product binaries at the
# top, the sim flavour with bmcsim in rehearsal/, two example update packages and the user
# guide, all under one folder named after the release. Linux gets a .tar.gz, Windows a .zip.
if(WIN32)
  set(BMC_PACKAGE_SYSTEM windows-x64)
  set(CPACK_GENERATOR ZIP)
else()
  set(BMC_PACKAGE_SYSTEM linux-x86_64)
  set(CPACK_GENERATOR TGZ)
endif()

if(WIN32)
  # A version resource per program, from the versions in the top CMakeLists.txt.
  enable_language(RC)
  function(bmc_version_resource name version description)
    set(RC_NAME ${name})
    set(RC_VERSION ${version})
    set(RC_DESCRIPTION ${description})
    # "1.07" -> 1,7,0,0: the resource compiler reads a leading zero as octal.
    string(REPLACE "." ";" parts "${version}.0.0.0")
    list(SUBLIST parts 0 4 parts)
    set(numbers)
    foreach(part IN LISTS parts)
      math(EXPR part "${part} + 0")
      list(APPEND numbers ${part})
    endforeach()
    list(JOIN numbers "," RC_FILE_VERSION)
    set(RC_PRODUCT_VERSION "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version_resource.rc.in ${CMAKE_BINARY_DIR}/generated/${name}.rc @ONLY)
    foreach(target IN LISTS ARGN)
      target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated/${name}.rc)
    endforeach()
  endfunction()
  bmc_version_resource(veltrop ${BMC_VELTROP_VERSION} "SDR Online Update Tool" veltrop veltrop_sim)
  bmc_version_resource(Korvane ${BMC_KORVANE_VERSION} "BMCFW Online Update Tool" Korvane Korvane_sim)
  bmc_version_resource(bmcsim ${PROJECT_VERSION} "Simulated BMC" bmcsim)
endif()

install(TARGETS veltrop Korvane RUNTIME DESTINATION .)
install(TARGETS veltrop_sim Korvane_sim bmcsim RUNTIME DESTINATION rehearsal)
install(FILES docs/user-guide.md DESTINATION . RENAME USER-GUIDE.md)
# An SDR package: ExUpInfo.xml on top (result files go there), veltrop's inputs one level down.
install(FILES examples/sdr-package/ExUpInfo.xml DESTINATION examples/sdr-package)
install(FILES examples/sdr-package/sdr/mchk_fil examples/bmcsdr_v1.sdr examples/bmcsdr_v2.sdr
              examples/bmcsdr_tagged.sdr examples/SVR0100.CFG examples/program_and_check.cfg
        DESTINATION examples/sdr-package/sdr)
# A firmware package without its image: bmcfw.bin and Korvane are put beside these files.
install(FILES examples/fw-package/ExUpInfo.xml examples/fw-package/mchk_fil DESTINATION examples/fw-package)

set(CPACK_PACKAGE_NAME bmc-online-update)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME bmc-online-update-${PROJECT_VERSION}-${BMC_PACKAGE_SYSTEM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
