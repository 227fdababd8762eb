# kivos-cc and the CMake toolchain, generated twice: build/bin/kivos-cc and
# build/kivos/cmake use the build tree, the installed ones find the SDK next to
# themselves (PREFIX/bin/kivos-cc, PREFIX/lib/kivos/...).

# The items of a CMake list as single-quoted shell words.
function(kivos_shell_words out)
    set(words "")
    foreach(item IN LISTS ARGN)
        string(APPEND words " '${item}'")
    endforeach()
    string(STRIP "${words}" words)
    set(${out} "${words}" PARENT_SCOPE)
endfunction()

kivos_shell_words(KIVOS_CC_TARGET_OPTIONS ${KIVOS_TARGET_OPTIONS})
kivos_shell_words(KIVOS_CC_CXX_OPTIONS ${KIVOS_CXX_OPTIONS})
kivos_shell_words(KIVOS_CC_DEFAULT_OPTIMIZATION ${KIVOS_DEFAULT_OPTIMIZATION})
kivos_shell_words(KIVOS_CC_LINK_OPTIONS ${KIVOS_LINK_OPTIONS})

set(KIVOS_CC_INCLUDE_DIR ${KIVOS_INCLUDE_DIR})
set(KIVOS_CC_LIB_DIR ${KIVOS_OUT})
set(KIVOS_CC_META ${KIVOS_HOST_BIN}/kivos-meta)
configure_file(${CMAKE_SOURCE_DIR}/host/kivos-cc.in ${KIVOS_HOST_BIN}/kivos-cc @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(KIVOS_TOOLCHAIN_BIN "\${CMAKE_CURRENT_LIST_DIR}/../../bin")
configure_file(${CMAKE_SOURCE_DIR}/cmake/kivos-toolchain.cmake.in
               ${KIVOS_OUT}/cmake/kivos-toolchain.cmake @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/kivos-command.cmake
               ${KIVOS_OUT}/cmake/kivos-command.cmake COPYONLY)

set(KIVOS_CC_INCLUDE_DIR "\${here}/../lib/kivos/include")
set(KIVOS_CC_LIB_DIR "\${here}/../lib/kivos")
set(KIVOS_CC_META "\${here}/kivos-meta")
configure_file(${CMAKE_SOURCE_DIR}/host/kivos-cc.in ${CMAKE_BINARY_DIR}/install/kivos-cc @ONLY)
set(KIVOS_TOOLCHAIN_BIN "\${CMAKE_CURRENT_LIST_DIR}/../../../bin")
configure_file(${CMAKE_SOURCE_DIR}/cmake/kivos-toolchain.cmake.in
               ${CMAKE_BINARY_DIR}/install/kivos-toolchain.cmake @ONLY)

# Commands and tools as they run from the build tree; kivos-cc and the machine as installed.
set(KIVOS_CC ${KIVOS_HOST_BIN}/kivos-cc)
set(KIVOS_TOOLCHAIN_FILE ${KIVOS_OUT}/cmake/kivos-toolchain.cmake)
add_custom_target(kivos_sdk DEPENDS kivos_libc kivos_crt0_placed kivos-meta)

install(PROGRAMS ${CMAKE_BINARY_DIR}/install/kivos-cc TYPE BIN)
install(TARGETS kivos-run kivos-meta RUNTIME)
install(FILES ${KIVOS_OUT}/libc.a ${KIVOS_OUT}/user_crt0.o ${KIVOS_OUT}/user_crt0_init.o
              ${KIVOS_LINK_LAYOUT}
        DESTINATION lib/kivos)
install(FILES ${CMAKE_BINARY_DIR}/install/kivos-toolchain.cmake
              ${CMAKE_SOURCE_DIR}/cmake/kivos-command.cmake
        DESTINATION lib/kivos/cmake)
install(DIRECTORY ${KIVOS_INCLUDE_DIR}/ DESTINATION lib/kivos/include)
