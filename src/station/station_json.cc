// The status as the API's JSON object: the same fields for /api/status, the
// events stream and the answers of the three controls.
#include <nlohmann/json.hpp>

#include "station/station_hub.h"

std::string station_status_json(const station_status& status) {
  nlohmann::json out;
  out["state"] = station_state_name(status.state);
  out["file"] = status.file;
  out["line"] = status.line;
  out["text"] = status.text;
  out["commands"] = status.commands;
  out["commands_total"] = status.commands_total;
  out["position"] = {{"x", status.position[0]}, {"y", status.position[1]},
                     {"z", status.position[2]}};
  out["elapsed_s"] = status.elapsed_s;
  out["remaining_s"] = status.remaining_s;
  out["recoveries"] = status.recoveries;
  out["last_recovery"] = status.last_recovery;
  out["messages"] = status.messages;
  out["ended"] = status.ended;
  if (status.ended)
    out["exit_code"] = status.exit_code;
  else
    out["exit_code"] = nullptr;
  // A G-code line or a message may hold bytes that are not UTF-8 (a comment
  // in Latin-1): they are replaced, never a reason to fail the answer.
  return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
