// millstation's web server: the page, the status as JSON, a stream of
// events, the toolpath picture and the three controls (pause, continue,
// stop). It only reads the hub and hands it requests: the run never waits
// for a client, so a slow or vanished page cannot hold up the job.
#pragma once

#include <string>

#include "station/station_hub.h"

struct station_server_options {
  std::string host = "127.0.0.1";
  int port = 8080;    // 0: any free port
  std::string token;  // required for /api/
};

/// Starts serving in its own threads; false with `error` set when the address cannot be bound.
bool station_server_start(station_hub& hub, const station_server_options& options,
                          std::string toolpath_svg, std::string& error);
/// The bound port (after start).
int station_server_port();
/// Ends every stream, joins the threads.
void station_server_stop();

