include(GNUInstallDirs)

# vantera_install_unit(NAME): installs packaging/NAME.service.in as lib/systemd/system/
# NAME.service under the install prefix. The unit is written at install time, so that its
# ExecStart names the program under the prefix actually used (cmake --install --prefix).
function(vantera_install_unit name)
  set(template ${CMAKE_SOURCE_DIR}/packaging/${name}.service.in)
  install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/${name}.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${template}\" \"\${unit}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit}\")
  ")
endfunction()
