# Settings for the tools that run on the development machine.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
pkg_check_modules(LIBDW REQUIRED IMPORTED_TARGET libdw)

# The host side under AddressSanitizer and UndefinedBehaviorSanitizer (make sanitize): every
# report ends the program that made it, so the test that ran it fails. The instrumentation
# makes g++ warn of uninitialized values inside the standard library's <regex> that are not.
option(KIVOS_SANITIZE "Build the host tools and tests with ASan and UBSan" OFF)
set(KIVOS_SANITIZER_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer -g)

# kivos-run starts once for every command a developer runs, and resolving the
# shared libunicorn's symbols was most of that start-up, so it links unicorn's
# archive (which needs libpthread and libm) and everything else statically.
find_library(KIVOS_UNICORN_ARCHIVE NAMES libunicorn.a HINTS ${UNICORN_LIBRARY_DIRS} REQUIRED)
add_library(kivos_static_unicorn INTERFACE)
target_include_directories(kivos_static_unicorn SYSTEM INTERFACE ${UNICORN_INCLUDE_DIRS})
target_link_libraries(kivos_static_unicorn INTERFACE ${KIVOS_UNICORN_ARCHIVE} pthread m)

# The same for elfutils' libdw, which reads the debug information of images.
add_library(kivos_static_libdw INTERFACE)
target_include_directories(kivos_static_libdw SYSTEM INTERFACE ${LIBDW_INCLUDE_DIRS})
target_link_libraries(kivos_static_libdw INTERFACE ${LIBDW_STATIC_LIBRARIES})

# The sanitizers' run-time is a shared library: a sanitized kivos-run links the C library shared.
if(NOT KIVOS_SANITIZE)
    target_link_options(kivos_static_unicorn INTERFACE -static)
    target_link_options(kivos_static_libdw INTERFACE -static)
endif()

function(kivos_host_target target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Werror)
    if(KIVOS_SANITIZE)
        target_compile_options(${target} PRIVATE ${KIVOS_SANITIZER_OPTIONS}
                                                 -Wno-maybe-uninitialized)
        target_link_options(${target} PRIVATE ${KIVOS_SANITIZER_OPTIONS})
    endif()
endfunction()
