// The machine's facts that several layers and the converter read, each
// written once: the controller's link speed, the top of Z travel, and the
// axes' letters.
#pragma once

/// The controller's serial link: 9600 baud, 8 data bits, no parity, one
/// stop bit.
inline constexpr int machine_baud = 9600;

/// The top of Z travel in inches (Z home): the work-surface depth until a
/// script sets its own, and where a converted job's Z moves home to.
inline constexpr double z_home_inches = 2.11;

/// The axes' letters in G-code, in axis order. The gcode layer's axis table
/// names its axes from these.
inline constexpr char axis_letters[] = "XYZ";
inline constexpr int axis_letter_count = sizeof axis_letters - 1;
