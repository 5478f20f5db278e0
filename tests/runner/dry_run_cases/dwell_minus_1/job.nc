// Taken as unsigned, a negative dwell would wait for days: the
// estimate would show it.
G04 P-1
