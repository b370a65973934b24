# The Debian packages, built by CPack from this build tree (`make package`):
#   vantrel        the host (brisholm), its desktop entry, icon and manual page
#   vantrel-probe  the command-line phone, apart because its decoder pulls in FFmpeg's libraries
# Dependencies on shared libraries come from dpkg-shlibdeps; what the host needs at run time
# without linking it is named here. Nothing goes to /etc: no conffiles, so removing a package
# leaves none of its files behind, and nothing starts at log-in unless a user turns it on.
include(GNUInstallDirs)

set(VANTREL_PACKAGE_MAINTAINER "Vantrel maintainers <maintainers@vantrel.example.org>"
    CACHE STRING "Maintainer field of the Debian packages")

set(vantrel_package_host vantrel)
set(vantrel_package_probe vantrel-probe)

# Manual pages and the documents Debian asks of every package, compressed as it expects
# (gzip -9 without name and time stamp, so the same tree gives the same bytes).
set(vantrel_package_files)
function(vantrel_package_gzip source output)
  configure_file(${source} ${output} @ONLY)
  add_custom_command(OUTPUT ${output}.gz COMMAND gzip -9nkf ${output} DEPENDS ${output} ${source} VERBATIM)
  set(vantrel_package_files ${vantrel_package_files} ${output}.gz PARENT_SCOPE)
endfunction()

set(vantrel_package_dir ${PROJECT_BINARY_DIR}/packaging)
foreach(component host probe)
  set(package ${vantrel_package_${component}})
  vantrel_package_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${vantrel_package_dir}/${package}/changelog)
  install(FILES ${vantrel_package_dir}/${package}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
vantrel_package_gzip(${PROJECT_SOURCE_DIR}/packaging/brisholm.1.in ${vantrel_package_dir}/brisholm.1)
vantrel_package_gzip(${PROJECT_SOURCE_DIR}/packaging/vantrel-probe.1.in ${vantrel_package_dir}/vantrel-probe.1)
install(FILES ${vantrel_package_dir}/brisholm.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT host)
install(FILES ${vantrel_package_dir}/vantrel-probe.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT probe)
add_custom_target(vantrel_package_documents ALL DEPENDS ${vantrel_package_files})

# The installed programs face the network: their relocations are resolved at start and then
# read-only (full RELRO), as Debian builds its own.
set_property(TARGET brisholm vantrel-probe APPEND PROPERTY LINK_OPTIONS "LINKER:-z,relro,-z,now")

# cpack packages what is built and does not build the rest first: the tests package exactly the
# programs they test, without rebuilding anything beside the running suite. `make package`
# builds everything before it packages.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${vantrel_package_host})
set(CPACK_PACKAGE_VENDOR Vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VANTREL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL host probe)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_HOST_PACKAGE_NAME ${vantrel_package_host})
# The panel's switches and icons are SVG, drawn by Qt's SVG plugins; DNS-SD needs the avahi
# daemon, and the pairing key a Secret Service (without one the key lasts for the session only);
# the panel in a Wayland session Qt's Wayland plugin (without it the host runs without a panel).
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_HOST_PACKAGE_RECOMMENDS "avahi-daemon, qt6-wayland")
set(CPACK_DEBIAN_HOST_PACKAGE_SUGGESTS "gnome-keyring | keepassxc, ${vantrel_package_probe}")
# CPack indents every line after the summary and turns empty lines into " .".
set(CPACK_DEBIAN_HOST_DESCRIPTION "lets a paired phone watch and operate this computer
Vantrel shows one display of this X11 desktop to a paired phone on the same
local network as a low-latency H.264 stream over one TLS connection, and
carries out the phone's pointer, keyboard and text input. A tray panel holds
the sharing switch and the pairing code. The host starts at log-in only for
users who turn that on.

brisholm --headless streams a test pattern instead, for testing phone clients.")

set(CPACK_DEBIAN_PROBE_PACKAGE_NAME ${vantrel_package_probe})
set(CPACK_DEBIAN_PROBE_DESCRIPTION "command-line phone for a Vantrel host
vantrel-probe connects to a Vantrel host with its pairing link like a paired
phone, prints what the host sends as JSON lines, can send input and display
choices, decodes and saves the video, and reports frame rate, bitrate and
latency. It checks that a host is reachable and that a link works, and drives
hosts in tests.")

include(CPack)

# The packages built and checked by lintian in every test run (label deb), and installed,
# run and removed again only when asked (label package: it changes the machine; the Makefile
# runs it with PACKAGE_TESTS=1, as CI does). Sanitizer builds make no packages worth checking.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(vantrel_package_tests_default OFF)
else()
  set(vantrel_package_tests_default ON)
endif()
option(VANTREL_PACKAGE_TESTS "Register the tests that build, check and install the Debian packages"
       ${vantrel_package_tests_default})
if(VANTREL_BUILD_TESTS AND VANTREL_PACKAGE_TESTS)
  set(vantrel_package_test_dir ${PROJECT_BINARY_DIR}/package-test)
  add_test(NAME package_build_and_lint
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-build.sh ${PROJECT_BINARY_DIR} ${vantrel_package_test_dir})
  set_tests_properties(package_build_and_lint PROPERTIES
    LABELS deb FIXTURES_SETUP vantrel_packages RESOURCE_LOCK vantrel_packages)
  add_test(NAME package_install_run_remove
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-install-test.sh ${vantrel_package_test_dir})
  set_tests_properties(package_install_run_remove PROPERTIES
    LABELS package FIXTURES_REQUIRED vantrel_packages RUN_SERIAL TRUE SKIP_RETURN_CODE 77)
endif()
