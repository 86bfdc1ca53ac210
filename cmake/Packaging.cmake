# Install layout and packages (cpack: .deb per component, one .tar.gz of everything).
#   plugin      libVexaDev.so, the host header, the sample configuration, the guides
#   accesslibs  the stand-in access libraries; a host that has the real ones installs the plug-in alone
#   tools       gwhost and devsim
# Plain "lib": gwhost looks for the plug-in at ../lib/libVexaDev.so beside itself.
set(VEXA_VERSION 1.0.0)

install(TARGETS VexaDev LIBRARY DESTINATION lib COMPONENT plugin)
install(FILES ${PROJECT_SOURCE_DIR}/include/vexadev/VexaDevPlugin.h DESTINATION include/vexadev COMPONENT plugin)
install(FILES ${PROJECT_SOURCE_DIR}/config/local_config.xml DESTINATION share/vexadev COMPONENT plugin)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/vexadev COMPONENT plugin)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION share/doc/vexadev COMPONENT plugin
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES ${PROJECT_SOURCE_DIR}/examples/host_c/host.c DESTINATION share/doc/vexadev/examples/host_c
  COMPONENT plugin)

install(TARGETS VEXACMS VEXAAMS vexasdk_session LIBRARY DESTINATION lib COMPONENT accesslibs)
install(TARGETS gwhost devsim RUNTIME DESTINATION bin COMPONENT tools)

set(CPACK_PACKAGE_NAME vexadev)
set(CPACK_PACKAGE_VENDOR "VexaDev")
set(CPACK_PACKAGE_VERSION ${VEXA_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Device-access driver plug-in for a security gateway host")
set(CPACK_PACKAGE_CONTACT "VexaDev maintainers <vexadev@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_COMPONENTS_ALL plugin accesslibs tools)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_PACKAGE_FILE_NAME vexadev-${VEXA_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_NAME vexadev-plugin)
set(CPACK_DEBIAN_ACCESSLIBS_PACKAGE_NAME vexadev-accesslibs)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vexadev-tools)
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION "VexaDev plug-in: libVexaDev.so, host header, sample configuration, guides")
set(CPACK_COMPONENT_ACCESSLIBS_DESCRIPTION "Stand-in device-access libraries (libVEXACMS.so, libVEXAAMS.so)")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "gwhost (a small host for the plug-in) and devsim (simulated devices)")

set(vexa_base_deps "libc6, libstdc++6, libgcc-s1")
set(CPACK_DEBIAN_PLUGIN_PACKAGE_DEPENDS "${vexa_base_deps}, libjsoncpp25, libtinyxml2.6.2v5")
# The plug-in works with any library pair of this interface, the stand-ins or the real ones.
set(CPACK_DEBIAN_PLUGIN_PACKAGE_RECOMMENDS "vexadev-accesslibs (= ${VEXA_VERSION})")
set(CPACK_DEBIAN_ACCESSLIBS_PACKAGE_DEPENDS "${vexa_base_deps}, libjsoncpp25, libssl3")
# The tools' library packages come from dpkg-shlibdeps (gwhost's console adds Debian's HTTP
# library); the plug-in's and the access libraries' are listed, because they need each other's
# unpackaged libraries, which dpkg-shlibdeps cannot place.
set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "vexadev-plugin (= ${VEXA_VERSION})")

include(CPack)
cpack_add_component(plugin DISPLAY_NAME "Plug-in")
cpack_add_component(accesslibs DISPLAY_NAME "Access libraries (stand-ins)")
cpack_add_component(tools DISPLAY_NAME "Tools")
