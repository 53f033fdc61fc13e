# The Debian package (included by packaging/CMakeLists.txt on Linux): the programs, what a desktop
# expects of an application (desktop entry, hicolor icons, AppStream metainfo), a manual page per
# program, and /usr/share/doc/qamupdate as Debian's checks ask for it (DEP-5 copyright, changelog,
# the README of the package).
set(QAM_LINUX_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QAM_LINUX_OUT ${CMAKE_CURRENT_BINARY_DIR}/linux)

foreach(program qamupdate qamtool qamfile qam-module-sim)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION bin)
    endif()
endforeach()

# The changelog names the package's version: a new version needs its entry first.
execute_process(COMMAND dpkg-parsechangelog -l ${QAM_LINUX_DIR}/changelog -S Version
                OUTPUT_VARIABLE QAM_CHANGELOG_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT QAM_CHANGELOG_VERSION STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "packaging/linux/changelog ends at ${QAM_CHANGELOG_VERSION}, the project is ${PROJECT_VERSION}")
endif()

# Compressed as Debian ships them: gzip -9n, no name or time stamp inside.
set(QAM_PACKAGE_FILES)
function(qam_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QAM_LINUX_OUT}
        COMMAND sh -c "gzip -9n <\"$1\" >\"$2\"" sh ${source} ${output}
        DEPENDS ${source} VERBATIM)
    set(QAM_PACKAGE_FILES ${QAM_PACKAGE_FILES} ${output} PARENT_SCOPE)
endfunction()

set(doc share/doc/qamupdate)
qam_gzip(${QAM_LINUX_DIR}/changelog ${QAM_LINUX_OUT}/changelog.gz)
install(FILES ${QAM_LINUX_OUT}/changelog.gz ${QAM_LINUX_DIR}/copyright ${QAM_LINUX_DIR}/README DESTINATION ${doc})

set(pages qamtool qamfile qam-module-sim)
if(TARGET qamupdate)
    list(APPEND pages qamupdate)
endif()
foreach(page ${pages})
    qam_gzip(${QAM_LINUX_DIR}/man/${page}.1 ${QAM_LINUX_OUT}/${page}.1.gz)
    install(FILES ${QAM_LINUX_OUT}/${page}.1.gz DESTINATION share/man/man1)
endforeach()

if(TARGET qamupdate)
    install(FILES ${QAM_LINUX_DIR}/qamupdate.desktop DESTINATION share/applications)
    install(FILES ${QAM_LINUX_DIR}/org.qamupdate.QamUpdate.metainfo.xml DESTINATION share/metainfo)
    # The icon for the desktop's icon theme: the drawing itself and the sizes menus, docks and
    # software centres ask for.
    find_program(QAM_RSVG_CONVERT rsvg-convert REQUIRED)
    install(FILES ${QAM_LINUX_DIR}/qamupdate.svg DESTINATION share/icons/hicolor/scalable/apps)
    foreach(size 16 32 48 64 128 256)
        set(png ${QAM_LINUX_OUT}/${size}x${size}/qamupdate.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${QAM_LINUX_OUT}/${size}x${size}
            COMMAND ${QAM_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${QAM_LINUX_DIR}/qamupdate.svg
            DEPENDS ${QAM_LINUX_DIR}/qamupdate.svg VERBATIM)
        list(APPEND QAM_PACKAGE_FILES ${png})
        install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
    endforeach()
endif()
add_custom_target(qamupdate_package_files ALL DEPENDS ${QAM_PACKAGE_FILES})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What dpkg-shlibdeps finds (Qt's xcb platform plugin comes with libqt6gui6) and the font the
# window stands in for the template's; Qt's translations for the standard buttons and dialogs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
file(READ ${QAM_LINUX_DIR}/description CPACK_PACKAGE_DESCRIPTION)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QAM_LINUX_DIR}/description ${QAM_LINUX_DIR}/changelog)
