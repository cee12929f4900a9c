# Test harness shared by the three builds.
#
#   vl_add_test(NAME SOURCES ... [LIBS ...] [PORTS N ...])
#       A GoogleTest program. Native builds run it directly (under the
#       sanitizers); Windows builds run it under Wine in the build's own
#       throw-away prefix. The ctest name starts with the build: native:,
#       win64:, win32:. PORTS: pty-backed COM ports comN exist while it runs
#       (tools/serialdevice); each test program uses numbers of its own.
#   vl_gtest_entry(TEST TARGET [ARGS ...])
#       One more ctest entry TEST for the GoogleTest program TARGET, run
#       with ARGS as vl_add_test runs it.
#   vl_add_script_test(NAME COMMAND ... [WINE] [PASS REGEX])
#       A test run on the Linux side (Python, shell). WINE makes it wait for
#       the prefix and hands it VL_WINE_PREFIX, VL_WINE_RUN, VL_BIN_DIR and
#       VL_TOOLS_BIN_DIR. PASS: the line it prints when all went well.
#
# A test passes only when its program exited with 0 and printed its pass
# line (GoogleTest's summary of one test or more, or the script's PASS; a
# script without one, by its exit code alone). ctest's pass expression
# replaces its exit-code check, so every test runs through
# cmake/exited-cleanly, which prints a line of its own after the program's
# output only on exit code 0, and the expression asks for both: a program
# that prints its summary and then crashes (a static destructor, a DLL
# detach under Wine) fails, and so does one that never ran (an i686 program
# under a Wine without its 32-bit side exits 0 silently). tests/harness
# shows the rule failing through these helpers.
#
# The win32 build's Windows-side tests are reported skipped where the kernel
# runs no 32-bit programs (some machines' kernels refuse them) or where apt
# refused Wine's 32-bit side to tools/deps: each starts through
# cmake/needs-32bit, which asks the kernel with a tiny i386 program and reads
# deps' record when the test starts. Everywhere else they run, and fail when
# Wine's 32-bit side is missing or broken.
#
# The stand-ins for the outside world (serial device, host application,
# spreadsheet application) stay 64-bit: the win32 build's tests use the ones
# in VL_TOOLS_BIN_DIR, the win64 build's bin folder. Both Windows kinds of
# test get VL_TOOLS_BIN_DIR (a Unix path) in their environment.
enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# The skip (cmake/needs-32bit): any line that begins "skipped: ".
set(VL_SKIPPED "(^|\n)skipped: ")
set(VL_EXITED_CLEANLY ${CMAKE_SOURCE_DIR}/cmake/exited-cleanly)

# GoogleTest from Debian's googletest sources, built by each build with its
# own compiler and flags.
set(VL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(VL_TESTS)
  add_subdirectory(${VL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
endif()

if(WIN32)
  set(VL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(VL_WINE_RUN ${CMAKE_SOURCE_DIR}/tools/wine/run)
  set(VL_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
  if(VL_PLATFORM STREQUAL win32)
    set(VL_WINE_GUARD ${CMAKE_SOURCE_DIR}/cmake/needs-32bit ${CMAKE_SOURCE_DIR}/build/32bit)
  else()
    set(VL_WINE_GUARD "")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VL_WINE_GUARD} ${VL_WINE_RUN} ${VL_WINE_PREFIX})
  if(VL_PLATFORM STREQUAL win32)
    set(VL_TOOLS_BIN_DIR ${CMAKE_SOURCE_DIR}/build/win64/bin CACHE PATH
        "bin folder of the win64 build, whose 64-bit test tools the win32 tests use")
  else()
    set(VL_TOOLS_BIN_DIR ${VL_BIN_DIR})
  endif()
  set(VL_WINE_TEST_ENV
      "VL_WINE_PREFIX=${VL_WINE_PREFIX};VL_WINE_RUN=${VL_WINE_RUN};VL_BIN_DIR=${VL_BIN_DIR};VL_TOOLS_BIN_DIR=${VL_TOOLS_BIN_DIR};VL_PLATFORM=${VL_PLATFORM}")

  add_test(NAME ${VL_PLATFORM}:wine-prefix-create
           COMMAND ${VL_WINE_GUARD} ${CMAKE_SOURCE_DIR}/tools/wine/prefix create ${VL_WINE_PREFIX})
  add_test(NAME ${VL_PLATFORM}:wine-prefix-remove
           COMMAND ${VL_WINE_GUARD} ${CMAKE_SOURCE_DIR}/tools/wine/prefix remove ${VL_WINE_PREFIX})
  set_tests_properties(${VL_PLATFORM}:wine-prefix-create PROPERTIES FIXTURES_SETUP wine
    SKIP_REGULAR_EXPRESSION "${VL_SKIPPED}")
  set_tests_properties(${VL_PLATFORM}:wine-prefix-remove PROPERTIES FIXTURES_CLEANUP wine
    SKIP_REGULAR_EXPRESSION "${VL_SKIPPED}")
endif()

set(VL_GTEST_PASSED "\\[  PASSED  \\] [1-9][0-9]* tests?\\.")
set(VL_GTEST_FAILED "\\[  FAILED  \\]")

# The pass rule: the program's pass line, then exited-cleanly's. A ";" would
# split the expression into a list, any one of which passes the test alone.
function(vl_pass_after test pass_line)
  if(pass_line MATCHES ";")
    message(FATAL_ERROR "${test}: a pass line must hold no \";\": ${pass_line}")
  endif()
  set_tests_properties(${test} PROPERTIES
    PASS_REGULAR_EXPRESSION "${pass_line}.*exited-cleanly: exit code 0\n")
endfunction()

function(vl_gtest_entry test target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ARGS;HOLDER")
  if(WIN32)
    set(wine ${VL_WINE_GUARD} ${arg_HOLDER} ${VL_WINE_RUN} ${VL_WINE_PREFIX})
  endif()
  add_test(NAME ${test} COMMAND ${VL_EXITED_CLEANLY} ${wine} $<TARGET_FILE:${target}> ${arg_ARGS})
  vl_pass_after(${test} "${VL_GTEST_PASSED}")
  set_tests_properties(${test} PROPERTIES FAIL_REGULAR_EXPRESSION "${VL_GTEST_FAILED}")
  if(WIN32)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine
      ENVIRONMENT "${VL_WINE_TEST_ENV}" SKIP_REGULAR_EXPRESSION "${VL_SKIPPED}")
  endif()
endfunction()

function(vl_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS;PORTS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gmock GTest::gtest_main)
  set(holder)
  if(arg_PORTS)
    set(holder ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/serialdevice/serialdevice.py
               hold --prefix ${VL_WINE_PREFIX})
    foreach(port IN LISTS arg_PORTS)
      list(APPEND holder --port ${port})
    endforeach()
    list(APPEND holder --)
  endif()
  vl_gtest_entry(${VL_PLATFORM}:${name} ${name} HOLDER ${holder})
endfunction()

function(vl_add_script_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "WINE" "PASS" "COMMAND")
  set(test ${VL_PLATFORM}:${name})
  if(arg_WINE)
    add_test(NAME ${test} COMMAND ${VL_EXITED_CLEANLY} ${VL_WINE_GUARD} ${arg_COMMAND})
    set_tests_properties(${test} PROPERTIES
      FIXTURES_REQUIRED wine
      ENVIRONMENT "${VL_WINE_TEST_ENV}"
      SKIP_REGULAR_EXPRESSION "${VL_SKIPPED}")
  else()
    add_test(NAME ${test} COMMAND ${VL_EXITED_CLEANLY} ${arg_COMMAND})
  endif()
  if(arg_PASS)
    vl_pass_after(${test} "${arg_PASS}")
  endif()
endfunction()

# Deliverables: programs and DLLs that go to a user's PC. The binary check
# (tests/build) reads their import tables, exports and resources.
function(vl_deliverable target)
  set_property(GLOBAL APPEND PROPERTY VL_DELIVERABLES ${target})
endfunction()

# A libFuzzer target (native Clang builds):
#   vl_add_fuzz_target(NAME SECONDS n SOURCES ... [LIBS ...] [DEFINES ...])
# ctest fuzzes it for n seconds (VL_FUZZ_SECONDS in the environment, if set,
# for every target: `make fuzz`) over the committed seeds in NAME_corpus
# beside its sources; new inputs go to the build's own NAME_corpus. It
# passes on libFuzzer's closing line and a clean exit after it: a crash or a
# failed check is a find, to be fixed and its input committed as a seed.
function(vl_add_fuzz_target name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SECONDS" "SOURCES;LIBS;DEFINES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS})
  target_compile_definitions(${name} PRIVATE ${arg_DEFINES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  add_dependencies(fuzz_targets ${name})
  add_test(NAME native:${name}
    COMMAND sh -c "mkdir -p \"$0_corpus\" && \"$0\" -max_total_time=\${VL_FUZZ_SECONDS:-$1} \
-timeout=10 -print_final_stats=1 \"$0_corpus\" \"$2\" && echo \"$0: fuzzing ended cleanly\" >&2"
            $<TARGET_FILE:${name}> ${arg_SECONDS} ${CMAKE_CURRENT_SOURCE_DIR}/${name}_corpus)
  set_tests_properties(native:${name} PROPERTIES LABELS fuzz
    PASS_REGULAR_EXPRESSION "Done [0-9]+ runs in [0-9]+ second.*: fuzzing ended cleanly")
endfunction()
