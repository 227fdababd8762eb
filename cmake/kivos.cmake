# Compile and link settings of the kivos side: 32-bit x86, freestanding, x87
# arithmetic only (a kivos kernel need not enable SSE), nothing from the host.
# kivos-cc is generated from the same lists, so commands built by hand and by
# this project are built alike.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
                OUTPUT_VARIABLE KIVOS_COMPILER_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE)

set(KIVOS_INCLUDE_DIR ${CMAKE_SOURCE_DIR}/libc/include)

# The link layout, with the record sections as the kivos interface header names and aligns them.
file(STRINGS ${KIVOS_INCLUDE_DIR}/kivos/abi.h KIVOS_RECORD_DEFINES
     REGEX "^#define KIVOS_(COMMAND|PACKAGE)_(SECTION|ALIGNMENT) ")
foreach(define IN LISTS KIVOS_RECORD_DEFINES)
    string(REGEX MATCH "^#define ([A-Z_]+) \"?([^\"]*)\"?$" matched "${define}")
    set(${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
endforeach()
foreach(name COMMAND_SECTION COMMAND_ALIGNMENT PACKAGE_SECTION PACKAGE_ALIGNMENT)
    if(NOT KIVOS_${name})
        message(FATAL_ERROR "kivos/abi.h defines no KIVOS_${name}")
    endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KIVOS_INCLUDE_DIR}/kivos/abi.h)
set(KIVOS_LINK_LAYOUT ${KIVOS_OUT}/command.ld)
configure_file(${CMAKE_SOURCE_DIR}/commands/command.ld.in ${KIVOS_LINK_LAYOUT} @ONLY)

# kivos-cc asks the compiler for its include folder when it runs; the build asks here.
set(KIVOS_TARGET_OPTIONS
    -m32 -march=i686 -mno-mmx -mno-sse -mno-sse2 -mfpmath=387
    -ffreestanding -fno-builtin -nostdlib -nostdinc
    -fno-pic -fno-pie -fno-stack-protector -fno-asynchronous-unwind-tables
    -fno-tree-loop-distribute-patterns -ffunction-sections -fdata-sections)
# No STB_GNU_UNIQUE symbols for inline variables: they would mark the image as
# GNU/Linux (OS/ABI 3) instead of System V. A plain operator new gives what
# malloc gives, 4-byte alignment; objects aligned further take the aligned forms.
set(KIVOS_CXX_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-gnu-unique
                      -faligned-new=4)
set(KIVOS_DEFAULT_OPTIMIZATION -O2)

set(KIVOS_LINK_OPTIONS
    -m32 -nostdlib -static -no-pie -Wl,--build-id=none -Wl,--gc-sections)

# A target compiled for kivos. -g changes no instruction, and gives crash
# reports, debuggers and coverage the library's lines and call frames; kivos-cc
# strips it from the images of commands built without -g.
function(kivos_target target)
    target_compile_options(${target} PRIVATE ${KIVOS_TARGET_OPTIONS}
                                             "SHELL:-isystem ${KIVOS_COMPILER_INCLUDE}"
                                             ${KIVOS_DEFAULT_OPTIMIZATION} -g
                                             -Wall -Wextra -Werror
                                             $<$<COMPILE_LANGUAGE:CXX>:${KIVOS_CXX_OPTIONS}>)
    target_include_directories(${target} SYSTEM PRIVATE ${KIVOS_INCLUDE_DIR})
endfunction()

# kivos_command(NAME SOURCES...): a command image in build/kivos, linked with
# the start-up object, the library and the link layout.
function(kivos_command name)
    add_executable(${name} ${ARGN} $<TARGET_OBJECTS:kivos_crt0>)
    kivos_target(${name})
    target_link_options(${name} PRIVATE ${KIVOS_LINK_OPTIONS} -Wl,-T,${KIVOS_LINK_LAYOUT})
    target_link_libraries(${name} PRIVATE kivos_libc)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KIVOS_OUT}
                                             LINK_DEPENDS ${KIVOS_LINK_LAYOUT})
endfunction()
