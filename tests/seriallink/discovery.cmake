# ComPort's tests. Included by this folder's CMakeLists.txt.
#
# The expected messages are made by Python's cp932 codec from the texts
# themselves, apart from the library's own constants.
set(discovery_expected ${CMAKE_CURRENT_BINARY_DIR}/discovery_expected/discovery_expected.h)
add_custom_command(OUTPUT ${discovery_expected}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/discovery_messages.py
          ${discovery_expected}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/discovery_messages.py
  VERBATIM)

if(NOT WIN32)
  vl_add_test(discovery_tests
    SOURCES discovery_test.cpp discovery_fake.cpp ${discovery_expected}
    LIBS seriallink_logic)
  target_include_directories(discovery_tests PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/discovery_expected)

  # The walk under libFuzzer; the logic is compiled in again so that the
  # fuzzer sees its coverage. `make fuzz SECONDS=n` runs it longer.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(discovery_fuzz discovery_fuzz.cpp discovery_fake.cpp
      ${PROJECT_SOURCE_DIR}/seriallink/discovery.cpp ${PROJECT_SOURCE_DIR}/seriallink/version.cpp)
    target_include_directories(discovery_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/seriallink)
    target_compile_options(discovery_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_options(discovery_fuzz PRIVATE -fsanitize=fuzzer)
    # New inputs go to the build's own corpus; the committed seeds stay as they are.
    add_test(NAME native:discovery_fuzz
      COMMAND sh -c "mkdir -p discovery_fuzz_corpus && exec \"$0\" -max_total_time=30 -timeout=10 \
-print_final_stats=1 discovery_fuzz_corpus \"$1\""
              $<TARGET_FILE:discovery_fuzz> ${CMAKE_CURRENT_SOURCE_DIR}/discovery_fuzz_corpus
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
else()
  enable_language(RC)
  # ComPort in a process of its own, bound by name as the receiver binds it;
  # the win10 copy declares Windows 10 support in its manifest (a test
  # program only: no deliverable carries a manifest).
  add_executable(comport_probe comport_probe.cpp)
  target_include_directories(comport_probe PRIVATE ${PROJECT_SOURCE_DIR}/seriallink)
  add_dependencies(comport_probe Vetrolink)
  add_executable(comport_probe_win10 comport_probe.cpp win10_manifest.rc)
  target_include_directories(comport_probe_win10 PRIVATE ${PROJECT_SOURCE_DIR}/seriallink)
  add_dependencies(comport_probe_win10 Vetrolink)

  set(sources discovery_wine_support.cpp ${discovery_expected})
  # NT-family search, in Wine's default mode. Ports: 10-12 free, 15 a link
  # to nothing, 16 a link to something that is not a terminal.
  vl_add_test(discovery_nt_tests
    SOURCES discovery_nt_test.cpp ${sources}
    LIBS wine_support
    PORTS 10 11 12 15:dangling 16:notty)
  # 98-family search, in Wine's win98 mode, on the one fixed enumerator key.
  vl_add_test(discovery_98_tests
    SOURCES discovery_98_test.cpp ${sources}
    LIBS wine_support
    PORTS 13 14)
  set_tests_properties(${VL_PLATFORM}:discovery_98_tests PROPERTIES RESOURCE_LOCK zeltra98)
  foreach(test discovery_nt_tests discovery_98_tests)
    target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/discovery_expected)
    add_dependencies(${test} comport_probe comport_probe_win10)
  endforeach()
endif()
