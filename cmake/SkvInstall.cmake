# Installing as Linux plug-ins are installed: the VST 2.x library into lib/vst, the LV2 bundle
# into lib/lv2, the render tool into bin (all below CMAKE_INSTALL_PREFIX); and a Debian package
# of the same through CPack (cpack -G DEB, prefix /usr). The build tree's own copies stay as
# they are: tests never load them in place, so no "Skorvaline Data" folder lands in a package.
install(TARGETS Skorvaline LIBRARY DESTINATION lib/vst)
if(TARGET Skorvaline_lv2)
  install(TARGETS Skorvaline_lv2 LIBRARY DESTINATION lib/lv2/Skorvaline.lv2)
  install(FILES ${SKV_LV2_BUNDLE}/manifest.ttl ${SKV_LV2_BUNDLE}/Skorvaline.ttl
          DESTINATION lib/lv2/Skorvaline.lv2)
endif()
if(TARGET skorvaline-render)
  install(TARGETS skorvaline-render RUNTIME DESTINATION bin)
endif()

set(CPACK_PACKAGE_NAME skorvaline)
set(CPACK_PACKAGE_VENDOR "skorvaline.org")
set(CPACK_PACKAGE_CONTACT "Skorvaline <maintainers@skorvaline.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Stereo delay with picture-driven lattice filters (VST 2.x and LV2 plug-in)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build tree; the package carries stripped files.
set(CPACK_STRIP_FILES ON)
# The libraries the three files link, by their Debian 12 package names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, zlib1g, libtinyxml2-9, libcairo2, libx11-6, libsndfile1")
include(CPack)
