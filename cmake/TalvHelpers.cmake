# Every unit is included by its bare name ("uScanner.h", "pSystem.h"): all source folders are on the
# include path, so a header may name an interface of a folder that links later (an interface only).
add_library(talv_includes INTERFACE)
foreach(dir platform shared engine/base engine/dsp engine/radio engine/scan engine/audio engine/service engine/app plugin)
  target_include_directories(talv_includes INTERFACE ${PROJECT_SOURCE_DIR}/${dir})
endforeach()

# talv_library(NAME FOLDER [DEPS...]): a static library of every .cpp in FOLDER (and, for platform/, the
# backend of this target system). A folder with no sources yet gives an interface library.
function(talv_library name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  if(folder STREQUAL "platform")
    if(WIN32)
      file(GLOB backend CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/win32/*.cpp)
    else()
      file(GLOB backend CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/posix/*.cpp)
    endif()
    list(APPEND sources ${backend})
  endif()
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")  # a program's entry is not library code
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC talv_includes ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE talv_includes ${ARGN})
  endif()
endfunction()

# talv_test(NAME FOLDER LIB): one test program of every .cpp in tests/FOLDER, linked with LIB, the test
# support code and GoogleTest; each case becomes one CTest test (run under Wine on a cross build).
function(talv_test name folder lib)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${lib} talv_testsupport GTest::gtest_main)
  # Console and log lines write numbers with the user's decimal separator: the tests, which expect
  # the C locale's ".", run in it whatever the developer's locale is. Its UTF-8 form: under Wine the
  # plain "C" locale turns file names outside ASCII into ones the system cannot create.
  set(props TIMEOUT 300 LABELS ${folder} ENVIRONMENT LC_ALL=C.UTF-8)
  if(WIN32 AND folder STREQUAL "audio")
    # The audio tests open the real wave output under Wine's null sound device: they take turns, so
    # that one test's device cannot stand in another's way.
    list(APPEND props RESOURCE_LOCK wave_device)
  endif()
  if(WIN32 AND folder STREQUAL "plugin")
    # The plug-in tests own hidden host main windows (class "TTOTAL_CMD"), which every process on the
    # desktop can find: they take turns, so that one test's refresh never lands in another's window.
    list(APPEND props RESOURCE_LOCK host_window)
  endif()
  if(folder STREQUAL "service" OR folder STREQUAL "views")
    # Some service tests run the engine program itself, which serves the one shipped pipe name: the
    # service tests take turns so that two engines never meet on it; so does the views' test with the
    # real engine.
    list(APPEND props RESOURCE_LOCK engine_pipe)
  endif()
  if(folder STREQUAL "host")
    # The loaded plug-in talks to an engine on the shipped pipe name and posts to whichever "TTOTAL_CMD"
    # window it finds: its tests run alone.
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()
