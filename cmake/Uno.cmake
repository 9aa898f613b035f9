# LibreOffice's C++ UNO: headers generated at build time from the installed type libraries.
#
# Defines, when the SDK is found:
#   QUILLMARK_UNO_FOUND      TRUE
#   Quillmark::Uno           interface target: generated and SDK headers, defines, libuno_* libraries
#                            and an rpath to the office's program folder
#   QUILLMARK_OFFICE_PROGRAM the office's program folder (where soffice.bin lives)

set(QUILLMARK_OFFICE_PROGRAM "/usr/lib/libreoffice/program" CACHE PATH "LibreOffice's program folder")
set(QUILLMARK_OFFICE_SDK "/usr/lib/libreoffice/sdk" CACHE PATH "LibreOffice SDK folder")
set(QUILLMARK_UNO_INCLUDE "/usr/include/libreoffice" CACHE PATH "LibreOffice SDK headers")

set(QUILLMARK_UNO_FOUND FALSE)
set(_uno_missing "")
set(_cppumaker "${QUILLMARK_OFFICE_SDK}/bin/cppumaker")
set(_types_rdb "${QUILLMARK_OFFICE_PROGRAM}/types.rdb")
set(_offapi_rdb "${QUILLMARK_OFFICE_PROGRAM}/types/offapi.rdb")
foreach(_f "${_cppumaker}" "${_types_rdb}" "${_offapi_rdb}" "${QUILLMARK_UNO_INCLUDE}/cppuhelper/bootstrap.hxx")
    if(NOT EXISTS "${_f}")
        list(APPEND _uno_missing "${_f}")
    endif()
endforeach()

set(_uno_libs "")
foreach(_lib uno_cppu uno_cppuhelpergcc3 uno_sal uno_salhelpergcc3)
    find_library(QUILLMARK_LIB_${_lib} NAMES ${_lib}
                 PATHS "${QUILLMARK_OFFICE_SDK}/lib" "${QUILLMARK_OFFICE_PROGRAM}" NO_DEFAULT_PATH)
    if(QUILLMARK_LIB_${_lib})
        list(APPEND _uno_libs "${QUILLMARK_LIB_${_lib}}")
    else()
        list(APPEND _uno_missing "lib${_lib}.so")
    endif()
endforeach()

if(_uno_missing)
    message(STATUS "LibreOffice SDK not found (missing: ${_uno_missing}); the LibreOffice client is not built. "
                   "Install libreoffice-dev and libreoffice-writer to print on Linux.")
    return()
endif()

# Generating every type takes about a second and spares a list of types that must follow the code.
set(_uno_gen "${CMAKE_BINARY_DIR}/uno-headers")
set(_uno_stamp "${_uno_gen}/.stamp")
add_custom_command(
    OUTPUT "${_uno_stamp}"
    COMMAND ${CMAKE_COMMAND} -E remove_directory "${_uno_gen}/com"
    COMMAND "${_cppumaker}" -Gc "-O${_uno_gen}" "${_types_rdb}" "${_offapi_rdb}"
    COMMAND ${CMAKE_COMMAND} -E touch "${_uno_stamp}"
    DEPENDS "${_types_rdb}" "${_offapi_rdb}"
    COMMENT "Generating the C++ UNO headers"
    VERBATIM)
add_custom_target(uno_headers DEPENDS "${_uno_stamp}")
file(MAKE_DIRECTORY "${_uno_gen}")

add_library(quillmark_uno INTERFACE)
add_library(Quillmark::Uno ALIAS quillmark_uno)
add_dependencies(quillmark_uno uno_headers)
target_include_directories(quillmark_uno SYSTEM INTERFACE "${_uno_gen}" "${QUILLMARK_UNO_INCLUDE}")
target_compile_definitions(quillmark_uno INTERFACE UNX GCC LINUX CPPU_ENV=gcc3
                           "QUILLMARK_OFFICE_PROGRAM=\"${QUILLMARK_OFFICE_PROGRAM}\"")
target_link_libraries(quillmark_uno INTERFACE ${_uno_libs})
# The office's libraries must be the ones its own program folder holds, at run time too.
target_link_options(quillmark_uno INTERFACE "LINKER:-rpath,${QUILLMARK_OFFICE_PROGRAM}")
set(QUILLMARK_UNO_FOUND TRUE)
