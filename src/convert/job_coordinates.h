// The coordinates of a job: a line's axis words read as a target in job
// inches (absolute or incremental, inches or millimetres), the axes of each
// plane, millrun's home, and the shift to machine inches.
#pragma once

#include <string>

#include "convert/converter.h"
#include "convert/word_reader.h"

/// Inches from the origin; beyond this a job is certainly wrong.
constexpr double largest_coordinate = 100000;

/// The axes of a plane (17, 18, 19): in-plane a and b, then the axis
/// across it; 0 is X, 1 Y, 2 Z.
void plane_axes(int plane, int axes[3]);

/// One axis of a point (0 X, 1 Y, 2 Z).
double& point_axis(point3& p, int axis);
double point_axis(const point3& p, int axis);

/// Inches per unit of the job's words.
double unit_scale(const convert_state& state);

bool has_axis_words(const gcode_block& block);

/// Settles the job's units before its first coordinate: G20/G21, else
/// --units, else the line is refused.
bool need_units(convert_state& state, long number, const std::string& text);

/// The target of the line's axis words, absolute or incremental; the axes
/// without a word stay where the tool is.
point3 target_of(const convert_state& state, const gcode_block& block);

/// Refuses a target so far from the origin that the job is certainly wrong.
bool check_range(convert_state& state, long number, const std::string& text, const point3& p);

/// A point of the job in machine inches (the --shift and --fit offset added).
point3 to_machine(const convert_state& state, const point3& p);

/// millrun's home in job inches: X and Y 0, Z the work-surface depth.
point3 home_point(const convert_state& state);

/// The job starts where millrun stands after homing: sets the position
/// there unless it is already set.
void start_at_home(convert_state& state);
