# Settings for the tools that run on the development machine.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)

# The host side under AddressSanitizer and UndefinedBehaviorSanitizer (make sanitize): every
# report ends the program that made it, so the test that ran it fails. The instrumentation
# makes g++ warn of uninitialized values inside the standard library's <regex> that are not.
option(KIVOS_SANITIZE "Build the host tools and tests with ASan and UBSan" OFF)
set(KIVOS_SANITIZER_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer -g)

function(kivos_host_target target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion -Werror)
    if(KIVOS_SANITIZE)
        target_compile_options(${target} PRIVATE ${KIVOS_SANITIZER_OPTIONS}
                                                 -Wno-maybe-uninitialized)
        target_link_options(${target} PRIVATE ${KIVOS_SANITIZER_OPTIONS})
    endif()
endfunction()
