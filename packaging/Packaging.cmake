# The Debian package (cpack -G DEB): the program, its form files and pictures, a desktop entry, the
# program's picture as an icon of the hicolor theme, a manual page, the copyright and changelog.
# Run-time dependencies come from the program's libraries (dpkg-shlibdeps) plus the CJK font the
# Chinese window needs. scripts/check-package.sh builds and checks it.
set(QS_PACKAGE_NAME quillstage-setup-downloader)
set(QS_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(QS_PACKAGED_DIR ${CMAKE_BINARY_DIR}/packaging)

# Debian wants the manual page and the changelog compressed, without a time stamp in the gzip header.
find_program(QS_GZIP gzip REQUIRED)
foreach(pair "setup-downloader.1;setup-downloader.1.gz" "changelog;changelog.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${QS_PACKAGED_DIR}/${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QS_PACKAGED_DIR}
    COMMAND ${QS_GZIP} -9nc ${QS_PACKAGING_DIR}/${source} > ${QS_PACKAGED_DIR}/${target}
    DEPENDS ${QS_PACKAGING_DIR}/${source} VERBATIM)
  list(APPEND QS_PACKAGED_FILES ${QS_PACKAGED_DIR}/${target})
endforeach()
add_custom_target(packaging-files ALL DEPENDS ${QS_PACKAGED_FILES})

install(FILES ${QS_PACKAGING_DIR}/setup-downloader.desktop DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/ProgramIcon.png DESTINATION share/icons/hicolor/32x32/apps
        RENAME setup-downloader.png)
install(FILES ${QS_PACKAGED_DIR}/setup-downloader.1.gz DESTINATION share/man/man1)
install(FILES ${QS_PACKAGING_DIR}/copyright ${QS_PACKAGED_DIR}/changelog.gz DESTINATION share/doc/${QS_PACKAGE_NAME})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QS_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillstage packaging <packaging@quillstage.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fetches a product's installation files by FTP and starts its setup")
# The extended description (cpack puts the summary above it and indents each line).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A desktop program that logs on to a product's FTP server, lists the product's
folder, downloads every file into a local folder and offers to start the
downloaded setup program. Its window is in English or Traditional Chinese,
switchable at run time; without a display it runs unattended.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillstage.example/setup-downloader")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's xcb platform plugin comes with libqt6gui6; the font shows the Chinese window; Qt's own
# translations give its dialog buttons in Chinese.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
