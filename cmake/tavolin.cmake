# Shared build settings and helpers for every target of the project.

# Warnings on for our own code; the system's and Boost's headers are included as system headers.
set(TVN_WARNINGS -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type -Wno-missing-field-initializers)

# A hook DLL is loaded into every process of the session: it, and everything else we ship,
# may import nothing but system DLLs. So the C and C++ runtimes and winpthread are linked in.
set(TVN_STATIC_LINK -static -static-libgcc -static-libstdc++)

# The two builds of one source: the Unicode build (Windows 2000 and later) and the ANSI build
# (Windows 98/Me). TVN_ANSI marks the latter.
function(tvn_apply_build_flags target variant)
  target_compile_options(${target} PRIVATE ${TVN_WARNINGS})
  # The narrow code page of the whole system is CP932 (the settings file, the ANSI build's texts):
  # narrow literals are stored in it; wide literals stay UTF-16.
  target_compile_options(${target} PUBLIC -fexec-charset=CP932)
  target_include_directories(${target} SYSTEM PUBLIC ${TVN_BOOST_INCLUDE})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PUBLIC WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0600
    NOMINMAX)
  if(variant STREQUAL "ansi")
    target_compile_definitions(${target} PUBLIC TVN_ANSI=1)
  else()
    target_compile_definitions(${target} PUBLIC UNICODE _UNICODE)
  endif()
endfunction()

# tvn_dual_library(<name> <sources...>): the sources built twice as static libraries: <name>
# (Unicode) and <name>_ansi.
function(tvn_dual_library name)
  foreach(variant unicode ansi)
    if(variant STREQUAL "ansi")
      set(target ${name}_ansi)
    else()
      set(target ${name})
    endif()
    add_library(${target} STATIC ${ARGN})
    tvn_apply_build_flags(${target} ${variant})
  endforeach()
endfunction()

# tvn_deliverable(<target>): puts a shipped program or DLL into bin/ and links it statically.
function(tvn_deliverable target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${TVN_BIN_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${TVN_BIN_DIR}
    PREFIX "")
  target_link_options(${target} PRIVATE ${TVN_STATIC_LINK})
  set_property(GLOBAL APPEND PROPERTY TVN_DELIVERABLES ${target})
endfunction()

# tvn_version_resource(<target> <description>): gives a program or DLL the product's version
# resource (resources/version.rc.in). ProductVersion is the project version ("1.3007"), in the
# Japanese string table 041103A4 that versionInfo reads; its number goes into the settings file.
function(tvn_version_resource target description)
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(TVN_RC_FILETYPE VFT_DLL)
    set(TVN_RC_FILENAME ${name}.dll)
  else()
    set(TVN_RC_FILETYPE VFT_APP)
    set(TVN_RC_FILENAME ${name}.exe)
  endif()
  set(TVN_RC_DESCRIPTION "${description}")
  set(TVN_RC_NAME ${name})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
