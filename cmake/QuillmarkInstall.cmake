# Installation for one user on a Linux desktop. The prefix is the program's own folder (settings file and
# self-update live beside the executable), so it must be writable:
#
#   PREFIX/Quillmark, PREFIX/quillmark-print
#   PREFIX/share/applications/quillmark.desktop
#   PREFIX/share/icons/hicolor/NxN/apps/quillmark.png          (16, 32, 48, 128)
#   PREFIX/share/quillmark/autostart/quillmark.desktop          (starts it hidden: -autorun)
#   PREFIX/share/quillmark/folder-action                        (the file manager's action)
#   PREFIX/share/quillmark/servicemenus/quillmark-print-folder.desktop   (KDE's menu entry for it)
#
# scripts/install.sh runs this install and then makes the desktop find the entries.

set(QUILLMARK_ICON_SIZES 16 32 48 128)
add_executable(quillmark_iconpng resources/iconpng.cpp)
target_link_libraries(quillmark_iconpng PRIVATE Qt5::Gui)
set(_icon_pngs)
foreach(size ${QUILLMARK_ICON_SIZES})
    list(APPEND _icon_pngs ${CMAKE_BINARY_DIR}/icons/${size}x${size}.png)
endforeach()
add_custom_command(OUTPUT ${_icon_pngs}
    COMMAND quillmark_iconpng ${PROJECT_SOURCE_DIR}/resources/images/kov.ico ${CMAKE_BINARY_DIR}/icons
            ${QUILLMARK_ICON_SIZES}
    DEPENDS quillmark_iconpng ${PROJECT_SOURCE_DIR}/resources/images/kov.ico
    COMMENT "Icon pictures for the desktop's icon theme")
add_custom_target(quillmark_icons ALL DEPENDS ${_icon_pngs})

# The office's libraries are found through the rpath that the UNO client puts on its link line; CMake's
# own build rpath would only be rewritten (and fail to be) at install time.
set_target_properties(Quillmark quillmark-print PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
install(TARGETS Quillmark quillmark-print RUNTIME DESTINATION .)
foreach(size ${QUILLMARK_ICON_SIZES})
    install(FILES ${CMAKE_BINARY_DIR}/icons/${size}x${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME quillmark.png)
endforeach()
install(PROGRAMS resources/desktop/folder-action.sh DESTINATION share/quillmark RENAME folder-action)
# The entries name the installed programs by their absolute paths, known only at install time.
install(CODE "set(QUILLMARK_ENTRY_SOURCE \"${PROJECT_SOURCE_DIR}/resources/desktop\")
              set(QUILLMARK_ENTRY_BINARY \"${CMAKE_BINARY_DIR}/install-entries\")")
install(SCRIPT cmake/InstallEntries.cmake)
