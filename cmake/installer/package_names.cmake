# Read by CPack before each generator: the setup program and the ZIP get names of their own.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "accelclient-${CPACK_PACKAGE_VERSION}-setup")
else()
  set(CPACK_PACKAGE_FILE_NAME "accelclient-${CPACK_PACKAGE_VERSION}-${CPACK_ACCEL_ARCH}")
endif()
