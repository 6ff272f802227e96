# Copies into RZT_DEST the DLLs that the PE files RZT_FILES load, and the
# DLLs those load in turn, found the way Windows finds them: by name in any
# letter case, here in the folders RZT_DIRS. A DLL none of them holds is
# Windows' own (KERNEL32, USER32...); a Qt or mingw one missing is an error,
# so that no folder that cannot start is made. With RZT_STRIP set, the copies
# lose their symbol tables. Run by the install rules of this folder.
cmake_policy(VERSION 3.22)

foreach(dir IN LISTS RZT_DIRS)
    file(GLOB dlls "${dir}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" key)
        if(NOT DEFINED rzt_dll_${key})
            set(rzt_dll_${key} "${dll}")
        endif()
    endforeach()
endforeach()

set(pending ${RZT_FILES})
set(copied)
while(pending)
    list(POP_FRONT pending file)
    execute_process(COMMAND "${RZT_OBJDUMP}" -p "${file}" OUTPUT_VARIABLE dump
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "^DLL Name: " "" name "${import}")
        string(TOLOWER "${name}" key)
        if(DEFINED rzt_dll_${key})
            if(NOT key IN_LIST copied)
                list(APPEND copied ${key})
                list(APPEND pending "${rzt_dll_${key}}")
            endif()
        elseif(key MATCHES "^(qt6|lib)")
            message(FATAL_ERROR "${file} loads ${name}, which is in none of ${RZT_DIRS}")
        endif()
    endforeach()
endwhile()

foreach(key IN LISTS copied)
    file(INSTALL "${rzt_dll_${key}}" DESTINATION "${RZT_DEST}")
    if(RZT_STRIP)
        get_filename_component(name "${rzt_dll_${key}}" NAME)
        execute_process(COMMAND "${RZT_STRIP}" "${RZT_DEST}/${name}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
