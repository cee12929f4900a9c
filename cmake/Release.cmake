# What ships to a user's PC: the deliverables, each with a version resource.
#
#   vl_release(TARGET DESCRIPTION)
#       TARGET carries a version resource (the project's version, DESCRIPTION
#       as its file description) and no other resource: no manifest, no icon.
#       It is linked without time stamps and without debug information (which
#       holds build paths), so that two builds of one commit, in any folders,
#       give the same bytes.
#
# The version is the one in project() (CMakeLists.txt). AskVer answers with
# its own text, "Ver" and the major and minor numbers; the two must agree.
file(STRINGS ${PROJECT_SOURCE_DIR}/seriallink/version.cpp ask_ver REGEX "\"Ver[0-9.]+\"")
string(REGEX MATCH "Ver[0-9]+\\.[0-9]+" ask_ver "${ask_ver}")
if(NOT ask_ver STREQUAL "Ver${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
  message(FATAL_ERROR "Version ${PROJECT_VERSION} contradicts AskVer's \"${ask_ver}\"")
endif()

set(VL_VERSION_RC ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(vl_release target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL SHARED_LIBRARY)
    set(file_type VFT_DLL)
    set(file_name ${target}.dll)
  else()
    set(file_type VFT_APP)
    set(file_name ${target}.exe)
  endif()
  configure_file(${VL_VERSION_RC} ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp -s)
endfunction()

# make dist names the archives after the version of the builds it packs.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/VERSION CONTENT "${PROJECT_VERSION}\n")
