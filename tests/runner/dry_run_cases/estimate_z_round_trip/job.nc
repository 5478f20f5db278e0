// G01 Z1.0 from Z 2.11: 4440 steps = 44.4 s, then G00 Z2.11 back
// (z_home u): 4440 steps more = 88.8 s, plus (51 + 23 + 17) bytes
// = 95 ms -> 88.9 s, rounded to the nearest second -> 0:01:29
G20
G01 Z1.0
G00 Z2.11
