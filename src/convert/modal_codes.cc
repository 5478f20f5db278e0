#include "convert/modal_codes.h"

#include <cstdio>

#include "convert/convert_messages.h"

namespace {

enum class g_role {
  motion,
  dwell,
  plane,
  units,
  distance,
  arc_distance,
  retract,
  home,
  machine,
  cancel_cycle,
  ignored,
  refused
};

struct g_entry {
  int code;  // in tenths, as the word reader keeps it
  g_role role;
  const char* why;  // for refused codes
};

const g_entry g_table[] = {
    {0, g_role::motion, nullptr},
    {10, g_role::motion, nullptr},
    {20, g_role::motion, nullptr},
    {30, g_role::motion, nullptr},
    {40, g_role::dwell, nullptr},
    {170, g_role::plane, nullptr},
    {180, g_role::plane, nullptr},
    {190, g_role::plane, nullptr},
    {200, g_role::units, nullptr},
    {210, g_role::units, nullptr},
    {280, g_role::home, nullptr},
    {300, g_role::home, nullptr},
    {400, g_role::ignored, nullptr},
    {430, g_role::ignored, nullptr},
    {490, g_role::ignored, nullptr},
    {530, g_role::machine, nullptr},
    {540, g_role::ignored, nullptr},
    {610, g_role::ignored, nullptr},
    {611, g_role::ignored, nullptr},
    {640, g_role::ignored, nullptr},
    {690, g_role::ignored, nullptr},
    {150, g_role::ignored, nullptr},
    {500, g_role::ignored, nullptr},
    {921, g_role::ignored, nullptr},
    {922, g_role::ignored, nullptr},
    {730, g_role::motion, nullptr},
    {810, g_role::motion, nullptr},
    {820, g_role::motion, nullptr},
    {830, g_role::motion, nullptr},
    {800, g_role::cancel_cycle, nullptr},
    {900, g_role::distance, nullptr},
    {910, g_role::distance, nullptr},
    {901, g_role::arc_distance, nullptr},
    {911, g_role::arc_distance, nullptr},
    {930, g_role::ignored, nullptr},
    {940, g_role::ignored, nullptr},
    {950, g_role::ignored, nullptr},
    {980, g_role::retract, nullptr},
    {990, g_role::retract, nullptr},
    {410, g_role::refused,
     "cutter compensation (G41/G42) is not supported: millrun moves the tool's centre "
     "along the path as written; post the job with compensation done in the CAM program"},
    {420, g_role::refused,
     "cutter compensation (G41/G42) is not supported: millrun moves the tool's centre "
     "along the path as written; post the job with compensation done in the CAM program"},
    {920, g_role::refused,
     "G92 offsets are not supported: they move the origin of every later coordinate"},
    {923, g_role::refused,
     "G92 offsets are not supported: they move the origin of every later coordinate"},
    {100, g_role::refused,
     "G10 offsets are not supported: they move the origin of every later coordinate"},
    {520, g_role::refused,
     "G52 offsets are not supported: they move the origin of every later coordinate"},
    {160, g_role::refused,
     "polar coordinates (G16) are not supported: post the job with X, Y and Z"},
    {510, g_role::refused, "scaling (G51) is not supported: post the job at its size"},
    {680, g_role::refused, "rotation (G68) is not supported: post the job as it is to be cut"},
    {281, g_role::refused, "G28.1/G30.1 set the controller's own home: millrun's home is fixed"},
    {301, g_role::refused, "G28.1/G30.1 set the controller's own home: millrun's home is fixed"},
};

const char* refused_g_why(int code) {
  if (code >= 550 && code <= 593)
    return "work offsets G55-G59 are not supported: the job does not state them; post the job in "
           "G54";
  if (code >= 380 && code <= 389) return "probing (G38) is not supported: millrun has no probe";
  if (code == 840 || code == 841 || code == 742 || code == 740 || (code >= 850 && code <= 890))
    return "this canned cycle is not supported (G73, G81, G82 and G83 are): post it as plain moves";
  return "this G-code is not supported by millprep";
}

const g_entry* find_g(int code) {
  for (const g_entry& entry : g_table)
    if (entry.code == code) return &entry;
  return nullptr;
}

std::string g_name(int code) {
  char text[16];
  if (code % 10)
    std::snprintf(text, sizeof text, "G%d.%d", code / 10, code % 10);
  else
    std::snprintf(text, sizeof text, "G%d", code / 10);
  return text;
}

// The modal group of a code (tenths), 0 for none: two codes of one group
// on one line contradict each other (G20 G21, G90 G91, G0 G1). The codes
// that act on their own line only (G4, G28, G30, G53, G92.x) count as one
// group too. G80 stands apart: it cancels the cycle before a motion code.
int modal_group(int code) {
  switch (code) {
    case 0:
    case 10:
    case 20:
    case 30:
    case 730:
    case 810:
    case 820:
    case 830:
      return 1;
    case 170:
    case 180:
    case 190:
      return 2;
    case 900:
    case 910:
      return 3;
    case 901:
    case 911:
      return 4;
    case 930:
    case 940:
    case 950:
      return 5;
    case 200:
    case 210:
      return 6;
    case 400:
    case 410:
    case 420:
      return 7;
    case 430:
    case 490:
      return 8;
    case 980:
    case 990:
      return 10;
    case 610:
    case 611:
    case 640:
      return 13;
    case 40:
    case 280:
    case 300:
    case 530:
    case 921:
    case 922:
      return 20;
    default:
      return 0;
  }
}

}  // namespace

bool read_line_codes(convert_state& state, const gcode_block& block, long number,
                     const std::string& text, line_codes& codes) {
  int group_code[21];
  for (int& g : group_code) g = -1;
  for (int i = 0; i < block.g_count; ++i) {
    int code = block.g[i];
    const g_entry* entry = find_g(code);
    if (!entry || entry->role == g_role::refused)
      return refuse_line(state, number, text,
                         g_name(code) + ": " + (entry ? entry->why : refused_g_why(code)));
    int group = modal_group(code);
    if (group > 0 && group_code[group] >= 0)
      return refuse_line(state, number, text,
                         g_name(group_code[group]) + " and " + g_name(code) +
                             " on one line contradict each other: give one of them");
    if (group > 0) group_code[group] = code;
    switch (entry->role) {
      case g_role::motion:
        codes.motion_word = code / 10;
        break;
      case g_role::dwell:
        codes.dwell = true;
        break;
      case g_role::plane:
        state.plane = code / 10;
        break;
      case g_role::units:
        state.units = code / 10;
        break;
      case g_role::distance:
        state.absolute = code == 900;
        break;
      case g_role::arc_distance:
        state.arc_centers_absolute = code == 901;
        break;
      case g_role::retract:
        state.retract_to_start = code == 980;
        break;
      case g_role::home:
        codes.home_word = code / 10;
        break;
      case g_role::machine:
        codes.machine = true;
        break;
      case g_role::cancel_cycle:
        state.cycle_active = false;
        if (codes.motion_word < 0) state.motion = state.last_linear;
        break;
      case g_role::ignored:
      case g_role::refused:
        break;
    }
  }
  return true;
}

void take_motion_word(convert_state& state, int motion_word) {
  if (motion_word < 0) return;
  if (motion_word >= 73 && !state.cycle_active) {
    state.cycle_active = true;
    state.cycle_start_z = state.position.z;
  }
  if (motion_word < 73) state.cycle_active = false;
  state.motion = motion_word;
  if (motion_word <= 1) state.last_linear = motion_word;
}
