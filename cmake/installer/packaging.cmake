# The release: one setup program (CPack's NSIS generator, Debian's makensis) and a ZIP of the
# same program directory, both from what `cmake --install` lays out:
#   cmake --preset win32 && cmake --build --preset win32 --target package
# The 64-bit build makes a 64-bit setup program too, for the installer test under wine64.
if(NOT WIN32)
  return()
endif()

# The version the version resource states: client/shell/version.h is where it takes it from.
file(STRINGS "${CMAKE_SOURCE_DIR}/client/shell/version.h" _accel_version_line
     REGEX "^#define ACCEL_VERSION_TEXT \"[0-9]+\\.[0-9]+\\.[0-9]+\"$")
if(NOT _accel_version_line MATCHES "\"([0-9]+)\\.([0-9]+)\\.([0-9]+)\"")
  message(FATAL_ERROR "client/shell/version.h: no ACCEL_VERSION_TEXT \"a.b.c\"")
endif()
set(CPACK_PACKAGE_VERSION_MAJOR ${CMAKE_MATCH_1})
set(CPACK_PACKAGE_VERSION_MINOR ${CMAKE_MATCH_2})
set(CPACK_PACKAGE_VERSION_PATCH ${CMAKE_MATCH_3})
set(CPACK_PACKAGE_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
if(NOT CPACK_PACKAGE_VERSION VERSION_EQUAL PROJECT_VERSION)
  message(WARNING "client/shell/version.h says ${CPACK_PACKAGE_VERSION}, project() says "
                  "${PROJECT_VERSION}: the packages take the version resource's")
endif()

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME accelclient)
set(CPACK_PACKAGE_VENDOR "Vela网络")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vela网游加速器")
# The folder under Program Files, and the name of the uninstall key.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "VelaVPN")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "VelaVPN")
set(CPACK_NSIS_PACKAGE_NAME "Vela网游加速器")
set(CPACK_NSIS_DISPLAY_NAME "Vela网游加速器")
# Both windows of a running client carry this title; the main window also has its own class.
set(CPACK_ACCEL_CLIENT_TITLE "Vela网游加速器 V2.1")
set(CPACK_ACCEL_CLIENT_CLASS "AccelMainFrame")
set(CPACK_ACCEL_ICON "${CMAKE_SOURCE_DIR}/client/shell/res/accelclient.ico")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_ACCEL_NSIS_TARGET amd64-unicode)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(_accel_arch win64)
else()
  # The Unicode stub runs on every NT system from Windows 2000 on.
  set(CPACK_ACCEL_NSIS_TARGET x86-unicode)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
  set(_accel_arch win32)
endif()

# accelclient-<version>-setup.exe and accelclient-<version>-win32.zip: the file name is per
# generator, so it is set when CPack runs each one.
set(CPACK_ACCEL_ARCH ${_accel_arch})
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/package_names.cmake")

# CPack takes NSIS.template.in from the module path before its own.
list(PREPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}")
include(CPack)

# Test: a setup program installed, upgraded and removed under Wine, with the end-to-end
# command recorder in place of the system's icacls. The 64-bit build makes its own and runs it
# under wine64; the 32-bit lane takes the shipping build's, beside the shipping program
# directory, under the 32-bit Wine.
if(ACCEL_TESTS AND TARGET gui_driver AND TARGET command_recorder)
  if(ACCEL_SHIPPING_DIR)
    get_filename_component(_accel_setup_build "${ACCEL_SHIPPING_DIR}" DIRECTORY)
    set(_accel_lane win32)
  else()
    set(_accel_setup_build "${CMAKE_BINARY_DIR}")
    set(_accel_lane win64)
  endif()
  if(ACCEL_SHIPPING_DIR OR CMAKE_SIZEOF_VOID_P EQUAL 8)
    # Through scripts/wine-test as every test program under Wine: the Wine processes that the
    # setup program starts must not hold CTest's pipe open after the test.
    add_test(NAME installer_test
             COMMAND "${CMAKE_SOURCE_DIR}/scripts/wine-test"
                     bash "${CMAKE_CURRENT_LIST_DIR}/installer_test.sh" "${_accel_setup_build}"
                     "$<TARGET_FILE:gui_driver>" "${CMAKE_BINARY_DIR}" ${_accel_lane}
                     "$<TARGET_FILE:command_recorder>")
    set_tests_properties(installer_test PROPERTIES TIMEOUT 900 RUN_SERIAL ON)
  endif()
endif()
