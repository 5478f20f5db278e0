// The stand-in controller: a link a previewed script opens is answered here,
// as a healthy controller would answer, so that a preview never drives a
// machine. Every command is accepted; home commands and scale queries get a
// reply that leaves the scales as they are.
#pragma once

#include <string>

#include "platform/device.h"
#include "runner/run_options.h"

/// Opens a stand-in controller whatever the path names; the shape of a
/// device opener, so that it can stand in for the platform's. Null only when
/// memory runs out.
port_handle open_stand_in_controller(const char* path, port_kind kind,
                                     open_disposition disposition);

/// A run that moves no machine and writes nothing: no output files, dwells
/// do not wait, every port a script opens is a stand-in controller.
run_options stand_in_run_options(const std::string& script);
