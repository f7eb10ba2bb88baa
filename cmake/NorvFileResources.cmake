# What Windows and its administrators read from each shipped file: a version
# resource (product, maker, version, description) and, in each executable, an
# application manifest (execution level, common controls 6, supported Windows
# versions, DPI). Both come from templates in resources/, filled from the
# project's one version number.
#
#   norv_file_resources(TARGET "File description" [ADMINISTRATOR])
#
# An executable's manifest asks for administrator rights with ADMINISTRATOR
# (the programs that write firmware and HKEY_LOCAL_MACHINE), else it runs as
# invoker. Libraries get the version resource only. Native builds: nothing.
set(NORV_PRODUCT_NAME "NORV Update")
# The maker, as the registry key of the flashing tool's result names it.
set(NORV_COMPANY_NAME "NORV")

function(norv_file_resources target description)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(arg "ADMINISTRATOR" "" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()

  set(NORV_FILE_DESCRIPTION "${description}")
  set(NORV_INTERNAL_NAME "${name}")
  set(NORV_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
  set(NORV_VERSION_TEXT "${PROJECT_VERSION}")
  set(NORV_MANIFEST_LINE "")
  if(type STREQUAL "EXECUTABLE")
    set(NORV_ORIGINAL_FILENAME "${name}.exe")
    set(NORV_FILE_TYPE "VFT_APP")
    if(arg_ADMINISTRATOR)
      set(NORV_EXECUTION_LEVEL "requireAdministrator")
    else()
      set(NORV_EXECUTION_LEVEL "asInvoker")
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(NORV_MANIFEST_ARCH "x86")
    else()
      set(NORV_MANIFEST_ARCH "amd64")
    endif()
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${NORV_ROOT}/resources/app.manifest.in ${manifest} @ONLY)
    # Resource 1 of type 24 (RT_MANIFEST): the manifest the loader reads when
    # it starts the process.
    set(NORV_MANIFEST_LINE "1 24 \"${manifest}\"")
  elseif(type STREQUAL "SHARED_LIBRARY")
    set(NORV_ORIGINAL_FILENAME "${name}.dll")
    set(NORV_FILE_TYPE "VFT_DLL")
  else()
    message(FATAL_ERROR "norv_file_resources: ${target} is neither a program nor a library")
  endif()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-file.rc)
  configure_file(${NORV_ROOT}/resources/file.rc.in ${rc} @ONLY)
  if(manifest)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
  endif()
  target_sources(${target} PRIVATE ${rc})
endfunction()
