// 607 steps = 6.07 s, plus (51 + 19 + 3) bytes = 76 ms -> 0:00:06
// (the first homing's travel is unknown and counts its 3 exchanges of
// "z_home u" etc. with a 6-character reply and CR LF: 3 x 17 bytes)
G20
G01 X1.0
