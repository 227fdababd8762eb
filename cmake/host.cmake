# Settings for the tools that run on the development machine.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
pkg_check_modules(LIBDW REQUIRED IMPORTED_TARGET libdw)

# kivos-run starts once for every command a developer runs, and resolving the
# shared libunicorn's symbols was most of that start-up, so it links unicorn's
# archive (which needs libpthread and libm) and everything else statically.
find_library(KIVOS_UNICORN_ARCHIVE NAMES libunicorn.a HINTS ${UNICORN_LIBRARY_DIRS} REQUIRED)
add_library(kivos_static_unicorn INTERFACE)
target_include_directories(kivos_static_unicorn SYSTEM INTERFACE ${UNICORN_INCLUDE_DIRS})
target_link_libraries(kivos_static_unicorn INTERFACE ${KIVOS_UNICORN_ARCHIVE} pthread m)
target_link_options(kivos_static_unicorn INTERFACE -static)

# The same for elfutils' libdw, which reads the debug information of images.
add_library(kivos_static_libdw INTERFACE)
target_include_directories(kivos_static_libdw SYSTEM INTERFACE ${LIBDW_INCLUDE_DIRS})
target_link_libraries(kivos_static_libdw INTERFACE ${LIBDW_STATIC_LIBRARIES})
target_link_options(kivos_static_libdw INTERFACE -static)

function(kivos_host_target target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Werror)
endfunction()
