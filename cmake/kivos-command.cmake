# kivos_add_command(NAME SOURCES source... [DESCRIPTION text [COMMAND name]]
#                   [PACKAGE name TAG tag])
#
# A kivos command image NAME built from its sources by kivos-cc, which checks
# it with kivos-meta --check as it links it. DESCRIPTION gives it the command
# record (for the command COMMAND, NAME by default), PACKAGE and TAG the package
# record; sources that declare their records with <kivos/meta.h> leave them out.
function(kivos_add_command name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMMAND;DESCRIPTION;PACKAGE;TAG" "SOURCES")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "kivos_add_command(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT arg_SOURCES)
        message(FATAL_ERROR "kivos_add_command(${name}): no SOURCES")
    endif()
    if(DEFINED arg_PACKAGE AND NOT DEFINED arg_TAG OR DEFINED arg_TAG AND NOT DEFINED arg_PACKAGE)
        message(FATAL_ERROR "kivos_add_command(${name}): PACKAGE and TAG go together")
    endif()
    if(DEFINED arg_COMMAND AND NOT DEFINED arg_DESCRIPTION)
        message(FATAL_ERROR "kivos_add_command(${name}): COMMAND needs a DESCRIPTION")
    endif()

    add_executable(${name} ${arg_SOURCES})
    if(DEFINED arg_DESCRIPTION)
        if(NOT DEFINED arg_COMMAND)
            set(arg_COMMAND ${name})
        endif()
        target_link_options(${name} PRIVATE "--command=${arg_COMMAND}"
                                            "--description=${arg_DESCRIPTION}")
    endif()
    if(DEFINED arg_PACKAGE)
        target_link_options(${name} PRIVATE "--package=${arg_PACKAGE}" "--package-tag=${arg_TAG}")
    endif()
endfunction()
