# Runs at install time: writes the desktop entries for the chosen prefix and installs them.

# One argument of an Exec line: quoted, with the characters special inside quotes escaped, then escaped
# again as a desktop-entry string; a percent sign is doubled so it is no field code.
function(quillmark_exec_argument path out)
    string(REPLACE "\\" "\\\\" quoted "${path}")
    string(REPLACE "\"" "\\\"" quoted "${quoted}")
    string(REPLACE "`" "\\`" quoted "${quoted}")
    string(REPLACE "$" "\\$" quoted "${quoted}")
    set(quoted "\"${quoted}\"")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    string(REPLACE "%" "%%" quoted "${quoted}")
    set(${out} "${quoted}" PARENT_SCOPE)
endfunction()

get_filename_component(_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
quillmark_exec_argument("${_prefix}/Quillmark" QUILLMARK_EXEC)
quillmark_exec_argument("${_prefix}/share/quillmark/folder-action" QUILLMARK_FOLDER_ACTION)

set(_out "${QUILLMARK_ENTRY_BINARY}")
configure_file("${QUILLMARK_ENTRY_SOURCE}/quillmark.desktop.in" "${_out}/applications/quillmark.desktop" @ONLY)
configure_file("${QUILLMARK_ENTRY_SOURCE}/quillmark-autostart.desktop.in" "${_out}/autostart/quillmark.desktop"
               @ONLY)
configure_file("${QUILLMARK_ENTRY_SOURCE}/quillmark-print-folder.desktop.in"
               "${_out}/servicemenus/quillmark-print-folder.desktop" @ONLY)

file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${_out}/applications/quillmark.desktop")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/quillmark/autostart" TYPE FILE
     FILES "${_out}/autostart/quillmark.desktop")
# KDE runs service menus only when they are executable.
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/quillmark/servicemenus" TYPE PROGRAM
     FILES "${_out}/servicemenus/quillmark-print-folder.desktop")
