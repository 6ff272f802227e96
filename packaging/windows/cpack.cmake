# The portable zip and the NSIS installer, built by scripts/windows with
# cpack -G "ZIP;NSIS" in build-windows/.
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME rzt604-modbus)
set(CPACK_PACKAGE_VENDOR "RZT-604 service tools")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the RZT-604D current-monitoring controller")
set(CPACK_PACKAGE_FILE_NAME rzt604-modbus-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
# The zip unpacks into one folder of that name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

set(CPACK_PACKAGE_INSTALL_DIRECTORY rzt604-modbus)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY rzt604-modbus)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "RZT-604Д Modbus")
set(CPACK_NSIS_DISPLAY_NAME "RZT-604Д Modbus ${PROJECT_VERSION}")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_PACKAGE_EXECUTABLES rzt604-modbus "RZT-604Д Modbus")
set(CPACK_NSIS_INSTALLED_ICON_NAME rzt604-modbus.exe)
set(CPACK_NSIS_MUI_ICON ${RZT_ICO})
set(CPACK_NSIS_MUI_UNIICON ${RZT_ICO})
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_UNINSTALL_NAME uninstall)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/packaging/copyright)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-per-generator.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cpack-per-generator.cmake
     "if(CPACK_GENERATOR STREQUAL NSIS)\n"
     "    set(CPACK_PACKAGE_FILE_NAME \"\${CPACK_PACKAGE_FILE_NAME}-setup\")\n"
     "endif()\n")

# CMake's NSIS script, made a 64-bit Unicode installer: the Cyrillic names of
# the Start-menu entry and of the installer survive any code page, and it
# runs where the programs run (a 64-bit Wine included).
set(rzt_template ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
file(READ ${rzt_template} rzt_bom_hex LIMIT 3 HEX)
if(NOT rzt_bom_hex STREQUAL "efbbbf")
    message(FATAL_ERROR "${rzt_template} is not UTF-8 with a byte order mark")
endif()
file(READ ${rzt_template} rzt_bom LIMIT 3)
file(READ ${rzt_template} rzt_nsis OFFSET 3)
file(WRITE ${CMAKE_BINARY_DIR}/nsis/NSIS.template.in "${rzt_bom}Target amd64-unicode\n${rzt_nsis}")
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_BINARY_DIR}/nsis)

include(CPack)
