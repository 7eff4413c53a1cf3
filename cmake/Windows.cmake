# Windows builds (cross-compiled): the stub image, mksfx.exe, and the Windows tests and
# the UI driver that run under Wine.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(DUDORE_BITS 64)
  set(DUDORE_MANIFEST_ARCH amd64)
  set(DUDORE_ENTRY ProcessEntry)
  # The 64-bit image keeps its unwind data (.pdata, .xdata): without it an exception that
  # reaches the stub's frames cannot be unwound, and debuggers and crash dumps lose the stack.
  set(DUDORE_STUB_ARCH_OPTIONS)
else()
  set(DUDORE_BITS 32)
  set(DUDORE_MANIFEST_ARCH X86)
  set(DUDORE_ENTRY _ProcessEntry@0)
  # Win32 guarantees 4-byte stack alignment and the stub uses no SSE: keeping 16 costs code.
  # Stack probes force -maccumulate-outgoing-args (a mov per argument and a stack
  # adjustment after every stdcall, about 2 KB in all); without them a frame must never
  # skip the guard page below the stack, so the build holds every frame under one page
  # (and cmake/stack_frames.py checks the linked code for it). No unwind tables: the 32-bit
  # image has no exception directory to use them.
  # Five optimisations cost this image more bytes than they save (each kept by its effect
  # on the whole image; whole extractions under Wine take as long without them).
  # Inflate's fast path with 32-bit words (about 1,100 bytes) stays out of this image until
  # the file-writing safety work has taken what it needs of the 40,960 bytes: speed comes
  # last. The native 32-bit build keeps it, for the tests and the benchmarks.
  set(DUDORE_STUB_ARCH_OPTIONS -DDUDORE_INFLATE_FAST_PATH=0 -mpreferred-stack-boundary=2 -mno-stack-arg-probe -Werror=frame-larger-than=3584
    -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-expensive-optimizations -fno-tree-tail-merge -fno-jump-tables -fno-forward-propagate -fno-tree-forwprop)
endif()
set(DUDORE_STUB dudore-stub${DUDORE_BITS})

# Reproducible images: the linker stamps each image with SOURCE_DATE_EPOCH rather than the
# time of the link, so the image checksum follows from the bytes alone. Taken when
# configuring: from the environment, else the commit's time (0 outside a git checkout).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(DUDORE_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE DUDORE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT DUDORE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set(DUDORE_SOURCE_DATE_EPOCH 0)
endif()
set(DUDORE_LINK_ENV ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${DUDORE_SOURCE_DATE_EPOCH})
set(CMAKE_C_LINKER_LAUNCHER ${DUDORE_LINK_ENV})
set(CMAKE_CXX_LINKER_LAUNCHER ${DUDORE_LINK_ENV})

# The stub: no C runtime start-up, no exceptions, RTTI or libstdc++ (unwind tables on 64-bit only);
# nothing but system DLLs. C headers only (-nostdinc++).
set(DUDORE_STUB_COMPILE_OPTIONS
  # No -fdata-sections: on PE it moves zero-initialised data out of .bss into the file.
  # No IPA constant propagation: a copy of a function made for one global's address
  # reaches every field by absolute address, longer than base and offset, and each one
  # needs a base relocation. Data aligned as the ABI asks, not padded to cache lines.
  # For the same reasons some functions are marked [[gnu::noinline]]: inlined into the
  # start-up, their locals would land in its large frame (reached with 4-byte offsets) and
  # the globals passed to them would be written out as absolute addresses.
  -Oz -fno-ipa-cp -malign-data=abi -fno-exceptions -fno-rtti
  -ffunction-sections -fno-ident -nostdinc++ -fno-threadsafe-statics
  -fno-stack-protector -fomit-frame-pointer ${DUDORE_WARNINGS})
set(DUDORE_STUB_DEFINITIONS __USE_MINGW_ANSI_STDIO=0 WIN32_LEAN_AND_MEAN NOMINMAX)
set(DUDORE_SYSTEM_LIBS comctl32 shell32 advapi32 gdi32 user32 kernel32 msvcrt)

set(DUDORE_STUB_LIB_SOURCES ${DUDORE_PORTABLE_SOURCES} ${DUDORE_WINDOWS_SOURCES})
list(FILTER DUDORE_STUB_LIB_SOURCES EXCLUDE REGEX "src/app/entry_win\\.cpp$")
add_library(dudore_stub_code STATIC ${DUDORE_STUB_LIB_SOURCES})
target_include_directories(dudore_stub_code PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(dudore_stub_code PRIVATE ${DUDORE_STUB_COMPILE_OPTIONS} ${DUDORE_STUB_ARCH_OPTIONS} -flto)
target_compile_definitions(dudore_stub_code PUBLIC ${DUDORE_STUB_DEFINITIONS})

# The manifest goes in without its line breaks: every byte is in every self-extracting file.
file(READ src/resources/stub.manifest.in DUDORE_MANIFEST)
string(REPLACE "\n" "" DUDORE_MANIFEST "${DUDORE_MANIFEST}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/resources/stub.manifest CONTENT "${DUDORE_MANIFEST}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS src/resources/stub.manifest.in)
# Quoted: the source or build folder's name may hold blanks.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001 \"-I${PROJECT_SOURCE_DIR}/src/resources\" \"-I${CMAKE_BINARY_DIR}/resources\"")
if(EXISTS ${PROJECT_SOURCE_DIR}/src/resources/CMakeLists.txt)
  add_subdirectory(src/resources)  # generated resources (icons)
endif()

# The linker's own script, with read-only data moved into .text.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(DUDORE_LD ${DUDORE_TRIPLE}-ld REQUIRED)
find_program(DUDORE_OBJDUMP ${DUDORE_TRIPLE}-objdump REQUIRED)
set(DUDORE_STUB_LINKER_SCRIPT ${CMAKE_BINARY_DIR}/stub.ld)
execute_process(COMMAND ${DUDORE_LD} --verbose OUTPUT_FILE ${CMAKE_BINARY_DIR}/default.ld)
execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/stub_linker_script.py
  INPUT_FILE ${CMAKE_BINARY_DIR}/default.ld OUTPUT_FILE ${DUDORE_STUB_LINKER_SCRIPT}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot derive the stub's linker script")
endif()

add_executable(${DUDORE_STUB} WIN32 src/app/entry_win.cpp src/resources/stub.rc)
target_link_libraries(${DUDORE_STUB} PRIVATE dudore_stub_code)
target_compile_options(${DUDORE_STUB} PRIVATE ${DUDORE_STUB_COMPILE_OPTIONS} ${DUDORE_STUB_ARCH_OPTIONS} -flto)
# Whole-program optimisation across the subsystems, in two links: ld 2.40 crashes when it
# writes base relocations behind the LTO plugin, so the first link (without them) keeps the
# optimised object (-save-temps, one partition) and a plain second link makes the image
# from it with its relocations: dynamic base (ASLR) and NX. Terminal-Server aware: on a
# Remote Desktop host the system folders the stub asks for are the real ones, not the
# user's private copies.
set(DUDORE_STUB_LINK_OPTIONS -Oz -fno-ipa-cp -malign-data=abi ${DUDORE_STUB_ARCH_OPTIONS} -nostdlib -nostartfiles -Wl,-e,${DUDORE_ENTRY}
  -Wl,--gc-sections -Wl,--fatal-warnings -s -Wl,--tsaware -Wl,-T,${DUDORE_STUB_LINKER_SCRIPT})
target_link_options(${DUDORE_STUB} PRIVATE -flto -flto-partition=one -save-temps ${DUDORE_STUB_LINK_OPTIONS}
  -Wl,--disable-reloc-section -Wl,--disable-dynamicbase)
target_link_libraries(${DUDORE_STUB} PRIVATE ${DUDORE_SYSTEM_LIBS} gcc)
list(TRANSFORM DUDORE_SYSTEM_LIBS PREPEND -l OUTPUT_VARIABLE DUDORE_STUB_LIB_FLAGS)
set_target_properties(${DUDORE_STUB} PROPERTIES LINK_DEPENDS ${DUDORE_STUB_LINKER_SCRIPT})
if(TARGET dudore_generated_resources)
  add_dependencies(${DUDORE_STUB} dudore_generated_resources)
endif()
add_custom_command(TARGET ${DUDORE_STUB} POST_BUILD
  COMMAND ${DUDORE_LINK_ENV} ${CMAKE_CXX_COMPILER} -mwindows ${DUDORE_STUB_LINK_OPTIONS} -Wl,--dynamicbase -Wl,--nxcompat
          ${DUDORE_STUB}.ltrans0.ltrans.o $<FILTER:$<TARGET_OBJECTS:${DUDORE_STUB}>,INCLUDE,\\.res$>
          ${DUDORE_STUB_LIB_FLAGS} -lgcc -o $<TARGET_FILE:${DUDORE_STUB}>
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/pe_compact.py $<TARGET_FILE:${DUDORE_STUB}>
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/stack_frames.py ${DUDORE_OBJDUMP} $<TARGET_FILE:${DUDORE_STUB}>
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${DUDORE_STUB}> -P ${PROJECT_SOURCE_DIR}/cmake/PrintSize.cmake
  VERBATIM)

# mksfx for Windows: an ordinary console program, with the toolchain's own zlib
# (libz-mingw-w64-dev) linked in; stripped, as it ships.
add_executable(mksfx ${DUDORE_MKSFX_SOURCES} ${DUDORE_PORTABLE_SOURCES})
target_link_libraries(mksfx PRIVATE z)
target_include_directories(mksfx PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(mksfx PRIVATE DUDORE_VERSION="${PROJECT_VERSION}")
target_link_options(mksfx PRIVATE -static -s)

include(cmake/WindowsTests.cmake)
