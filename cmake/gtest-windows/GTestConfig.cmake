# find_package(GTest) in the Windows build: the GoogleTest targets are built from
# source with the cross compiler (cmake/Windows.cmake), so there is nothing to find.
if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
  set(GTest_FOUND TRUE)
else()
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "the Windows build defines the GoogleTest targets in cmake/Windows.cmake")
endif()
