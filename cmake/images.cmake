# How the project's Windows images are linked.

# Every image: runtime linked statically, headers declaring Windows NT 4.0.
set(NT4_LINK_OPTIONS
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0)

# The project's version for the shipped DLLs' version resources (project_version.h).
configure_file(${CMAKE_CURRENT_LIST_DIR}/project_version.h.in ${PROJECT_BINARY_DIR}/version/project_version.h @ONLY)

# Code for every processor NT 4.0 runs on, the i486 up (the compiler's own
# default is the Pentium Pro); C++ without exceptions, run-time type
# information or thread-safe statics, each of which needs the compiler's runtime.
set(NT4_I486_OPTIONS -march=i486 -mtune=pentium -fno-asynchronous-unwind-tables -fno-exceptions
  $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti> $<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics>)

# A shipped DLL: only the NT 4.0 API is declared to its sources, no "lib" prefix,
# the project's version in its version resource.
function(nt4_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_include_directories(${target} PRIVATE ${PROJECT_BINARY_DIR}/version)
  # windres writes no dependency file: the resources follow a change of version.
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.rc$")
  set_property(SOURCE ${sources} APPEND PROPERTY OBJECT_DEPENDS ${PROJECT_BINARY_DIR}/version/project_version.h)
  target_compile_definitions(${target} PRIVATE _WIN32_WINNT=0x0400 WINVER=0x0400 WIN32_LEAN_AND_MEAN)
  # No start-up code of the runtime (its TLS directory, .CRT callbacks and
  # pseudo-relocations): the library's own DllMain is the entry point, and
  # nothing needs constructing.
  target_compile_options(${target} PRIVATE ${NT4_I486_OPTIONS})
  target_link_options(${target} PRIVATE ${NT4_LINK_OPTIONS} -Wl,--subsystem,windows:4.0
    -nostartfiles -Wl,--entry,_DllMain@12 -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
endfunction()

# A program of the project (tools, tests, benchmarks).
function(nt4_program target)
  target_link_options(${target} PRIVATE ${NT4_LINK_OPTIONS})
endfunction()

# A program on the driver disk (capture, vfwcheck), for a stock NT 4.0 on
# the i486 up. None of the compiler's precompiled runtime is linked (start-up
# code, C++ library, threads, printf: built for later processors, and its
# threads need more of the system than NT 4.0 has); tools/nt4 stands in for
# what the programs use of it, with the system's MSVCRT.DLL as C runtime.
# libgcc is there for its stack probe (___chkstk_ms).
function(nt4_disk_program target)
  target_compile_options(${target} PRIVATE ${NT4_I486_OPTIONS})
  target_link_options(${target} PRIVATE ${NT4_LINK_OPTIONS} -nostartfiles -nodefaultlibs
    -Wl,--entry,_ProgramStart -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc)
  target_link_libraries(${target} PRIVATE nt4runtime msvcrt kernel32 gcc)
endfunction()

# A kernel-mode driver for Wine's ntoskrnl.
function(kernel_driver target)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".sys")
  target_include_directories(${target} PRIVATE /usr/share/mingw-w64/include/ddk)
  target_compile_options(${target} PRIVATE -ffreestanding -fno-stack-protector)
  target_link_options(${target} PRIVATE -nostdlib -Wl,--subsystem,native
    -Wl,--entry,_DriverEntry@8 -Wl,--image-base,0x10000 -Wl,--exclude-all-symbols)
  target_link_libraries(${target} PRIVATE ntoskrnl gcc)
endfunction()
