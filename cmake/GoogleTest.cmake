# GoogleTest comes from Debian's packages: the installed libraries for the
# Linux builds, and for the Windows builds the sources that Debian's
# googletest package installs under /usr/src/googletest, compiled once per
# build tree with the cross compiler.
if(CRX_WINDOWS)
  set(CRX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${CRX_GTEST_SOURCE_DIR}/googletest/src/gtest-all.cc)
    message(FATAL_ERROR "GoogleTest sources not found in ${CRX_GTEST_SOURCE_DIR} "
                        "(install Debian's googletest package)")
  endif()
  add_library(crx_gtest STATIC
    ${CRX_GTEST_SOURCE_DIR}/googletest/src/gtest-all.cc
    ${CRX_GTEST_SOURCE_DIR}/googlemock/src/gmock-all.cc)
  target_include_directories(crx_gtest SYSTEM PUBLIC
    ${CRX_GTEST_SOURCE_DIR}/googletest/include
    ${CRX_GTEST_SOURCE_DIR}/googlemock/include)
  target_include_directories(crx_gtest PRIVATE
    ${CRX_GTEST_SOURCE_DIR}/googletest
    ${CRX_GTEST_SOURCE_DIR}/googlemock)
  add_library(crx_gtest_main STATIC ${CRX_GTEST_SOURCE_DIR}/googletest/src/gtest_main.cc)
  target_link_libraries(crx_gtest_main PUBLIC crx_gtest)
else()
  find_package(GTest REQUIRED)
  add_library(crx_gtest_main INTERFACE)
  target_link_libraries(crx_gtest_main INTERFACE GTest::gtest_main GTest::gmock)
endif()
