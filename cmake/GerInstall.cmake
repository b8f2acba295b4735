# Install rules and the two Debian packages: ger-server (the application server, its service)
# and ger-host (the desktop program and the module). The private libraries go into each
# package's own folder, so the packages share no file and install side by side.
include(GNUInstallDirs)

# Private libraries in /usr/lib/PACKAGE, as Debian keeps them; the host looks for its module
# there too.
set(_ger_server_libdir lib/ger-server)
set(_ger_host_libdir lib/ger-host)

# Installed binaries find their libraries next to them, never in the build tree.
set_target_properties(ger-server ger-consulta PROPERTIES
                      INSTALL_RPATH "$ORIGIN/../${_ger_server_libdir}")
set_target_properties(ger-host PROPERTIES INSTALL_RPATH "$ORIGIN/../${_ger_host_libdir}")
foreach(lib gerdata gerrules gerrpc gercomponents Pkg_ger09400)
    set_target_properties(${lib} PROPERTIES INSTALL_RPATH "$ORIGIN")
endforeach()

install(TARGETS ger-server ger-consulta RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT server)
install(TARGETS gerdata gerrules gerrpc LIBRARY DESTINATION ${_ger_server_libdir}
        COMPONENT server NAMELINK_SKIP)
install(FILES packaging/ger-server.service DESTINATION lib/systemd/system COMPONENT server)
# /etc whatever the prefix: that is where the service unit looks.
install(FILES packaging/ger-server.conf DESTINATION /etc/ger COMPONENT server)
install(FILES README.md docs/protocol.md docs/operations.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ger-server COMPONENT server)
# An auditor's check of an exported history, without the server's binary.
install(PROGRAMS scripts/verify-history
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ger-server COMPONENT server)

install(TARGETS ger-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
install(TARGETS gerdata gerrules gerrpc gercomponents Pkg_ger09400
        LIBRARY DESTINATION ${_ger_host_libdir} COMPONENT desktop NAMELINK_SKIP)
install(FILES packaging/ger-host.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT desktop)
install(FILES packaging/ger-host.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
install(FILES README.md host/help/ger09400.html
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ger-host COMPONENT desktop)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ger)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ger")
set(CPACK_PACKAGE_CONTACT "Ger <suporte@ger.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps finds the private libraries where the build left them (one folder: the
# variable takes only one here).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME ger-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "Ger - Parâmetro Contábil: servidor de aplicação\n Guarda, para cada empresa do grupo, os períodos contábeis, de lançamento e de\n integração e os controles de lançamento, em SQLite ou PostgreSQL. Serviço systemd\n ger-server, configuração em /etc/ger/ger-server.conf, dados em /var/lib/ger.")
# The database drivers are plugins: no library link names them.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql, passwd")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm
    ${CMAKE_SOURCE_DIR}/packaging/postrm ${CMAKE_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ger-host)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "Ger - Parâmetro Contábil: programa de mesa\n As telas Parâmetro Contábil (GER09400) e Cadastramento Automático (GER09410),\n ligadas a um servidor ger-server.")
# The platform plugins and the local copies' driver are plugins; Qt's own Portuguese texts
# come from the translations.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "qt6-translations-l10n")

include(CPack)
