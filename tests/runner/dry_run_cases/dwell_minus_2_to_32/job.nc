// Taken as unsigned, a negative dwell would wait for days: the
// estimate would show it.
N5 G04 P-4294967296 (negative)
