# tarvo_add_gtest(NAME name SOURCES s... [LIBS l...] [FIXTURES f...] [LABELS l...]
#                 [RUN_SERIAL] [PROCESSORS n] [TIMEOUT s] [COST c])
# One executable per call; every test case is registered with ctest on its own.
find_package(GTest REQUIRED)
include(GoogleTest)

function(tarvo_add_gtest)
  cmake_parse_arguments(T "RUN_SERIAL" "NAME;PROCESSORS;TIMEOUT;COST" "SOURCES;LIBS;FIXTURES;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tarvo_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  set(props "")
  if(T_FIXTURES)
    list(APPEND props FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_RUN_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(T_PROCESSORS)
    list(APPEND props PROCESSORS ${T_PROCESSORS})
  endif()
  if(T_COST)
    # A higher cost starts the test earlier, so a long one overlaps the rest.
    list(APPEND props COST ${T_COST})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  list(APPEND props TIMEOUT ${T_TIMEOUT})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()
