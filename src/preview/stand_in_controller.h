// The stand-in controller: a link a previewed script opens is answered here,
// as a healthy controller would answer, so that a preview never drives a
// machine. Every command is accepted; home commands and scale queries get a
// reply that leaves the scales as they are.
#pragma once

#include "platform/device.h"

/// Opens a stand-in controller whatever the path names; the shape of a
/// device opener, so that it can stand in for the platform's. Null only when
/// memory runs out.
port_handle open_stand_in_controller(const char* path, port_kind kind,
                                     open_disposition disposition);
