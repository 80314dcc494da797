# The Windows 98/Me programs may import only the wide (...W) functions that those systems implement
# themselves: every other wide function is a stub there that fails, whatever Wine or a later
# Windows does with it. Reads the import tables of both architectures' ANSI programs with objdump.
#   -DROOT=<build folder holding x86_64/ and i686/> -DOBJDUMP_x86_64=<objdump> -DOBJDUMP_i686=<objdump>
set(native
  EnumResourceLanguagesW EnumResourceNamesW EnumResourceTypesW ExtTextOutW FindResourceW FindResourceExW
  GetCharWidthW GetCommandLineW GetTextExtentPointW GetTextExtentPoint32W lstrlenW MessageBoxW MessageBoxExW
  TextOutW
  # The static C runtime's start-up code binds these two into every program; it falls back by itself.
  GetModuleHandleW LoadLibraryW)
set(programs "TavolinMe.exe" "TavolinMeDll.dll" "Tavolinの撤去Me.exe")
set(failures "")
set(checked 0)
foreach(arch x86_64 i686)
  foreach(program ${programs})
    set(file "${ROOT}/${arch}/product/${program}")
    if(NOT EXISTS "${file}")
      string(APPEND failures "\n  ${file}: missing (build ${arch} first)")
      continue()
    endif()
    # objdump's headings are translated in the tests' Japanese locale: ask for its own words.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C LANGUAGE= ${OBJDUMP_${arch}} -p "${file}"
                    OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT dump MATCHES "DLL Name: ")
      string(APPEND failures "\n  ${file}: no import table read (objdump ${OBJDUMP_${arch}})")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    # Import entries: "<hint-name address> <hint> <name>" lines below a "DLL Name:" line (the
    # export table's lines have another form).
    string(REPLACE "\n" ";" lines "${dump}")
    set(dll "")
    foreach(line ${lines})
      if(line MATCHES "DLL Name: ([^ \t]+)")
        set(dll "${CMAKE_MATCH_1}")
      elseif(line MATCHES "^[ \t]+[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([A-Za-z_][A-Za-z0-9_]*W)$")
        set(function "${CMAKE_MATCH_1}")
        list(FIND native "${function}" at)
        if(at EQUAL -1)
          string(APPEND failures "\n  ${arch}/${program} imports ${function} (${dll})")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "wide functions that Windows 98/Me do not implement:${failures}")
endif()
message(STATUS "${checked} ANSI programs import only wide functions that Windows 98/Me implement")
