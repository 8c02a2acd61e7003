// vantera: the fingerprint workstation.
#include <iostream>

#include "app/application.h"
#include "app/command_line.h"
#include "fingerprint/libfprint_devices.h"

int main(int argc, char** argv) {
  vantera::CommandLine command = vantera::ParseCommandLine(argc, argv);
  if (command.mode != vantera::CommandLine::kRunWindow)
    return vantera::RunCommand(command, std::cout, std::cerr, vantera::ListReaders);
  return vantera::RunWorkstation(argc, argv, command);
}
